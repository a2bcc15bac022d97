// The request checks: hostile requests synthesised from each function's
// record, and plain calls from many threads at once; every answer must come
// back well formed and be released cleanly.
#include "host/check/check_support.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "host/common/http_status.h"
#include "sdk/contract/korvo_plugin.h"
#include "sdk/route_template/route_template.h"

namespace Korvo::Host::Check {

namespace {

using Arguments = std::vector<std::pair<std::string, OwnedHostValue>>;
using Headers = std::vector<std::pair<std::string, std::string>>;

// Nesting, and sizes, far beyond what any document needs.
constexpr size_t kDeepNesting = 100000;
constexpr size_t kLongText = size_t{1} << 20;
constexpr uint32_t kConcurrentRounds = 50;

// The template with every parameter filled in with "x" (a fragment's after
// its '#'). A template the grammar refuses is sent as it stands: a path the
// plug-in serves through no route, which it must still answer cleanly.
std::string FilledPath(const char* routeTemplate) {
    const std::string_view text = routeTemplate != nullptr ? routeTemplate : "";
    const RouteTemplateParse parse = ParseRouteTemplate(text);
    std::string path;
    if (!parse.Ok()) {
        path.assign(text);
    } else {
        path = parse.parsed.leading;
        for (const RouteTemplateParameter& parameter : parse.parsed.parameters) {
            if (parameter.kind == RouteParameterKind::Fragment) path += '#';
            path += 'x';
            path += parameter.following;
        }
    }
    return path.empty() ? "/" : path;
}

uint32_t MethodOf(const HostFunctionRecord& record) {
    const uint32_t method = record.method;
    if (method != KORVO_METHOD_ANY && KorvoMethodIsValid(method)) return method;
    return KORVO_METHOD_GET;
}

struct ArgumentInfo {
    std::string name;
    uint32_t kind;
    uint32_t location;
    bool optional;
};

std::vector<ArgumentInfo> ArgumentsOf(const HostFunctionRecord& record) {
    std::vector<ArgumentInfo> arguments;
    const HostArgumentDescription* argument = record.description.arguments;
    const HostLocationEntry* location = record.locations;
    const uint32_t count = record.description.argumentCount;
    for (uint32_t i = 0; argument != nullptr && i < count; ++i, argument = argument->next) {
        const uint32_t where = location != nullptr ? location->location : uint32_t{KORVO_LOCATION_ANY};
        arguments.push_back({argument->name != nullptr ? argument->name : "", argument->kind, where,
                             argument->optional != 0});
        if (location != nullptr) location = location->next;
    }
    return arguments;
}

// A value no argument of kind accepts, or nothing when the kind takes any
// value.
std::optional<OwnedHostValue> WrongValueFor(uint32_t kind) {
    switch (kind) {
        case KORVO_KIND_OBJECT:
        case KORVO_KIND_NONE:
        case KORVO_KIND_CALLBACK: return std::nullopt;
        case KORVO_KIND_STRING:
        case KORVO_KIND_ENUM:
        case KORVO_KIND_BLOB: return OwnedHostValue::Array({OwnedHostValue::Int(1), OwnedHostValue::Array({})});
        case KORVO_KIND_STRUCT:
        case KORVO_KIND_VECTOR:
        case KORVO_KIND_MAP: return OwnedHostValue::Int(5);
        default: return OwnedHostValue::Array({OwnedHostValue::String("not a scalar")});
    }
}

struct HostileRequest {
    HostileRequest(std::string what, uint32_t method, std::string path)
        : what(std::move(what)), method(method), path(std::move(path)) {}

