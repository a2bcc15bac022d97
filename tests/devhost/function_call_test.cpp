// Choosing a function record for a request and calling it as the host core
// does: templates, methods, the request record and the response's release.
#include "host/common/function_call.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/devhost/scripted_api.h"

namespace Korvo::Host {
namespace {

using Testing::ScriptedApi;
using Testing::ScriptedFunction;
using ::testing::ElementsAre;
using ::testing::Pair;

constexpr uint32_t kGet = KORVO_METHOD_GET;
constexpr uint32_t kPost = KORVO_METHOD_POST;
constexpr uint32_t kPut = KORVO_METHOD_PUT;

struct FitCase {
    const char* pathTemplate;
    const char* path;
    bool fits;
};

TEST(PathTemplateTest, FitsLikeTheRoutesOwnExpressions) {
    const FitCase cases[] = {
        {"/v1/items", "/v1/items", true},
        {"/v1/items", "/v1/items/", false},
        {"/v1/items", "/V1/items", false},
        {"/v1/items/{id}", "/v1/items/a%20b", true},
        {"/v1/items/{id}", "/v1/items/", true},  // a segment may be empty
        {"/v1/items/{id}", "/v1/items/a/b", false},
        {"/v1/items/{id}/x", "/v1/items/7/x", true},
        {"/v1/items/{id}/x", "/v1/items/7/y", false},
        {"/files/{+rest}", "/files/a/b/c", true},
        {"/files/{+rest}", "/files/", true},
        {"/files/{+rest}", "/file", false},
        {"/doc{#part}", "/doc#intro", true},
        {"/doc{#part}", "/docintro", false},
        {"/a.b/{x}", "/a.b/1", true},
        {"/a.b/{x}", "/aXb/1", false},  // a dot is a dot
        {"/{a}.{b}", "/x.y.z", true},   // the first parameter takes what it must
        {"/{a}.json", "/list.json", true},
        {"/{a}.json", "/list.xml", false},
        // Templates the plug-in refuses fit nothing; one without '{' is
        // literal, '}' included.
        {"/x/{unclosed", "/x/", false},
        {"/x/{unclosed", "/x/{unclosed", false},
        {"/x/{a}}", "/x/1}", false},
        {"/x}", "/x}", true},
        {"/x}", "/x", false},
    };
    for (const FitCase& fit : cases) {
        EXPECT_EQ(PathTemplate(fit.pathTemplate).Fits(fit.path), fit.fits) << fit.pathTemplate << " " << fit.path;
    }
}

TEST(PathTemplateTest, LongHostilePathsFitInOnePass) {
    // Many segment parameters against a long path of one repeated character:
    // a backtracking matcher would take exponential time here.
    PathTemplate pathTemplate("/{a}{b}{c}{d}{e}{f}{g}{h}!");
    std::string path = "/" + std::string(200000, 'x');
    EXPECT_FALSE(pathTemplate.Fits(path));
    EXPECT_TRUE(pathTemplate.Fits(path + "!"));
}

TEST(PathTemplateTest, TemplatesLongerThanTheInlineWalkFitAlike) {
    const std::string prefix = "/" + std::string(100, 'p');
    PathTemplate pathTemplate(prefix + "/{id}/{+rest}");
    EXPECT_TRUE(pathTemplate.Fits(prefix + "/7/a/b"));
    EXPECT_TRUE(pathTemplate.Fits(prefix + "//"));
    EXPECT_FALSE(pathTemplate.Fits(prefix + "/7"));
    EXPECT_FALSE(pathTemplate.Fits("/" + std::string(99, 'p') + "/7/a"));
}

class FunctionRouterTest : public ::testing::Test {
protected:
    FunctionRouterTest() {
        api_.Add(kGet, "/v1/items", "List");
        api_.Add(kGet, "/v1/items/{id}", "Read");
        api_.Add(kPost, "/v1/items/{id}", "Write");
        api_.Add(kGet, "/v1/items/special", "Special");
        api_.Add(kPut, "", "ByNameOnly");
        router_ = FunctionRouter(api_.Descriptor());
    }

    std::string Chosen(uint32_t method, const std::string& path) {
        const HostFunctionRecord* record = router_.Find(method, path).record;
        return record ? record->description.name : "none";
    }

    ScriptedApi api_;
    FunctionRouter router_;
};

TEST_F(FunctionRouterTest, ChoosesByMethodAndTemplateIgnoringTheQuery) {
    EXPECT_EQ(Chosen(kGet, "/v1/items"), "List");
    EXPECT_EQ(Chosen(kGet, "/v1/items?x=1"), "List");
    EXPECT_EQ(Chosen(kGet, "/v1/items/7"), "Read");
    EXPECT_EQ(Chosen(kPost, "/v1/items/7?y"), "Write");
    EXPECT_EQ(Chosen(kPut, "/v1/items/7"), "none");
    EXPECT_EQ(Chosen(kGet, "/v2"), "none");
}

TEST_F(FunctionRouterTest, TheMoreLiteralTemplateWins) {
    EXPECT_EQ(Chosen(kGet, "/v1/items/special"), "Special");
    EXPECT_EQ(Chosen(kGet, "/v1/items/specia"), "Read");
}

TEST_F(FunctionRouterTest, ReportsTheMethodsServingAPath) {
    FunctionRouter::Lookup lookup = router_.Find(kPut, "/v1/items/7");
    EXPECT_EQ(lookup.record, nullptr);
    EXPECT_THAT(lookup.pathMethods, ElementsAre(kGet, kPost));
    EXPECT_TRUE(router_.Find(kPut, "/nothing").pathMethods.empty());
}

TEST_F(FunctionRouterTest, FunctionsWithoutATemplateAreFoundByNameOnly) {
    EXPECT_EQ(Chosen(kPut, ""), "none");
    ASSERT_NE(router_.FindByName("ByNameOnly"), nullptr);
    EXPECT_EQ(router_.FindByName("Nope"), nullptr);
}

TEST(FunctionRouterEmptyTest, ANullDescriptorServesNothing) {
    FunctionRouter router(nullptr);
    EXPECT_EQ(router.Size(), 0u);
    EXPECT_EQ(router.Find(kGet, "/").record, nullptr);
}

class CallFunctionTest : public ::testing::Test {
protected:
    CallFunctionTest() : function_(api_.Add(kPost, "/v1/items/{id}", "Write")) { api_.Descriptor(); }

