// Content type classification, and response records written from call
// results and released through their own release field.
#include "sdk/remoting/response.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "tests/remoting/transport_test_host.h"
#include "tests/support/allocation_budget.h"

namespace Korvo {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;
using Testing::HostReply;
using Testing::ReadAndRelease;

TEST(ClassifyContentTypeTest, PrefixesIgnoringCase) {
    struct Case {
        const char* text;
        ContentTypeCode code;
    };
    const Case cases[] = {
        {"application/json", ContentTypeCode::Json},
        {"APPLICATION/JSON", ContentTypeCode::Json},
        {"application/json; charset=utf-8", ContentTypeCode::Json},
        {"application/vnd.api+json", ContentTypeCode::Json},
        {"application/x-yaml", ContentTypeCode::Yaml},
        {"Application/X-Yaml; x", ContentTypeCode::Yaml},
        {"application/x-msgpack", ContentTypeCode::MessagePack},
        {"application/x-msgpack-ext", ContentTypeCode::MessagePack},
        {"application/jso", ContentTypeCode::Other},
        {"text/x-yaml", ContentTypeCode::Other},
        {"text/plain", ContentTypeCode::Other},
        {" application/json", ContentTypeCode::Other},
        {"", ContentTypeCode::Other},
        {nullptr, ContentTypeCode::Other},
    };
    for (const Case& test : cases) {
        EXPECT_EQ(ClassifyContentType(test.text), test.code) << (test.text ? test.text : "(null)");
    }
}

HostReply Write(CallResult& result) {
    HostResponseRecord response{};
    EXPECT_TRUE(WriteResponse(response, result, nullptr));
    response.release = &ReleaseResponse;
    return ReadAndRelease(response);
}

TEST(WriteResponseTest, HandlerErrorCarriesMessageStatusAndEmptyText) {
    CallResult result;
    result.Fail("Valid fields required: state, updatedBy");
    result.settings.status = 400;
    const HostReply reply = Write(result);
    EXPECT_TRUE(reply.error);
    EXPECT_EQ(reply.errorMessage, "Valid fields required: state, updatedBy");
    EXPECT_EQ(reply.status, 400u);
    EXPECT_EQ(reply.textPointer, EmptyResponseText());
    EXPECT_TRUE(reply.headers.empty());
    EXPECT_EQ(reply.json, "null");
    EXPECT_TRUE(reply.zeroAfterRelease);
}

TEST(WriteResponseTest, SuccessWithoutStatusHasStatusZero) {
    CallResult result;
    result.Value().Member("a") = 1;
    const HostReply reply = Write(result);
    EXPECT_FALSE(reply.error);
    EXPECT_EQ(reply.status, 0u);
    EXPECT_EQ(reply.json, R"({"a":1})");
}

TEST(WriteResponseTest, ContentCodesOutsideOneToThreeBecomeZero) {
    for (uint32_t code : {0u, 1u, 2u, 3u, 4u, 7u, 0xFFFFFFFFu}) {
        CallResult result;
        result.settings.contentCode = code;
        EXPECT_EQ(Write(result).contentCode, code <= 3 ? code : 0u) << code;
    }
}

TEST(WriteResponseTest, TextAndHeadersAreHeapCopiesInOrder) {
    CallResult result;
    result.settings.contentFlag = true;
    result.settings.text = "Accepted";
    result.settings.headers = {{"B", "2"}, {"A", ""}, {"B", "3"}};
    const HostReply reply = Write(result);
    EXPECT_EQ(reply.contentFlag, 1);
    EXPECT_EQ(reply.text, "Accepted");
    EXPECT_THAT(reply.headers, ElementsAre(Pair("B", "2"), Pair("A", ""), Pair("B", "3")));
}

TEST(ReleaseResponseTest, ZeroedRecordAndSecondReleaseDoNothing) {
    HostResponseRecord response{};
    ReleaseResponse(&response);
    ReleaseResponse(nullptr);

    CallResult result;
    result.settings.text = "t";
    ASSERT_TRUE(WriteResponse(response, result, nullptr));
    ReleaseResponse(&response);
    ReleaseResponse(&response);
    static const HostResponseRecord kZero{};
    EXPECT_EQ(std::memcmp(&response, &kZero, sizeof(response)), 0);
}

TEST(ReleaseResponseTest, StaticTextsAreNeverFreed) {
    // A free of a static text would fail loudly in the sanitizer build.
    HostResponseRecord response{};
    WriteErrorResponse(response, "gone", 404);
    response.text = const_cast<char*>(EmptyResponseText());
    ReleaseResponse(&response);
    response.error = 1;
    response.errorMessage = const_cast<char*>(OutOfMemoryResponseText());
    response.text = const_cast<char*>(EmptyResponseText());
    ReleaseResponse(&response);
}

TEST(WriteErrorResponseTest, LeavesEveryOtherFieldZero) {
    HostResponseRecord response{};
    WriteErrorResponse(response, "Invalid function", 404);
    EXPECT_EQ(response.error, 1);
    EXPECT_STREQ(response.errorMessage, "Invalid function");
    EXPECT_EQ(KORVO_PACKED(response.status), 404u);
    EXPECT_EQ(KORVO_PACKED(response.text), nullptr);
    EXPECT_EQ(KORVO_PACKED(response.headers), nullptr);
    EXPECT_EQ(KORVO_PACKED(response.release), &ReleaseResponse);
    ReleaseResponse(&response);
}

TEST(WriteResponseTest, RunningOutOfMemoryLeavesOnlyWhatReleaseFrees) {
    CallResult result;
    result.Value().Member("list").Append() = "x";
    result.settings.text = "text";
    result.settings.headers = {{"A", "1"}, {"B", "2"}};
    bool written = false;
    int failures = 0;
    for (int allowed = 0; !written && allowed < 64; ++allowed) {
        HostResponseRecord response{};
        {
            Testing::AllocationBudget limit(allowed);
            written = WriteResponse(response, result, nullptr);
        }
        if (!written) ++failures;
        // Whatever was written is freed here; the sanitizer build reports
        // anything left behind.
        ReleaseResponse(&response);
    }
    EXPECT_TRUE(written);
    // The value's parts, the text, and each header's array, names and values.
    EXPECT_GE(failures, 8);
}

}  // namespace
}  // namespace Korvo
