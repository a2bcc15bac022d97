// sdk/remoting/transport.h - HttpBaseTransport, the object through which the
// host calls the plug-in's API.
//
// \file
// Plug-in code registers routes (method, path template, native handler) and
// describes their arguments; at load the transport turns its registrations
// into the HostApiDescriptor that the host keeps; afterwards the host calls
// a function through the callback in its HostFunctionRecord with a request
// record and an empty response record. The transport checks the request
// against the function's route, binds the arguments, calls the handler and
// fills the response, which the host releases through its release field.
//
//   transport.RegisterRoute(HttpMethod::Post, "/items/{id}",
//                           [](std::string id, Item item) -> HandlerResult<void> { ... })
//       .PathArgument("id")
//       .BodyArgument("item");
//   HostApiDescriptor descriptor = transport.BuildApiDescriptor();
//
// Threads: registration and BuildApiDescriptor run on the loading thread
// (the route table has its own lock for them). Function callbacks may run on
// any thread, many at once: dispatch takes no lock and only reads the route
// records, which do not change after the descriptor is built. No exception
// leaves a callback: a failure inside the plug-in becomes an error response.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "sdk/binding/registry.h"
#include "sdk/contract/korvo_plugin.h"
#include "sdk/remoting/api_description.h"
#include "sdk/contract/records.h"
#include "sdk/remoting/response.h"
#include "sdk/remoting/route_handler.h"
#include "sdk/remoting/route_record.h"
#include "sdk/remoting/routes.h"

namespace Korvo {
class HttpBaseTransport;
}  // namespace Korvo

// What a HostFunctionRecord points to (its description's userData) and the
// host passes back in each request's userData: the contract leaves it opaque
// to the host, and the transport defines it (as Korvo::FunctionUserData).
struct KorvoFunctionUserData {
    Korvo::HttpBaseTransport* transport = nullptr;
    Korvo::RouteRecord* route = nullptr;
};

namespace Korvo {

// Describes the arguments of a just-registered route, one call per handler
// argument in handler order. Does nothing when the route had been
// registered before.
class RouteBuilder {
public:
    RouteBuilder(RouteRecord* record, BindingFunctionDescriptor* function, bool alreadyExisted) noexcept
        : record_(record), function_(function), alreadyExisted_(alreadyExisted) {}

    // The next argument comes from the path (location Path) or the body.
    RouteBuilder& PathArgument(std::string_view name, std::string_view description = {},
                               std::string_view extra = {});
    RouteBuilder& BodyArgument(std::string_view name, std::string_view description = {},
                               std::string_view extra = {});
    // The next argument comes from the query, a header, or any source.
    RouteBuilder& QueryArgument(std::string_view name, std::string_view description = {},
                                std::string_view extra = {});
    RouteBuilder& HeaderArgument(std::string_view name, std::string_view description = {},
                                 std::string_view extra = {});
    RouteBuilder& AnyArgument(std::string_view name, std::string_view description = {},
                              std::string_view extra = {});
    RouteBuilder& AddTag(std::string_view tag);
    RouteBuilder& SetDescription(std::string_view description);
    // The longer text a host shows for the function: usage, examples.
    RouteBuilder& SetHelp(std::string_view help);

    RouteRecord* Record() const noexcept { return record_; }
    bool AlreadyExisted() const noexcept { return alreadyExisted_; }

private:
    RouteBuilder& Describe(ArgumentLocation location, std::string_view name, std::string_view description,
                           std::string_view extra);

    RouteRecord* record_;
    BindingFunctionDescriptor* function_;
    bool alreadyExisted_;
    size_t index_ = 0;
};

class HttpBaseTransport : public BindingRegistry {
public:
    using Request = TransportRequest;

    // An initialised registry (builtin types and events) without routes.
    HttpBaseTransport();
    ~HttpBaseTransport() override;

    // Registers handler (see route_handler.h) under the function named by
    // FunctionNameFromRoute(method, routeTemplate). A second registration
    // of the same function finds the first one and changes nothing.
    template <typename Handler>
    RouteBuilder RegisterRoute(HttpMethod method, std::string_view routeTemplate, Handler handler);

