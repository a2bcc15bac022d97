#include "host/devhost/event_hub.h"

#include <algorithm>

namespace Korvo::Host::Dev {

std::string EventStreamFrame(std::string_view name, std::string_view data) {
    std::string frame;
    frame.reserve(name.size() + data.size() + 16);
    frame += "event: ";
    for (char c : name) frame += (c == '\n' || c == '\r') ? ' ' : c;
    frame += "\ndata: ";
    for (size_t i = 0; i < data.size(); ++i) {
        char c = data[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < data.size() && data[i + 1] == '\n') ++i;
            frame += "\ndata: ";
        } else {
            frame += c;
        }
    }
    frame += "\n\n";
    return frame;
}

// --------------------------------------------------------- EventSubscriber

EventSubscriber::Wait EventSubscriber::Next(std::string& frame, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait_for(lock, timeout, [this] { return !queue_.empty() || closed_; });
    if (!queue_.empty()) {
        frame = *queue_.front();
        queuedBytes_ -= queue_.front()->size();
        queue_.pop_front();
        return Wait::Frame;
    }
    return closed_ ? Wait::Closed : Wait::Timeout;
}

bool EventSubscriber::Overflowed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return overflowed_;
}

EventSubscriber::Offered EventSubscriber::Offer(const std::shared_ptr<const std::string>& frame) {
    Offered outcome = Offered::Queued;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_) return Offered::Refused;
        if (queue_.size() >= maxEvents_ || queuedBytes_ + frame->size() > maxBytes_) {
            // Cut off: what is queued is dropped too, so the stream ends at
            // once instead of after a backlog the client cannot keep up with.
            queue_.clear();
            queuedBytes_ = 0;
            closed_ = true;
            overflowed_ = true;
            outcome = Offered::CutOff;
        } else {
            queue_.push_back(frame);
            queuedBytes_ += frame->size();
        }
    }
    ready_.notify_all();
    return outcome;
}

void EventSubscriber::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    ready_.notify_all();
}

// ---------------------------------------------------------------- EventHub

std::shared_ptr<EventSubscriber> EventHub::Subscribe(std::string filter) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_ || subscribers_.size() >= limits_.subscribers) return nullptr;
    auto subscriber = std::make_shared<EventSubscriber>(std::move(filter), limits_.queueEvents, limits_.queueBytes);
    subscribers_.push_back(subscriber);
    return subscriber;
}

void EventHub::Unsubscribe(const std::shared_ptr<EventSubscriber>& subscriber) {
    if (!subscriber) return;
    subscriber->Close();
    std::lock_guard<std::mutex> lock(mutex_);
    subscribers_.erase(std::remove(subscribers_.begin(), subscribers_.end(), subscriber), subscribers_.end());
}

void EventHub::Publish(std::string_view name, std::string_view data) {
    auto frame = std::make_shared<const std::string>(EventStreamFrame(name, data));
    std::lock_guard<std::mutex> lock(mutex_);
    ++counters_.published;
    bool cutOff = false;
    for (const auto& subscriber : subscribers_) {
        if (!subscriber->filter_.empty() && subscriber->filter_ != name) continue;
        switch (subscriber->Offer(frame)) {
            case EventSubscriber::Offered::Queued: ++counters_.delivered; break;
            case EventSubscriber::Offered::CutOff:
                ++counters_.cutOff;
                cutOff = true;
                break;
            case EventSubscriber::Offered::Refused: break;
        }
    }
    if (cutOff) {
        // A cut-off subscriber is closed; its stream writer still holds it
        // until it has ended the stream.
        subscribers_.erase(std::remove_if(subscribers_.begin(), subscribers_.end(),
                                          [](const auto& subscriber) { return subscriber->Overflowed(); }),
                           subscribers_.end());
    }
}

void EventHub::Publish(std::string_view name, const std::function<std::string()>& render) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        bool wanted = false;
        for (const auto& subscriber : subscribers_) {
            if (subscriber->filter_.empty() || subscriber->filter_ == name) {
                wanted = true;
                break;
            }
        }
        if (!wanted) {
            ++counters_.published;
            return;
        }
    }
    // A subscriber that comes in meanwhile gets the event; one that leaves
    // refuses it.
    Publish(name, render());
}

void EventHub::CloseAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    for (const auto& subscriber : subscribers_) subscriber->Close();
    subscribers_.clear();
}

EventHub::Counters EventHub::Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    Counters counters = counters_;
    counters.subscribers = subscribers_.size();
    return counters;
}

}  // namespace Korvo::Host::Dev
