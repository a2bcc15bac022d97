// host/common/function_call.h - calling the plug-in's served functions the
// way the host core does: choose the function record that serves a request,
// build the packed request record, call the record's callback, copy what the
// response holds and release it through the response's own release function.
//
// Host code: it reads the plug-in's records only by their layout and never
// links the SDK's transport. Everything here may run on any thread at once;
// a FunctionRouter is read-only after construction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/common/host_value_json.h"
#include "sdk/contract/records.h"
#include "sdk/route_template/route_template.h"

namespace Korvo::Host {

// "DELETE" -> 1 ... "PUT" -> 7 (exact, upper case as HTTP sends them); 0 for
// anything else.
uint32_t MethodCode(std::string_view name) noexcept;
// The text of codes 1 to 7; "" for every other code (KorvoMethodName).
const char* MethodText(uint32_t code) noexcept;

// A function record's path template, read by ParseRouteTemplate and
// compiled once for matching request paths. {name} takes one path segment
// (no '/'), {+name} the rest of the path, {#name} a '#' and the rest; other
// characters stand for themselves (case-sensitive). A template the grammar
// refuses fits no path. Matching takes time proportional to path length
// times template length and constant stack, whatever the path holds.
class PathTemplate {
public:
    explicit PathTemplate(std::string_view pathTemplate);
    // True when the whole path (already cut at '?') fits the template.
    bool Fits(std::string_view path) const;
    // Characters the template fixes; the template that fixes more is the
    // more specific one when two fit the same path.
    size_t LiteralLength() const noexcept { return literalLength_; }

private:
    enum class Atom : int16_t { Segment = -1, Rest = -2 };  // else a character 0..255
    std::vector<int16_t> atoms_;
    std::string prefix_;  // the characters before the first parameter
    size_t literalLength_ = 0;
    bool refused_ = false;
};

// Chooses the function record for a method and path from a descriptor's
// function records, as the host core does: the records whose template fits
// the path (its query cut off) and whose method is the request's (or 0, any
// method); among several, the most specific template, then the first.
// Records without a template (served by name only) take no part.
class FunctionRouter {
public:
    FunctionRouter() = default;
    explicit FunctionRouter(const HostApiDescriptor* descriptor);

    struct Lookup {
        const HostFunctionRecord* record = nullptr;  // null when none serves the request
        // Methods of the records whose template fits the path, in record
        // order without repeats (for an Allow header when record is null).
        std::vector<uint32_t> pathMethods;
    };
    Lookup Find(uint32_t method, std::string_view path) const;
    const HostFunctionRecord* FindByName(std::string_view name) const;
    size_t Size() const noexcept { return routes_.size(); }

private:
    struct Route {
        const HostFunctionRecord* record;
        PathTemplate pathTemplate;
    };
    std::vector<Route> routes_;
    std::vector<const HostFunctionRecord*> all_;
};

// One call as the host core makes it. Texts are copied into the request
// record's storage for the duration of the call only.
struct FunctionRequest {
    uint32_t method = 0;
    std::string path;                  // with its query, as received
    bool hasBody = false;              // false: the record carries no body
    std::string body;                  // sent NUL-terminated
    std::string contentType;           // empty: no content type
    std::vector<std::pair<std::string, std::string>> headers;
    std::vector<std::pair<std::string, OwnedHostValue>> arguments;  // empty name: positional
    uint32_t caller = 0;
    const char* functionName = nullptr;  // for method Call
};

// What a response record held, copied before it was released.
struct FunctionResponse {
    bool error = false;
    std::string errorMessage;
    uint8_t contentFlag = 0;
    uint32_t contentCode = 0;
    uint32_t status = 0;
    std::string text;
    bool textIsNull = false;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string resultJson;          // HostValueToJson of the result
    uint32_t resultType = 0;
    bool releaseSet = false;         // release was filled
    bool zeroAfterRelease = false;   // all bytes zero after the release
    // A streamed answer, read to its end (or to kMaxStreamBytes) and released.
    bool streamed = false;
    bool streamFailed = false;       // a read failed or the stream was too long
    std::string streamBody;
};

// The most a streamed answer may hold before the host stops reading it.
inline constexpr size_t kMaxStreamBytes = size_t{64} << 20;

// Builds the request record, calls record.callback, copies the response
// (reading a stream to its end and releasing it through its release
// function) and releases the response through its release field.
FunctionResponse CallFunction(const HostFunctionRecord& record, const FunctionRequest& request);

}  // namespace Korvo::Host
