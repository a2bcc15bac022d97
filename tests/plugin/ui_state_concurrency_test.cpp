// Many host threads write, read and list overlapping features through the
// function callbacks while events are recorded and delivered: no write is
// lost, every read sees one whole record, and the last event of each feature
// carries what a read returns.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/plugin/plugin_test_support.h"

namespace Korvo {
namespace {

using Host::FakeHost;
using Host::OwnedHostValue;

constexpr int kThreads = 6;
constexpr int kRounds = 60;
constexpr int kSharedFeatures = 3;

// A record whose members all carry the same token, so a torn record shows.
std::string Body(const std::string& token) {
    return R"({"state":")" + token + R"(","updatedBy":")" + token + R"(-by","timestamp":7,"data":{"token":")" +
           token + R"("}})";
}

std::string Rendered(const std::string& token) {
    return R"({"data":{"token":")" + token + R"("},"state":")" + token + R"(","timestamp":7,"updatedBy":")" +
           token + R"(-by"})";
}

// The token of a rendered record, or "" when its members disagree.
std::string ConsistentToken(const std::string& json) {
    const std::string token = Testing::StringMember(json, "state");
    return !token.empty() && json == Rendered(token) ? token : "";
}

// The state carried by the last event of feature; "" when none.
std::string LastStateSent(const std::vector<FakeHost::Event>& events, const std::string& feature) {
    for (auto event = events.rbegin(); event != events.rend(); ++event) {
        if (Testing::StringMember(event->payloadJson, "uri") != Testing::kStatesPrefix + feature) continue;
        const std::string key = R"("data":)";
        const size_t at = event->payloadJson.find(key);
        const size_t end = event->payloadJson.find(R"(,"eventType")");
        if (at == std::string::npos || end == std::string::npos) return "";
        return ConsistentToken(event->payloadJson.substr(at + key.size(), end - at - key.size()));
    }
    return "";
}

class UiStateConcurrencyTest : public Testing::PluginFixture {};

TEST_F(UiStateConcurrencyTest, ConcurrentWritesReadsAndListsStayWhole) {
    ASSERT_TRUE(LoadAndStart());
    host_.ClearRecords();
    // A host that lets other threads run between taking an event and
    // delivering it, which is where events of one feature used to overtake
    // each other.
    host_.SetEventHook([](const FakeHost::Event&) { std::this_thread::yield(); });

    std::atomic<int> failures{0};
    std::atomic<bool> writersDone{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const std::string own = "own" + std::to_string(t);
            for (int round = 0; round < kRounds; ++round) {
                const std::string token = "t" + std::to_string(t) + "r" + std::to_string(round);
                const std::string shared = "shared" + std::to_string(round % kSharedFeatures);
                if (Post(own, Body(token)).error || Post(shared, Body(token)).error) ++failures;

                // Only this thread writes its own feature: the read sees
                // exactly what it wrote.
                FakeHost::CallResponse mine = Get(own);
                if (mine.error || mine.resultJson != Rendered(token)) ++failures;
                // Another thread may have written the shared one since, but
                // never half of it.
                FakeHost::CallResponse theirs = Get(shared);
                if (theirs.error || ConsistentToken(theirs.resultJson).empty()) ++failures;
                if (List().error) ++failures;
            }
        });
    }
    // Service-proxy replies arrive meanwhile on another host thread.
    std::thread events([&] {
        int i = 0;
        while (!writersDone.load()) {
            host_.DeliverEvent("OnServiceProxyUuidEvent",
                               OwnedHostValue::Object({{"uuid", OwnedHostValue::String("u" + std::to_string(i++ % 8))},
                                                       {"payload", OwnedHostValue::String("p")}}));
        }
    });
    for (std::thread& thread : threads) thread.join();
    writersDone.store(true);
    events.join();
    host_.SetEventHook(nullptr);

    EXPECT_EQ(failures.load(), 0);
    // Two events per write, none lost.
    EXPECT_EQ(host_.Events().size(), static_cast<size_t>(kThreads * kRounds * 2 * 2));

    // Every feature holds one whole record; the own features their last write.
    FakeHost::CallResponse list = List();
    ASSERT_FALSE(list.error);
    for (int t = 0; t < kThreads; ++t) {
        const std::string last = "t" + std::to_string(t) + "r" + std::to_string(kRounds - 1);
        EXPECT_EQ(Get("own" + std::to_string(t)).resultJson, Rendered(last));
    }
    for (int s = 0; s < kSharedFeatures; ++s) {
        EXPECT_FALSE(ConsistentToken(Get("shared" + std::to_string(s)).resultJson).empty());
    }

    // Subscribers that follow the events end where a read ends.
    const std::vector<FakeHost::Event> sent = host_.Events();
    std::vector<std::string> features;
    for (int t = 0; t < kThreads; ++t) features.push_back("own" + std::to_string(t));
    for (int s = 0; s < kSharedFeatures; ++s) features.push_back("shared" + std::to_string(s));
    for (const std::string& feature : features) {
        const std::string read = ConsistentToken(Get(feature).resultJson);
        EXPECT_FALSE(read.empty()) << feature;
        EXPECT_EQ(LastStateSent(sent, feature), read) << feature;
    }
}

}  // namespace
}  // namespace Korvo
