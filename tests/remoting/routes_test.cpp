#include "sdk/remoting/routes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Korvo {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Pair;
using ::testing::UnorderedElementsAre;

// Distinct addresses standing for records and functions that routes only
// carry; they are never dereferenced.
const RouteRecord* FakeRecord(int index) {
    static char storage[8];
    return reinterpret_cast<const RouteRecord*>(&storage[index]);
}
const BindingFunctionDescriptor* FakeFunction(int index) {
    static char storage[8];
    return reinterpret_cast<const BindingFunctionDescriptor*>(&storage[index]);
}

TEST(MethodNameTest, NamesCodesOneToSevenOnly) {
    EXPECT_STREQ(MethodName(HttpMethod::Delete), "DELETE");
    EXPECT_STREQ(MethodName(HttpMethod::Get), "GET");
    EXPECT_STREQ(MethodName(HttpMethod::Head), "HEAD");
    EXPECT_STREQ(MethodName(HttpMethod::Options), "OPTIONS");
    EXPECT_STREQ(MethodName(HttpMethod::Patch), "PATCH");
    EXPECT_STREQ(MethodName(HttpMethod::Post), "POST");
    EXPECT_STREQ(MethodName(HttpMethod::Put), "PUT");
    EXPECT_STREQ(MethodName(HttpMethod::Any), "");
    EXPECT_STREQ(MethodName(HttpMethod::Call), "");
    EXPECT_STREQ(MethodName(static_cast<HttpMethod>(99)), "");
}

TEST(MethodNameTest, HostCodesOutsideOneToEightBecomeAny) {
    EXPECT_EQ(HttpMethodFromCode(0), HttpMethod::Any);
    EXPECT_EQ(HttpMethodFromCode(1), HttpMethod::Delete);
    EXPECT_EQ(HttpMethodFromCode(8), HttpMethod::Call);
    EXPECT_EQ(HttpMethodFromCode(9), HttpMethod::Any);
    EXPECT_EQ(HttpMethodFromCode(0xFFFFFFFFu), HttpMethod::Any);
}

struct NameCase {
    HttpMethod method;
    const char* routeTemplate;
    const char* name;
};

TEST(FunctionNameFromRouteTest, Table) {
    const NameCase cases[] = {
        {HttpMethod::Get, "/qem-quorvex-zv/v1/ui-states/{feature}", "GetQemQuorvexZvV1UiStatesByFeature"},
        {HttpMethod::Post, "/qem-quorvex-zv/v1/ui-states/{feature}", "PostQemQuorvexZvV1UiStatesByFeature"},
        {HttpMethod::Get, "/qem-quorvex-zv/v1/ui-states", "GetQemQuorvexZvV1UiStates"},
        {HttpMethod::Delete, "/qem-quorvex-zv/v1/ui-states", "DeleteQemQuorvexZvV1UiStates"},
        {HttpMethod::Options, "/x", "OptionsX"},
        {HttpMethod::Get, "/a/{b}", "GetAByB"},
        // Codes without a method name start with the capitalised path.
        {HttpMethod::Any, "/a/b", "AB"},
        {HttpMethod::Call, "/a/b", "AB"},
        {static_cast<HttpMethod>(42), "/a/b", "AB"},
        // Every separator capitalises what follows and drops out.
        {HttpMethod::Put, "/a!b+c-d.e_f", "PutABCDEF"},
        // '+' in a reserved parameter drops out after "By".
        {HttpMethod::Get, "/files/{+rest}", "GetFilesByRest"},
        // '}' keeps the flag: the letter after it is not capitalised.
        {HttpMethod::Get, "/{a}b", "GetByAb"},
        // '#' is copied like a letter, and clears the flag.
        {HttpMethod::Get, "/doc{#part}", "GetDocBy#part"},
        // Letters already in upper case inside words stay as they are.
        {HttpMethod::Patch, "/myThing/HTTP", "PatchMyThingHTTP"},
        {HttpMethod::Head, "", "Head"},
    };
    for (const NameCase& c : cases) {
        EXPECT_EQ(FunctionNameFromRoute(c.method, c.routeTemplate), c.name) << c.routeTemplate;
    }
}

