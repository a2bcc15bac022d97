#include "host/devhost/event_hub.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <random>

namespace Korvo::Host::Dev {

namespace {

std::string DrawRun() {
    std::random_device source;
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(source()));
    return text;
}

}  // namespace

std::string EventStreamFrame(std::string_view name, std::string_view data) {
    return EventStreamFrame({}, name, data);
}

std::string EventStreamFrame(std::string_view id, std::string_view name, std::string_view data) {
    std::string frame;
    frame.reserve(id.size() + name.size() + data.size() + 24);
    if (!id.empty()) {
        frame += "id: ";
        for (char c : id) frame += (c == '\n' || c == '\r') ? ' ' : c;
        frame += '\n';
    }
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

// --------------------------------------------------------- StreamSubscriber

StreamSubscriber::Wait StreamSubscriber::Next(std::string& frame, std::chrono::milliseconds timeout) {
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

bool StreamSubscriber::Overflowed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return overflowed_;
}

StreamSubscriber::Offered StreamSubscriber::Offer(const std::shared_ptr<const std::string>& frame) {
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

void StreamSubscriber::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    ready_.notify_all();
}

void StreamSubscriber::CloseWith(std::shared_ptr<const std::string> frame) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queuedBytes_ += frame->size();
        queue_.push_back(std::move(frame));
        closed_ = true;
    }
    ready_.notify_all();
}

// ---------------------------------------------------------------- EventHub

EventHub::EventHub(Limits limits) : limits_(std::move(limits)), run_(limits_.run.empty() ? DrawRun() : limits_.run) {}

std::string EventHub::IdOf(uint64_t sequence) const { return run_ + "." + std::to_string(sequence); }

std::string EventHub::LatestId() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return IdOf(sequence_);
}

std::shared_ptr<const std::string> EventHub::ResyncFrame(std::string_view reason) const {
    std::string data = "{\"reason\":\"";
    data += reason;
    data += "\"}";
    return std::make_shared<const std::string>(EventStreamFrame(IdOf(sequence_), kResyncEvent, data));
}

std::shared_ptr<StreamSubscriber> EventHub::Add(std::string filter) {
    if (closed_ || subscribers_.size() >= limits_.subscribers) return nullptr;
    auto subscriber = std::make_shared<StreamSubscriber>(std::move(filter), limits_.queueEvents, limits_.queueBytes);
    subscribers_.push_back(subscriber);
    return subscriber;
}

std::shared_ptr<StreamSubscriber> EventHub::Subscribe(std::string filter) {
    std::lock_guard<std::mutex> lock(mutex_);
    return Add(std::move(filter));
}

std::shared_ptr<StreamSubscriber> EventHub::Subscribe(std::string filter, std::string_view lastEventId) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto subscriber = Add(std::move(filter));
    if (!subscriber) return nullptr;

    // "<run>.<sequence>" of this run, no later than the latest event.
    std::string_view reason = "unknown";
    uint64_t last = 0;
    size_t dot = lastEventId.rfind('.');
    if (dot != std::string_view::npos && lastEventId.substr(0, dot) == run_) {
        const char* first = lastEventId.data() + dot + 1;
        const char* end = lastEventId.data() + lastEventId.size();
        auto [stop, error] = std::from_chars(first, end, last);
        if (error == std::errc() && stop == end && first != end && last <= sequence_) {
            // Every event after it must still be kept.
            uint64_t oldestKept = history_.empty() ? sequence_ + 1 : history_.front().sequence;
            reason = last + 1 >= oldestKept ? std::string_view() : std::string_view("expired");
        }
    }
    if (!reason.empty()) {
        ++counters_.resynced;
        if (subscriber->Offer(ResyncFrame(reason)) == StreamSubscriber::Offered::Queued) ++counters_.delivered;
        return subscriber;
    }
    ++counters_.resumed;
    for (const Kept& kept : history_) {
        if (kept.sequence <= last) continue;
        if (!subscriber->filter_.empty() && subscriber->filter_ != kept.name) continue;
        if (subscriber->Offer(kept.frame) == StreamSubscriber::Offered::CutOff) {
            // More missed than it may queue: it re-reads instead.
            ++counters_.cutOff;
            ++counters_.resynced;
            subscriber->CloseWith(ResyncFrame("behind"));
            break;
        }
        ++counters_.delivered;
    }
    return subscriber;
}

void EventHub::Unsubscribe(const std::shared_ptr<StreamSubscriber>& subscriber) {
    if (!subscriber) return;
    subscriber->Close();
    std::lock_guard<std::mutex> lock(mutex_);
    subscribers_.erase(std::remove(subscribers_.begin(), subscribers_.end(), subscriber), subscribers_.end());
}

void EventHub::Publish(std::string_view name, std::string_view data) {
    std::lock_guard<std::mutex> lock(mutex_);
    PublishLocked(name, data);
}

void EventHub::PublishLocked(std::string_view name, std::string_view data) {
    ++counters_.published;
    ++sequence_;
    auto frame = std::make_shared<const std::string>(EventStreamFrame(IdOf(sequence_), name, data));
    if (limits_.historyEvents > 0 && frame->size() <= limits_.historyBytes) {
        history_.push_back(Kept{sequence_, std::string(name), frame});
        historyBytes_ += frame->size();
        while (history_.size() > limits_.historyEvents || historyBytes_ > limits_.historyBytes) {
            historyBytes_ -= history_.front().frame->size();
            history_.pop_front();
        }
    } else {
        // Too large to keep: nothing before it can be resumed from either.
        history_.clear();
        historyBytes_ = 0;
    }
    bool cutOff = false;
    for (const auto& subscriber : subscribers_) {
        if (!subscriber->filter_.empty() && subscriber->filter_ != name) continue;
        switch (subscriber->Offer(frame)) {
            case StreamSubscriber::Offered::Queued: ++counters_.delivered; break;
            case StreamSubscriber::Offered::CutOff:
                ++counters_.cutOff;
                ++counters_.resynced;
                subscriber->CloseWith(ResyncFrame("behind"));
                cutOff = true;
                break;
            case StreamSubscriber::Offered::Refused: break;
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
    if (limits_.historyEvents == 0) {
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
            ++sequence_;
            return;
        }
    }
    // Rendered outside the lock. A subscriber that comes in meanwhile gets
    // the event; one that leaves refuses it.
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
