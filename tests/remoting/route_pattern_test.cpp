// The route matcher against std::regex, and on paths too long for std::regex.
#include "sdk/remoting/routes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <regex>
#include <string>
#include <vector>

namespace Korvo {
namespace {

// Templates whose captures depend on how far each greedy capture gives back:
// several reserved parameters, reserved parameters before literals and
// segments, adjacent parameters, fragments, literal dots and '#'.
const char* const kTemplates[] = {
    "/{a}",
    "/{+a}",
    "{#f}",
    "/{a}/{b}",
    "/{+a}/{+b}",
    "{+a}.{+b}",
    "{a}{b}",
    "{+a}{+b}",
    "{+a}{b}",
    "{a}{+b}",
    "/{+a}a",
    "{+a}/a{b}",
    "{a}.{b}.{c}",
    "{+a}#{b}",
    "/a{#f}",
    "{+a}{#f}",
    "{#f}{#g}",
    "{a}a{+b}b",
    "{+a}ab{+b}ba{c}",
    "a.{a}",
    "{a}//{+b}/",
    "{+a}%{a}",
    "{a}/{+b}/{c}",
    "{+a}{b}{+c}",
    "{a}{b}{c}{d}",
    "{+a}.{b}",
    "{a}#{+b}.",
    "%{+a}%",
    "{+a}a{b}aa",
    "{#a}/.{b}.{+c}",
    ".{+a}#{b}#{c}",
};

struct Outcome {
    bool matched = false;
    std::vector<RoutePattern::Capture> captures;
};

Outcome WithRegex(const std::regex& regex, const std::string& subject) {
    Outcome outcome;
    std::smatch match;
    outcome.matched = std::regex_match(subject, match, regex);
    if (outcome.matched) {
        for (size_t i = 1; i < match.size(); ++i) {
            EXPECT_TRUE(match[i].matched);
            auto begin = static_cast<size_t>(match[i].first - subject.begin());
            auto end = static_cast<size_t>(match[i].second - subject.begin());
            outcome.captures.push_back({begin, end});
        }
    }
    return outcome;
}

Outcome WithPattern(const RoutePattern& pattern, const std::string& subject) {
    Outcome outcome;
    std::vector<RoutePattern::Capture> captures(pattern.GroupCount(), RoutePattern::Capture{999, 999});
    outcome.matched = pattern.Match(subject, captures);
    if (outcome.matched) outcome.captures = captures;
    return outcome;
}

std::string Printable(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (static_cast<unsigned char>(c) >= 0x80) out += "\\x" + std::to_string(static_cast<unsigned char>(c));
        else out += c;
    }
    return out;
}

// Compares the two on one subject; returns false (after reporting) when they
// differ, so a caller can stop at the first difference.
bool SameOutcome(const char* routeTemplate, const std::regex& regex, const RoutePattern& pattern,
                 const std::string& subject) {
    Outcome expected = WithRegex(regex, subject);
    Outcome actual = WithPattern(pattern, subject);
    bool same = expected.matched == actual.matched && expected.captures.size() == actual.captures.size();
    for (size_t i = 0; same && i < expected.captures.size(); ++i) {
        same = expected.captures[i].begin == actual.captures[i].begin &&
               expected.captures[i].end == actual.captures[i].end;
    }
    if (!same) {
        std::string expectedText;
        for (auto c : expected.captures) expectedText += " [" + std::to_string(c.begin) + "," + std::to_string(c.end) + ")";
        std::string actualText;
        for (auto c : actual.captures) actualText += " [" + std::to_string(c.begin) + "," + std::to_string(c.end) + ")";
        ADD_FAILURE() << "template " << routeTemplate << " path \"" << Printable(subject) << "\": std::regex "
                      << expected.matched << expectedText << ", pattern " << actual.matched << actualText;
    }
    return same;
}

// Every string over alphabet up to maxLength, through visit until it says stop.
template <typename Visit>
void ForEachString(const std::string& alphabet, size_t maxLength, Visit visit) {
    std::vector<size_t> digits;
    std::string text;
    for (size_t length = 0; length <= maxLength; ++length) {
        digits.assign(length, 0);
        text.assign(length, alphabet[0]);
        for (;;) {
            if (!visit(text)) return;
            size_t position = 0;
            while (position < length && ++digits[position] == alphabet.size()) {
                digits[position] = 0;
                text[position] = alphabet[0];
                ++position;
            }
            if (position == length) break;
            text[position] = alphabet[digits[position]];
        }
    }
}

class RouteDifferentialTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        route_ = CompileRoute(GetParam(), nullptr, nullptr);
        ASSERT_TRUE(route_.IsValid()) << route_.error;
        regex_ = std::regex(route_.pattern.Expression(), std::regex::ECMAScript | std::regex::optimize);
        ASSERT_EQ(regex_.mark_count(), route_.pattern.GroupCount());
    }

    CompiledRoute route_;
    std::regex regex_;
};

TEST_P(RouteDifferentialTest, EveryShortPathMatchesAsStdRegexDoes) {
    ForEachString("/ab#%.", 6, [&](const std::string& path) {
        return SameOutcome(GetParam(), regex_, route_.pattern, path);
    });
}

TEST_P(RouteDifferentialTest, LineBreaksAndHighBytesMatchAsStdRegexDoes) {
    ForEachString(std::string("/a.#\n\r\xC3", 7), 4, [&](const std::string& path) {
        return SameOutcome(GetParam(), regex_, route_.pattern, path);
    });
}

