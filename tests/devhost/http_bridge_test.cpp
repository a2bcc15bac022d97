// From an HTTP request to a function record and from its response record to
// the HTTP answer, without a socket.
#include "host/devhost/http_bridge.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/devhost/scripted_api.h"

namespace Korvo::Host::Dev {
namespace {

using Testing::ScriptedApi;
using Testing::ScriptedFunction;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;

constexpr uint32_t kGet = KORVO_METHOD_GET;
constexpr uint32_t kPost = KORVO_METHOD_POST;

FunctionResponse Success(uint32_t status, const char* json, uint32_t type = KORVO_VALUE_OBJECT) {
    FunctionResponse response;
    response.status = status;
    response.resultJson = json;
    response.resultType = type;
    return response;
}

FunctionResponse Failure(uint32_t status, const char* message) {
    FunctionResponse response;
    response.error = true;
    response.errorMessage = message;
    response.status = status;
    response.resultJson = "null";
    return response;
}

struct MappingCase {
    const char* what;
    FunctionResponse response;
    int status;
    const char* contentType;
    const char* body;
};

TEST(AnswerFromResponseTest, StatusesAndBodies) {
    const MappingCase cases[] = {
        {"value, no status", Success(0, "{\"a\":1}"), 200, "application/json", "{\"a\":1}"},
        {"value with status", Success(201, "[1]", KORVO_VALUE_ARRAY), 201, "application/json", "[1]"},
        {"empty structure is a value", Success(0, "{}"), 200, "application/json", "{}"},
        {"no value, no status", Success(0, "null", KORVO_VALUE_NULL), 204, "", ""},
        {"no value with status", Success(202, "null", KORVO_VALUE_NULL), 202, "", ""},
        {"204 drops a value", Success(204, "{\"a\":1}"), 204, "", ""},
        {"status out of range", Success(7, "1", KORVO_VALUE_INT64), 200, "application/json", "1"},
        {"failure with status", Failure(404, "API not available"), 404, "application/json",
         "{\"message\":\"API not available\"}"},
        {"failure without status", Failure(0, "Couldn't read 'x'"), 400, "application/json",
         "{\"message\":\"Couldn't read 'x'\"}"},
        {"failure with a 1xx status", Failure(101, "m"), 400, "application/json", "{\"message\":\"m\"}"},
        {"failure with a huge status", Failure(70000, "m"), 400, "application/json", "{\"message\":\"m\"}"},
        {"message is escaped", Failure(400, "a \"b\"\n"), 400, "application/json",
         "{\"message\":\"a \\\"b\\\"\\n\"}"},
    };
    for (const MappingCase& mapping : cases) {
        HttpAnswer answer = AnswerFromResponse(mapping.response);
        EXPECT_EQ(answer.status, mapping.status) << mapping.what;
        EXPECT_EQ(answer.contentType, mapping.contentType) << mapping.what;
        EXPECT_EQ(answer.body, mapping.body) << mapping.what;
    }
}

TEST(AnswerFromResponseTest, StreamsAreTypedByTheirContentCode) {
    FunctionResponse response;
    response.streamed = true;
    response.streamBody = "a: 1\n";
    response.contentCode = KORVO_CONTENT_YAML;
    HttpAnswer answer = AnswerFromResponse(response);
    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.contentType, "application/x-yaml");
    EXPECT_EQ(answer.body, "a: 1\n");

    response.contentCode = 9;
    EXPECT_EQ(AnswerFromResponse(response).contentType, "application/octet-stream");
    response.streamFailed = true;
    EXPECT_EQ(AnswerFromResponse(response).status, 502);
}

TEST(AnswerFromResponseTest, OnlySafeNonFramingHeadersPassOn) {
    FunctionResponse response = Success(0, "1", 2);
    response.headers = {{"X-Ok", "yes"},           {"content-length", "99"}, {"Content-Type", "text/html"},
                        {"Transfer-Encoding", "x"}, {"Connection", "close"},  {"X-Split", "a\r\nSet-Cookie: b"},
                        {"Bad Name", "v"},          {"Bad:Name", "v"},        {"", "v"}};
    EXPECT_THAT(AnswerFromResponse(response).headers, ElementsAre(Pair("X-Ok", "yes")));
}

class PluginHttpBridgeTest : public ::testing::Test {
protected:
    PluginHttpBridgeTest()
        : list_(api_.Add(kGet, "/v1/items", "List")),
          read_(api_.Add(kGet, "/v1/items/{id}", "Read")),
          write_(api_.Add(kPost, "/v1/items/{id}", "Write")),
          bridge_(api_.Descriptor(), 0) {}

    HttpAnswer Send(const char* method, const char* target) {
        HttpRequestData request;
        request.method = method;
        request.target = target;
        return bridge_.Handle(request);
    }