TEST(NormaliseRoutePathTest, DropsOneTrailingSlash) {
    EXPECT_EQ(NormaliseRoutePath("/a/b/"), "/a/b");
    EXPECT_EQ(NormaliseRoutePath("/a/b//"), "/a/b/");
    EXPECT_EQ(NormaliseRoutePath("/a/b"), "/a/b");
    EXPECT_EQ(NormaliseRoutePath("/"), "/");
    EXPECT_EQ(NormaliseRoutePath("//"), "/");
    EXPECT_EQ(NormaliseRoutePath(""), "");
}

struct RegexCase {
    const char* routeTemplate;
    const char* expression;
    std::vector<RouteParameter> parameters;
};

TEST(TemplateToRegexTest, Table) {
    using K = RouteParameterKind;
    const RegexCase cases[] = {
        {"/v1/items/{id}", "/v1/items/([^/]*)", {{K::Segment, "id"}}},
        {"/files/{+rest}", "/files/(.*)", {{K::Reserved, "rest"}}},
        {"/doc{#part}", "/doc#(.*)", {{K::Fragment, "part"}}},
        {"/v1/items", "/v1/items", {}},
        {"/a.b", "/a\\.b", {}},
        {"^$.*+?()[]|\\", "\\^\\$\\.\\*\\+\\?\\(\\)\\[\\]\\|\\\\", {}},
        {"/a-b/c_d~e#f", "/a-b/c_d~e#f", {}},
        {"/{a}/{+b}{#c}", "/([^/]*)/(.*)#(.*)", {{K::Segment, "a"}, {K::Reserved, "b"}, {K::Fragment, "c"}}},
        {"/{a}{b}", "/([^/]*)([^/]*)", {{K::Segment, "a"}, {K::Segment, "b"}}},
        // Only a first '+' or '#' chooses the kind; later ones are name.
        {"/{a+b}/{++c}/{#+d}", "/([^/]*)/(.*)/#(.*)", {{K::Segment, "a+b"}, {K::Reserved, "+c"}, {K::Fragment, "+d"}}},
        // Malformed templates: what the translation leaves (CompileRoute
        // refuses them).
        {"/a}", "/a", {{K::None, ""}}},
        {"/{a{b}", "/([^/]*)", {{K::Segment, "ab"}}},
        {"/{+a{b}", "/([^/]*)", {{K::Segment, "ab"}}},
        {"/x/{a", "/x/", {}},
    };
    for (const RegexCase& c : cases) {
        std::vector<RouteParameter> parameters{{K::Segment, "stale"}};
        EXPECT_EQ(TemplateToRegex(c.routeTemplate, parameters), c.expression) << c.routeTemplate;
        EXPECT_EQ(parameters, c.parameters) << c.routeTemplate;
    }
}

TEST(CompileRouteTest, LiteralTemplateKeepsPathAndViewAndTargets) {
    CompiledRoute route =
        CompileRoute("/v1/items", FakeRecord(1), FakeFunction(2), RouteRecordView{HttpMethod::Call, "DoIt"});
    EXPECT_TRUE(route.IsValid());
    EXPECT_EQ(route.literalPath, "/v1/items");
    EXPECT_FALSE(route.pattern.IsCompiled());
    EXPECT_THAT(route.parameters, IsEmpty());
    EXPECT_EQ(route.record, FakeRecord(1));
    EXPECT_EQ(route.function, FakeFunction(2));
    EXPECT_EQ(route.method, HttpMethod::Call);
    EXPECT_EQ(route.functionName, "DoIt");
}

TEST(CompileRouteTest, TemplateWithParametersGetsPattern) {
    CompiledRoute route = CompileRoute("/v1/items/{id}.json", nullptr, nullptr);
    ASSERT_TRUE(route.IsValid()) << route.error;
    EXPECT_THAT(route.literalPath, IsEmpty());
    EXPECT_EQ(route.pattern.Expression(), "/v1/items/([^/]*)\\.json");
    EXPECT_EQ(route.parameters, (std::vector<RouteParameter>{{RouteParameterKind::Segment, "id"}}));
}

struct BadTemplateCase {
    const char* routeTemplate;
    const char* problem;
};

