#include "host/devhost/http_bridge.h"

#include <cctype>

#include "host/common/host_value_json.h"

namespace Korvo::Host::Dev {

namespace {

constexpr int kStatusOk = 200;
constexpr int kStatusNoContent = 204;
constexpr int kStatusNotModified = 304;
constexpr int kStatusBadRequest = 400;
constexpr int kStatusNotFound = 404;
constexpr int kStatusMethodNotAllowed = 405;
constexpr int kStatusBadGateway = 502;
constexpr int kLowestStatus = 200;
constexpr int kHighestStatus = 599;

bool IsValidStatus(uint32_t status) { return status >= kLowestStatus && status <= kHighestStatus; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool IsSafeHeaderText(std::string_view text) {
    for (char c : text) {
        if (c == '\r' || c == '\n' || c == '\0') return false;
    }
    return true;
}

bool IsPassableHeader(const std::string& name, const std::string& value) {
    if (name.empty() || !IsSafeHeaderText(name) || !IsSafeHeaderText(value)) return false;
    if (name.find(':') != std::string::npos || name.find(' ') != std::string::npos) return false;
    for (const char* framing : {"Content-Type", "Content-Length", "Transfer-Encoding", "Connection"}) {
        if (EqualsNoCase(name, framing)) return false;
    }
    return true;
}

const char* StreamContentType(uint32_t contentCode) {
    switch (contentCode) {
        case KORVO_CONTENT_JSON: return kJsonContentType;
        case KORVO_CONTENT_YAML: return "application/x-yaml";
        case KORVO_CONTENT_MESSAGE_PACK: return "application/x-msgpack";
        default: return "application/octet-stream";
    }
}

std::string AllowHeader(const std::vector<uint32_t>& methods) {
    std::string allow;
    std::vector<std::string_view> added;
    auto add = [&](std::string_view method) {
        for (std::string_view known : added) {
            if (known == method) return;
        }
        added.push_back(method);
        if (!allow.empty()) allow += ", ";
        allow += method;
    };
    for (uint32_t method : methods) {
        if (method == KORVO_METHOD_GET) add("HEAD");
        const char* text = MethodText(method);
        if (text[0] != '\0') add(text);
    }
    add("OPTIONS");
    return allow;
}

std::string PathOf(const std::string& target) {
    size_t query = target.find('?');
    return query == std::string::npos ? target : target.substr(0, query);
}

}  // namespace

HttpAnswer JsonMessage(int status, std::string_view message) {
    HttpAnswer answer;
    answer.status = status;
    answer.contentType = kJsonContentType;
    answer.body = HostValueToJson(OwnedHostValue::Object({{"message", OwnedHostValue::String(message)}}).Record());
    return answer;
}

HttpAnswer AnswerFromResponse(const FunctionResponse& response) {
    HttpAnswer answer;
    if (response.error) {
        answer = JsonMessage(IsValidStatus(response.status) ? static_cast<int>(response.status) : kStatusBadRequest,
                             response.errorMessage);
    } else if (response.streamed) {
        if (response.streamFailed) return JsonMessage(kStatusBadGateway, "The plug-in's streamed answer could not be read");
        answer.status = IsValidStatus(response.status) ? static_cast<int>(response.status) : kStatusOk;
        answer.contentType = StreamContentType(response.contentCode);
        answer.body = response.streamBody;
    } else if (response.resultType != static_cast<uint32_t>(KORVO_VALUE_NULL)) {
        answer.status = IsValidStatus(response.status) ? static_cast<int>(response.status) : kStatusOk;
        answer.contentType = kJsonContentType;
        answer.body = response.resultJson;
    } else {
        answer.status = IsValidStatus(response.status) ? static_cast<int>(response.status) : kStatusNoContent;
    }
    // These statuses never carry a body.
    if (answer.status == kStatusNoContent || answer.status == kStatusNotModified) {
        answer.contentType.clear();
        answer.body.clear();
    }
    for (const auto& [name, value] : response.headers) {
        if (IsPassableHeader(name, value)) answer.headers.emplace_back(name, value);
    }
    return answer;
}

PluginHttpBridge::PluginHttpBridge(const HostApiDescriptor* descriptor, uint32_t caller)
    : router_(descriptor), caller_(caller) {}

HttpAnswer PluginHttpBridge::Handle(const HttpRequestData& request) const {
    const std::string path = PathOf(request.target);
    uint32_t method = MethodCode(request.method);
    FunctionRouter::Lookup lookup = router_.Find(method, path);
    if (lookup.record == nullptr && method == KORVO_METHOD_HEAD) {
        // HEAD is GET without the body (which the server leaves out).
        FunctionRouter::Lookup get = router_.Find(KORVO_METHOD_GET, path);
        if (get.record != nullptr) {
            lookup = get;
            method = KORVO_METHOD_GET;
        }
    }
    if (lookup.record == nullptr) {
        if (lookup.pathMethods.empty()) {
            return JsonMessage(kStatusNotFound, "No function of the plug-in serves " + path);
        }
        HttpAnswer answer;
        if (method == KORVO_METHOD_OPTIONS) {
            answer.status = kStatusNoContent;
        } else {
            answer = JsonMessage(kStatusMethodNotAllowed,
                                 "No function of the plug-in serves " + request.method + " " + path);
        }
        answer.headers.emplace_back("Allow", AllowHeader(lookup.pathMethods));
        return answer;
    }

    FunctionRequest call;
    call.method = method;
    call.path = request.target;
    call.headers = request.headers;
    call.contentType = request.contentType;
    call.hasBody = request.hasBody;
    call.body = request.body;
    call.caller = caller_;
    return AnswerFromResponse(CallFunction(*lookup.record, call));
}

}  // namespace Korvo::Host::Dev
