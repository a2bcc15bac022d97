// host/devhost/event_hub.h - fans the plug-in's events out to event-stream
// subscribers without ever waiting for one of them.
//
// Publish runs on the plug-in's thread, inside its SendEvent: it formats the
// event once and appends it to each matching subscriber's queue under that
// subscriber's lock, and never writes to a socket. Each subscriber's stream
// writer drains its own queue on its own thread.
//
// Every event gets an id, "<run>.<sequence>": the run is drawn when the hub
// is made, so an id from an earlier run of the host is recognised as one.
// The hub keeps the latest events (Limits::historyEvents, historyBytes); a
// subscriber that comes back with the id of the last event it saw (a
// browser's EventSource sends it as Last-Event-ID) first gets every event
// it missed, then the live ones, with no gap and no repeat between the two.
//
// A subscriber that is told nothing would not know what it missed. So a
// subscriber that falls behind - more than Limits::queueEvents events or
// Limits::queueBytes bytes waiting - is cut off: its queue is emptied, it
// gets one "resync" event (data {"reason":"behind"}) and its stream ends. A
// subscriber whose last id cannot be served - older than the history
// ("expired"), from another run or not an id at all ("unknown") - starts with
// a "resync" event too. Either way the client re-reads the state it shows;
// the resync event carries the id of the latest event, so a reconnect after
// it resumes from there.
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
// The same with an "id: <id>" line first.
std::string EventStreamFrame(std::string_view id, std::string_view name, std::string_view data);

// The name of the event that tells a client to re-read the state.
inline constexpr std::string_view kResyncEvent = "resync";

class StreamSubscriber {
public:
    enum class Wait { Frame, Timeout, Closed };

    // Takes the next frame, waiting up to timeout. Closed once the hub
    // closed this subscriber (after the frames still queued were taken,
    // unless it was cut off for falling behind).
    Wait Next(std::string& frame, std::chrono::milliseconds timeout);
    bool Overflowed() const;

    StreamSubscriber(std::string filter, size_t maxEvents, size_t maxBytes)
        : filter_(std::move(filter)), maxEvents_(maxEvents), maxBytes_(maxBytes) {}

private:
    friend class EventHub;
    enum class Offered { Queued, Refused, CutOff };
    // Appends unless closed; cuts the subscriber off when the queue would
    // grow past its limits.
    Offered Offer(const std::shared_ptr<const std::string>& frame);
    void Close();
    // Closes with frame as the last one it hands out, whatever its limits.
    void CloseWith(std::shared_ptr<const std::string> frame);

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
        // The latest events kept for subscribers that come back; with none
        // kept, an event nobody listens to is not even rendered.
        size_t historyEvents = 1024;
        size_t historyBytes = size_t{8} << 20;
        // The run part of every id; empty: drawn at random.
        std::string run;
    };
    struct Counters {
        uint64_t published = 0;    // events the plug-in sent
        uint64_t delivered = 0;    // frames queued for a subscriber
        uint64_t cutOff = 0;       // subscribers cut off for falling behind
        uint64_t resumed = 0;      // subscribers that came back within the history
        uint64_t resynced = 0;     // subscribers told to re-read the state
        size_t subscribers = 0;    // current
    };

    EventHub() : EventHub(Limits{}) {}
    explicit EventHub(Limits limits);

    // A new subscriber for events named filter (empty: all); null when the
    // hub is closed or already has Limits::subscribers subscribers. With a
    // lastEventId (present, even empty), it resumes after that event or
    // starts with a resync event (see above).
    std::shared_ptr<StreamSubscriber> Subscribe(std::string filter);
    std::shared_ptr<StreamSubscriber> Subscribe(std::string filter, std::string_view lastEventId);
    // The id of the latest event ("<run>.0" before the first).
    std::string LatestId() const;
    void Unsubscribe(const std::shared_ptr<StreamSubscriber>& subscriber);
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
    struct Kept {
        uint64_t sequence;
        std::string name;
        std::shared_ptr<const std::string> frame;
    };
    std::shared_ptr<StreamSubscriber> Add(std::string filter);
    std::string IdOf(uint64_t sequence) const;
    std::shared_ptr<const std::string> ResyncFrame(std::string_view reason) const;
    void PublishLocked(std::string_view name, std::string_view data);

    const Limits limits_;
    const std::string run_;
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<StreamSubscriber>> subscribers_;
    bool closed_ = false;
    Counters counters_;
    uint64_t sequence_ = 0;  // of the latest event
    std::deque<Kept> history_;
    size_t historyBytes_ = 0;
};

}  // namespace Korvo::Host::Dev
