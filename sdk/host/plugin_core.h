// sdk/host/plugin_core.h - the host-independent core of a plug-in object:
// resource listeners, counted event subscriptions, decoding and dispatch of
// host events, resource-change broadcasts and the service-proxy tables.
//
// \file
// Class chain: EventSubscriber (resource listeners) <- PluginCore (this
// file) <- PluginBase (plugin_base.h, which reaches the host through its
// function table) <- the plug-in. Everything PluginCore sends to the host
// goes through the pure virtual Host* operations, so this layer, and the
// tests of it, need no host table.
//
// Host event names come from resource uris (EventNameForUri). Subscribing
// the first uri of a name enters a handler and subscribes at the host; later
// uris of the same name only raise the name's count; the unsubscription that
// brings the count back to zero unsubscribes at the host and drops the
// handler. An unsubscription of a name whose count is zero is refused, so
// the count never goes below zero.
//
// Threads. The host delivers events on its own threads, and requests that
// broadcast events run concurrently:
// - the event handler table is guarded by a reader-writer lock; a delivery
//   takes a reference to its handler under the shared lock and runs it
//   without any lock, so a handler replaced or removed meanwhile stays alive
//   until its delivery ends;
// - subscription changes (SubscribeEvent, UnsubscribeEvent, AddEventHandler,
//   Shutdown) are serialised by one mutex, held across the host's Subscribe
//   and Unsubscribe so that the host sees them in count order; the host must
//   not call back into a subscription change from inside those calls;
// - the resource listener tables have a reader-writer lock of their own;
//   listeners run without it;
// - one mutex guards the three service-proxy tables; completions and async
//   handlers run with it held and must not call the service-proxy
//   operations of the same object.
// No lock of this class is held while a resource event is sent to the host.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "sdk/binding/converter.h"
#include "sdk/contract/korvo_plugin.h"
#include "sdk/contract/records.h"
#include "sdk/host/plugin_manager_types.h"
#include "sdk/host/service_proxy_parking.h"
#include "sdk/records/host_value.h"
#include "sdk/values/property.h"

namespace Korvo {

class BindingRegistry;

using ServiceProxyResponse = Client::AppModule::PluginServiceProxyResponse;

// A resource-change event as it is sent: its type, the resource's uri and
// the native record of its data, written into the event's payload as they
// are rather than copied into a Resource first.
template <typename T>
struct ResourceEventView {
    Client::PluginResourceEventType eventType;
    std::string_view uri;
    const T& data;
};

// Subscription flags of the host's Subscribe.
inline constexpr uint32_t kResourceEventFlag = KORVO_SUBSCRIBE_RESOURCE_EVENT;
inline constexpr uint32_t kServiceProxyEventFlag = KORVO_SUBSCRIBE_SERVICE_PROXY_EVENT;

// The root name under which event payloads and host responses are read.
inline constexpr std::string_view kResultRootName = "<result>";

// The resource listeners of a plug-in, and the two subscription operations
// that do nothing at this level.
class EventSubscriber {
public:
    using ResourceListener = std::function<void(const Resource&)>;

    EventSubscriber() = default;
    EventSubscriber(const EventSubscriber&) = delete;
    EventSubscriber& operator=(const EventSubscriber&) = delete;

    virtual void SubscribeEvent(const std::string& uri);
    virtual void UnsubscribeEvent(const std::string& uri);
    virtual ~EventSubscriber();

    // Listens to resource events of exactly uri (a listener already entered
    // for uri is replaced).
    void AddResourceListener(std::string uri, ResourceListener listener);
    // Listens to resource events whose uri fits pattern (UriPatternMatches);
    // pattern listeners run in the order they were added.
    void AddResourcePatternListener(std::string pattern, ResourceListener listener);

    // Hands resource to the exact listener of its uri (a uri without a
    // leading '/' gets one), then to every pattern listener that fits, in
    // insertion order. Listeners run without the table lock.
    void DispatchResource(const Resource& resource) const;

protected:
    void ClearResourceListeners();

private:
    mutable std::shared_mutex listenersLock_;
    std::unordered_map<std::string, ResourceListener> exactListeners_;
    std::vector<std::pair<std::string, ResourceListener>> patternListeners_;
};

class PluginCore : public EventSubscriber {
public:
    using ResourceHandler = std::function<void(const Resource&)>;
    using ServiceProxyHandler = std::function<void(const ServiceProxyResponse&)>;