    std::string what;
    uint32_t method;
    std::string path;
    bool hasBody = false;
    std::string body;
    std::string contentType;
    Headers headers;
    Arguments arguments;
    bool mustFail = false;  // a request no function can serve
};

std::vector<HostileRequest> HostileRequestsFor(const HostFunctionRecord& record) {
    const uint32_t method = MethodOf(record);
    const std::string path = FilledPath(record.pathTemplate);
    const std::vector<ArgumentInfo> arguments = ArgumentsOf(record);
    std::vector<HostileRequest> requests;
    const auto add = [&](std::string what) -> HostileRequest& {
        requests.push_back(HostileRequest{std::move(what), method, path});
        return requests.back();
    };

    add("a path of 1 MiB").path = path + "/" + std::string(kLongText, 'a');
    add("a query of 64 KiB of '%'").path = path + "?" + std::string(size_t{1} << 16, '%');
    add("an unknown method code").method = 99;
    add("arguments without names beyond the function's").arguments =
        Arguments(8, std::make_pair(std::string(), OwnedHostValue::String("x")));

    const bool takesBody = std::any_of(arguments.begin(), arguments.end(), [](const ArgumentInfo& a) {
        return a.location == KORVO_LOCATION_BODY;
    });
    const bool needsBody = std::any_of(arguments.begin(), arguments.end(), [](const ArgumentInfo& a) {
        return a.location == KORVO_LOCATION_BODY && !a.optional;
    });
    struct Body {
        const char* what;
        const char* contentType;
        std::string bytes;
    };
    const Body bodies[] = {
        {"a JSON body cut short", "application/json", R"({"a":[1,2)"},
        {"a YAML body cut short", "application/x-yaml", "a: [1, 2\nb: {"},
        {"a YAML alias of no anchor", "application/x-yaml", "a: *nowhere\n"},
        {"a MessagePack body cut short", "application/x-msgpack", std::string("\x93\x01", 2)},
        {"JSON nested 100000 deep", "application/json", std::string(kDeepNesting, '[')},
        {"YAML nested 100000 deep", "application/x-yaml", std::string(kDeepNesting, '[')},
        {"MessagePack nested 100000 deep", "application/x-msgpack", std::string(kDeepNesting, '\x91')},
        {"a MessagePack array declaring 4294967295 elements", "application/x-msgpack", "\xdd\xff\xff\xff\xff"},
        {"a MessagePack map declaring 4294967295 pairs", "application/x-msgpack", "\xdf\xff\xff\xff\xff"},
        {"a MessagePack text declaring 4294967295 bytes", "application/x-msgpack", "\xdb\xff\xff\xff\xff"},
        {"a body of an unknown content type", "application/x-korvo-unknown", "x"},
    };
    for (const Body& body : bodies) {
        HostileRequest& request = add(body.what);
        request.hasBody = true;
        request.body = body.bytes;
        request.contentType = body.contentType;
        request.mustFail = takesBody;
    }
    if (takesBody) {
        HostileRequest& missing = add("a missing body");
        missing.contentType = "application/json";
        missing.mustFail = needsBody;
    }

    for (const ArgumentInfo& argument : arguments) {
        if (argument.name.empty() || argument.location == KORVO_LOCATION_BODY) continue;
        if (std::optional<OwnedHostValue> wrong = WrongValueFor(argument.kind)) {
            HostileRequest& request = add("a value of the wrong type for '" + argument.name + "'");
            request.arguments.emplace_back(argument.name, std::move(*wrong));
            request.mustFail = true;
        }
        if (argument.location == KORVO_LOCATION_HEADER || argument.location == KORVO_LOCATION_ANY) {
            add("a header '" + argument.name + "' of 1 MiB")
                .headers.emplace_back(argument.name, std::string(kLongText, 'h'));
        }
    }
    return requests;
}

FakeHost::CallResponse Send(FakeHost& host, const HostFunctionRecord& record, const HostileRequest& request) {
    return host.CallRecord(record, request.method, request.path,
                           request.hasBody ? std::string_view(request.body) : std::string_view(), request.contentType,
                           request.headers, request.arguments, kPluginHandle,
                           request.method == KORVO_METHOD_CALL ? record.functionName : nullptr);
}

// What is wrong with one answer, or nothing.
std::string AnswerProblem(const FakeHost::CallResponse& response, bool mustFail) {
    if (!response.releaseSet) return "the response has no release function";
    if (!response.zeroAfterRelease) return "the response is not all zero after its release";
    if (response.error && response.errorMessage.empty()) return "an error without a message";
    const int64_t status = response.status;
    if (status != 0 && (status < HttpStatus::kLowestDefined || status > HttpStatus::kHighestPassed)) {
        return "status " + std::to_string(status);
    }
    if (mustFail && !response.error && status < HttpStatus::kBadRequest) return "succeeded (status " + std::to_string(status) + ")";
    return {};
}

}  // namespace

CheckVerdict CheckHostileRequests(const CheckSettings& settings) {
    CheckHost host;
    std::string why;
    if (!LoadAndStart(host, settings, why)) return Fail(why);
    Problems problems;
    size_t sent = 0;
    const std::vector<const HostFunctionRecord*> functions = Functions(host.Descriptor());
    for (size_t f = 0; f < functions.size(); ++f) {
        const HostFunctionRecord& record = *functions[f];
        if (record.callback == nullptr) continue;
        for (const HostileRequest& request : HostileRequestsFor(record)) {
            const FakeHost::CallResponse response = Send(host, record, request);
            ++sent;
            if (std::string problem = AnswerProblem(response, request.mustFail); !problem.empty()) {
                problems.Add(FunctionLabel(record, f) + " given " + request.what + ": " + problem);
            }
        }
    }
    if (FreedMoreThanAllocated(host.MemoryStats(), why)) problems.Add(why);
    host.Stop();
    if (problems.Any()) return Fail(problems.Text());
    return Pass(std::to_string(sent) + " hostile requests to " + std::to_string(functions.size()) +
                " functions, each answered and released cleanly");
}

CheckVerdict CheckConcurrentCalls(const CheckSettings& settings) {
    CheckHost host;
    std::string why;
    if (!LoadAndStart(host, settings, why)) return Fail(why);
    const std::vector<const HostFunctionRecord*> functions = Functions(host.Descriptor());
    // A host calls a function that is not thread-safe from one thread at a
    // time.
    std::mutex serial;
    std::mutex problemsLock;
    Problems problems;
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < settings.threads; ++t) {
        threads.emplace_back([&, t] {
            for (uint32_t round = 0; round < kConcurrentRounds; ++round) {
                for (size_t i = 0; i < functions.size(); ++i) {
                    const size_t index = (i + t) % functions.size();
                    const HostFunctionRecord& record = *functions[index];
                    if (record.callback == nullptr) continue;
                    HostileRequest request{"a plain request", MethodOf(record), FilledPath(record.pathTemplate)};
                    std::unique_lock<std::mutex> guard(serial, std::defer_lock);
                    if (record.description.threadSafe == 0) guard.lock();
                    const FakeHost::CallResponse response = Send(host, record, request);
                    if (guard.owns_lock()) guard.unlock();
                    if (std::string problem = AnswerProblem(response, false); !problem.empty()) {
                        std::lock_guard<std::mutex> lock(problemsLock);
                        problems.Add(FunctionLabel(record, index) + ": " + problem);
                    }
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    if (FreedMoreThanAllocated(host.MemoryStats(), why)) problems.Add(why);
    host.Stop();
    if (problems.Any()) return Fail(problems.Text());
    return Pass(std::to_string(settings.threads) + " threads, " +
                std::to_string(size_t{settings.threads} * kConcurrentRounds * functions.size()) + " calls");
}

}  // namespace Korvo::Host::Check
