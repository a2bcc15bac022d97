// sdk/host/plugin_manager_types.h - the records and events of the host's
// plug-in machinery that every plug-in describes besides its own API: the
// plug-in manager's state, the resource-change event, messages received over
// the host's WLDS connection and service-proxy replies.
//
// Every type and event here carries the tag "kclient". The host only reads
// their descriptions; of the records, the plug-in itself uses Resource (to
// send and receive resource-change events) and PluginServiceProxyResponse
// (the decoded payload of the service-proxy events, see plugin_core.h).
// Names, tags and field order are the host's: they stay as the host spells them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sdk/values/property.h"

namespace Korvo {

class BindingRegistry;

namespace Client {

// Registered as "PluginManagerState".
enum class PluginManagerState : int32_t {
    NotReady = 0,
    PluginsInitialized = 1,
};

// Registered as "PluginManagerResource".
struct PluginManagerResource {
    PluginManagerState state = PluginManagerState::NotReady;
};

// Registered as "PluginResourceEventType"; travels by enumerator name.
enum class PluginResourceEventType : int32_t {
    Create = 0,
    Update = 1,
    Delete = 2,
};

namespace AppModule {

// Registered as "PluginWldsEvent".
struct PluginWldsEvent {
    std::string clientId;
    std::string subtopic;
    std::string typeName;
    BindingProperty body;
};

// Registered as "PluginWldsResponse".
struct PluginWldsResponse {
    std::string typeName;
    BindingProperty body;
};

// Registered as "PluginServiceProxyResponse": the payload of the three
// service-proxy events.
struct PluginServiceProxyResponse {
    std::string uuid;
    std::string serviceName;
    std::string methodName;
    std::string payload;
    std::string status;
    std::string error;
};

}  // namespace AppModule

}  // namespace Client

// A change of the resource at uri; registered as "PluginResourceEvent".
struct Resource {
    std::string uri;
    Client::PluginResourceEventType eventType = Client::PluginResourceEventType::Create;
    BindingProperty data;  // the resource's value
};

inline constexpr std::string_view kPluginManagerTag = "kclient";

// Host event names of this set.
inline constexpr std::string_view kServiceProxyUuidEvent = "OnServiceProxyUuidEvent";
inline constexpr std::string_view kServiceProxyMethodEvent = "OnServiceProxyMethodEvent";
inline constexpr std::string_view kServiceProxyAsyncEvent = "OnServiceProxyAsyncEvent";

// Registers, in this order, PluginManagerState, PluginManagerResource,
// PluginResourceEventType, PluginResourceEvent, PluginWldsEvent,
// PluginWldsResponse, PluginServiceProxyResponse and the events
// OnJsonApiEvent, OnWldsEvent, OnServiceProxyUuidEvent,
// OnServiceProxyMethodEvent and OnServiceProxyAsyncEvent. Register-once: a
// name that exists keeps its first definition. Runs on the loading thread.
void RegisterPluginManagerTypeSet(BindingRegistry& registry);

}  // namespace Korvo
