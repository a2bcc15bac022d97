// host/devhost/event_hub.h - fans the plug-in's events out to event-stream
// subscribers without ever waiting for one of them.
//
// Publish runs on the plug-in's thread, inside its SendEvent: it formats the
// event once and appends it to each matching subscriber's queue under that
// subscriber's lock, and never writes to a socket. Each subscriber's stream
// writer drains its own queue on its own thread.
//
// A subscriber that falls behind - more than Limits::queueEvents events or
// Limits::queueBytes bytes waiting - is cut off: its queue is emptied and its
// stream ends (Next reports Closed, Overflowed is true), so a client that
// reconnects knows it missed events rather than silently seeing a gap.
//
// Locks: the hub's lock, then a subscriber's; nothing is called under either
// that could take them again. Every member may be called from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace Korvo::Host::Dev {

// One Server-Sent Events frame: "event: <name>\ndata: <data>\n\n". Line
// breaks in the name become blanks; data is one line (rendered JSON) and
// any line break in it starts a further "data:" line.
std::string EventStreamFrame(std::string_view name, std::string_view data);

class EventSubscriber {
public:
    enum class Wait { Frame, Timeout, Closed };

    // Takes the next frame, waiting up to timeout. Closed once the hub
    // closed this subscriber (after the frames still queued were taken,
    // unless it was cut off for falling behind).
    Wait Next(std::string& frame, std::chrono::milliseconds timeout);
    bool Overflowed() const;
    const std::string& Filter() const noexcept { return filter_; }

    EventSubscriber(std::string filter, size_t maxEvents, size_t maxBytes)
        : filter_(std::move(filter)), maxEvents_(maxEvents), maxBytes_(maxBytes) {}

private:
    friend class EventHub;
    enum class Offered { Queued, Refused, CutOff };
    // Appends unless closed; cuts the subscriber off when the queue would
    // grow past its limits.
    Offered Offer(const std::shared_ptr<const std::string>& frame);
    void Close();

    const std::string filter_;  // empty: every event
    const size_t maxEvents_;
    const size_t maxBytes_;
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::shared_ptr<const std::string>> queue_;
    size_t queuedBytes_ = 0;
    bool closed_ = false;
    bool overflowed_ = false;
};

class EventHub {
public:
    struct Limits {
        size_t queueEvents = 1024;
        size_t queueBytes = size_t{8} << 20;
        size_t subscribers = 32;
    };
    struct Counters {
        uint64_t published = 0;    // events the plug-in sent
        uint64_t delivered = 0;    // frames queued for a subscriber
        uint64_t cutOff = 0;       // subscribers cut off for falling behind
        size_t subscribers = 0;    // current
    };

    EventHub() : EventHub(Limits{}) {}
    explicit EventHub(Limits limits) : limits_(limits) {}

    // A new subscriber for events named filter (empty: all); null when the
    // hub is closed or already has Limits::subscribers subscribers.
    std::shared_ptr<EventSubscriber> Subscribe(std::string filter);
    void Unsubscribe(const std::shared_ptr<EventSubscriber>& subscriber);
    // Queues the event for every matching subscriber; never blocks on one.
    void Publish(std::string_view name, std::string_view data);
    // The same, with the data made by render - called outside the hub's
    // lock, and only when some subscriber takes events of this name: with
    // nobody listening an event costs its count and nothing else.
    void Publish(std::string_view name, const std::function<std::string()>& render);
    // Closes every subscriber (their streams end) and refuses new ones.
    void CloseAll();
    Counters Snapshot() const;

private:
    const Limits limits_;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<EventSubscriber>> subscribers_;
    bool closed_ = false;
    Counters counters_;
};

}  // namespace Korvo::Host::Dev
