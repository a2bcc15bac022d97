#include "sdk/host/service_proxy_parking.h"

#include <utility>

namespace Korvo {

std::optional<std::string> ServiceProxyParking::Park(std::string key, const Reply& reply) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        replies_[std::move(key)] = reply;
    }
    return FulfilOne();
}

std::optional<std::string> ServiceProxyParking::AddPending(std::string key, Handler completion) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        pending_[std::move(key)] = std::move(completion);
    }
    return FulfilOne();
}

void ServiceProxyParking::AddAsyncHandler(std::string key, Handler handler) {
    std::lock_guard<std::mutex> guard(lock_);
    asyncHandlers_[std::move(key)] = std::move(handler);
}

bool ServiceProxyParking::DeliverAsync(const std::string& key, const Reply& reply) {
    Handler handler;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto found = asyncHandlers_.find(key);
        if (found == asyncHandlers_.end() || !found->second) return false;
        handler = found->second;
    }
    handler(reply);
    return true;
}

std::optional<std::string> ServiceProxyParking::FulfilOne() {
    Handler completion;
    Reply reply;
    std::string key;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto parked = replies_.begin();
        auto pending = pending_.end();
        for (; parked != replies_.end(); ++parked) {
            pending = pending_.find(parked->first);
            if (pending != pending_.end()) break;
        }
        if (parked == replies_.end()) return std::nullopt;
        // Both entries go before the completion runs, so a completion that
        // throws leaves no half state behind.
        completion = std::move(pending->second);
        reply = std::move(parked->second);
        key = parked->first;
        pending_.erase(pending);
        replies_.erase(parked);
    }
    if (completion) completion(reply);
    return key;
}

std::optional<ServiceProxyParking::Reply> ServiceProxyParking::Parked(std::string_view key) const {
    std::lock_guard<std::mutex> guard(lock_);
    auto found = replies_.find(std::string(key));
    if (found == replies_.end()) return std::nullopt;
    return found->second;
}

size_t ServiceProxyParking::ParkedCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return replies_.size();
}

void ServiceProxyParking::Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    replies_.clear();
    pending_.clear();
    asyncHandlers_.clear();
}

}  // namespace Korvo
