#include "sdk/remoting/host_request.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/testing/fake_host.h"
#include "sdk/binding/record_builder.h"
#include "sdk/contract/records.h"
#include "tests/support/host_table_plugin.h"

namespace Korvo {
namespace {

using Host::FakeHost;
using Host::OwnedHostValue;
using Testing::HostTablePlugin;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr const char* kLocalePath = "/korvoclient/get_region_locale";

struct Locale {
    std::string region;
};

class HostRequestTest : public ::testing::Test {
protected:
    HostRequestTest() : plugin_(host_.Functions()) {
        RegisterRecord<Locale>(plugin_.MutableRegistry(), "Locale").Field("region", &Locale::region);
    }

    FakeHost host_;
    HostTablePlugin plugin_;
};

TEST_F(HostRequestTest, RequestCarriesMethodPathAndHandleOnly) {
    host_.AnswerValue(kLocalePath, OwnedHostValue::Object({{"region", OwnedHostValue::String("QUORVEX")}}));
    RemotingResult<Locale> result = RequestFromHost<Locale>(plugin_, HttpMethod::Get, kLocalePath);
    ASSERT_FALSE(result.IsError()) << result.Message();
    EXPECT_EQ(result.status, 0u);
    EXPECT_EQ(result.Value().region, "QUORVEX");

    ASSERT_EQ(host_.Requests().size(), 1u);
    const FakeHost::Request request = host_.Requests()[0];
    EXPECT_EQ(request.method, 2u);
    EXPECT_EQ(request.path, kLocalePath);
    EXPECT_EQ(request.caller, HostTablePlugin::kHandle);
    EXPECT_EQ(request.argumentCount, 0u);
    EXPECT_EQ(request.headerCount, 0u);
    EXPECT_FALSE(request.hasBody);
    EXPECT_EQ(host_.ResponsesReleased(), 1u);
}

TEST_F(HostRequestTest, ErrorAnswerKeepsTheHostStatus) {
    host_.AnswerError(kLocalePath, 503, "service unavailable");
    RemotingResult<Locale> result = RequestFromHost<Locale>(plugin_, HttpMethod::Get, kLocalePath);
    EXPECT_TRUE(result.IsError());
    EXPECT_EQ(result.status, 503u);
    EXPECT_EQ(result.Message(), "Error response for GET /korvoclient/get_region_locale: service unavailable");
    EXPECT_EQ(host_.ResponsesReleased(), 1u);
}

TEST_F(HostRequestTest, StringWhereAStructureIsExpectedFailsConversion) {
    host_.AnswerValue(kLocalePath, OwnedHostValue::String("QUORVEX"));
    RemotingResult<Locale> result = RequestFromHost<Locale>(plugin_, HttpMethod::Get, kLocalePath);
    EXPECT_TRUE(result.IsError());
    EXPECT_EQ(result.status, 0u);
    EXPECT_EQ(result.Message(),
              "Error converting response for GET /korvoclient/get_region_locale: Couldn't assign value to "
              "'<result>' of type Locale because the input not a structure.");
    EXPECT_EQ(host_.ResponsesReleased(), 1u);
}

TEST_F(HostRequestTest, CollectionOfStringsBecomesAVector) {
    host_.AnswerValue("/args", OwnedHostValue::Array({OwnedHostValue::String("--a"), OwnedHostValue::String("b")}));
    RemotingResult<std::vector<std::string>> result =
        RequestFromHost<std::vector<std::string>>(plugin_, HttpMethod::Get, "/args");
    ASSERT_FALSE(result.IsError()) << result.Message();
    EXPECT_THAT(result.Value(), ElementsAre("--a", "b"));
}

TEST_F(HostRequestTest, StreamIsReadCompletelyWithOneYieldAfterTheShortPiece) {
    // One JSON string of 4106 bytes: 4096, then 10 with more to come, then
    // nothing and the end.
    const std::string text = "\"" + std::string(4104, 'a') + "\"";
    host_.AnswerStream("/big", {{text.substr(0, 4096), true}, {text.substr(4096), true}, {"", false}}, 4106);

    RemotingResult<std::string> result = RequestFromHost<std::string>(plugin_, HttpMethod::Get, "/big");
    ASSERT_FALSE(result.IsError()) << result.Message();
    EXPECT_EQ(result.Value(), std::string(4104, 'a'));
    EXPECT_THAT(host_.WaitCalls(), ElementsAre("MarkActivity Wait: yield 0", "Yield", "PollWake"));
    EXPECT_EQ(host_.StreamsReleased(), 1u);
    EXPECT_EQ(host_.ResponsesReleased(), 1u);
}

TEST_F(HostRequestTest, StreamFailures) {
    struct Case {
        std::vector<FakeHost::StreamChunk> chunks;
        const char* reason;
    };
    const Case cases[] = {
        {{{"", false, true}}, "Stream read error"},
        {{{"[1,", true}, {"", false, true}}, "Stream read error"},
        {{{"[1,", false}}, "Error: "},
    };
    for (const Case& c : cases) {
        FakeHost host;
        HostTablePlugin plugin(host.Functions());
        host.AnswerStream("/s", c.chunks);
        RemotingResult<BindingProperty> result = RequestPropertyFromHost(plugin, HttpMethod::Post, "/s");
        EXPECT_TRUE(result.IsError());
        EXPECT_EQ(result.status, 0u);
        EXPECT_THAT(std::string(result.Message()),
                    HasSubstr(std::string("Error reading streamed response for POST /s: ") + c.reason));
        EXPECT_EQ(host.StreamsReleased(), 1u);
        EXPECT_EQ(host.ResponsesReleased(), 1u);
    }
}

// A host whose answers the test writes by hand.
class HandWrittenHost : public HostTablePlugin {
public:
    using HostTablePlugin::HostTablePlugin;
    std::function<void(HostResponseRecord*)> answer;