    PluginCore();
    ~PluginCore() override;

    // ---- subscriptions (counted by host event name)
    void SubscribeEvent(const std::string& uri) override;
    void UnsubscribeEvent(const std::string& uri) override;
    // The count of a host event name; 0 when it was never subscribed.
    int32_t SubscriptionCount(std::string_view eventName) const;

    // Withdraws every subscription at the host, empties the event handler,
    // service-proxy and listener tables. Subscription counts are kept.
    virtual void Shutdown();

    // ---- the host, as this layer reaches it (implemented by PluginBase)
    virtual void HostSendRequest(HostResponseRecord* response, const HostRequestRecord* request) = 0;
    virtual void HostCall1(uint32_t a, uint32_t b) = 0;
    virtual void HostSendEvent(const HostEventRecord* event) = 0;
    virtual void HostSubscribe(const char* eventName, uint32_t pluginHandle, HostEventCallback callback,
                               void* userData, uint32_t flag) = 0;
    virtual void HostUnsubscribe(const char* eventName, uint32_t pluginHandle) = 0;
    virtual void HostCall5(uint32_t a, uint32_t b, uint32_t c, double d, uint32_t e) = 0;
    virtual void HostYield() = 0;
    virtual void HostMarkActivity(const std::string& label, uint32_t value) = 0;
    virtual uint64_t HostPollWake() = 0;

    // ---- events
    // Enters handler under eventName (replacing any handler there) and
    // subscribes at the host with the callback that decodes its payload
    // type, this object as user data, and flag.
    void AddEventHandler(std::string_view eventName, ResourceHandler handler, uint32_t flag = kResourceEventFlag);
    void AddEventHandler(std::string_view eventName, ServiceProxyHandler handler,
                         uint32_t flag = kServiceProxyEventFlag);

    // Broadcasts a change of the resource at uri whose new value is record
    // (of a registered type): under EventNameForUri(uri) and, when that
    // differs, again under "OnJsonApiEvent". A conversion failure sends
    // nothing and is returned; the host's answer is not looked at. The
    // payload is the PluginResourceEvent {uri, eventType, data: record},
    // written straight from record into host values (no property between).
    template <typename T>
    BindingResult SendResourceEvent(Client::PluginResourceEventType eventType, std::string_view uri, const T& record);
    // The same with the resource's value already built.
    BindingResult SendResource(const Resource& resource);

    // The callbacks handed to the host: the record's user data is the
    // PluginCore. A name without a handler, or a payload that does not
    // decode to the handler's type, drops the event. Never throw.
    static void KORVO_CDECL OnHostEvent(const HostEventRecord* event);
    static void KORVO_CDECL OnServiceProxyEvent(const HostEventRecord* event);

    // ---- service proxy
    // Enters the handlers of OnServiceProxyUuidEvent, OnServiceProxyMethodEvent
    // and OnServiceProxyAsyncEvent, in this order, with flag 1.
    void SubscribeServiceProxyEvents();
    // The three handlers.
    void OnServiceProxyUuidReply(const ServiceProxyResponse& reply);
    void OnServiceProxyMethodReply(const ServiceProxyResponse& reply);
    void OnServiceProxyAsyncReply(const ServiceProxyResponse& reply);
    // "<service>.<method>", the key of method and async replies.
    static std::string ServiceProxyMethodKey(std::string_view serviceName, std::string_view methodName);
    // Enters the completion of a request whose reply will be parked under
    // key, then completes it at once if its reply arrived already.
    void AddPendingServiceProxyRequest(std::string key, ServiceProxyHandler completion);
    // Enters the handler of async replies under key ("<service>.<method>").
    void AddServiceProxyAsyncHandler(std::string key, ServiceProxyHandler handler);
    // A copy of the reply parked under key, if any; and how many are parked.
    std::optional<ServiceProxyResponse> ParkedServiceProxyReply(std::string_view key) const;
    size_t ParkedServiceProxyReplyCount() const;

