// The host function table of the development host, called as the plug-in
// calls it: the two host endpoints, events to the stream, the subscription
// table, waiting and logging.
#include "host/devhost/host_services.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "host/common/host_value_json.h"

namespace Korvo::Host::Dev {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;

constexpr uint32_t kGet = KORVO_METHOD_GET;
constexpr uint32_t kPost = KORVO_METHOD_POST;

struct Answer {
    bool error;
    std::string message;
    uint32_t status;
    std::string json;
    bool zeroAfterRelease;
};

class HostServicesTest : public ::testing::Test {
protected:
    HostServicesTest()
        : services_(HostServices::Settings{"OTHER", "de_DE", {"plugin-host", "--plugin-debug", "x y"},
                                           {{"/app/settings", OwnedHostValue::Object({{"dark", OwnedHostValue::Bool(true)}})},
                                            {"/app/settings", OwnedHostValue::Int(2)},
                                            {kCommandLineArgsPath, OwnedHostValue::Array({})}}},
                    hub_,
                    [this](uint32_t level, std::string_view line) { logged_.emplace_back(level, std::string(line)); }) {}

    const HostFunctions& Table() { return *services_.Interface(1)->functions; }

    Answer Ask(uint32_t method, const char* path) {
        HostRequestRecord request;
        std::memset(&request, 0, sizeof(request));
        request.method = method;
        request.path = path;
        request.caller = 1;
        HostResponseRecord response;
        std::memset(&response, 0xCD, sizeof(response));  // the host must not trust what it is handed
        Table().SendRequest(&Table(), &response, &request);
        Answer answer{response.error != 0, response.errorMessage ? response.errorMessage : "", response.status,
                      HostValueToJson(response.result), false};
        HostResponseRelease release = response.release;
        EXPECT_NE(release, nullptr);
        if (release != nullptr) release(&response);
        static const HostResponseRecord kZero{};
        answer.zeroAfterRelease = std::memcmp(&response, &kZero, sizeof(response)) == 0;
        return answer;
    }

