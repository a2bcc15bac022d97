// sdk/remoting/transport.cpp - registration, the API descriptor and dispatch.
#include "sdk/remoting/transport.h"

#include <cstddef>
#include <cstring>
#include <exception>
#include <new>
#include <set>
#include <string>

#include "sdk/diagnostics/format.h"
#include "sdk/diagnostics/log.h"
#include "sdk/platform/platform.h"
#include "sdk/remoting/argument_binding.h"
#include "sdk/remoting/transport_messages.h"
#include "sdk/values/page_pool.h"

namespace Korvo {

namespace {

const char* Text(const std::string& text) noexcept {
    return text.empty() ? ApiDescriptionBuilder::EmptyText() : text.c_str();
}

// Makes the response ours to fill: frees what an earlier fill of ours left
// in it, then zeroes it and stores the release function. Anything else in
// the record was never ours to free.
void ResetResponse(HostResponseRecord& response) noexcept {
    if (response.release == &ReleaseResponse) ReleaseResponse(&response);
    std::memset(static_cast<void*>(&response), 0, sizeof(HostResponseRecord));
    response.release = &ReleaseResponse;
}

// An error response for a failure inside the plug-in; never throws.
void WriteInternalError(HostResponseRecord& response, const char* tmpl, const char* function,
                        const char* what) noexcept {
    try {
        WriteErrorResponse(response, FormatToString(tmpl, function, what), TransportMessage::kInternalErrorStatus);
    } catch (...) {
        WriteErrorResponse(response, OutOfMemoryResponseText(), TransportMessage::kInternalErrorStatus);
    }
}

// The log lines of a call that ended in an exception (printf formats: the
// function's name, then the exception's text).
constexpr const char* kOutOfMemoryLog = "Function '%s' ran out of memory; the caller got a 500 answer.";
constexpr const char* kExceptionLog = "Function '%s' threw an exception: %s; the caller got a 500 answer.";
constexpr const char* kUnknownExceptionLog =
    "Function '%s' threw an unknown exception (not a std::exception); the caller got a 500 answer.";

// "a record 'notes::Note'" for what an argument or result refers to.
std::string ReferredType(std::string_view signature) { return "'" + NativeTypeName(signature) + "'"; }

// Room for a handler's argument pack on the dispatch's own stack: the
// packs of ordinary handlers (a few strings and records) fit, so a call
// allocates none.
constexpr size_t kInlinePackBytes = 256;

// Releases the argument pack whatever way the call ends.
class PackGuard {
public:
    PackGuard(const RouteHandler& handler, void* pack, const void* storage) noexcept
        : handler_(handler), pack_(pack), storage_(storage) {}
    ~PackGuard() {
        if (pack_ != nullptr) handler_.ReleaseArguments(pack_, storage_);
    }
    PackGuard(const PackGuard&) = delete;
    PackGuard& operator=(const PackGuard&) = delete;

private:
    const RouteHandler& handler_;
    void* pack_;
    const void* storage_;
};

}  // namespace

// ------------------------------------------------------------ RouteRecord

void RouteRecord::Compile() {
    const std::string& text = pathTemplate.empty() ? function->name : pathTemplate;
    compiled = CompileRoute(text, this, nullptr, RouteRecordView{method, functionName});
}

// ----------------------------------------------------------- RouteBuilder

RouteBuilder& RouteBuilder::Describe(ArgumentLocation location, std::string_view name, std::string_view description,
                                     std::string_view extra) {
    if (alreadyExisted_) return *this;
    if (record_->argumentLocations.size() <= index_) record_->argumentLocations.resize(index_ + 1);
    record_->argumentLocations[index_] = location;
    if (index_ < function_->arguments.size()) {
        BindingArgumentDescriptor& argument = function_->arguments[index_];
        argument.name.assign(name);
        argument.nameHash = Fnv1a(name);
        argument.description.assign(description);
        argument.details.assign(extra);
    }
    ++index_;
    return *this;
}

RouteBuilder& RouteBuilder::PathArgument(std::string_view name, std::string_view description, std::string_view extra) {
    return Describe(ArgumentLocation::Path, name, description, extra);
}

RouteBuilder& RouteBuilder::BodyArgument(std::string_view name, std::string_view description, std::string_view extra) {
    return Describe(ArgumentLocation::Body, name, description, extra);
}

RouteBuilder& RouteBuilder::QueryArgument(std::string_view name, std::string_view description,
                                          std::string_view extra) {
    return Describe(ArgumentLocation::Query, name, description, extra);
}

RouteBuilder& RouteBuilder::HeaderArgument(std::string_view name, std::string_view description,
                                           std::string_view extra) {
    return Describe(ArgumentLocation::Header, name, description, extra);
}

RouteBuilder& RouteBuilder::AnyArgument(std::string_view name, std::string_view description, std::string_view extra) {
    return Describe(ArgumentLocation::Any, name, description, extra);
}

RouteBuilder& RouteBuilder::AddTag(std::string_view tag) {
    if (!alreadyExisted_ && !tag.empty()) function_->tags.emplace_back(tag);
    return *this;
}

RouteBuilder& RouteBuilder::SetDescription(std::string_view description) {
    if (!alreadyExisted_) function_->description.assign(description);
    return *this;
}

RouteBuilder& RouteBuilder::SetHelp(std::string_view help) {
    if (!alreadyExisted_) function_->help.assign(help);
    return *this;
}

// ------------------------------------------------------ HttpBaseTransport

HttpBaseTransport::HttpBaseTransport() { Initialise(); }

HttpBaseTransport::~HttpBaseTransport() = default;

RouteBuilder HttpBaseTransport::RegisterRouteCore(HttpMethod method, std::string_view routeTemplate,
                                                  std::span<const RouteArgumentSignature> arguments, BindingTypeRef resultType,
                                                  std::string_view resultReferredType,
                                                  std::unique_ptr<RouteHandler> handler, std::string handlerKey) {
    const std::string name = FunctionNameFromRoute(method, routeTemplate);
    BindingFunctionBuilder function = RegisterFunction(name, static_cast<uint32_t>(arguments.size()));
    BindingFunctionDescriptor* descriptor = function.Descriptor();
    if (!function.AlreadyRegistered()) {
        for (size_t index = 0; index < arguments.size(); ++index) {
            function.SetArgument(static_cast<uint32_t>(index), {}, {}, arguments[index].type,
                                 arguments[index].optional);
        }
        function.SetReturnType(resultType);
    }

    std::unique_lock<std::mutex> lock(routesMutex_);
    auto found = routes_.find(descriptor);
    if (found != routes_.end()) {
        const RouteRecord& first = *found->second;
        const std::string path = NormaliseRoutePath(routeTemplate);
        std::string differences;
        auto differ = [&](const char* what) {
            if (!differences.empty()) differences += ", ";
            differences += what;
        };
        if (first.method != method) differ("another method");
        if (first.pathTemplate != path) differ("another template");
        if (first.handlerKey != handlerKey) differ("another handler");
        lock.unlock();
        if (!differences.empty()) {
            auto describe = [](HttpMethod m, const std::string& t) {
                const std::string methodName = MethodName(m);
                return (methodName.empty() ? std::string("any method") : methodName) + " " + t;
            };
            ReportRegistrationProblem("Function '" + name + "' is registered twice, the second time with " +
                                      differences + ": the first registration (" + describe(first.method, first.pathTemplate) +
                                      ") stays and the second (" + describe(method, path) +
                                      ") is ignored, so its handler is never called. Remove one of the two "
                                      "registrations, or give the second its own method and path.");
        }
        return RouteBuilder(found->second.get(), descriptor, true);
    }

    auto record = std::make_unique<RouteRecord>();
    record->function = descriptor;
    record->argumentLocations.assign(descriptor->arguments.size(), ArgumentLocation::Any);
    record->handler = std::move(handler);
    record->handler->Attach(record.get(), this);
    record->pathTemplate = NormaliseRoutePath(routeTemplate);
    record->method = method;
    record->functionName.clear();
    record->handlerKey = std::move(handlerKey);
    record->missingArgumentTypes.resize(arguments.size());
    for (size_t index = 0; index < arguments.size(); ++index) {
        if (!arguments[index].referredType.empty() && arguments[index].type.descriptor == nullptr) {
            record->missingArgumentTypes[index] = ReferredType(arguments[index].referredType);
        }
    }
    if (!resultReferredType.empty() && resultType.descriptor == nullptr) {
        record->missingResultType = ReferredType(resultReferredType);
    }
    record->Compile();
    RouteRecord* stored = record.get();
    routeOrder_.push_back(stored);
    routes_.emplace(descriptor, std::move(record));
    return RouteBuilder(stored, descriptor, false);
}

void HttpBaseTransport::AppendBytes(std::string& key, const void* data, size_t size) {
    constexpr char kHexDigits[] = "0123456789abcdef";
    key += ' ';
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (size_t index = 0; index < size; ++index) {
        key += kHexDigits[bytes[index] >> 4];
        key += kHexDigits[bytes[index] & 0xFu];
    }
}

std::vector<std::string> HttpBaseTransport::CheckRegistrations() {
    std::vector<RouteRecord*> routes;
    {
        std::lock_guard<std::mutex> lock(routesMutex_);
        routes.assign(routeOrder_.begin() + static_cast<std::ptrdiff_t>(routesChecked_), routeOrder_.end());
        routesChecked_ = routeOrder_.size();
    }
    for (const RouteRecord* route : routes) CheckRoute(*route);
    return TakeRegistrationProblems();
}

void HttpBaseTransport::CheckRoute(const RouteRecord& route) {
    const BindingFunctionDescriptor& function = *route.function;
    const std::string where = "route '" + function.name + "' (" +
                              (MethodName(route.method)[0] != '\0' ? std::string(MethodName(route.method)) + " " : "") +
                              route.pathTemplate + ")";
    auto argumentName = [&](size_t index) {
        const std::string& named = function.arguments[index].name;
        return named.empty() ? "argument " + std::to_string(index + 1) : "argument '" + named + "'";
    };

    std::set<std::string, std::less<>> pathArguments;
    bool hasBody = false;
    bool takesRecord = false;
    for (size_t index = 0; index < function.arguments.size(); ++index) {
        const ArgumentLocation location = route.LocationOf(index);
        if (location == ArgumentLocation::Path) pathArguments.insert(function.arguments[index].name);
        if (location == ArgumentLocation::Body) hasBody = true;
        if (function.arguments[index].EffectiveType().kind == BindingTypeKind::Struct) takesRecord = true;
        if (index < route.missingArgumentTypes.size() && !route.missingArgumentTypes[index].empty()) {
            ReportRegistrationProblem("The " + argumentName(index) + " of " + where + " refers to " +
                                      route.missingArgumentTypes[index] +
                                      ", which is not registered: its values will not convert. Register that "
                                      "record or enum before the route.");
        }
    }
    if (!route.missingResultType.empty()) {
        ReportRegistrationProblem("The result of " + where + " refers to " + route.missingResultType +
                                  ", which is not registered: its values will not convert. Register that record or "
                                  "enum before the route.");
    }

    std::set<std::string, std::less<>> parameters;
    for (const RouteParameter& parameter : route.compiled.parameters) {
        if (parameter.kind == RouteParameterKind::None) continue;
        parameters.insert(parameter.name);
        if (!pathArguments.contains(parameter.name)) {
            ReportRegistrationProblem("The template of " + where + " has the parameter '" + parameter.name +
                                      "' but the route has no path argument of that name: its value is never "
                                      "passed to the handler. Describe the argument with PathArgument(\"" +
                                      parameter.name + "\"), or correct the name in the template.");
        }
    }
    for (const std::string& name : pathArguments) {
        if (!parameters.contains(name)) {
            ReportRegistrationProblem("The path argument '" + name + "' of " + where +
                                      " is named by no parameter of the template: no request can supply it. "
                                      "Add {" + name + "} to the template, or correct the argument's name.");
        }
    }
    if ((route.method == HttpMethod::Post || route.method == HttpMethod::Put) && takesRecord && !hasBody) {
        ReportRegistrationProblem(std::string("The ") + where + " takes a record but has no body argument: a " +
                                  MethodName(route.method) +
                                  " sends its record in the body. Describe that argument with BodyArgument.");
    }
}

const RouteRecord* HttpBaseTransport::FindRoute(std::string_view functionName) const {
    std::lock_guard<std::mutex> lock(routesMutex_);
    for (const RouteRecord* route : routeOrder_) {
        if (route->function->name == functionName) return route;
    }
    return nullptr;
}

HostApiDescriptor HttpBaseTransport::BuildApiDescriptor() {
    std::vector<RouteRecord*> routes;
    {
        std::lock_guard<std::mutex> lock(routesMutex_);
        routes = routeOrder_;
    }
    const std::vector<const BindingFunctionDescriptor*> functions = FunctionsSnapshot();
    const std::vector<const BindingTypeDescriptor*> types = TypesSnapshot();
    const std::vector<const BindingEventDescriptor*> events = EventsSnapshot();
    const ApiDescription description = description_.BuildDescription(functions, types, events);

    // Every array is sized first, so the records can point into them.
    size_t locationCount = 0, nameListCount = 0, nameCount = 0;
    for (const RouteRecord* route : routes) {
        locationCount += route->argumentLocations.size();
        nameListCount += route->nameLists.size();
        for (const auto& names : route->nameLists) nameCount += names.size();
    }
    functionRecords_.clear();
    functionRecords_.reserve(routes.size());
    locationEntries_.assign(locationCount, HostLocationEntry{});
    nameListEntries_.assign(nameListCount, HostNameListEntry{});
    nameListTexts_.assign(nameCount, nullptr);
    functionNames_.reserve(routes.size());

    size_t nextLocation = 0, nextNameList = 0, nextName = 0;
    for (RouteRecord* route : routes) {
        const HostFunctionDescription* described = description_.FindFunction(route->function->name);
        if (described == nullptr) continue;  // removed from the registry since

        HostFunctionRecord& record = functionRecords_.emplace_back();
        std::memset(static_cast<void*>(&record), 0, sizeof(record));
        std::memcpy(static_cast<void*>(&record.description), described, sizeof(HostFunctionDescription));

        HostLocationEntry* firstLocation = locationEntries_.data() + nextLocation;
        for (ArgumentLocation location : route->argumentLocations) {
            const auto number = static_cast<uint32_t>(location);
            // Up to the last code as is (the unused 3 included), above it ANY.
            locationEntries_[nextLocation++].location =
                number <= KORVO_LOCATION_LAST ? number : uint32_t{KORVO_LOCATION_ANY};
        }
        ChainRecords(firstLocation, route->argumentLocations.size());
        record.locations = route->argumentLocations.empty() ? nullptr : firstLocation;

        HostNameListEntry* firstNameList = nameListEntries_.data() + nextNameList;
        for (const auto& names : route->nameLists) {
            HostNameListEntry& entry = nameListEntries_[nextNameList];
            entry.names = names.empty() ? nullptr : &nameListTexts_[nextName];
            entry.count = static_cast<uint32_t>(names.size());
            for (const std::string& text : names) nameListTexts_[nextName++] = Text(text);
            ++nextNameList;
        }
        ChainRecords(firstNameList, route->nameLists.size());
        record.nameLists = route->nameLists.empty() ? nullptr : firstNameList;
        record.nameListCount = static_cast<uint32_t>(route->nameLists.size());

        record.pathTemplate = Text(route->pathTemplate);
        const auto method = static_cast<uint32_t>(route->method);
        record.method = KorvoMethodIsValid(method) ? method : uint32_t{KORVO_METHOD_ANY};
        record.flag = route->flag;
        record.functionName = Text(route->functionName);

        FunctionUserData& entry = functionNames_[route->function->name];
        entry.transport = this;
        entry.route = route;
        record.description.userData = &entry;
        record.callback = &FunctionCallback;
    }
    ChainRecords(functionRecords_.data(), functionRecords_.size());

    HostApiDescriptor descriptor{};
    descriptor.functions = functionRecords_.empty() ? nullptr : functionRecords_.data();
    descriptor.functionCount = static_cast<uint32_t>(functionRecords_.size());
    descriptor.types = description.types;
    descriptor.typeCount = description.typeCount;
    descriptor.events = description.events;
    descriptor.eventCount = description.eventCount;
    return descriptor;
}

void KORVO_CDECL HttpBaseTransport::FunctionCallback(HostResponseRecord* response,
                                                     const HostRequestRecord* request) noexcept {
    if (response == nullptr) return;
    ResetResponse(*response);
    const FunctionUserData* user = request != nullptr ? request->userData : nullptr;
    if (user == nullptr || user->transport == nullptr || user->route == nullptr) {
        WriteErrorResponse(*response, TransportMessage::kInvalidFunction, TransportMessage::kInvalidFunctionStatus);
        return;
    }
    const char* function = user->route->function->name.c_str();
    try {
        user->transport->DispatchCall(*response, *request, *user->route);
    } catch (const std::bad_alloc&) {
        LogMessage(Error, kLogGroupDebug, kOutOfMemoryLog, function);
        WriteInternalError(*response, TransportMessage::kOutOfMemory, function, "");
    } catch (const std::exception& exception) {
        // The caller sees only a 500: the plug-in's author reads why here.
        const char* what = exception.what();
        LogMessage(Error, kLogGroupDebug, kExceptionLog, function, what != nullptr ? what : "");
        WriteInternalError(*response, TransportMessage::kException, function, what);
    } catch (...) {
        LogMessage(Error, kLogGroupDebug, kUnknownExceptionLog, function);
        WriteInternalError(*response, TransportMessage::kUnknownException, function, "");
    }
    // The request's own trees are gone: the page pool sizes its spares by it.
    PagePool::Instance().Settle();
}

void HttpBaseTransport::DispatchCall(HostResponseRecord& response, const HostRequestRecord& request,
                                     const RouteRecord& route) const {
    ResetResponse(response);

    RouteMatch match;
    match.path = request.path != nullptr ? std::string_view(request.path) : std::string_view();
    match.method = HttpMethodFromCode(request.method);
    if (match.method == HttpMethod::Call && request.functionName != nullptr) {
        match.functionName = request.functionName;
    }
    if (!MatchRoutes(match, std::span<const CompiledRoute>(&route.compiled, 1))) {
        WriteErrorResponse(response, TransportMessage::kInvalidFunction, TransportMessage::kInvalidFunctionStatus);
        return;
    }

    const BindingRegistry* registry = route.function->registry;
    CallResult result;
    std::vector<BindingProperty> arguments = BindRequest(result, route, match, request, registry);

    const RouteHandler& handler = *route.handler;
    alignas(std::max_align_t) unsigned char packStorage[kInlinePackBytes];
    void* pack = nullptr;
    if (result.Succeeded()) pack = handler.Prepare(result, arguments, request.caller, packStorage, sizeof packStorage);
    PackGuard guard(handler, pack, packStorage);

    if (result.Succeeded()) {
        const TypeIdentity& contextType = handler.ContextType();
        if (contextType.hash == StaticType::HashCode<Request>().hash ||
            contextType.hash == StaticType::HashCode<RemotingRequest>().hash) {
            Request context;
            context.caller = request.caller;
            context.registry = registry;
            context.receivedAt = static_cast<uint64_t>(Platform::PreciseSystemTimeTicks100ns());
            context.method = match.method;
            if (match.method == HttpMethod::Call) context.functionName.assign(match.functionName);
            context.path.assign(match.path);
            // The values have been converted into the pack: hand them over.
            context.arguments = std::move(arguments);
            if (request.headers != nullptr) {
                for (uint32_t index = 0; index < request.headerCount; ++index) {
                    const HostHeaderEntry& header = request.headers[index];
                    if (header.name == nullptr) continue;
                    context.headers.insert_or_assign(std::string(header.name),
                                                     std::string(header.value != nullptr ? header.value : ""));
                }
            }
            handler.Invoke(result, &context, pack, request.caller);
        } else {
            handler.Invoke(result, nullptr, pack, request.caller);
        }
    }

    if (!WriteResponse(response, result, registry)) {
        WriteErrorResponse(response, FormatToString(TransportMessage::kOutOfMemory, route.function->name),
                           TransportMessage::kInternalErrorStatus);
    }
}

}  // namespace Korvo