    void HostSendRequest(HostResponseRecord* response, const HostRequestRecord*) override { answer(response); }
};

int gReleases = 0;
void KORVO_CDECL CountRelease(HostResponseRecord*) { ++gReleases; }
void KORVO_CDECL CountStreamRelease(void*) { ++gReleases; }
bool KORVO_CDECL OverlongRead(void*, char*, uint32_t* count, bool* more) {
    *count += 1;  // claims one byte more than the buffer holds
    *more = false;
    return true;
}

TEST(HostRequestHandWrittenTest, ImplausibleAnswersFailSafely) {
    FakeHost table;
    HandWrittenHost plugin(table.Functions());

    // A count beyond the buffer is a read error, not an overrun.
    gReleases = 0;
    plugin.answer = [](HostResponseRecord* response) {
        response->streamRead = &OverlongRead;
        response->streamRelease = &CountStreamRelease;
        response->streamSizeHint = 0xFFFFFFFFu;  // only a hint: not reserved in full
        response->release = &CountRelease;
    };
    RemotingResult<BindingProperty> overlong = RequestPropertyFromHost(plugin, HttpMethod::Get, "/x");
    EXPECT_EQ(overlong.Message(), "Error reading streamed response for GET /x: Stream read error");
    EXPECT_EQ(gReleases, 2);

    // An error flag without a message is still an error.
    gReleases = 0;
    plugin.answer = [](HostResponseRecord* response) {
        response->error = 1;
        response->status = 500;
        response->release = &CountRelease;
    };
    RemotingResult<BindingProperty> flagged = RequestPropertyFromHost(plugin, HttpMethod::Get, "/x");
    EXPECT_TRUE(flagged.IsError());
    EXPECT_EQ(flagged.status, 500u);
    EXPECT_EQ(flagged.Message(), "Error response for GET /x: ");
    EXPECT_EQ(gReleases, 1);

    // A stream beside an error answer is not read but still given back.
    gReleases = 0;
    plugin.answer = [](HostResponseRecord* response) {
        static char message[] = "refused";
        response->errorMessage = message;
        response->status = 403;
        response->streamRead = &OverlongRead;
        response->streamRelease = &CountStreamRelease;
        response->release = &CountRelease;
    };
    RemotingResult<BindingProperty> refused = RequestPropertyFromHost(plugin, HttpMethod::Get, "/x");
    EXPECT_EQ(refused.Message(), "Error response for GET /x: refused");
    EXPECT_EQ(gReleases, 2);

    // A value of an unknown type code cannot be read.
    plugin.answer = [](HostResponseRecord* response) { response->result.type = 77; };
    RemotingResult<BindingProperty> unknown = RequestPropertyFromHost(plugin, HttpMethod::Get, "/x");
    EXPECT_TRUE(unknown.IsError());
    EXPECT_THAT(std::string(unknown.Message()), HasSubstr("Error converting response for GET /x: "));

    // No answer at all (nothing filled in) reads as a missing value.
    plugin.answer = [](HostResponseRecord*) {};
    RemotingResult<Locale> missing = RequestFromHost<Locale>(plugin, HttpMethod::Get, "/x");
    EXPECT_EQ(missing.Message(), "Error converting response for GET /x: A value for '<result>' is required.");
}

}  // namespace
}  // namespace Korvo
