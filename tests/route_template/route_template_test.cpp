// The route-template grammar as korvo_plugin.h states it at
// KorvoHostFunctionRecord: templates that must be read, with what they are
// made of, and templates that must be refused, with the byte at fault.
#include "sdk/route_template/route_template.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Korvo {
namespace {

using K = RouteParameterKind;
using P = RouteTemplateProblem;

struct ParsedCase {
    const char* routeTemplate;
    std::string leading;
    std::vector<RouteTemplateParameter> parameters;
};

TEST(ParseRouteTemplateTest, ReadsWhatTheGrammarAllows) {
    const ParsedCase cases[] = {
        // Literal paths: no '{', every byte stands for itself.
        {"", "", {}},
        {"/v1/items", "/v1/items", {}},
        {"/a}b}", "/a}b}", {}},
        {"/a.b*c?d#e", "/a.b*c?d#e", {}},
        // The three kinds, and the text around them kept byte for byte.
        {"/v1/items/{id}.json", "/v1/items/", {{K::Segment, "id", 10, ".json"}}},
        {"/files/{+rest}", "/files/", {{K::Reserved, "rest", 7, ""}}},
        {"/doc{#part}", "/doc", {{K::Fragment, "part", 4, ""}}},
        {"{a}{+b}{#c}", "", {{K::Segment, "a", 0, ""}, {K::Reserved, "b", 3, ""}, {K::Fragment, "c", 7, ""}}},
        // Only the first byte after '{' chooses the kind.
        {"/{++a}", "/", {{K::Reserved, "+a", 1, ""}}},
        {"/{#+a}", "/", {{K::Fragment, "+a", 1, ""}}},
        {"/{+#}", "/", {{K::Reserved, "#", 1, ""}}},
        {"/{a+b}", "/", {{K::Segment, "a+b", 1, ""}}},
        {"/{a#}", "/", {{K::Segment, "a#", 1, ""}}},
        // A name is any bytes but braces, and may repeat.
        {"/{a/b c}", "/", {{K::Segment, "a/b c", 1, ""}}},
        {"/{a}/{a}", "/", {{K::Segment, "a", 1, "/"}, {K::Segment, "a", 5, ""}}},
    };
    for (const ParsedCase& c : cases) {
        const RouteTemplateParse parse = ParseRouteTemplate(c.routeTemplate);
        ASSERT_TRUE(parse.Ok()) << c.routeTemplate << ": " << parse.error.Message();
        EXPECT_EQ(parse.parsed, (ParsedRouteTemplate{c.leading, c.parameters})) << c.routeTemplate;
        EXPECT_EQ(parse.parsed.IsLiteral(), c.parameters.empty()) << c.routeTemplate;
        EXPECT_EQ(parse.error.Message(), "") << c.routeTemplate;
    }
}

struct RefusedCase {
    const char* routeTemplate;
    P problem;
    size_t offset;
    const char* message;
    size_t parametersBefore;  // read before the problem
};

TEST(ParseRouteTemplateTest, RefusesStrayBracesAndEmptyNames) {
    const RefusedCase cases[] = {
        {"{", P::NotClosed, 0, "the parameter opened at offset 0 is not closed", 0},
        {"/x/{a", P::NotClosed, 3, "the parameter opened at offset 3 is not closed", 0},
        {"/{a}/{b", P::NotClosed, 5, "the parameter opened at offset 5 is not closed", 1},
        // Once there is a '{', a '}' is no longer literal text.
        {"/{a}/b}", P::CloseOutsideParameter, 6, "'}' at offset 6 closes no parameter", 1},
        {"}{a}", P::CloseOutsideParameter, 0, "'}' at offset 0 closes no parameter", 0},
        {"/{a{b}", P::OpenInsideParameter, 3, "'{' at offset 3 inside the parameter opened at offset 1", 0},
        {"/{}", P::NoName, 1, "the parameter at offset 1 has no name", 0},
        {"/{+}", P::NoName, 1, "the parameter at offset 1 has no name", 0},
        {"/{#}x", P::NoName, 1, "the parameter at offset 1 has no name", 0},
        {"/{a}{}", P::NoName, 4, "the parameter at offset 4 has no name", 1},
    };
    for (const RefusedCase& c : cases) {
        const RouteTemplateParse parse = ParseRouteTemplate(c.routeTemplate);
        EXPECT_FALSE(parse.Ok()) << c.routeTemplate;
        EXPECT_EQ(parse.error.problem, c.problem) << c.routeTemplate;
        EXPECT_EQ(parse.error.offset, c.offset) << c.routeTemplate;
        EXPECT_EQ(parse.error.Message(), c.message) << c.routeTemplate;
        EXPECT_EQ(parse.parsed.parameters.size(), c.parametersBefore) << c.routeTemplate;
    }
}

}  // namespace
}  // namespace Korvo
