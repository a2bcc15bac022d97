// The UI-state routes, end to end: request records in, response records and
// events out.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/plugin/plugin_test_support.h"

namespace Korvo {
namespace {

using Host::FakeHost;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr const char* kFeatureEvent = "OnJsonApiEvent_qem-quorvex-zv_v1_ui-states";

int64_t NowMilliseconds() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// The number after "timestamp": in a rendered record.
int64_t TimestampIn(const std::string& json) {
    const std::string key = "\"timestamp\":";
    size_t at = json.find(key);
    if (at == std::string::npos) return -1;
    return std::stoll(json.substr(at + key.size()));
}

class UiStateTest : public Testing::PluginFixture {
protected:
    void SetUp() override {
        PluginFixture::SetUp();
        ASSERT_TRUE(LoadAndStart());
        host_.ClearRecords();
    }
};

TEST_F(UiStateTest, ListOfAnEmptyStoreIsAnEmptyStructure) {
    FakeHost::CallResponse answer = List();
    EXPECT_FALSE(answer.error);
    EXPECT_EQ(answer.status, 0u);
    EXPECT_EQ(answer.resultJson, "{}");
}

TEST_F(UiStateTest, WriteFillsTheTimeStoresAndSendsUpdateTwice) {
    const int64_t before = NowMilliseconds();
    FakeHost::CallResponse written = Post("voice", R"({"state":"muted","updatedBy":"overlay","timestamp":0})");
    const int64_t after = NowMilliseconds();
    EXPECT_FALSE(written.error) << written.errorMessage;
    EXPECT_EQ(written.resultJson, "null");

    FakeHost::CallResponse read = Get("voice");
    ASSERT_FALSE(read.error) << read.errorMessage;
    const int64_t timestamp = TimestampIn(read.resultJson);
    EXPECT_GE(timestamp, before);
    EXPECT_LE(timestamp, after);
    EXPECT_EQ(read.resultJson, R"({"data":null,"state":"muted","timestamp":)" + std::to_string(timestamp) +
                                   R"(,"updatedBy":"overlay"})");

    const std::string payload = R"({"data":{"data":null,"state":"muted","timestamp":)" + std::to_string(timestamp) +
                                R"(,"updatedBy":"overlay"},"eventType":"Update","uri":"/qem-quorvex-zv/v1/ui-states/voice"})";
    EXPECT_THAT(EventNames(), ElementsAre(kFeatureEvent, "OnJsonApiEvent"));
    for (const FakeHost::Event& event : host_.Events()) EXPECT_EQ(event.payloadJson, payload);
}

TEST_F(UiStateTest, PositiveTimestampIsKeptNegativeIsReplaced) {
    ASSERT_FALSE(Post("a", R"({"state":"s","updatedBy":"u","timestamp":1234})").error);
    EXPECT_EQ(TimestampIn(Get("a").resultJson), 1234);

    const int64_t before = NowMilliseconds();
    ASSERT_FALSE(Post("b", R"({"state":"s","updatedBy":"u","timestamp":-5})").error);
    EXPECT_GE(TimestampIn(Get("b").resultJson), before);
}

TEST_F(UiStateTest, WriteWithoutRequiredFieldsIsRefused) {
    const char* bodies[] = {
        R"({"state":"","updatedBy":"overlay"})",
        R"({"state":"muted"})",
        R"({"updatedBy":"overlay"})",
        R"({})",
    };
    for (const char* body : bodies) {
        FakeHost::CallResponse answer = Post("voice", body);
        EXPECT_TRUE(answer.error) << body;
        EXPECT_EQ(answer.status, 400u) << body;
        EXPECT_EQ(answer.errorMessage, "Valid fields required: state, updatedBy") << body;
    }
    EXPECT_THAT(host_.Events(), IsEmpty());
    EXPECT_EQ(List().resultJson, "{}");
}

TEST_F(UiStateTest, SecondWriteReplacesTheWholeRecord) {
    ASSERT_FALSE(Post("chat", R"({"state":"open","updatedBy":"a","timestamp":5,"data":{"unread":3}})").error);
    EXPECT_EQ(Get("chat").resultJson, R"({"data":{"unread":3},"state":"open","timestamp":5,"updatedBy":"a"})");
    ASSERT_FALSE(Post("chat", R"({"state":"closed","updatedBy":"b","timestamp":6})").error);
    EXPECT_EQ(Get("chat").resultJson, R"({"data":null,"state":"closed","timestamp":6,"updatedBy":"b"})");
    EXPECT_EQ(List().resultJson, R"({"chat":{"data":null,"state":"closed","timestamp":6,"updatedBy":"b"}})");

    ASSERT_EQ(host_.Events().size(), 4u);
    for (const FakeHost::Event& event : host_.Events()) EXPECT_THAT(event.payloadJson, HasSubstr(R"("eventType":"Update")"));
}

TEST_F(UiStateTest, FeaturesAreCaseSensitive) {
    ASSERT_FALSE(Post("voice", R"({"state":"s","updatedBy":"u"})").error);
    FakeHost::CallResponse answer = Get("Voice");
    EXPECT_TRUE(answer.error);
    EXPECT_EQ(answer.status, 404u);
    EXPECT_EQ(answer.errorMessage, "Cannot find UI State for feature Voice");
}

TEST_F(UiStateTest, PercentEncodedFeatureIsStoredDecoded) {
    ASSERT_FALSE(Post("a%2Fb", R"({"state":"s","updatedBy":"u","timestamp":9})").error);
    EXPECT_EQ(List().resultJson, R"({"a/b":{"data":null,"state":"s","timestamp":9,"updatedBy":"u"}})");
    ASSERT_FALSE(host_.Events().empty());
    EXPECT_THAT(host_.Events()[0].payloadJson, HasSubstr(R"("uri":"/qem-quorvex-zv/v1/ui-states/a/b")"));
    EXPECT_EQ(host_.Events()[0].name, kFeatureEvent);
}

TEST_F(UiStateTest, ListIsOrderedByFeature) {
    for (const char* feature : {"zeta", "alpha", "Mid"}) {
        ASSERT_FALSE(Post(feature, R"({"state":"s","updatedBy":"u","timestamp":1})").error);
    }
    const std::string record = R"({"data":null,"state":"s","timestamp":1,"updatedBy":"u"})";
    EXPECT_EQ(List().resultJson, R"({"Mid":)" + record + R"(,"alpha":)" + record + R"(,"zeta":)" + record + "}");
}

TEST_F(UiStateTest, BodiesInEveryFormatAreAccepted) {
    FakeHost::CallResponse yaml = Post("yaml", "state: open\nupdatedBy: yves\ntimestamp: 2\n", "application/x-yaml");
    EXPECT_FALSE(yaml.error) << yaml.errorMessage;
    // {"state":"m","updatedBy":"p","timestamp":3} in MessagePack.
    const std::string msgpack("\x83\xa5state\xa1m\xa9updatedBy\xa1p\xa9timestamp\x03", 32);
    FakeHost::CallResponse packed = Post("packed", msgpack, "application/x-msgpack");
    EXPECT_FALSE(packed.error) << packed.errorMessage;
    EXPECT_EQ(Get("yaml").resultJson, R"({"data":null,"state":"open","timestamp":2,"updatedBy":"yves"})");
    EXPECT_EQ(Get("packed").resultJson, R"({"data":null,"state":"m","timestamp":3,"updatedBy":"p"})");
}

TEST_F(UiStateTest, UnreadableBodyNeverReachesTheStore) {
    const std::pair<const char*, const char*> bodies[] = {
        {R"({"state":"s","updatedBy":"u",)", "application/json"},
        {R"({"state":5,"updatedBy":"u"})", "application/json"},
        {R"({"state":"s","updatedBy":"u","timestamp":"soon"})", "application/json"},
        {R"(["state"])", "application/json"},
        {R"({"state":"s","updatedBy":"u"})", "text/plain"},
    };
    for (const auto& [body, type] : bodies) {
        FakeHost::CallResponse answer = Post("voice", body, type);
        EXPECT_TRUE(answer.error) << body;
        EXPECT_FALSE(answer.errorMessage.empty()) << body;
    }
    EXPECT_THAT(host_.Events(), IsEmpty());
    EXPECT_EQ(List().resultJson, "{}");
}

}  // namespace
}  // namespace Korvo