    // ---- registry and handle
    // Registers the plug-in manager types and events into registry and makes
    // it this plug-in's registry (for every conversion here).
    void RegisterPluginManagerTypes(BindingRegistry& registry);
    const BindingRegistry* Registry() const noexcept { return registry_; }
    uint32_t PluginHandle() const noexcept { return pluginHandle_; }

protected:
    void SetPluginHandle(uint32_t handle) noexcept { pluginHandle_ = handle; }

private:
    // What a subscription delivers to: exactly one of the two is set.
    struct EventHandler {
        ResourceHandler resource;
        ServiceProxyHandler serviceProxy;
    };

    void EnterEventHandler(std::string_view eventName, std::shared_ptr<const EventHandler> handler,
                           HostEventCallback callback, uint32_t flag);
    std::shared_ptr<const EventHandler> FindEventHandler(std::string_view eventName) const;
    void ParkServiceProxyReply(std::string key, const ServiceProxyResponse& reply);
    static void LogFulfilled(const std::optional<std::string>& key);
    template <typename Record, typename Handler>
    static void DeliverHostEvent(const HostEventRecord* event, Handler EventHandler::*handlerOf);

    // Sends an event payload that writer has written into payload (complete
    // false: the failure it met instead) for the resource at uri.
    BindingResult SendResourcePayload(std::string_view uri, const HostValueWriter& writer,
                                      OwnedHostValueRecord& payload, bool complete);
    // The descriptor of Resource when its records are written member by
    // member (so that data can be written from a native record), else null.
    const BindingTypeDescriptor* DirectResourceDescriptor(HostValueWriter& writer) const;
    // Writes view as a Resource of descriptor (which writes directly);
    // complete as WriteStructMembers says. False when descriptor has no uri
    // or data member to take the view's: the payload is not usable then.
    template <typename T>
    static bool WriteResourceEvent(HostValueWriter& writer, HostValue& target, const BindingTypeDescriptor& descriptor,
                                   const ResourceEventView<T>& view, bool& complete);

    BindingRegistry* registry_ = nullptr;
    uint32_t pluginHandle_ = 0;

    mutable std::mutex subscriptionLock_;  // serialises subscription changes
    std::unordered_map<std::string, int32_t> subscriptionCounts_;

    mutable std::shared_mutex handlersLock_;
    std::unordered_map<std::string, std::shared_ptr<const EventHandler>> eventHandlers_;

    ServiceProxyParking serviceProxy_;
};

template <typename T>
bool PluginCore::WriteResourceEvent(HostValueWriter& writer, HostValue& target, const BindingTypeDescriptor& descriptor,
                                    const ResourceEventView<T>& view, bool& complete) {
    // The Resource record tells which field is which: a field whose member
    // lies where shape's uri or data lies is written from the view.
    Resource shape;
    shape.eventType = view.eventType;
    const auto* const base = reinterpret_cast<const unsigned char*>(&shape);
    bool uriWritten = false;
    bool dataWritten = false;
    complete = writer.WriteStructMembers(target, descriptor, [&](const BindingFieldDescriptor& field, HostValue& value) {
        const void* member = base + field.offset;
        if (member == &shape.uri && !uriWritten) {
            uriWritten = true;
            return writer.WriteString(value, view.uri);
        }
        if (member == &shape.data && !dataWritten) {
            dataWritten = true;
            return WriteHostValue(writer, value, view.data);
        }
        return writer.WriteField(value, member, field);
    });
    return uriWritten && dataWritten;
}

template <typename T>
BindingResult PluginCore::SendResourceEvent(Client::PluginResourceEventType eventType, std::string_view uri,
                                            const T& record) {
    Resource resource;
    resource.eventType = eventType;
    HostValueWriter writer(registry_);
    if (const BindingTypeDescriptor* descriptor = DirectResourceDescriptor(writer)) {
        // Written straight from the view: the uri and the native record are
        // never copied into the Resource's string and property.
        const ResourceEventView<T> view{eventType, uri, record};
        OwnedHostValueRecord payload;
        bool complete = false;
        if (WriteResourceEvent(writer, payload.Value(), *descriptor, view, complete)) {
            return SendResourcePayload(uri, writer, payload, complete);
        }
    }
    // A Resource type registered in some other shape: through properties.
    resource.uri.assign(uri);
    BindingResult value;
    FromNative(value, record, registry_);
    if (value.Failed()) return value;
    resource.data = std::move(value.Value());
    return SendResource(resource);
}

}  // namespace Korvo