TEST(CompileRouteTest, MalformedTemplatesFailAndMatchNothing) {
    const BadTemplateCase cases[] = {
        {"/x/{a", "the parameter opened at offset 3 is not closed"},
        {"/{a}/b}", "'}' at offset 6 closes no parameter"},
        {"/{a{b}", "'{' at offset 3 inside the parameter opened at offset 1"},
        {"/{}", "the parameter at offset 1 has no name"},
        {"/{+}", "the parameter at offset 1 has no name"},
        {"/{#}", "the parameter at offset 1 has no name"},
    };
    for (const BadTemplateCase& c : cases) {
        CompiledRoute route = CompileRoute(c.routeTemplate, nullptr, nullptr);
        EXPECT_FALSE(route.IsValid()) << c.routeTemplate;
        EXPECT_THAT(route.error, HasSubstr(std::string("Route template '") + c.routeTemplate + "'"));
        EXPECT_THAT(route.error, HasSubstr(c.problem));
        EXPECT_FALSE(route.pattern.IsCompiled());
        EXPECT_THAT(route.parameters, IsEmpty());
        ParameterMap parameters;
        EXPECT_FALSE(MatchRoute(route, "/x/", parameters)) << c.routeTemplate;
        EXPECT_FALSE(MatchRoute(route, "/a", parameters)) << c.routeTemplate;
        EXPECT_THAT(parameters, IsEmpty());
    }
}

TEST(RoutePatternTest, CompileRefusesWhatTheTemplatesNeverProduce) {
    const char* const refused[] = {"a*", "(a)", "[^/]*", "\\d", "a\\", "(.+)", "a{2}", "x|y", "^a", "([^/]*"};
    for (const char* expression : refused) {
        RoutePattern pattern;
        std::string error;
        EXPECT_FALSE(pattern.Compile(expression, &error)) << expression;
        EXPECT_THAT(error, HasSubstr("of the expression")) << expression;
        EXPECT_FALSE(pattern.IsCompiled());
        RoutePattern::Capture captures[1];
        EXPECT_FALSE(pattern.Match(expression, captures));
    }
}

struct MatchCase {
    const char* routeTemplate;
    const char* path;
    bool matches;
    std::vector<std::pair<std::string, std::string>> parameters;
};

TEST(MatchRouteTest, Table) {
    const MatchCase cases[] = {
        {"/v1/items/{id}", "/v1/items/a%20b", true, {{"id", "a b"}}},
        {"/v1/items/{id}", "/v1/items/", true, {{"id", ""}}},
        {"/v1/items/{id}", "/v1/items/a/b", false, {}},
        {"/v1/items/{id}", "/V1/items/x", false, {}},
        {"/v1/items/{id}", "/v1/items", false, {}},
        // An encoded slash is decoded after matching, so it stays in a segment.
        {"/v1/items/{id}", "/v1/items/a%2Fb", true, {{"id", "a/b"}}},
        {"/v1/items/{id}", "/v1/items/x?q=1", true, {{"id", "x?q=1"}}},
        {"/files/{+rest}", "/files/a/b/c.txt", true, {{"rest", "a/b/c.txt"}}},
        {"/files/{+rest}", "/files/", true, {{"rest", ""}}},
        {"/doc{#part}", "/doc#intro/2", true, {{"part", "intro/2"}}},
        {"/doc{#part}", "/doc", false, {}},
        {"/doc{#part}", "/docs#x", false, {}},
        // A literal dot is a dot.
        {"/a.{ext}", "/a.json", true, {{"ext", "json"}}},
        {"/a.{ext}", "/ab.json", false, {}},
        // Earlier captures take as much as the rest allows.
        {"/{+a}/{+b}", "/x/y/z", true, {{"a", "x/y"}, {"b", "z"}}},
        {"/{a}.{b}", "/x.y.z", true, {{"a", "x.y"}, {"b", "z"}}},
        {"/{a}{b}", "/xy", true, {{"a", "xy"}, {"b", ""}}},
        {"/{+a}.json", "/x.json/y.json", true, {{"a", "x.json/y"}}},
        // A later parameter of the same name wins.
        {"/{a}/{a}", "/1/2", true, {{"a", "2"}}},
        // "(.*)" stops at line breaks, as ECMAScript's '.' does.
        {"/files/{+rest}", "/files/a\nb", false, {}},
        {"/files/{+rest}", "/files/a\rb", false, {}},
        {"/v1/{id}", "/v1/a\nb", true, {{"id", "a\nb"}}},
        // Literal routes: the identical bytes only, a query part included.
        {"/v1/items", "/v1/items", true, {}},
        {"/v1/items", "/v1/items/", false, {}},
        {"/v1/items", "/v1/items?x=1", false, {}},
        {"/v1/items", "/v1/Items", false, {}},
        {"", "", false, {}},
    };
    for (const MatchCase& c : cases) {
        CompiledRoute route = CompileRoute(c.routeTemplate, nullptr, nullptr);
        ASSERT_TRUE(route.IsValid()) << route.error;
        ParameterMap parameters{{"other", "kept"}};
        EXPECT_EQ(MatchRoute(route, c.path, parameters), c.matches) << c.routeTemplate << " " << c.path;
        ParameterMap expected{{"other", "kept"}};
        if (c.matches) expected.insert(c.parameters.begin(), c.parameters.end());
        EXPECT_EQ(parameters, expected) << c.routeTemplate << " " << c.path;
    }
}

