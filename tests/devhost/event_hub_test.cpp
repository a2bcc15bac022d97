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
using Wait = EventSubscriber::Wait;

TEST(EventStreamFrameTest, NameAndOneDataLine) {
    EXPECT_EQ(EventStreamFrame("OnJsonApiEvent", "{\"a\":1}"), "event: OnJsonApiEvent\ndata: {\"a\":1}\n\n");
    EXPECT_EQ(EventStreamFrame("", "null"), "event: \ndata: null\n\n");
}

TEST(EventStreamFrameTest, LineBreaksCannotForgeFrames) {
    EXPECT_EQ(EventStreamFrame("a\nb\rc", "x"), "event: a b c\ndata: x\n\n");
    EXPECT_EQ(EventStreamFrame("e", "1\n\nevent: forged\r\n2"),
              "event: e\ndata: 1\ndata: \ndata: event: forged\ndata: 2\n\n");
}

TEST(EventHubTest, DataIsRenderedOnlyForSomeoneListening) {
    EventHub hub;
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
    EXPECT_EQ(frame, "event: e\ndata: 1\n\n");
    EXPECT_EQ(other->Next(frame, 0ms), Wait::Timeout);
    EXPECT_EQ(hub.Snapshot().published, 3u);
    EXPECT_EQ(hub.Snapshot().delivered, 1u);
}

TEST(EventHubTest, EverySubscriberGetsWhatItsFilterLetsThrough) {
    EventHub hub;
    auto all = hub.Subscribe("");
    auto named = hub.Subscribe("OnJsonApiEvent");
    hub.Publish("OnJsonApiEvent_x", "1");
    hub.Publish("OnJsonApiEvent", "2");

    std::string frame;
    ASSERT_EQ(all->Next(frame, 0ms), Wait::Frame);
    EXPECT_EQ(frame, "event: OnJsonApiEvent_x\ndata: 1\n\n");
    ASSERT_EQ(all->Next(frame, 0ms), Wait::Frame);
    EXPECT_EQ(frame, "event: OnJsonApiEvent\ndata: 2\n\n");
    EXPECT_EQ(all->Next(frame, 0ms), Wait::Timeout);
    ASSERT_EQ(named->Next(frame, 0ms), Wait::Frame);
    EXPECT_EQ(frame, "event: OnJsonApiEvent\ndata: 2\n\n");
    EXPECT_EQ(named->Next(frame, 0ms), Wait::Timeout);

    EventHub::Counters counters = hub.Snapshot();
    EXPECT_EQ(counters.published, 2u);
    EXPECT_EQ(counters.delivered, 3u);
    EXPECT_EQ(counters.subscribers, 2u);
}

TEST(EventHubTest, ASubscriberThatFallsBehindIsCutOffAndOthersCarryOn) {
    EventHub hub(EventHub::Limits{4, 1 << 20, 8});
    auto slow = hub.Subscribe("");
    auto fast = hub.Subscribe("");
    std::string frame;
    for (int i = 0; i < 10; ++i) {
        hub.Publish("e", std::to_string(i));
        ASSERT_EQ(fast->Next(frame, 0ms), Wait::Frame);
        EXPECT_EQ(frame, "event: e\ndata: " + std::to_string(i) + "\n\n");
    }
    // Nothing queued survives the cut: the stream ends at once.
    EXPECT_EQ(slow->Next(frame, 0ms), Wait::Closed);
    EXPECT_TRUE(slow->Overflowed());
    EXPECT_FALSE(fast->Overflowed());
    EventHub::Counters counters = hub.Snapshot();
    EXPECT_EQ(counters.cutOff, 1u);
    EXPECT_EQ(counters.subscribers, 1u);
}

TEST(EventHubTest, TheByteLimitCutsOffToo) {
    EventHub hub(EventHub::Limits{1000, 100, 8});
    auto subscriber = hub.Subscribe("");
    hub.Publish("e", std::string(60, 'x'));
    hub.Publish("e", std::string(60, 'x'));
    std::string frame;
    EXPECT_EQ(subscriber->Next(frame, 0ms), Wait::Closed);
    EXPECT_TRUE(subscriber->Overflowed());
}

TEST(EventHubTest, SubscriberLimitAndClosingEveryone) {
    EventHub hub(EventHub::Limits{4, 1 << 20, 2});
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
    EventHub hub(EventHub::Limits{kQueueLimit, 1 << 24, 8});
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
            int publisher = frame[7] - '0';
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
    EXPECT_EQ(stuck->Next(frame, 0ms), Wait::Closed);
    ASSERT_FALSE(draining->Overflowed());
    for (int p = 0; p < kPublishers; ++p) {
        ASSERT_EQ(seen[p].size(), static_cast<size_t>(kEach)) << p;
        for (int i = 0; i < kEach; ++i) ASSERT_EQ(seen[p][i], i);
    }
}

}  // namespace
}  // namespace Korvo::Host::Dev