    // The same for a member function of object.
    template <typename Object, typename Result, typename... Args>
    RouteBuilder RegisterRoute(HttpMethod method, std::string_view routeTemplate, Object* object,
                               HandlerResult<Result> (Object::*member)(Args...)) {
        // Every member of one signature shares the wrapper's type: the member
        // and its object tell the handlers apart.
        std::string key = "member function of ";
        key += NativeTypeName(StaticType::Name<Object>());
        AppendBytes(key, &member, sizeof(member));
        AppendBytes(key, &object, sizeof(object));
        return RegisterRouteKeyed(
            method, routeTemplate,
            [object, member](Args... arguments) -> HandlerResult<Result> {
                return (object->*member)(static_cast<Args&&>(arguments)...);
            },
            std::move(key));
    }

    // Checks the routes registered since the last call (their template's
    // parameters against the path arguments, a body for a record sent with
    // POST or PUT, argument types that were not registered), then hands over
    // every registration problem recorded so far (TakeRegistrationProblems).
    // Run after the routes' arguments are described.
    std::vector<std::string> CheckRegistrations();

    // Describes every registered function, type and event to the host, with
    // one HostFunctionRecord per route. The records live as long as the
    // transport; routes registered later are not described. Meant to be
    // called once: a second call rebuilds (and so moves) the records.
    HostApiDescriptor BuildApiDescriptor();

    // The callback stored in every HostFunctionRecord.
    static void KORVO_CDECL FunctionCallback(HostResponseRecord* response, const HostRequestRecord* request) noexcept;

    // Serves one request for route into a response that the callback has
    // reset. May throw (std::bad_alloc, or whatever a handler throws); the
    // callback turns that into an error response.
    void DispatchCall(HostResponseRecord& response, const HostRequestRecord& request, const RouteRecord& route) const;

    // The route of the function named name, or null.
    const RouteRecord* FindRoute(std::string_view functionName) const;

private:
    template <typename Handler>
    RouteBuilder RegisterRouteKeyed(HttpMethod method, std::string_view routeTemplate, Handler handler,
                                    std::string handlerKey);
    RouteBuilder RegisterRouteCore(HttpMethod method, std::string_view routeTemplate,
                                   std::span<const RouteArgumentSignature> arguments, BindingTypeRef resultType,
                                   std::string_view resultReferredType, std::unique_ptr<RouteHandler> handler,
                                   std::string handlerKey);
    // Appends size bytes at data to key, in hexadecimal.
    static void AppendBytes(std::string& key, const void* data, size_t size);
    void CheckRoute(const RouteRecord& route);

    mutable std::mutex routesMutex_;  // guards routes_ and routeOrder_
    std::unordered_map<const BindingFunctionDescriptor*, std::unique_ptr<RouteRecord>> routes_;
    std::vector<RouteRecord*> routeOrder_;  // registration order
    size_t routesChecked_ = 0;              // of routeOrder_, by CheckRegistrations
    // Entries never move once made: the function records point to them.
    std::unordered_map<std::string, FunctionUserData> functionNames_;
    ApiDescriptionBuilder description_;
    std::vector<HostFunctionRecord> functionRecords_;
    std::vector<HostLocationEntry> locationEntries_;
    std::vector<HostNameListEntry> nameListEntries_;
    std::vector<const char*> nameListTexts_;
};

template <typename Handler>
RouteBuilder HttpBaseTransport::RegisterRoute(HttpMethod method, std::string_view routeTemplate, Handler handler) {
    // A lambda's type is its own; function pointers share theirs.
    std::string key = NativeTypeName(StaticType::Name<Handler>());
    if constexpr (std::is_pointer_v<Handler>) AppendBytes(key, &handler, sizeof(handler));
    return RegisterRouteKeyed(method, routeTemplate, std::move(handler), std::move(key));
}

template <typename Handler>
RouteBuilder HttpBaseTransport::RegisterRouteKeyed(HttpMethod method, std::string_view routeTemplate,
                                                   Handler handler, std::string handlerKey) {
    using TypedHandler = detail::RouteHandlerOf<Handler>;
    const std::vector<RouteArgumentSignature> arguments = TypedHandler::ArgumentSignatures(this);
    return RegisterRouteCore(method, routeTemplate, arguments, TypedHandler::ResultType(this),
                             TypedHandler::ResultReferredType(), std::make_unique<TypedHandler>(std::move(handler)),
                             std::move(handlerKey));
}

}  // namespace Korvo