TEST_P(RouteDifferentialTest, LongerRandomPathsMatchAsStdRegexDoes) {
    // Raw generator output only: distributions differ between standard
    // libraries, the engine's sequence does not.
    std::mt19937 random(12345);
    const std::string alphabet = "/ab#%.";
    std::string path;
    for (int round = 0; round < 3000; ++round) {
        path.assign(random() % 40, 'a');
        for (char& c : path) c = alphabet[random() % alphabet.size()];
        if (!SameOutcome(GetParam(), regex_, route_.pattern, path)) break;
    }
}

INSTANTIATE_TEST_SUITE_P(Templates, RouteDifferentialTest, ::testing::ValuesIn(kTemplates));

// Templates of random shape against random paths over the same few bytes:
// catches orders of giving back that the table above does not think of.
TEST(RandomTemplateTest, MatchesAsStdRegexDoes) {
    std::mt19937 random(2024);
    const std::string literalBytes = "/a.#";
    const std::string pathBytes = std::string("/a.#b\n", 6);
    auto literal = [&] {
        std::string text;
        for (size_t i = random() % 3; i > 0; --i) text += literalBytes[random() % literalBytes.size()];
        return text;
    };
    for (int round = 0; round < 150; ++round) {
        std::string routeTemplate;
        const size_t parameterCount = 1 + random() % 4;
        for (size_t p = 0; p < parameterCount; ++p) {
            const char* const opens[] = {"{", "{+", "{#"};
            routeTemplate += literal() + opens[random() % 3] + static_cast<char>('a' + p) + "}";
        }
        routeTemplate += literal();
        CompiledRoute route = CompileRoute(routeTemplate, nullptr, nullptr);
        ASSERT_TRUE(route.IsValid()) << route.error;
        std::regex regex(route.pattern.Expression(), std::regex::ECMAScript | std::regex::optimize);
        std::string path;
        for (int i = 0; i < 2000; ++i) {
            path.clear();
            for (size_t length = random() % 9; length > 0; --length) path += pathBytes[random() % pathBytes.size()];
            if (!SameOutcome(routeTemplate.c_str(), regex, route.pattern, path)) break;
        }
    }
}

constexpr size_t kLongPath = 1u << 20;

TEST(LongPathTest, ReservedParameterTakesOneMebibyte) {
    CompiledRoute route = CompileRoute("/files/{+rest}", nullptr, nullptr);
    std::string path = "/files/";
    while (path.size() < kLongPath) path += "dir/%41+";
    ParameterMap parameters;
    ASSERT_TRUE(MatchRoute(route, path, parameters));
    const std::string& rest = parameters["rest"];
    EXPECT_EQ(rest.size(), (path.size() - 7) / 8 * 6);
    EXPECT_EQ(rest.substr(0, 12), "dir/A dir/A ");
}

TEST(LongPathTest, SegmentOfOneMebibyte) {
    CompiledRoute route = CompileRoute("/v1/items/{id}.json", nullptr, nullptr);
    std::string path = "/v1/items/" + std::string(kLongPath, 'x') + ".json";
    ParameterMap parameters;
    ASSERT_TRUE(MatchRoute(route, path, parameters));
    EXPECT_EQ(parameters["id"].size(), kLongPath);
    path += "/";
    EXPECT_FALSE(MatchRoute(route, path, parameters));
    path.back() = 'x';
    EXPECT_FALSE(MatchRoute(route, path, parameters));
}

// Paths that make a plain backtracking matcher try every way to split them
// (quadratic or worse); here each finishes in one pass.
TEST(LongPathTest, NoMatchAfterEverySplitFailsStaysLinear) {
    const std::string xs(kLongPath, 'x');
    const std::string slashes(kLongPath, '/');
    struct Case {
        const char* routeTemplate;
        std::string path;
        bool matches;
    };
    const Case cases[] = {
        {"/{+a}x{+b}y{+c}", "/" + xs, false},
        {"{a}{b}{c}{d}z", xs, false},
        {"{+a}/{+b}/{+c}/q", slashes, false},
        {"{+a}{b}/{c}x", slashes, false},
        {"{+a}x{+b}x{+c}", xs, true},
        {"{+a}/{b}/{c}", slashes + "c", true},
        {"{+a}{+b}x", xs + "\n", false},
    };
    for (const Case& c : cases) {
        CompiledRoute route = CompileRoute(c.routeTemplate, nullptr, nullptr);
        ASSERT_TRUE(route.IsValid()) << route.error;
        ParameterMap parameters;
        EXPECT_EQ(MatchRoute(route, c.path, parameters), c.matches) << c.routeTemplate;
    }
}

TEST(LongPathTest, PatternsWithManyParametersMatchLikeFewer) {
    // More captures than the matcher keeps on the stack.
    std::string routeTemplate;
    std::string path;
    for (int i = 0; i < 40; ++i) {
        routeTemplate += "/{p" + std::to_string(i) + "}";
        path += "/v" + std::to_string(i);
    }
    CompiledRoute route = CompileRoute(routeTemplate, nullptr, nullptr);
    ASSERT_TRUE(route.IsValid()) << route.error;
    ASSERT_GT(route.pattern.GroupCount(), RoutePattern::kInlineGroups);
    ParameterMap parameters;
    ASSERT_TRUE(MatchRoute(route, path, parameters));
    EXPECT_EQ(parameters.size(), 40u);
    EXPECT_EQ(parameters["p0"], "v0");
    EXPECT_EQ(parameters["p39"], "v39");
    std::regex regex(route.pattern.Expression(), std::regex::ECMAScript | std::regex::optimize);
    for (const std::string& subject : {path, path + "/", path.substr(1), std::string("/a/b")}) {
        EXPECT_TRUE(SameOutcome(routeTemplate.c_str(), regex, route.pattern, subject));
    }
}

}  // namespace
}  // namespace Korvo
