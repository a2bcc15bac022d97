#include "sdk/host/plugin_core.h"

#include "sdk/binding/host_value_conversion.h"
#include "sdk/diagnostics/format.h"
#include "sdk/diagnostics/log.h"
#include "sdk/allocation/allocation.h"
#include "sdk/host/event_names.h"

namespace Korvo {

namespace {

// Reads an event payload into T through its registered type; false drops
// the event.
template <typename T>
bool DecodeEventPayload(const HostEventRecord& event, const BindingRegistry* registry, T& out) {
    HostValueResult error{};
    BindingProperty property;
    if (!ToProperty(error, property, event.payload, kResultRootName, registry)) {
        FreeHostValue(&error.value);
        Memory::Free(error.message);
        return false;
    }
    BindingResult converted;
    ToNative(converted, out, property, kResultRootName, registry);
    return converted.Succeeded();
}

}  // namespace

// ------------------------------------------------------------ EventSubscriber

void EventSubscriber::SubscribeEvent(const std::string&) {}
void EventSubscriber::UnsubscribeEvent(const std::string&) {}
EventSubscriber::~EventSubscriber() = default;

void EventSubscriber::AddResourceListener(std::string uri, ResourceListener listener) {
    std::unique_lock<std::shared_mutex> guard(listenersLock_);
    exactListeners_[std::move(uri)] = std::move(listener);
}

void EventSubscriber::AddResourcePatternListener(std::string pattern, ResourceListener listener) {
    std::unique_lock<std::shared_mutex> guard(listenersLock_);
    patternListeners_.emplace_back(std::move(pattern), std::move(listener));
}

void EventSubscriber::DispatchResource(const Resource& resource) const {
    std::string uri = resource.uri;
    if (uri.empty() || uri.front() != '/') uri.insert(uri.begin(), '/');

    // Copies, so that listeners run without the lock and may add listeners.
    ResourceListener exact;
    std::vector<ResourceListener> matching;
    {
        std::shared_lock<std::shared_mutex> guard(listenersLock_);
        if (auto found = exactListeners_.find(uri); found != exactListeners_.end()) exact = found->second;
        for (const auto& [pattern, listener] : patternListeners_) {
            if (UriPatternMatches(pattern, uri)) matching.push_back(listener);
        }
    }
    if (exact) exact(resource);
    for (const ResourceListener& listener : matching) {
        if (listener) listener(resource);
    }
}

void EventSubscriber::ClearResourceListeners() {
    std::unique_lock<std::shared_mutex> guard(listenersLock_);
    exactListeners_.clear();
    patternListeners_.clear();
}

// ----------------------------------------------------------------- PluginCore

PluginCore::PluginCore() = default;
PluginCore::~PluginCore() = default;

void PluginCore::SubscribeEvent(const std::string& uri) {
    std::string name = EventNameForUri(uri);
    std::lock_guard<std::mutex> guard(subscriptionLock_);
    int32_t& count = subscriptionCounts_[name];
    if (++count != 1) return;
    auto handler = std::make_shared<EventHandler>();
    handler->resource = [this](const Resource& resource) { DispatchResource(resource); };
    EnterEventHandler(name, std::move(handler), &OnHostEvent, kResourceEventFlag);
}

void PluginCore::UnsubscribeEvent(const std::string& uri) {
    std::string name = EventNameForUri(uri);
    std::lock_guard<std::mutex> guard(subscriptionLock_);
    auto found = subscriptionCounts_.find(name);
    // Refused: a count below zero would make the next subscription of the
    // name skip the host.
    if (found == subscriptionCounts_.end() || found->second <= 0) return;
    if (--found->second != 0) return;
    HostUnsubscribe(name.c_str(), pluginHandle_);
    std::unique_lock<std::shared_mutex> handlers(handlersLock_);
    eventHandlers_.erase(name);
}

int32_t PluginCore::SubscriptionCount(std::string_view eventName) const {
    std::lock_guard<std::mutex> guard(subscriptionLock_);
    auto found = subscriptionCounts_.find(std::string(eventName));
    return found == subscriptionCounts_.end() ? 0 : found->second;
}

void PluginCore::Shutdown() {
    {
        std::lock_guard<std::mutex> guard(subscriptionLock_);
        std::vector<std::string> names;
        {
            std::shared_lock<std::shared_mutex> handlers(handlersLock_);
            names.reserve(eventHandlers_.size());
            for (const auto& entry : eventHandlers_) names.push_back(entry.first);
        }
        for (const std::string& name : names) HostUnsubscribe(name.c_str(), pluginHandle_);
        std::unique_lock<std::shared_mutex> handlers(handlersLock_);
        eventHandlers_.clear();
    }
    serviceProxy_.Clear();
    ClearResourceListeners();
}

// --------------------------------------------------------------------- events

void PluginCore::AddEventHandler(std::string_view eventName, ResourceHandler handler, uint32_t flag) {
    auto holder = std::make_shared<EventHandler>();
    holder->resource = std::move(handler);
    std::lock_guard<std::mutex> guard(subscriptionLock_);
    EnterEventHandler(eventName, std::move(holder), &OnHostEvent, flag);
}

void PluginCore::AddEventHandler(std::string_view eventName, ServiceProxyHandler handler, uint32_t flag) {
    auto holder = std::make_shared<EventHandler>();
    holder->serviceProxy = std::move(handler);
    std::lock_guard<std::mutex> guard(subscriptionLock_);
    EnterEventHandler(eventName, std::move(holder), &OnServiceProxyEvent, flag);
}

void PluginCore::EnterEventHandler(std::string_view eventName, std::shared_ptr<const EventHandler> handler,
                                   HostEventCallback callback, uint32_t flag) {
    std::string name(eventName);
    {
        std::unique_lock<std::shared_mutex> handlers(handlersLock_);
        eventHandlers_[name] = std::move(handler);
    }
    HostSubscribe(name.c_str(), pluginHandle_, callback, this, flag);
}

std::shared_ptr<const PluginCore::EventHandler> PluginCore::FindEventHandler(std::string_view eventName) const {
    std::shared_lock<std::shared_mutex> guard(handlersLock_);
    auto found = eventHandlers_.find(std::string(eventName));
    return found == eventHandlers_.end() ? nullptr : found->second;
}

BindingResult PluginCore::SendResource(const Resource& resource) {
    HostValueWriter writer(registry_);
    OwnedHostValueRecord payload;
    const bool complete = WriteHostValue(writer, payload.Value(), resource);
    return SendResourcePayload(resource.uri, writer, payload, complete);
}

const BindingTypeDescriptor* PluginCore::DirectResourceDescriptor(HostValueWriter& writer) const {
    if (registry_ == nullptr) return nullptr;
    const BindingTypeDescriptor* descriptor = registry_->FindType(StaticType::HashCode<Resource>());
    return descriptor != nullptr && writer.WritesDirectly(*descriptor) ? descriptor : nullptr;
}

BindingResult PluginCore::SendResourcePayload(std::string_view uri, const HostValueWriter& writer,
                                              OwnedHostValueRecord& payload, bool complete) {
    if (!complete && !writer.OutOfMemory()) return BindingResult::Failure(writer.Message());
    const std::string name = EventNameForUri(uri);
    if (!complete) return BindingResult::Failure(FormatToString("Out of memory while sending '%1'.", name));
    HostEventRecord event{};
    event.payload = payload.Value();
    event.name = name.c_str();
    event.typeWord = 0;
    HostSendEvent(&event);
    if (name != kGenericResourceEvent) {
        event.name = kGenericResourceEvent.data();
        HostSendEvent(&event);
    }
    return BindingResult();
}

// Both entries decode the payload into their handler's record and call it;
// only the record differs.
template <typename Record, typename Handler>
void PluginCore::DeliverHostEvent(const HostEventRecord* event, Handler EventHandler::*handlerOf) {
    try {
        if (event == nullptr || event->userData == nullptr || event->name == nullptr) return;
        auto* plugin = static_cast<PluginCore*>(event->userData);
        std::shared_ptr<const EventHandler> handler = plugin->FindEventHandler(event->name);
        if (handler == nullptr || !((*handler).*handlerOf)) return;
        Record record;
        if (!DecodeEventPayload(*event, plugin->registry_, record)) return;
        ((*handler).*handlerOf)(record);
    } catch (...) {
        // Failures of incoming events are dropped.
    }
}

void KORVO_CDECL PluginCore::OnHostEvent(const HostEventRecord* event) {
    DeliverHostEvent<Resource>(event, &EventHandler::resource);
}

void KORVO_CDECL PluginCore::OnServiceProxyEvent(const HostEventRecord* event) {
    DeliverHostEvent<ServiceProxyResponse>(event, &EventHandler::serviceProxy);
}

// -------------------------------------------------------------- service proxy

void PluginCore::SubscribeServiceProxyEvents() {
    AddEventHandler(kServiceProxyUuidEvent,
                    ServiceProxyHandler([this](const ServiceProxyResponse& reply) { OnServiceProxyUuidReply(reply); }),
                    kServiceProxyEventFlag);
    AddEventHandler(
        kServiceProxyMethodEvent,
        ServiceProxyHandler([this](const ServiceProxyResponse& reply) { OnServiceProxyMethodReply(reply); }),
        kServiceProxyEventFlag);
    AddEventHandler(
        kServiceProxyAsyncEvent,
        ServiceProxyHandler([this](const ServiceProxyResponse& reply) { OnServiceProxyAsyncReply(reply); }),
        kServiceProxyEventFlag);
}

std::string PluginCore::ServiceProxyMethodKey(std::string_view serviceName, std::string_view methodName) {
    return FormatToString("%1.%2", serviceName, methodName);
}

void PluginCore::ParkServiceProxyReply(std::string key, const ServiceProxyResponse& reply) {
    LogFulfilled(serviceProxy_.Park(std::move(key), reply));
}

void PluginCore::LogFulfilled(const std::optional<std::string>& key) {
    if (key) LogMessage(Always, kLogGroupDebug, "Fulfilled service proxy request: %s", key->c_str());
}

void PluginCore::OnServiceProxyUuidReply(const ServiceProxyResponse& reply) { ParkServiceProxyReply(reply.uuid, reply); }

void PluginCore::OnServiceProxyMethodReply(const ServiceProxyResponse& reply) {
    ParkServiceProxyReply(ServiceProxyMethodKey(reply.serviceName, reply.methodName), reply);
}

void PluginCore::OnServiceProxyAsyncReply(const ServiceProxyResponse& reply) {
    const std::string key = ServiceProxyMethodKey(reply.serviceName, reply.methodName);
    if (!serviceProxy_.DeliverAsync(key, reply)) {
        LogMessage(Error, kLogGroupDebug, "Could not find registered handler for async service proxy event %s",
                   key.c_str());
    }
}

void PluginCore::AddPendingServiceProxyRequest(std::string key, ServiceProxyHandler completion) {
    LogFulfilled(serviceProxy_.AddPending(std::move(key), std::move(completion)));
}

void PluginCore::AddServiceProxyAsyncHandler(std::string key, ServiceProxyHandler handler) {
    serviceProxy_.AddAsyncHandler(std::move(key), std::move(handler));
}

std::optional<ServiceProxyResponse> PluginCore::ParkedServiceProxyReply(std::string_view key) const {
    return serviceProxy_.Parked(key);
}

size_t PluginCore::ParkedServiceProxyReplyCount() const { return serviceProxy_.ParkedCount(); }

// ------------------------------------------------------------------- registry

void PluginCore::RegisterPluginManagerTypes(BindingRegistry& registry) {
    RegisterPluginManagerTypeSet(registry);
    registry_ = &registry;
}

}  // namespace Korvo
