#include "sdk/host/plugin_manager_types.h"

#include "sdk/binding/record_builder.h"
#include "sdk/host/event_names.h"

namespace Korvo {

namespace {

using Client::PluginManagerResource;
using Client::PluginManagerState;
using Client::PluginResourceEventType;
using Client::AppModule::PluginServiceProxyResponse;
using Client::AppModule::PluginWldsEvent;
using Client::AppModule::PluginWldsResponse;

template <typename Payload>
void RegisterPluginManagerEvent(BindingRegistry& registry, std::string_view name, std::string_view description) {
    BindingEventBuilder event = registry.RegisterEvent(name, StaticType::HashCode<Payload>());
    if (event.AlreadyRegistered()) return;
    event.SetDescription(description).AddTag(kPluginManagerTag);
}

}  // namespace

void RegisterPluginManagerTypeSet(BindingRegistry& registry) {
    RegisterEnum<PluginManagerState>(registry, "PluginManagerState")
        .Enumerator("NotReady", PluginManagerState::NotReady)
        .Enumerator("PluginsInitialized", PluginManagerState::PluginsInitialized)
        .Tag(kPluginManagerTag);

    RegisterRecord<PluginManagerResource>(registry, "PluginManagerResource")
        .Field("state", &PluginManagerResource::state)
        .Tag(kPluginManagerTag);

    RegisterEnum<PluginResourceEventType>(registry, "PluginResourceEventType")
        .Enumerator("Create", PluginResourceEventType::Create)
        .Enumerator("Update", PluginResourceEventType::Update)
        .Enumerator("Delete", PluginResourceEventType::Delete)
        .Tag(kPluginManagerTag);

    RegisterRecord<Resource>(registry, "PluginResourceEvent")
        .Field("uri", &Resource::uri)
        .Field("eventType", &Resource::eventType)
        .Field("data", &Resource::data)
        .Tag(kPluginManagerTag);

    RegisterRecord<PluginWldsEvent>(registry, "PluginWldsEvent")
        .Field("clientId", &PluginWldsEvent::clientId)
        .Field("subtopic", &PluginWldsEvent::subtopic)
        .Field("typeName", &PluginWldsEvent::typeName)
        .Field("body", &PluginWldsEvent::body)
        .Tag(kPluginManagerTag);

    RegisterRecord<PluginWldsResponse>(registry, "PluginWldsResponse")
        .Field("typeName", &PluginWldsResponse::typeName)
        .Field("body", &PluginWldsResponse::body)
        .Tag(kPluginManagerTag);

    RegisterRecord<PluginServiceProxyResponse>(registry, "PluginServiceProxyResponse")
        .Field("uuid", &PluginServiceProxyResponse::uuid)
        .Field("serviceName", &PluginServiceProxyResponse::serviceName)
        .Field("methodName", &PluginServiceProxyResponse::methodName)
        .Field("payload", &PluginServiceProxyResponse::payload)
        .Field("status", &PluginServiceProxyResponse::status)
        .Field("error", &PluginServiceProxyResponse::error)
        .Tag(kPluginManagerTag);

    RegisterPluginManagerEvent<Resource>(registry, kGenericResourceEvent, "Fired when a resource is changed.");
    RegisterPluginManagerEvent<PluginWldsEvent>(registry, "OnWldsEvent",
                                                "Fired when a message is received over the WLDS connection.");
    RegisterPluginManagerEvent<PluginServiceProxyResponse>(
        registry, kServiceProxyUuidEvent, "Fired when a uuid-based service proxy message is received.");
    RegisterPluginManagerEvent<PluginServiceProxyResponse>(
        registry, kServiceProxyMethodEvent, "Fired when a method-based service proxy message is received.");
    RegisterPluginManagerEvent<PluginServiceProxyResponse>(
        registry, kServiceProxyAsyncEvent, "Fired when an async service proxy message is received.");
}

}  // namespace Korvo
