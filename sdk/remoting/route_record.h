// sdk/remoting/route_record.h - what the transport keeps per served function:
// the route record, the handler interface, and the context record that
// handlers may ask for.
//
// \file
// A RouteRecord is created when a route is registered and then only read:
// dispatch runs on the host's threads, many at once, and touches a record,
// its compiled route and its handler without a lock. Handlers must therefore
// be safe for concurrent calls; Prepare and Invoke are const for that reason.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sdk/binding/registry.h"
#include "sdk/binding/type_identity.h"
#include "sdk/contract/korvo_plugin.h"
#include "sdk/remoting/response.h"
#include "sdk/remoting/routes.h"
#include "sdk/values/property.h"

namespace Korvo {

// Where an argument may be taken from. Any accepts every source.
enum class ArgumentLocation : uint32_t {
    Any = KORVO_LOCATION_ANY,
    Query = KORVO_LOCATION_QUERY,
    Path = KORVO_LOCATION_PATH,
    Header = KORVO_LOCATION_HEADER,
    Body = KORVO_LOCATION_BODY,
};

// The request context handed to handlers that take one (as
// HttpBaseTransport::Request). Built per call, only for such handlers.
struct TransportRequest {
    uint32_t caller = 0;                 // from the request record
    std::string reserved1;               // empty
    const BindingRegistry* registry = nullptr;  // the one describing the called function
    uint64_t receivedAt = 0;             // 100 ns ticks since 1970-01-01 UTC
    HttpMethod method = HttpMethod::Any;
    std::string functionName;            // set for Call requests
    std::string path;                    // as received, a '?' part included
    std::vector<BindingProperty> arguments;  // the bound argument values
    std::map<std::string, std::string, std::less<>> headers;  // a later duplicate name wins
    std::map<std::string, std::string, std::less<>> reserved2;  // empty
    std::string reserved3;               // empty
    uint32_t reserved4 = 1;
};

// The request type of the outgoing side. A handler whose context type is
// this one is treated as asking for a context too.
struct RemotingRequest;

struct RouteRecord;

// One per route: turns bound argument values into the native handler's
// arguments and calls it. Created by HttpBaseTransport::RegisterRoute for
// the handler's signature.
class RouteHandler {
public:
    virtual ~RouteHandler() = default;

    // Converts the bound values into the handler's native argument pack,
    // built in storage (storageBytes bytes aligned for any scalar type; may
    // be null) when it fits there, else on the heap. Conversion failures go
    // into result; returns the pack, or null when result has failed
    // (nothing is left to release then).
    virtual void* Prepare(CallResult& result, const std::vector<BindingProperty>& arguments, uint32_t caller,
                          void* storage, size_t storageBytes) const = 0;
    // Calls the handler with the pack (and context, when it takes one) and
    // stores its value or error and its settings into result.
    virtual void Invoke(CallResult& result, const TransportRequest* context, void* pack,
                        uint32_t caller) const = 0;
    // Destroys a pack that Prepare returned, given the storage Prepare was
    // offered (a pack built there is not freed).
    virtual void ReleaseArguments(void* pack, const void* storage) const noexcept = 0;
    // The stored callable.
    virtual const void* Target() const noexcept = 0;
    // The identity of the handler's context parameter type; that of void
    // when it takes none.
    virtual const TypeIdentity& ContextType() const noexcept = 0;

    // Set once by the transport when the record is created.
    void Attach(const RouteRecord* record, const BindingRegistry* registry) noexcept {
        record_ = record;
        registry_ = registry;
    }
    const RouteRecord* Record() const noexcept { return record_; }
    const BindingRegistry* Registry() const noexcept { return registry_; }

private:
    const RouteRecord* record_ = nullptr;
    const BindingRegistry* registry_ = nullptr;
};

// One served function. Owned by the transport; complete once registration
// has finished and read-only afterwards.
struct RouteRecord {
    const BindingFunctionDescriptor* function = nullptr;  // name, arguments
    std::unique_ptr<RouteHandler> handler;
    std::string pathTemplate;        // normalised; empty: served by name only
    HttpMethod method = HttpMethod::Any;  // Any accepts every method
    std::string functionName;        // what a Call request must carry
    uint8_t flag = 0;
    std::vector<std::vector<std::string>> nameLists;
    std::vector<ArgumentLocation> argumentLocations;  // by argument position
    // What tells this registration from another of the same function: the
    // handler (a member function and its object, or the callable's type).
    std::string handlerKey;
    // By argument position: the record or enum an argument refers to that
    // was not registered when the route was; empty when none.
    std::vector<std::string> missingArgumentTypes;
    std::string missingResultType;  // the same for the result
    // The route as requests are matched against it: pathTemplate (or the
    // function's name when that is empty) with method and functionName.
    // Rebuilt by Compile whenever those change, never per request.
    CompiledRoute compiled;

    void Compile();
    // The location of argument position, Any beyond the list.
    ArgumentLocation LocationOf(size_t position) const noexcept {
        return position < argumentLocations.size() ? argumentLocations[position] : ArgumentLocation::Any;
    }
};

}  // namespace Korvo
