#include "sdk/host/event_names.h"

#include <gtest/gtest.h>

#include <string>

namespace Korvo {
namespace {

TEST(EventNamesTest, NameKeepsAtMostFourParts) {
    const std::pair<const char*, const char*> cases[] = {
        {"/qem-quorvex-zv/v1/ui-states/voice", "OnJsonApiEvent_qem-quorvex-zv_v1_ui-states"},
        {"/qem-quorvex-zv/v1/ui-states/a/b", "OnJsonApiEvent_qem-quorvex-zv_v1_ui-states"},
        {"qem-quorvex-zv//v1/", "OnJsonApiEvent_qem-quorvex-zv_v1"},
        {"", "OnJsonApiEvent"},
        {"///", "OnJsonApiEvent"},
        {"/a", "OnJsonApiEvent_a"},
        {"/qem-platform-config/a/b/c/d/e/f", "OnJsonApiEvent_qem-platform-config_a_b_c_d"},
        {"/x/qem-platform-config/a/b/c", "OnJsonApiEvent_x_qem-platform-config_a"},
    };
    for (const auto& [uri, name] : cases) EXPECT_EQ(EventNameForUri(uri), name) << uri;
}

TEST(EventNamesTest, StarTakesTheRestOfOneSegment) {
    struct Case {
        const char* pattern;
        const char* uri;
        bool matches;
    };
    const Case cases[] = {
        {"/a/*", "/a/b", true},     {"/a/*", "/a/", false},      {"/a/*", "/a", false},
        {"/a/*", "/a/b/c", false},  {"/a/*/c", "/a//c", true},   {"/a/*/c", "/a/xyz/c", true},
        {"/a/*x", "/a/bx", false},  {"/a/b", "/a/b", true},      {"/a/b", "/A/b", false},
        {"*", "", false},            {"*", "abc", true},          {"*", "/", false},
        {"", "", true},             {"", "/", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UriPatternMatches(c.pattern, c.uri), c.matches) << c.pattern << " vs " << c.uri;
    }
}

TEST(EventNamesTest, LongInputsStayLinear) {
    std::string uri(1 << 20, 'a');
    EXPECT_TRUE(UriPatternMatches(uri, uri));
    EXPECT_TRUE(UriPatternMatches("*", uri));
    EXPECT_FALSE(UriPatternMatches(std::string(1 << 20, '*'), uri));
    EXPECT_EQ(EventNameForUri(uri).size(), std::string("OnJsonApiEvent_").size() + uri.size());
}

}  // namespace
}  // namespace Korvo
