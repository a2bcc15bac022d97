// The event-stream fan-out: frames, filters, and that a subscriber that does
// not keep up - or has gone - never makes the plug-in's SendEvent wait.
#include "host/devhost/event_hub.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Korvo::Host::Dev {
namespace {

using namespace std::chrono_literals;
using Wait = StreamSubscriber::Wait;

// Limits with a known run, so that ids can be written out.
EventHub::Limits Sized(size_t events, size_t bytes, size_t subscribers, size_t history = 1024) {
    EventHub::Limits limits;
    limits.queueEvents = events;
    limits.queueBytes = bytes;
    limits.subscribers = subscribers;
    limits.historyEvents = history;
    limits.run = "r";
    return limits;
}
EventHub::Limits Named() { return Sized(1024, 1 << 20, 8); }

TEST(EventStreamFrameTest, NameAndOneDataLine) {
    EXPECT_EQ(EventStreamFrame("OnJsonApiEvent", "{\"a\":1}"), "event: OnJsonApiEvent\ndata: {\"a\":1}\n\n");
    EXPECT_EQ(EventStreamFrame("", "null"), "event: \ndata: null\n\n");
}

TEST(EventStreamFrameTest, LineBreaksCannotForgeFrames) {
    EXPECT_EQ(EventStreamFrame("a\nb\rc", "x"), "event: a b c\ndata: x\n\n");
    EXPECT_EQ(EventStreamFrame("1\nevent: x", "e", "d"), "id: 1 event: x\nevent: e\ndata: d\n\n");
    EXPECT_EQ(EventStreamFrame("e", "1\n\nevent: forged\r\n2"),
              "event: e\ndata: 1\ndata: \ndata: event: forged\ndata: 2\n\n");
}

TEST(EventHubTest, WithoutHistoryDataIsRenderedOnlyForSomeoneListening) {
    EventHub hub(Sized(1024, 1 << 20, 8, 0));
    int renders = 0;
    auto render = [&renders] {
        ++renders;
        return std::string("1");
    };
    hub.Publish("e", render);
    auto other = hub.Subscribe("other");
    hub.Publish("e", render);
    EXPECT_EQ(renders, 0);
    EXPECT_EQ(hub.Snapshot().published, 2u);
    EXPECT_EQ(hub.Snapshot().delivered, 0u);

    auto named = hub.Subscribe("e");
    hub.Publish("e", render);
    EXPECT_EQ(renders, 1);
    std::string frame;
    ASSERT_EQ(named->Next(frame, 0ms), Wait::Frame);
    EXPECT_EQ(frame, "id: r.3\nevent: e\ndata: 1\n\n");
    EXPECT_EQ(other->Next(frame, 0ms), Wait::Timeout);
    EXPECT_EQ(hub.Snapshot().published, 3u);
    EXPECT_EQ(hub.Snapshot().delivered, 1u);
}

TEST(EventHubTest, EverySubscriberGetsWhatItsFilterLetsThrough) {
    EventHub hub(Named());
    auto all = hub.Subscribe("");
    auto named = hub.Subscribe("OnJsonApiEvent");
    hub.Publish("OnJsonApiEvent_x", "1");
    hub.Publish("OnJsonApiEvent", "2");

    std::string frame;
    ASSERT_EQ(all->Next(frame, 0ms), Wait::Frame);
    EXPECT_EQ(frame, "id: r.1\nevent: OnJsonApiEvent_x\ndata: 1\n\n");
    ASSERT_EQ(all->Next(frame, 0ms), Wait::Frame);
    EXPECT_EQ(frame, "id: r.2\nevent: OnJsonApiEvent\ndata: 2\n\n");
    EXPECT_EQ(all->Next(frame, 0ms), Wait::Timeout);
    ASSERT_EQ(named->Next(frame, 0ms), Wait::Frame);
    EXPECT_EQ(frame, "id: r.2\nevent: OnJsonApiEvent\ndata: 2\n\n");
    EXPECT_EQ(named->Next(frame, 0ms), Wait::Timeout);

    EventHub::Counters counters = hub.Snapshot();
    EXPECT_EQ(counters.published, 2u);
    EXPECT_EQ(counters.delivered, 3u);
    EXPECT_EQ(counters.subscribers, 2u);
}

TEST(EventHubTest, ASubscriberThatFallsBehindIsCutOffAndOthersCarryOn) {
    EventHub hub(Sized(4, 1 << 20, 8));
    auto slow = hub.Subscribe("");
    auto fast = hub.Subscribe("");
    std::string frame;
    for (int i = 0; i < 10; ++i) {
        hub.Publish("e", std::to_string(i));
        ASSERT_EQ(fast->Next(frame, 0ms), Wait::Frame);
        EXPECT_EQ(frame, "id: r." + std::to_string(i + 1) + "\nevent: e\ndata: " + std::to_string(i) + "\n\n");
    }
    // Nothing queued survives the cut but the news of it, named by the
    // event it could not take: the stream ends at once.
    ASSERT_EQ(slow->Next(frame, 0ms), Wait::Frame);
    EXPECT_EQ(frame, "id: r.5\nevent: resync\ndata: {\"reason\":\"behind\"}\n\n");
    EXPECT_EQ(slow->Next(frame, 0ms), Wait::Closed);
    EXPECT_TRUE(slow->Overflowed());
    EXPECT_FALSE(fast->Overflowed());
    EventHub::Counters counters = hub.Snapshot();
    EXPECT_EQ(counters.cutOff, 1u);
    EXPECT_EQ(counters.subscribers, 1u);
}

TEST(EventHubTest, TheByteLimitCutsOffToo) {
    EventHub hub(Sized(1000, 100, 8));
    auto subscriber = hub.Subscribe("");
    hub.Publish("e", std::string(60, 'x'));
    hub.Publish("e", std::string(60, 'x'));
    std::string frame;
    ASSERT_EQ(subscriber->Next(frame, 0ms), Wait::Frame);
    EXPECT_NE(frame.find("event: resync\n"), std::string::npos);
    EXPECT_EQ(subscriber->Next(frame, 0ms), Wait::Closed);
    EXPECT_TRUE(subscriber->Overflowed());
}

TEST(EventHubTest, SubscriberLimitAndClosingEveryone) {
    EventHub hub(Sized(4, 1 << 20, 2));
    auto first = hub.Subscribe("");
    auto second = hub.Subscribe("");
    EXPECT_EQ(hub.Subscribe(""), nullptr);
    hub.Unsubscribe(second);
    auto third = hub.Subscribe("");
    ASSERT_NE(third, nullptr);

    hub.Publish("e", "queued");
    hub.CloseAll();
    std::string frame;
    // What was queued before the close is still handed out, then Closed.
    EXPECT_EQ(first->Next(frame, 0ms), Wait::Frame);
    EXPECT_EQ(first->Next(frame, 0ms), Wait::Closed);
    EXPECT_FALSE(first->Overflowed());
    EXPECT_EQ(hub.Subscribe(""), nullptr);
    EXPECT_EQ(hub.Snapshot().subscribers, 0u);
}

TEST(EventHubTest, CloseWakesAWaitingReader) {
    EventHub hub;
    auto subscriber = hub.Subscribe("");
    std::thread reader([&] {
        std::string frame;
        EXPECT_EQ(subscriber->Next(frame, 60s), Wait::Closed);
    });
    std::this_thread::sleep_for(20ms);
    hub.CloseAll();
    reader.join();
}

TEST(EventHubTest, PublishersNeverWaitForReadersThatStopReading) {
    // Four plug-in threads publish while one reader drains, one reader never
    // reads and one subscriber goes away halfway. Every publish returns; the
    // draining reader sees each event once, in each publisher's order.
    //
    // The publishers go in rounds: none starts round r + 1 before the
    // draining reader has taken every event of rounds 0..r, so at most one
    // round (kPublishers * kRound events) waits in its queue however the
    // threads are scheduled - below the limit, while the reader that never
    // reads gets all of them, above it. Publish itself never waits.
    constexpr int kPublishers = 4;
    constexpr int kEach = 3000;
    constexpr int kRound = 500;
    constexpr size_t kQueueLimit = 8192;
    static_assert(kPublishers * kRound < static_cast<int>(kQueueLimit));
    static_assert(kPublishers * kEach > static_cast<int>(kQueueLimit));
    static_assert(kEach % kRound == 0);
    EventHub hub(Sized(kQueueLimit, 1 << 24, 8, 0));
    auto draining = hub.Subscribe("");
    auto stuck = hub.Subscribe("");
    auto leaving = hub.Subscribe("");
    std::vector<std::vector<int>> seen(kPublishers);

    std::mutex progressLock;
    std::condition_variable progressed;
    int taken = 0;
    bool readerEnded = false;

    std::thread reader([&] {
        std::string frame;
        int count = 0;
        while (count < kPublishers * kEach) {
            Wait wait = draining->Next(frame, 60s);
            if (wait == Wait::Closed) break;
            if (wait == Wait::Timeout) continue;
            size_t data = frame.find("data: ");
            int publisher = frame[frame.find("event: ") + 7] - '0';
            seen[publisher].push_back(std::stoi(frame.substr(data + 6)));
            std::lock_guard<std::mutex> lock(progressLock);
            taken = ++count;
            progressed.notify_all();
        }
        std::lock_guard<std::mutex> lock(progressLock);
        readerEnded = true;
        progressed.notify_all();
    });
    std::vector<std::thread> publishers;
    for (int p = 0; p < kPublishers; ++p) {
        publishers.emplace_back([&, p] {
            for (int i = 0; i < kEach; ++i) {
                hub.Publish(std::to_string(p), std::to_string(i));
                if (p == 0 && i == kEach / 2) hub.Unsubscribe(leaving);
                if ((i + 1) % kRound == 0) {
                    const int roundsDone = (i + 1) / kRound;
                    std::unique_lock<std::mutex> lock(progressLock);
                    progressed.wait(lock, [&] { return readerEnded || taken >= roundsDone * kRound * kPublishers; });
                }
            }
        });
    }
    for (std::thread& publisher : publishers) publisher.join();
    reader.join();

    EXPECT_TRUE(stuck->Overflowed());
    std::string frame;
    ASSERT_EQ(stuck->Next(frame, 0ms), Wait::Frame);
    EXPECT_NE(frame.find("event: resync\n"), std::string::npos);
    EXPECT_EQ(stuck->Next(frame, 0ms), Wait::Closed);
    ASSERT_FALSE(draining->Overflowed());
    for (int p = 0; p < kPublishers; ++p) {
        ASSERT_EQ(seen[p].size(), static_cast<size_t>(kEach)) << p;
        for (int i = 0; i < kEach; ++i) ASSERT_EQ(seen[p][i], i);
    }
}

// Everything a subscriber takes without waiting, frames joined.
std::string Drain(StreamSubscriber& subscriber) {
    std::string all, frame;
    while (subscriber.Next(frame, 0ms) == Wait::Frame) all += frame;
    return all;
}

struct ComingBackCase {
    const char* what;
    std::string filter;
    std::string lastEventId;
    std::string expected;  // frames before the live ones
};

TEST(EventHubTest, ASubscriberThatComesBackResumesOrIsToldToReRead) {
    // History of two; events r.1 to r.4 published, r.3 and r.4 kept.
    const std::vector<ComingBackCase> cases = {
        {"within the history", "", "r.2", "id: r.3\nevent: a\ndata: 3\n\nid: r.4\nevent: b\ndata: 4\n\n"},
        {"within the history, filtered", "b", "r.2", "id: r.4\nevent: b\ndata: 4\n\n"},
        {"at the latest event", "", "r.4", ""},
        {"older than the history", "", "r.1", "id: r.4\nevent: resync\ndata: {\"reason\":\"expired\"}\n\n"},
        {"before the first event", "", "r.0", "id: r.4\nevent: resync\ndata: {\"reason\":\"expired\"}\n\n"},
        {"another run", "", "q.3", "id: r.4\nevent: resync\ndata: {\"reason\":\"unknown\"}\n\n"},
        {"later than the latest", "", "r.5", "id: r.4\nevent: resync\ndata: {\"reason\":\"unknown\"}\n\n"},
        {"not a number", "", "r.3x", "id: r.4\nevent: resync\ndata: {\"reason\":\"unknown\"}\n\n"},
        {"empty", "", "", "id: r.4\nevent: resync\ndata: {\"reason\":\"unknown\"}\n\n"},
        {"resync ignores the filter", "b", "x", "id: r.4\nevent: resync\ndata: {\"reason\":\"unknown\"}\n\n"},
    };
    for (const ComingBackCase& c : cases) {
        SCOPED_TRACE(c.what);
        EventHub hub(Sized(16, 1 << 20, 8, 2));
        for (int i = 1; i <= 4; ++i) hub.Publish(i % 2 ? "a" : "b", std::to_string(i));
        auto subscriber = hub.Subscribe(c.filter, c.lastEventId);
        ASSERT_NE(subscriber, nullptr);
        EXPECT_EQ(Drain(*subscriber), c.expected);
        // Then the live events, with no gap and no repeat.
        hub.Publish("b", "5");
        EXPECT_EQ(Drain(*subscriber), "id: r.5\nevent: b\ndata: 5\n\n");
        EXPECT_EQ(hub.LatestId(), "r.5");
    }
}

TEST(EventHubTest, MissingMoreThanAQueueHoldsMeansReReading) {
    EventHub hub(Sized(2, 1 << 20, 8, 16));
    for (int i = 1; i <= 6; ++i) hub.Publish("e", std::to_string(i));
    auto subscriber = hub.Subscribe("", "r.1");
    ASSERT_NE(subscriber, nullptr);
    EXPECT_EQ(Drain(*subscriber), "id: r.6\nevent: resync\ndata: {\"reason\":\"behind\"}\n\n");
    std::string frame;
    EXPECT_EQ(subscriber->Next(frame, 0ms), Wait::Closed);
    EXPECT_EQ(hub.Snapshot().resynced, 1u);
}

}  // namespace
}  // namespace Korvo::Host::Dev
