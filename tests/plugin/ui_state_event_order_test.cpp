// The events of one feature reach the host in the order its writes were
// stored, even when the host holds a sender inside SendEvent or calls back
// into the plug-in from there: the last event of a feature always carries
// what a read returns.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/plugin/plugin_test_support.h"

namespace Korvo {
namespace {

using Host::FakeHost;
using ::testing::ElementsAre;

std::string Body(const std::string& token) { return R"({"state":")" + token + R"(","updatedBy":"order"})"; }

// The state carried by the events of feature, in the order the host
// recorded them.
std::vector<std::string> StatesSent(const std::vector<FakeHost::Event>& events, const std::string& feature) {
    std::vector<std::string> states;
    for (const FakeHost::Event& event : events) {
        if (Testing::StringMember(event.payloadJson, "uri") != Testing::kStatesPrefix + feature) continue;
        states.push_back(Testing::StringMember(event.payloadJson, "state"));
    }
    return states;
}

bool Carries(const FakeHost::Event& event, const std::string& feature, const std::string& state) {
    return StatesSent({event}, feature) == std::vector<std::string>{state};
}

class UiStateEventOrderTest : public Testing::PluginFixture {
protected:
    void SetUp() override {
        PluginFixture::SetUp();
        ASSERT_TRUE(LoadAndStart());
        host_.ClearRecords();
    }
    void TearDown() override { host_.SetEventHook(nullptr); }

    std::string StateRead(const std::string& feature) {
        FakeHost::CallResponse answer = Get(feature);
        return answer.error ? "" : Testing::StringMember(answer.resultJson, "state");
    }
};

// The first writer of "voice" is held inside SendEvent until a second write
// of "voice" has been made and has returned; that write comes from another
// thread which is itself inside SendEvent (for "other"), so it cannot wait
// for the held one. Its event still leaves after the held one's.
TEST_F(UiStateEventOrderTest, AWriteMadeWhileTheFirstEventIsHeldIsSentAfterIt) {
    std::mutex mutex;
    std::condition_variable changed;
    bool holding = false;
    bool secondWritten = false;
    bool nestedStarted = false;
    bool nestedFailed = false;

    host_.SetEventHook([&](const FakeHost::Event& event) {
        if (Carries(event, "voice", "first")) {
            std::unique_lock<std::mutex> lock(mutex);
            if (holding) return;
            holding = true;
            changed.notify_all();
            changed.wait(lock, [&] { return secondWritten; });
        } else if (Carries(event, "other", "x")) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (nestedStarted) return;
                nestedStarted = true;
            }
            const bool failed = Post("voice", Body("second")).error;
            std::lock_guard<std::mutex> lock(mutex);
            nestedFailed = failed;
            secondWritten = true;
            changed.notify_all();
        }
    });

    std::thread first([&] { EXPECT_FALSE(Post("voice", Body("first")).error); });
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return holding; });
    }
    std::thread second([&] { EXPECT_FALSE(Post("other", Body("x")).error); });
    first.join();
    second.join();
    host_.SetEventHook(nullptr);

    EXPECT_FALSE(nestedFailed);
    EXPECT_THAT(StatesSent(host_.Events(), "voice"), ElementsAre("first", "first", "second", "second"));
    EXPECT_EQ(StateRead("voice"), "second");
}

// A host whose SendEvent reads and writes through the plug-in on the same
// thread: nothing deadlocks, the write of the feature being sent is sent
// after the event in progress, the write of another feature at once.
TEST_F(UiStateEventOrderTest, CallsBackFromSendEventNeitherDeadlockNorReorder) {
    bool calledBack = false;
    std::string readInside;
    host_.SetEventHook([&](const FakeHost::Event& event) {
        if (calledBack || !Carries(event, "voice", "first")) return;
        calledBack = true;
        readInside = StateRead("voice");
        EXPECT_FALSE(Post("voice", Body("again")).error);
        EXPECT_FALSE(Post("other", Body("y")).error);
        EXPECT_EQ(StateRead("voice"), "again");
    });

    ASSERT_FALSE(Post("voice", Body("first")).error);
    host_.SetEventHook(nullptr);

    EXPECT_TRUE(calledBack);
    EXPECT_EQ(readInside, "first");
    EXPECT_THAT(StatesSent(host_.Events(), "voice"), ElementsAre("first", "first", "again", "again"));
    EXPECT_THAT(StatesSent(host_.Events(), "other"), ElementsAre("y", "y"));
    EXPECT_EQ(StateRead("voice"), "again");
}

}  // namespace
}  // namespace Korvo
