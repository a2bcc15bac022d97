// sdk/host/service_proxy_parking.h - where service-proxy replies wait for the
// requests that expect them.
//
// \file
// A reply may reach the plug-in before or after the request that expects it
// is entered: either way the two meet here, under the reply's key (its uuid,
// or "<service>.<method>"). A reply nobody expects yet stays parked; a
// request whose reply has not come stays pending. Async replies go to the
// handler entered for their key instead, every time.
//
// Threads: every member may be called from any thread. The lock guards the
// three tables only; completions and handlers run after it is released, so
// they may enter further requests.
#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "sdk/host/plugin_manager_types.h"

namespace Korvo {

class ServiceProxyParking {
public:
    using Reply = Client::AppModule::PluginServiceProxyResponse;
    using Handler = std::function<void(const Reply&)>;

    // Parks reply under key (replacing one parked there), then completes at
    // most one pending request. Returns the key of the request it completed,
    // if any.
    std::optional<std::string> Park(std::string key, const Reply& reply);
    // Enters the completion of a request whose reply comes under key, then
    // completes it at once if that reply is parked already.
    std::optional<std::string> AddPending(std::string key, Handler completion);
    // Enters the handler of async replies under key.
    void AddAsyncHandler(std::string key, Handler handler);
    // Hands reply to the async handler of key; false when there is none.
    bool DeliverAsync(const std::string& key, const Reply& reply);

    // A copy of the reply parked under key, if any; and how many are parked.
    std::optional<Reply> Parked(std::string_view key) const;
    size_t ParkedCount() const;
    // Forgets every reply, request and handler.
    void Clear();

private:
    std::optional<std::string> FulfilOne();

    mutable std::mutex lock_;
    std::unordered_map<std::string, Reply> replies_;
    std::unordered_map<std::string, Handler> pending_;
    std::unordered_map<std::string, Handler> asyncHandlers_;
};

}  // namespace Korvo