    ScriptedApi api_;
    ScriptedFunction& list_;
    ScriptedFunction& read_;
    ScriptedFunction& write_;
    PluginHttpBridge bridge_;
};

TEST_F(PluginHttpBridgeTest, PassesTheRequestAsReceived) {
    HttpRequestData request;
    request.method = "POST";
    request.target = "/v1/items/a%2Fb?x=%20";
    request.headers = {{"Content-Type", "application/x-msgpack"}, {"X-A", "1"}};
    request.contentType = "application/x-msgpack";
    request.hasBody = true;
    request.body = std::string("\x81\xa1" "a\x00", 4);
    HttpAnswer answer = bridge_.Handle(request);
    EXPECT_EQ(answer.status, 204);

    ASSERT_EQ(write_.Calls().size(), 1u);
    const std::vector<Testing::SeenRequest> calls = write_.Calls();
    const Testing::SeenRequest& seen = calls[0];
    EXPECT_EQ(seen.method, kPost);
    EXPECT_EQ(seen.path, "/v1/items/a%2Fb?x=%20");
    // Header names are handed over in lower case, whatever case they came in.
    EXPECT_THAT(seen.headers, ElementsAre(Pair("content-type", "application/x-msgpack"), Pair("x-a", "1")));
    EXPECT_EQ(seen.contentType, "application/x-msgpack");
    EXPECT_EQ(seen.body, std::string("\x81\xa1" "a\x00", 4));
    EXPECT_EQ(seen.caller, 0u);
}

// The plug-in matches a literal route against the whole path, so the query
// of such a request arrives as named arguments, decoded as a form; a route
// with parameters gets the query in its path, as the plug-in reads it there.
TEST_F(PluginHttpBridgeTest, TheQueryOfALiteralRouteArrivesAsArguments) {
    HttpAnswer listed = Send("GET", "/v1/items?tone=Friendly&tag=a%20b+c&flag&=skipped&bad=%zz");
    EXPECT_EQ(listed.status, 204);
    ASSERT_EQ(list_.Calls().size(), 1u);
    const Testing::SeenRequest seen = list_.Calls()[0];
    EXPECT_EQ(seen.path, "/v1/items");
    EXPECT_THAT(seen.arguments, ElementsAre(Pair("tone", "\"Friendly\""), Pair("tag", "\"a b c\""),
                                            Pair("flag", "\"\""), Pair("bad", "\"%zz\"")));

    Send("GET", "/v1/items/7?tone=Friendly");
    ASSERT_EQ(read_.Calls().size(), 1u);
    EXPECT_EQ(read_.Calls()[0].path, "/v1/items/7?tone=Friendly");
    EXPECT_TRUE(read_.Calls()[0].arguments.empty());
}

TEST_F(PluginHttpBridgeTest, UnknownPathsAndMethods) {
    HttpAnswer missing = Send("GET", "/v2/other");
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.body, "{\"message\":\"No function of the plug-in serves /v2/other\"}");

    HttpAnswer wrongMethod = Send("DELETE", "/v1/items/3");
    EXPECT_EQ(wrongMethod.status, 405);
    EXPECT_EQ(wrongMethod.body, "{\"message\":\"No function of the plug-in serves DELETE /v1/items/3\"}");
    EXPECT_THAT(wrongMethod.headers, ElementsAre(Pair("Allow", "HEAD, GET, POST, OPTIONS")));

    HttpAnswer options = Send("OPTIONS", "/v1/items");
    EXPECT_EQ(options.status, 204);
    EXPECT_THAT(options.headers, ElementsAre(Pair("Allow", "HEAD, GET, OPTIONS")));

    EXPECT_EQ(Send("TRACE", "/v1/items").status, 405);
    EXPECT_THAT(list_.Calls(), IsEmpty());
    EXPECT_THAT(write_.Calls(), IsEmpty());
}

TEST_F(PluginHttpBridgeTest, HeadCallsTheGetFunction) {
    read_.answer.value = OwnedHostValue::String("x");
    HttpAnswer answer = Send("HEAD", "/v1/items/3");
    EXPECT_EQ(answer.status, 200);
    ASSERT_EQ(read_.Calls().size(), 1u);
    EXPECT_EQ(read_.Calls()[0].method, kGet);
}

TEST_F(PluginHttpBridgeTest, TheFunctionsAnswerBecomesTheHttpAnswer) {
    list_.answer.value = OwnedHostValue::Object({{"a", OwnedHostValue::Bool(true)}});
    list_.answer.headers = {{"X-Count", "1"}};
    HttpAnswer listed = Send("GET", "/v1/items?page=2");
    EXPECT_EQ(listed.status, 200);
    EXPECT_EQ(listed.contentType, "application/json");
    EXPECT_EQ(listed.body, "{\"a\":true}");
    EXPECT_THAT(listed.headers, ElementsAre(Pair("X-Count", "1")));
    EXPECT_EQ(list_.Calls()[0].path, "/v1/items");

    read_.answer.error = true;
    read_.answer.status = 404;
    read_.answer.message = "Cannot find UI State for feature 3";
    HttpAnswer failed = Send("GET", "/v1/items/3");
    EXPECT_EQ(failed.status, 404);
    EXPECT_EQ(failed.body, "{\"message\":\"Cannot find UI State for feature 3\"}");
}

}  // namespace
}  // namespace Korvo::Host::Dev
