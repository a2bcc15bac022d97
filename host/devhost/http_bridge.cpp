#include "host/devhost/http_bridge.h"

#include <cctype>
#include <cstring>

#include "host/common/host_text.h"
#include "host/common/host_value_json.h"
#include "host/common/http_status.h"

namespace Korvo::Host::Dev {

namespace {

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

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Form decoding of one query key or value: '+' is a space, %XX a byte; a
// '%' without two hex digits stays as it is.
std::string DecodeQueryText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

// The query of a request for a literal route, as named argument entries: the
// plug-in matches a literal route against the path exactly, so the host
// hands the query over as arguments instead. Pieces without a name are
// skipped.
std::vector<std::pair<std::string, OwnedHostValue>> QueryArguments(std::string_view query) {
    std::vector<std::pair<std::string, OwnedHostValue>> arguments;
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view piece = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        const size_t equals = piece.find('=');
        std::string name = DecodeQueryText(piece.substr(0, equals));
        if (name.empty()) continue;
        const std::string value =
            equals == std::string_view::npos ? std::string() : DecodeQueryText(piece.substr(equals + 1));
        arguments.emplace_back(std::move(name), OwnedHostValue::String(value));
    }
    return arguments;
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
        answer = JsonMessage(HttpStatus::PluginStatusOr(response.status, HttpStatus::kBadRequest),
                             response.errorMessage);
    } else if (response.streamed) {
        if (response.streamFailed) {
            return JsonMessage(HttpStatus::kBadGateway, "The plug-in's streamed answer could not be read");
        }
        answer.status = HttpStatus::PluginStatusOr(response.status, HttpStatus::kOk);
        answer.contentType = StreamContentType(response.contentCode);
        answer.body = response.streamBody;
    } else if (response.resultType != static_cast<uint32_t>(KORVO_VALUE_NULL)) {
        answer.status = HttpStatus::PluginStatusOr(response.status, HttpStatus::kOk);
        answer.contentType = kJsonContentType;
        answer.body = response.resultJson;
    } else {
        answer.status = HttpStatus::PluginStatusOr(response.status, HttpStatus::kNoContent);
    }
    // These statuses never carry a body.
    if (answer.status == HttpStatus::kNoContent || answer.status == HttpStatus::kNotModified) {
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
            return JsonMessage(HttpStatus::kNotFound, "No function of the plug-in serves " + path);
        }
        HttpAnswer answer;
        if (method == KORVO_METHOD_OPTIONS) {
            answer.status = HttpStatus::kNoContent;
        } else {
            answer = JsonMessage(HttpStatus::kMethodNotAllowed,
                                 "No function of the plug-in serves " + request.method + " " + path);
        }
        answer.headers.emplace_back("Allow", AllowHeader(lookup.pathMethods));
        return answer;
    }

    FunctionRequest call;
    call.method = method;
    call.path = request.target;
    const char* routeTemplate = lookup.record->pathTemplate;
    const size_t query = request.target.find('?');
    if (query != std::string::npos && routeTemplate != nullptr && std::strchr(routeTemplate, '{') == nullptr) {
        call.path = path;
        call.arguments = QueryArguments(std::string_view(request.target).substr(query + 1));
    }
    // Header names are case-insensitive; the host core hands them over in
    // lower case, as HTTP/2 carries them, the one case the plug-in's binding
    // matches an argument's name in.
    call.headers.reserve(request.headers.size());
    for (const auto& [name, value] : request.headers) call.headers.emplace_back(LowerAscii(name), value);
    call.contentType = request.contentType;
    call.hasBody = request.hasBody;
    call.body = request.body;
    call.caller = caller_;
    return AnswerFromResponse(CallFunction(*lookup.record, call));
}

}  // namespace Korvo::Host::Dev