    EventHub hub_;
    std::vector<std::pair<uint32_t, std::string>> logged_;
    HostServices services_;
};

TEST_F(HostServicesTest, AnswersRegionAndLocale) {
    Answer answer = Ask(kGet, kRegionLocalePath);
    EXPECT_FALSE(answer.error);
    EXPECT_EQ(answer.status, 200u);
    EXPECT_EQ(answer.json, R"({"locale":"de_DE","region":"OTHER"})");
    EXPECT_TRUE(answer.zeroAfterRelease);
}

TEST_F(HostServicesTest, AnswersTheHostsOwnCommandLine) {
    Answer answer = Ask(kGet, "/korvoclient/command-line-args?ignored=1");
    EXPECT_FALSE(answer.error);
    EXPECT_EQ(answer.json, R"(["plugin-host","--plugin-debug","x y"])");
}

TEST_F(HostServicesTest, AnswersThePluginsOwnAnswersTheLatestForAPath) {
    Answer answer = Ask(kGet, "/app/settings?x=1");
    EXPECT_FALSE(answer.error);
    EXPECT_EQ(answer.status, 200u);
    EXPECT_EQ(answer.json, "2");
    EXPECT_TRUE(answer.zeroAfterRelease);
    Answer posted = Ask(kPost, "/app/settings");
    EXPECT_EQ(posted.status, 405u);
}

TEST_F(HostServicesTest, OtherPathsAndMethodsAreErrors) {
    const uint64_t released = HostServices::ResponsesReleased();
    Answer unknown = Ask(kGet, "/korvoclient/nothing");
    EXPECT_TRUE(unknown.error);
    EXPECT_EQ(unknown.status, 404u);
    EXPECT_EQ(unknown.message, "No such host endpoint: /korvoclient/nothing");
    EXPECT_EQ(unknown.json, "null");
    EXPECT_TRUE(unknown.zeroAfterRelease);

    Answer posted = Ask(kPost, kRegionLocalePath);
    EXPECT_TRUE(posted.error);
    EXPECT_EQ(posted.status, 405u);
    EXPECT_EQ(posted.message, "Method not allowed: POST /korvoclient/get_region_locale");
    EXPECT_EQ(HostServices::ResponsesReleased(), released + 2);
    EXPECT_EQ(services_.RequestsAnswered(), 2u);
}

TEST_F(HostServicesTest, ANullRequestIsAnError) {
    HostResponseRecord response;
    std::memset(&response, 0, sizeof(response));
    Table().SendRequest(&Table(), &response, nullptr);
    EXPECT_EQ(response.error, 1);
    EXPECT_EQ(uint32_t{response.status}, 400u);
    HostResponseRelease release = response.release;
    ASSERT_NE(release, nullptr);
    release(&response);
    Table().SendRequest(&Table(), nullptr, nullptr);  // nothing to fill, nothing done
}

TEST_F(HostServicesTest, EventsGoToTheStreamAsJson) {
    auto subscriber = hub_.Subscribe("");
    OwnedHostValue payload = OwnedHostValue::Object({{"uri", OwnedHostValue::String("/a")}});
    HostEventRecord event;
    std::memset(&event, 0, sizeof(event));
    event.name = "OnJsonApiEvent";
    event.payload = payload.Record();
    Table().SendEvent(&Table(), &event);
    std::string frame;
    ASSERT_EQ(subscriber->Next(frame, 0ms), StreamSubscriber::Wait::Frame);
    EXPECT_EQ(frame, "id: " + hub_.LatestId() + "\nevent: OnJsonApiEvent\ndata: {\"uri\":\"/a\"}\n\n");
}

TEST_F(HostServicesTest, KeepsTheSubscriptionTable) {
    Table().Subscribe(&Table(), "A", 1, nullptr, nullptr, 1);
    Table().Subscribe(&Table(), "B", 1, nullptr, nullptr, 0);
    Table().Subscribe(&Table(), "A", 2, nullptr, nullptr, 0);
    Table().Unsubscribe(&Table(), "A", 1);
    Table().Unsubscribe(&Table(), "never", 1);
    std::vector<std::string> names;
    for (const HostServices::Subscription& subscription : services_.Subscriptions()) {
        names.push_back(subscription.name + "/" + std::to_string(subscription.pluginHandle));
    }
    EXPECT_THAT(names, ElementsAre("B/1", "A/2"));
}

// The stock replies come as a stream of JSON text in small pieces, each read
// saying whether more follows; the stream is released on its own, apart from
// the response.
TEST_F(HostServicesTest, StreamsTheStockRepliesInSmallPieces) {
    HostRequestRecord request{};
    request.method = kGet;
    request.path = kCannedRepliesPath;
    HostResponseRecord response{};
    Table().SendRequest(&Table(), &response, &request);
    // Packed fields are read by value.
    const uint32_t status = response.status, contentCode = response.contentCode, hint = response.streamSizeHint;
    ASSERT_EQ(response.error, 0);
    EXPECT_EQ(status, 200u);
    EXPECT_EQ(contentCode, static_cast<uint32_t>(KORVO_CONTENT_JSON));
    const KorvoHostStreamRead read = response.streamRead;
    const KorvoHostStreamRelease releaseStream = response.streamRelease;
    void* const stream = response.stream;
    ASSERT_NE(read, nullptr);
    ASSERT_NE(releaseStream, nullptr);
    std::string text;
    size_t reads = 0;
    for (KorvoBool more = true; more; ++reads) {
        char buffer[4096];
        uint32_t count = sizeof(buffer);
        ASSERT_TRUE(read(stream, buffer, &count, &more));
        ASSERT_LE(count, kStreamedAnswerReadBytes);
        text.append(buffer, count);
    }
    EXPECT_GT(reads, 1u);
    EXPECT_EQ(text.size(), hint);
    OwnedHostValue replies;
    std::string error;
    ASSERT_TRUE(JsonToHostValue(text, replies, error)) << error;
    EXPECT_EQ(replies.Record().type, static_cast<uint32_t>(KORVO_VALUE_ARRAY));
    releaseStream(stream);
    HostResponseRelease release = response.release;
    release(&response);

    Answer posted = Ask(kPost, kCannedRepliesPath);
    EXPECT_EQ(posted.status, 405u);
}

// An event raised by hand reaches every subscription of its name, with the
// user data given at Subscribe; a callback may subscribe meanwhile.
TEST_F(HostServicesTest, DeliversAnEventToEverySubscriptionOfItsName) {
    struct Seen {
        std::vector<std::string> events;
        HostServices* services;
    } seen{{}, &services_};
    const HostEventCallback callback = [](const HostEventRecord* event) {
        auto* into = static_cast<Seen*>(event->userData);
        into->events.push_back(std::string(event->name) + " " + HostValueToJson(event->payload));
        const HostFunctions* table = into->services->Functions();
        table->Subscribe(table, "Later", 1, nullptr, nullptr, 0);
    };
    Table().Subscribe(&Table(), "A", 1, callback, &seen, 0);
    Table().Subscribe(&Table(), "B", 1, callback, &seen, 0);
    Table().Subscribe(&Table(), "A", 2, callback, &seen, 0);
    Table().Subscribe(&Table(), "A", 3, nullptr, nullptr, 0);  // nothing to call

    EXPECT_EQ(services_.DeliverEvent("A", OwnedHostValue::Int(5)), 2u);
    EXPECT_EQ(services_.DeliverEvent("none", OwnedHostValue::Null()), 0u);
    EXPECT_THAT(seen.events, ElementsAre("A 5", "A 5"));
    EXPECT_EQ(services_.Subscriptions().size(), 6u);
}

TEST_F(HostServicesTest, WaitingAndLogging) {
    Table().MarkActivity(&Table(), "Wait: yield", 0);
    Table().Yield(&Table());
    const uint64_t first = Table().PollWake(&Table());
    EXPECT_EQ(Table().PollWake(&Table()), first + 1);
    Table().Log(&Table(), KORVO_LOG_ERROR, "qem-quorvex-zv: Failed to get the locale: 'x'.");
    Table().Log(&Table(), 0, nullptr);
    EXPECT_THAT(logged_, ElementsAre(std::make_pair(2u, std::string("qem-quorvex-zv: Failed to get the locale: 'x'.")),
                                     std::make_pair(0u, std::string())));
    EXPECT_EQ(LogLevelName(2), "Error");
    EXPECT_EQ(LogLevelName(3), "Always");
    EXPECT_EQ(LogLevelName(9), "Level9");
}

}  // namespace
}  // namespace Korvo::Host::Dev