    const HostFunctionRecord& Record() { return *FunctionRouter(api_.Descriptor()).FindByName("Write"); }
    static FunctionRequest Request() {
        FunctionRequest request;
        request.method = kPost;
        request.path = "/v1/items/7";
        return request;
    }

    ScriptedApi api_;
    ScriptedFunction& function_;
};

TEST_F(CallFunctionTest, PassesEveryPartOfTheRequest) {
    FunctionRequest request;
    request.method = kPost;
    request.path = "/v1/items/a%2Fb?q=1";
    request.hasBody = true;
    request.body = "{\"x\":1}";
    request.contentType = "application/json";
    request.headers = {{"Accept", "*/*"}, {"X-Two", "2"}};
    request.caller = 9;
    CallFunction(Record(), request);

    ASSERT_EQ(function_.Calls().size(), 1u);
    const std::vector<Testing::SeenRequest> calls = function_.Calls();
    const Testing::SeenRequest& seen = calls[0];
    EXPECT_EQ(seen.method, kPost);
    EXPECT_EQ(seen.path, "/v1/items/a%2Fb?q=1");
    EXPECT_THAT(seen.headers, ElementsAre(Pair("Accept", "*/*"), Pair("X-Two", "2")));
    EXPECT_EQ(seen.contentType, "application/json");
    EXPECT_EQ(seen.body, "{\"x\":1}");
    EXPECT_EQ(seen.caller, 9u);
}

TEST_F(CallFunctionTest, WithoutBodyOrContentTypeTheRecordCarriesNulls) {
    FunctionRequest request;
    request.method = kPost;
    request.path = "/v1/items/1";
    CallFunction(Record(), request);
    ASSERT_EQ(function_.Calls().size(), 1u);
    EXPECT_FALSE(function_.Calls()[0].hasBody);
    EXPECT_FALSE(function_.Calls()[0].hasContentType);
}

TEST_F(CallFunctionTest, CopiesTheResponseThenReleasesItOnce) {
    function_.answer.status = 201;
    function_.answer.value = OwnedHostValue::Object({{"id", OwnedHostValue::Int(7)}});
    function_.answer.headers = {{"X-Id", "7"}};
    const int releases = Testing::gScriptedReleases.load();
    FunctionResponse response = CallFunction(Record(), Request());
    EXPECT_FALSE(response.error);
    EXPECT_EQ(response.status, 201u);
    EXPECT_EQ(response.resultJson, "{\"id\":7}");
    EXPECT_THAT(response.headers, ElementsAre(Pair("X-Id", "7")));
    EXPECT_TRUE(response.releaseSet);
    EXPECT_TRUE(response.zeroAfterRelease);
    EXPECT_EQ(Testing::gScriptedReleases.load(), releases + 1);
}

TEST_F(CallFunctionTest, ReadsAStreamToItsEndAndReleasesIt) {
    function_.answer.streamChunks = {"[1,", "2,", "3]"};
    function_.answer.contentCode = KORVO_CONTENT_JSON;
    const int streams = Testing::gScriptedStreamReleases.load();
    FunctionResponse response = CallFunction(Record(), Request());
    EXPECT_TRUE(response.streamed);
    EXPECT_FALSE(response.streamFailed);
    EXPECT_EQ(response.streamBody, "[1,2,3]");
    EXPECT_EQ(Testing::gScriptedStreamReleases.load(), streams + 1);
}

TEST_F(CallFunctionTest, AFailingStreamIsStillReleased) {
    function_.answer.streamFails = true;
    const int streams = Testing::gScriptedStreamReleases.load();
    FunctionResponse response = CallFunction(Record(), Request());
    EXPECT_TRUE(response.streamFailed);
    EXPECT_EQ(Testing::gScriptedStreamReleases.load(), streams + 1);
}

TEST(MethodCodeTest, NamesAndCodes) {
    EXPECT_EQ(MethodCode("DELETE"), 1u);
    EXPECT_EQ(MethodCode("PUT"), 7u);
    EXPECT_EQ(MethodCode("get"), 0u);
    EXPECT_EQ(MethodCode("TRACE"), 0u);
    EXPECT_STREQ(MethodText(6), "POST");
    EXPECT_STREQ(MethodText(8), "");
    EXPECT_STREQ(MethodText(1000), "");
}

}  // namespace
}  // namespace Korvo::Host