// Routes for MatchRoutes: template, record index, method, function name.
CompiledRoute Route(const char* routeTemplate, int index, HttpMethod method = HttpMethod::Any,
                    const char* functionName = "") {
    return CompileRoute(routeTemplate, FakeRecord(index), FakeFunction(index), RouteRecordView{method, functionName});
}

RouteMatch Request(HttpMethod method, const char* path, const char* functionName = "") {
    RouteMatch match;
    match.method = method;
    match.path = path;
    match.functionName = functionName;
    return match;
}

TEST(MatchRoutesTest, FewerParameterBytesWin) {
    const CompiledRoute routes[] = {Route("/items/{+rest}", 0), Route("/items/{id}", 1), Route("/items/{id}/x", 2)};
    RouteMatch match = Request(HttpMethod::Get, "/items/ab/x");
    ASSERT_TRUE(MatchRoutes(match, routes));
    EXPECT_EQ(match.record, FakeRecord(2));
    EXPECT_EQ(match.function, FakeFunction(2));
    EXPECT_THAT(match.pathParameters, ElementsAre(Pair("id", "ab")));
}

TEST(MatchRoutesTest, EqualTotalsKeepTheEarlierRoute) {
    const CompiledRoute routes[] = {Route("/items/{a}", 0), Route("/items/{b}", 1)};
    RouteMatch match = Request(HttpMethod::Get, "/items/xy");
    ASSERT_TRUE(MatchRoutes(match, routes));
    EXPECT_EQ(match.record, FakeRecord(0));
    EXPECT_THAT(match.pathParameters, ElementsAre(Pair("a", "xy")));
}

TEST(MatchRoutesTest, TotalsCountDecodedBytes) {
    // The second route's value is nine bytes in the path but three once
    // decoded, fewer than the first route's four.
    const CompiledRoute routes[] = {Route("/%41%42%43/{b}", 0), Route("/{a}/wxyz", 1)};
    RouteMatch match = Request(HttpMethod::Get, "/%41%42%43/wxyz");
    ASSERT_TRUE(MatchRoutes(match, routes));
    EXPECT_EQ(match.record, FakeRecord(1));
    EXPECT_THAT(match.pathParameters, ElementsAre(Pair("a", "ABC")));
}

TEST(MatchRoutesTest, RouteWithoutParametersEndsTheSearch) {
    const CompiledRoute routes[] = {Route("/items/{id}", 0), Route("/items/all", 1), Route("/items/all", 2)};
    RouteMatch match = Request(HttpMethod::Get, "/items/all");
    ASSERT_TRUE(MatchRoutes(match, routes));
    EXPECT_EQ(match.record, FakeRecord(1));
    EXPECT_THAT(match.pathParameters, IsEmpty());
}

TEST(MatchRoutesTest, MethodMustEqualTheRecordsUnlessItIsAny) {
    const CompiledRoute routes[] = {Route("/a/{id}", 0, HttpMethod::Get)};
    RouteMatch post = Request(HttpMethod::Post, "/a/1");
    EXPECT_FALSE(MatchRoutes(post, routes));
    EXPECT_EQ(post.record, nullptr);
    EXPECT_EQ(post.function, nullptr);
    EXPECT_THAT(post.pathParameters, IsEmpty());
    RouteMatch get = Request(HttpMethod::Get, "/a/1");
    EXPECT_TRUE(MatchRoutes(get, routes));

    const CompiledRoute anyMethod[] = {Route("/a/{id}", 0, HttpMethod::Any)};
    for (HttpMethod method : {HttpMethod::Any, HttpMethod::Delete, HttpMethod::Put, HttpMethod::Call}) {
        RouteMatch match = Request(method, "/a/1", "Whatever");
        EXPECT_TRUE(MatchRoutes(match, anyMethod));
    }
    // Routes without a record accept every method too.
    const CompiledRoute noRecord[] = {CompileRoute("/a/{id}", nullptr, nullptr)};
    RouteMatch put = Request(HttpMethod::Put, "/a/1");
    EXPECT_TRUE(MatchRoutes(put, noRecord));
}

