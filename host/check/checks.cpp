#include "host/check/checks.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "host/check/exports.h"
#include "host/common/host_value_json.h"
#include "host/testing/fake_host.h"
#include "sdk/contract/korvo_plugin.h"

namespace Korvo::Host::Check {

namespace {

using Arguments = std::vector<std::pair<std::string, OwnedHostValue>>;
using Headers = std::vector<std::pair<std::string, std::string>>;

constexpr uint32_t kPluginHandle = 0x5EED;
// Problems listed per check before the rest are only counted.
constexpr size_t kMostProblemsShown = 5;
// Nesting, and sizes, far beyond what any document needs.
constexpr size_t kDeepNesting = 100000;
constexpr size_t kLongText = size_t{1} << 20;
constexpr uint32_t kConcurrentRounds = 50;
constexpr int kLifecycleCycles = 3;

CheckVerdict Pass(std::string detail) { return {true, std::move(detail)}; }
CheckVerdict Fail(std::string detail) { return {false, std::move(detail)}; }

// Collects problems; the verdict lists the first few and counts the rest.
class Problems {
public:
    void Add(std::string problem) {
        if (list_.size() < kMostProblemsShown) list_.push_back(std::move(problem));
        ++count_;
    }
    bool Any() const noexcept { return count_ > 0; }
    std::string Text() const {
        std::string text;
        for (const std::string& problem : list_) text += (text.empty() ? "" : "; ") + problem;
        if (count_ > list_.size()) text += "; and " + std::to_string(count_ - list_.size()) + " more";
        return text;
    }

private:
    std::vector<std::string> list_;
    size_t count_ = 0;
};

std::string Quoted(const char* text) { return text == nullptr ? "(null)" : "'" + std::string(text) + "'"; }

std::string FunctionLabel(const HostFunctionRecord& record, size_t index) {
    return "function " + std::to_string(index) + " (" + Quoted(record.description.name) + ")";
}

// Loads the library and calls the export with this contract's version.
bool LoadCompatible(FakeHost& host, const CheckSettings& settings, std::string& why) {
    if (!host.Load(settings.library, settings.exportName.c_str())) {
        why = host.LoadError();
        return false;
    }
    if (host.CallLoad(KORVO_PLUGIN_API_MAJOR, KORVO_PLUGIN_API_MINOR, KORVO_PLUGIN_API_PATCH) == nullptr) {
        why = settings.exportName + " gave no plug-in object to a compatible host";
        return false;
    }
    return true;
}

bool ApplyHostAnswers(FakeHost& host, const CheckSettings& settings, std::string& why) {
    for (const auto& [path, json] : settings.hostAnswers) {
        OwnedHostValue value;
        std::string error;
        if (!JsonToHostValue(json, value, error)) {
            why = "the host answer for " + path + " is not JSON: " + error;
            return false;
        }
        host.AnswerValue(path, std::move(value));
    }
    return true;
}

// Loaded, given the host's answers and started; why says what failed.
bool LoadAndStart(FakeHost& host, const CheckSettings& settings, std::string& why) {
    if (!ApplyHostAnswers(host, settings, why) || !LoadCompatible(host, settings, why)) return false;
    if (!host.Start(kPluginHandle)) {
        why = "Start answered 0 (not started); give the answers it asks the host for with --host-answer";
        return false;
    }
    return true;
}

std::vector<const HostFunctionRecord*> Functions(const HostApiDescriptor* descriptor) {
    std::vector<const HostFunctionRecord*> functions;
    if (descriptor == nullptr || descriptor->functions == nullptr) return functions;
    const uint32_t count = descriptor->functionCount;
    for (uint32_t i = 0; i < count; ++i) functions.push_back(&descriptor->functions[i]);
    return functions;
}

// The memory the plug-in holds by its own counters.
struct Held {
    int64_t blocks;
    int64_t bytes;
    bool operator==(const Held&) const = default;
};
Held HeldBy(const PluginMemoryStats& stats) {
    const uint64_t allocations = stats.allocations, frees = stats.frees;
    const uint64_t allocated = stats.bytesAllocated, freed = stats.bytesFreed;
    return {static_cast<int64_t>(allocations - frees), static_cast<int64_t>(allocated - freed)};
}
std::string HeldText(const Held& held) {
    return std::to_string(held.blocks) + " blocks / " + std::to_string(held.bytes) + " bytes";
}
// More frees than allocations is a block freed twice (or memory the plug-in
// never had).
bool FreedMoreThanAllocated(const PluginMemoryStats& stats, std::string& why) {
    const uint64_t allocations = stats.allocations, frees = stats.frees;
    const uint64_t allocated = stats.bytesAllocated, freed = stats.bytesFreed;
    if (frees <= allocations && freed <= allocated) return false;
    why = "its counters show more freed than allocated (" + std::to_string(frees) + " frees of " +
          std::to_string(allocations) + " allocations, " + std::to_string(freed) + " of " +
          std::to_string(allocated) + " bytes): something was released twice";
    return true;
}

// ---- requests

// The template with every parameter filled in with "x".
std::string FilledPath(const char* routeTemplate) {
    std::string path;
    bool inParameter = false;
    for (const char* c = routeTemplate != nullptr ? routeTemplate : ""; *c != '\0'; ++c) {
        if (*c == '{') {
            inParameter = true;
            path += 'x';
        } else if (*c == '}') {
            inParameter = false;
        } else if (!inParameter) {
            path += *c;
        }
    }
    return path.empty() ? "/" : path;
}

uint32_t MethodOf(const HostFunctionRecord& record) {
    const uint32_t method = record.method;
    if (method >= KORVO_METHOD_DELETE && method <= KORVO_METHOD_CALL) return method;
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
    const uint32_t status = response.status;
    if (status != 0 && (status < 100 || status > 599)) return "status " + std::to_string(status);
    if (mustFail && !response.error && status < 400) return "succeeded (status " + std::to_string(status) + ")";
    return {};
}

// ---- the checks

CheckVerdict CheckExport(const CheckSettings& settings) {
    const ExportList exports = ReadExportsOfFile(settings.library);
    if (!exports.ok) return Fail("cannot read the library's exports: " + exports.error);
    if (exports.names.size() == 1 && exports.names[0] == settings.exportName) {
        return Pass(settings.exportName + " alone (" + exports.format + ")");
    }
    std::string names;
    for (const std::string& name : exports.names) names += (names.empty() ? "" : ", ") + name;
    return Fail("exports [" + names + "] (" + exports.format + "); expected " + settings.exportName + " alone");
}

CheckVerdict CheckHandshake(const CheckSettings& settings) {
    FakeHost host;
    std::string why;
    if (!LoadCompatible(host, settings, why)) return Fail(why);
    const PluginLoadContext& context = host.Context();
    Problems problems;
    const PluginCallbacks* callbacks = context.callbacks;
    if (callbacks == nullptr || callbacks->Start == nullptr || callbacks->Stop == nullptr ||
        callbacks->GetMemoryStats == nullptr) {
        problems.Add("the callbacks table is missing or incomplete");
    }
    if (context.plugin == nullptr) problems.Add("no plug-in object in the load record");
    if (context.fullName == nullptr || context.fullName[0] == '\0') problems.Add("no full name");
    if (context.descriptor == nullptr) problems.Add("no API descriptor");
    const uint32_t major = context.apiMajor, minor = context.apiMinor, patch = context.apiPatch;
    const std::string version = std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
    if (major != KORVO_PLUGIN_API_MAJOR) problems.Add("it reports plug-in API " + version);
    const std::string name = context.fullName != nullptr ? context.fullName : "";
    host.Stop();
    // A host whose minor version is newer than the plug-in's is compatible.
    if (host.CallLoad(KORVO_PLUGIN_API_MAJOR, KORVO_PLUGIN_API_MINOR + 1, 0) == nullptr) {
        problems.Add("a host of a newer minor version got no plug-in object");
    }
    host.Stop();
    if (problems.Any()) return Fail(problems.Text());
    return Pass("'" + name + "', plug-in API " + version + "; a newer minor host is accepted too");
}

CheckVerdict CheckIncompatibleHost(const CheckSettings& settings) {
    FakeHost host;
    if (!host.Load(settings.library, settings.exportName.c_str())) return Fail(host.LoadError());
    void* plugin = host.CallLoad(KORVO_PLUGIN_API_MAJOR + 1, 0, 0);
    return Fail(std::string("returned to a host of plug-in API ") + std::to_string(KORVO_PLUGIN_API_MAJOR + 1) +
                ".0.0 (" + (plugin != nullptr ? "with" : "without") + " an object) instead of ending the process");
}

void CheckTexts(Problems& problems, const std::string& where, const char* const* tags, uint32_t tagCount) {
    if (tagCount > 0 && tags == nullptr) problems.Add(where + ": " + std::to_string(tagCount) + " tags, no array");
    for (uint32_t i = 0; tags != nullptr && i < tagCount; ++i) {
        if (tags[i] == nullptr) problems.Add(where + ": tag " + std::to_string(i) + " is null");
    }
}

bool KindInRange(uint32_t kind) { return kind <= KORVO_KIND_MAP; }

CheckVerdict CheckRecords(const CheckSettings& settings) {
    FakeHost host;
    std::string why;
    if (!LoadCompatible(host, settings, why)) return Fail(why);
    const HostApiDescriptor* descriptor = host.Descriptor();
    if (descriptor == nullptr) return Fail("no API descriptor");
    Problems problems;
    const uint32_t functionCount = descriptor->functionCount, typeCount = descriptor->typeCount,
                   eventCount = descriptor->eventCount;
    if (functionCount > 0 && descriptor->functions == nullptr) problems.Add("functions counted but no array");
    if (typeCount > 0 && descriptor->types == nullptr) problems.Add("types counted but no array");
    if (eventCount > 0 && descriptor->events == nullptr) problems.Add("events counted but no array");
    if (problems.Any()) return Fail(problems.Text());

    // Types first: arguments and fields name them.
    std::set<std::string> typeNames;
    for (uint32_t t = 0; t < typeCount; ++t) {
        const HostTypeDescription& type = descriptor->types[t];
        const std::string where = "type " + std::to_string(t) + " (" + Quoted(type.name) + ")";
        const void* next = t + 1 < typeCount ? &descriptor->types[t + 1] : nullptr;
        if (type.next != next) problems.Add(where + ": not chained to the next record of its array");
        if (type.name == nullptr || type.name[0] == '\0') {
            problems.Add(where + ": no name");
        } else if (!typeNames.insert(type.name).second) {
            problems.Add(where + ": a second type of that name");
        }
        if (type.nameSpace == nullptr || type.description == nullptr) problems.Add(where + ": a null text");
        CheckTexts(problems, where, type.tags, type.tagCount);
        uint32_t chained = 0;
        for (const HostFieldDescription* field = type.fields; field != nullptr && chained <= type.count;
             field = field->next, ++chained) {
            if (field->name == nullptr || field->description == nullptr || field->typeName == nullptr) {
                problems.Add(where + ": field " + std::to_string(chained) + " has a null text");
            }
            if (!KindInRange(field->kind) || !KindInRange(field->elementKind)) {
                problems.Add(where + ": field " + Quoted(field->name) + " has a kind out of range");
            }
        }
        if (type.fields == nullptr) {
            for (const HostEnumeratorDescription* enumerator = type.enumerators;
                 enumerator != nullptr && chained <= type.count; enumerator = enumerator->next, ++chained) {
                if (enumerator->name == nullptr || enumerator->description == nullptr) {
                    problems.Add(where + ": enumerator " + std::to_string(chained) + " has a null text");
                }
            }
        }
        const uint32_t count = type.count;
        if (chained != count) {
            problems.Add(where + ": counts " + std::to_string(count) + " fields or enumerators, chains " +
                         std::to_string(chained));
        }
    }
    // Argument types must name registered types (the builtin kinds excepted).
    const auto checkTypeName = [&](const std::string& where, uint32_t kind, uint32_t elementKind,
                                   const char* typeName) {
        const bool named = kind == KORVO_KIND_STRUCT || kind == KORVO_KIND_ENUM ||
                           ((kind == KORVO_KIND_VECTOR || kind == KORVO_KIND_MAP) &&
                            (elementKind == KORVO_KIND_STRUCT || elementKind == KORVO_KIND_ENUM));
        if (named && (typeName == nullptr || typeNames.count(typeName) == 0)) {
            problems.Add(where + ": its type " + Quoted(typeName) + " is not among the described types");
        }
    };

    std::set<std::string> functionNames;
    for (uint32_t f = 0; f < functionCount; ++f) {
        const HostFunctionRecord& record = descriptor->functions[f];
        const HostFunctionDescription& description = record.description;
        const std::string where = FunctionLabel(record, f);
        const void* next = f + 1 < functionCount ? &descriptor->functions[f + 1] : nullptr;
        if (description.next != next) problems.Add(where + ": not chained to the next record of its array");
        if (description.name == nullptr || description.name[0] == '\0') {
            problems.Add(where + ": no name");
        } else if (!functionNames.insert(description.name).second) {
            problems.Add(where + ": a second function of that name");
        }
        if (description.nameSpace == nullptr || description.description == nullptr || description.help == nullptr ||
            description.resultTypeName == nullptr || description.asyncResultTypeName == nullptr ||
            record.functionName == nullptr) {
            problems.Add(where + ": a null text");
        }
        CheckTexts(problems, where, description.tags, description.tagCount);
        if (record.callback == nullptr) problems.Add(where + ": no callback");
        const uint32_t method = record.method;
        if (method > KORVO_METHOD_CALL) problems.Add(where + ": method code " + std::to_string(method));
        if (!KindInRange(description.resultKind) || !KindInRange(description.resultElementKind)) {
            problems.Add(where + ": a result kind out of range");
        }
        checkTypeName(where + " result", description.resultKind, description.resultElementKind,
                      description.resultTypeName);

        std::vector<std::string> parameters;
        if (record.pathTemplate == nullptr) {
            problems.Add(where + ": no route template");
        } else if (std::string problem = CheckRouteTemplate(record.pathTemplate, parameters); !problem.empty()) {
            problems.Add(where + ": route template " + Quoted(record.pathTemplate) + " " + problem);
        }

        const uint32_t argumentCount = description.argumentCount;
        uint32_t chained = 0, located = 0;
        std::map<std::string, uint32_t> locations;
        const HostLocationEntry* location = record.locations;
        for (const HostArgumentDescription* argument = description.arguments;
             argument != nullptr && chained <= argumentCount; argument = argument->next, ++chained) {
            const std::string label = where + " argument " + Quoted(argument->name);
            if (argument->name == nullptr || argument->name[0] == '\0' || argument->description == nullptr ||
                argument->typeName == nullptr) {
                problems.Add(label + ": no name or a null text");
            }
            if (!KindInRange(argument->kind) || !KindInRange(argument->elementKind)) {
                problems.Add(label + ": a kind out of range");
            }
            checkTypeName(label, argument->kind, argument->elementKind, argument->typeName);
            if (location != nullptr) {
                const uint32_t code = location->location;
                if (code != KORVO_LOCATION_ANY && code != KORVO_LOCATION_QUERY && code != KORVO_LOCATION_PATH &&
                    code != KORVO_LOCATION_HEADER && code != KORVO_LOCATION_BODY) {
                    problems.Add(label + ": location code " + std::to_string(code));
                }
                if (argument->name != nullptr) locations[argument->name] = code;
                location = location->next;
                ++located;
            }
        }
        if (chained != argumentCount) {
            problems.Add(where + ": counts " + std::to_string(argumentCount) + " arguments, chains " +
                         std::to_string(chained));
        }
        if (located != chained || location != nullptr) {
            problems.Add(where + ": " + std::to_string(chained) + " arguments but a different number of locations");
        }
        for (const std::string& parameter : parameters) {
            const auto found = locations.find(parameter);
            if (found == locations.end() ||
                (found->second != KORVO_LOCATION_PATH && found->second != KORVO_LOCATION_ANY)) {
                problems.Add(where + ": the route's parameter '" + parameter + "' is no path argument");
            }
        }
        for (const auto& [name, code] : locations) {
            if (code == KORVO_LOCATION_PATH &&
                std::find(parameters.begin(), parameters.end(), name) == parameters.end()) {
                problems.Add(where + ": the path argument '" + name + "' is not in its route");
            }
        }
        const uint32_t nameListCount = record.nameListCount;
        uint32_t lists = 0;
        for (const HostNameListEntry* list = record.nameLists; list != nullptr && lists <= nameListCount;
             list = list->next, ++lists) {
            CheckTexts(problems, where + " name list", list->names, list->count);
        }
        if (lists != nameListCount) problems.Add(where + ": name lists counted and chained differ");
    }

    for (uint32_t e = 0; e < eventCount; ++e) {
        const HostEventDescription& event = descriptor->events[e];
        const std::string where = "event " + std::to_string(e) + " (" + Quoted(event.name) + ")";
        const void* next = e + 1 < eventCount ? &descriptor->events[e + 1] : nullptr;
        if (event.next != next) problems.Add(where + ": not chained to the next record of its array");
        if (event.name == nullptr || event.name[0] == '\0' || event.nameSpace == nullptr ||
            event.payloadTypeName == nullptr || event.description == nullptr) {
            problems.Add(where + ": no name or a null text");
        }
        CheckTexts(problems, where, event.tags, event.tagCount);
    }
    host.Stop();
    if (problems.Any()) return Fail(problems.Text());
    return Pass(std::to_string(functionCount) + " functions, " + std::to_string(typeCount) + " types, " +
                std::to_string(eventCount) + " events");
}

CheckVerdict CheckStartStop(const CheckSettings& settings) {
    FakeHost host;
    std::string why;
    if (!LoadAndStart(host, settings, why)) return Fail(why);
    const size_t asked = host.Requests().size();
    host.Stop();
    Problems problems;
    const size_t released = host.ResponsesReleased();
    if (released != asked) {
        problems.Add("it asked the host " + std::to_string(asked) + " times and released " +
                     std::to_string(released) + " answers");
    }
    std::map<std::string, int> subscribed;
    for (const FakeHost::Subscription& subscription : host.Subscriptions()) ++subscribed[subscription.name];
    for (const auto& [name, handle] : host.Unsubscriptions()) --subscribed[name];
    for (const auto& [name, count] : subscribed) {
        if (count > 0) problems.Add("it left its subscription to " + name);
    }
    if (problems.Any()) return Fail(problems.Text());
    return Pass("asked the host " + std::to_string(asked) + " times, released every answer once, withdrew " +
                std::to_string(host.Subscriptions().size()) + " subscriptions");
}

CheckVerdict CheckHostileRequests(const CheckSettings& settings) {
    FakeHost host;
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
    FakeHost host;
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

CheckVerdict CheckLifecycle(const CheckSettings& settings) {
    Problems problems;
    std::optional<Held> reference;
    std::string why;
    for (int library = 0; library < 2; ++library) {
        FakeHost host;
        if (!ApplyHostAnswers(host, settings, why)) return Fail(why);
        if (!host.Load(settings.library, settings.exportName.c_str())) return Fail(host.LoadError());
        for (int cycle = 0; cycle < kLifecycleCycles; ++cycle) {
            if (host.CallLoad(KORVO_PLUGIN_API_MAJOR, KORVO_PLUGIN_API_MINOR, KORVO_PLUGIN_API_PATCH) == nullptr) {
                return Fail("no plug-in object in cycle " + std::to_string(cycle + 1));
            }
            if (!host.Start(kPluginHandle)) return Fail("Start answered 0 in cycle " + std::to_string(cycle + 1));
            host.Stop();
            const PluginMemoryStats stats = host.MemoryStats();
            if (FreedMoreThanAllocated(stats, why)) problems.Add(why);
            const Held held = HeldBy(stats);
            if (!reference) {
                reference = held;
            } else if (held != *reference) {
                problems.Add("after stop " + std::to_string(cycle + 1) + " of load " + std::to_string(library + 1) +
                             " it holds " + HeldText(held) + ", after the first " + HeldText(*reference));
            }
        }
        host.Unload();
    }
    if (problems.Any()) return Fail(problems.Text());
    return Pass(std::to_string(2 * kLifecycleCycles) + " start/stop cycles over 2 loads; after each stop it holds " +
                HeldText(*reference));
}

constexpr CheckInfo kChecks[] = {
    {"export", "the library exports its entry point alone", false, &CheckExport},
    {"handshake", "a compatible host gets a complete load record", false, &CheckHandshake},
    {"incompatible-host", "a host of another major version ends the process", true, &CheckIncompatibleHost},
    {"records", "every description record is well formed", false, &CheckRecords},
    {"start-stop", "start and stop keep the host's side clean", false, &CheckStartStop},
    {"hostile-requests", "hostile requests get clean answers", false, &CheckHostileRequests},
    {"concurrent-calls", "calls from many threads at once", false, &CheckConcurrentCalls},
    {"lifecycle", "start/stop/unload cycles give all memory back", false, &CheckLifecycle},
};

}  // namespace

std::string CheckRouteTemplate(const char* routeTemplate, std::vector<std::string>& names) {
    const std::string_view text = routeTemplate != nullptr ? routeTemplate : "";
    if (text.empty() || text[0] != '/') return "does not start with '/'";
    size_t open = std::string_view::npos;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '{') {
            if (open != std::string_view::npos) return "opens a parameter inside another at offset " + std::to_string(i);
            open = i;
        } else if (text[i] == '}') {
            if (open == std::string_view::npos) return "closes no parameter at offset " + std::to_string(i);
            size_t start = open + 1;
            if (start < i && (text[start] == '+' || text[start] == '#')) ++start;
            if (start == i) return "has a parameter without a name at offset " + std::to_string(open);
            std::string name(text.substr(start, i - start));
            if (std::find(names.begin(), names.end(), name) != names.end()) {
                return "names the parameter '" + name + "' twice";
            }
            names.push_back(std::move(name));
            open = std::string_view::npos;
        }
    }
    if (open != std::string_view::npos) return "does not close the parameter opened at offset " + std::to_string(open);
    return {};
}

std::span<const CheckInfo> AllChecks() { return kChecks; }

const CheckInfo* FindCheck(const std::string& name) {
    for (const CheckInfo& check : kChecks) {
        if (name == check.name) return &check;
    }
    return nullptr;
}

}  // namespace Korvo::Host::Check
