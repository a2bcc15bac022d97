// host/devhost/http_bridge.h - one HTTP request to the plug-in and back,
// without the socket: the request is routed to the function record whose
// method and template fit it, passed on as a request record (the path with
// its query as received, every header, the content type and the body as
// bytes - the plug-in reads JSON, YAML and MessagePack itself), and the
// response record becomes the HTTP answer:
//
//   success with a value     the value as JSON; the record's status or 200
//   success without a value  no body; the record's status or 204
//   failure                  {"message": <the record's message>}; the
//                            record's status or 400
//   a streamed answer        its bytes, typed by the record's content code
//
// A record status outside 200..599 counts as none. The record's headers are
// passed on, except those that frame the message (Content-Type,
// Content-Length, Transfer-Encoding, Connection) and any whose name or value
// could break the header block. A path no function serves gets 404; a path
// served only for other methods gets 405 with Allow (HEAD falls back to a
// GET function, OPTIONS answers 204 with Allow). Texts the host itself
// writes are JSON {"message": ...} too.
//
// Handle may run on many threads at once; the plug-in's functions are called
// concurrently, as the host core calls them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/common/function_call.h"
#include "sdk/contract/records.h"

namespace Korvo::Host::Dev {

struct HttpRequestData {
    std::string method;    // as sent: "GET", "POST", ...
    std::string target;    // path and query, not decoded
    std::vector<std::pair<std::string, std::string>> headers;
    std::string contentType;
    bool hasBody = false;
    std::string body;
};

struct HttpAnswer {
    int status = 200;
    std::string contentType;  // empty without a body
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

inline constexpr const char* kJsonContentType = "application/json";

// {"message": message} with the status.
HttpAnswer JsonMessage(int status, std::string_view message);
// The mapping above for one copied response record.
HttpAnswer AnswerFromResponse(const FunctionResponse& response);

class PluginHttpBridge {
public:
    // caller: the value passed as the requesting side's handle in every
    // request record (HTTP clients are not plug-ins).
    explicit PluginHttpBridge(const HostApiDescriptor* descriptor, uint32_t caller = 0);

    HttpAnswer Handle(const HttpRequestData& request) const;

private:
    FunctionRouter router_;
    uint32_t caller_;
};

}  // namespace Korvo::Host::Dev