TEST(MatchRoutesTest, CallNeedsTheRecordsFunctionName) {
    const CompiledRoute routes[] = {Route("DoThing", 0, HttpMethod::Call, "DoThing")};
    RouteMatch wrongName = Request(HttpMethod::Call, "DoThing", "DoOther");
    EXPECT_FALSE(MatchRoutes(wrongName, routes));
    RouteMatch rightName = Request(HttpMethod::Call, "DoThing", "DoThing");
    EXPECT_TRUE(MatchRoutes(rightName, routes));
    // A record whose name was cleared takes ordinary methods only.
    const CompiledRoute cleared[] = {Route("/a", 0, HttpMethod::Get, "")};
    RouteMatch get = Request(HttpMethod::Get, "/a");
    EXPECT_TRUE(MatchRoutes(get, cleared));
    RouteMatch getWithName = Request(HttpMethod::Get, "/a", "X");
    EXPECT_FALSE(MatchRoutes(getWithName, cleared));
}

TEST(MatchRoutesTest, SkipsRoutesThatDoNotQualify) {
    const CompiledRoute routes[] = {Route("/a/{x}", 0, HttpMethod::Post), Route("/b/{x}", 1),
                                    Route("/a/{+y}", 2, HttpMethod::Get), Route("/a/{x", 3)};
    RouteMatch match = Request(HttpMethod::Get, "/a/1");
    ASSERT_TRUE(MatchRoutes(match, routes));
    EXPECT_EQ(match.record, FakeRecord(2));
    EXPECT_THAT(match.pathParameters, ElementsAre(Pair("y", "1")));
    RouteMatch none = Request(HttpMethod::Get, "/c/1");
    EXPECT_FALSE(MatchRoutes(none, routes));
    RouteMatch empty = Request(HttpMethod::Get, "/a/1");
    EXPECT_FALSE(MatchRoutes(empty, {}));
}

struct DecodeCase {
    std::string text;
    std::string decoded;
};

TEST(PercentDecodeTest, Table) {
    const DecodeCase cases[] = {
        {"a+b%41%4", "a bA4"},
        {"", ""},
        {"plain/text", "plain/text"},
        {"%7e%7E", "~~"},
        {"%", ""},
        {"%4", "4"},
        {"x%", "x"},
        {"%%41", "?1"},  // the escape's digits are "%4"
        {"%00", std::string(1, '\0')},
        {"%ff%FF", "\xff\xff"},
        {"%2B", "+"},
        {"++", "  "},
        // Malformed escapes consume both characters and give one '?'.
        {"%zz", "?"},
        {"%4g!", "?!"},
        {"%g4", "?"},
        {"%+1", "?"},
        {"a%/fb", "a?b"},
    };
    for (const DecodeCase& c : cases) {
        EXPECT_EQ(PercentDecode(c.text), c.decoded) << c.text;
    }
    std::string out = "kept:";
    AppendPercentDecoded("a%20b", out);
    EXPECT_EQ(out, "kept:a b");
}

TEST(ParseQueryStringTest, Table) {
    EXPECT_THAT(ParseQueryString(""), IsEmpty());
    EXPECT_THAT(ParseQueryString("x=1&y&x=2"), UnorderedElementsAre(Pair("x", "2"), Pair("y", "")));
    EXPECT_THAT(ParseQueryString("a&&b"), UnorderedElementsAre(Pair("", ""), Pair("a", ""), Pair("b", "")));
    EXPECT_THAT(ParseQueryString("&"), UnorderedElementsAre(Pair("", "")));
    EXPECT_THAT(ParseQueryString("a=b=c"), UnorderedElementsAre(Pair("a", "b=c")));
    EXPECT_THAT(ParseQueryString("=v"), UnorderedElementsAre(Pair("", "v")));
    EXPECT_THAT(ParseQueryString("k="), UnorderedElementsAre(Pair("k", "")));
    EXPECT_THAT(ParseQueryString("n%20a+me=v%26al+ue"), UnorderedElementsAre(Pair("n a me", "v&al ue")));
    EXPECT_THAT(ParseQueryString("a%3Db=1"), UnorderedElementsAre(Pair("a=b", "1")));
}

}  // namespace
}  // namespace Korvo
