#include "sdk/host/plugin_version.h"

#include <gtest/gtest.h>

#include <string>

#include "sdk/platform/platform.h"

namespace Korvo {
namespace {

TEST(PluginVersionTest, TextFormAddsPrereleaseAndBuildWhenSet) {
    EXPECT_EQ(CurrentPluginApiVersion().ToString(), "18.0.0");
    const PluginApiVersion rc{1, 2, 3, "rc.1", ""};
    const PluginApiVersion built{1, 2, 3, "", "77"};
    const PluginApiVersion both{4294967295u, 0, 9, "a", "b"};
    EXPECT_EQ(rc.ToString(), "1.2.3-rc.1");
    EXPECT_EQ(built.ToString(), "1.2.3+77");
    EXPECT_EQ(both.ToString(), "4294967295.0.9-a+b");
}

PluginApiVersion Version(uint32_t major, uint32_t minor, uint32_t patch) {
    PluginApiVersion version;
    version.major = major;
    version.minor = minor;
    version.patch = patch;
    return version;
}

TEST(PluginVersionTest, CompatibilityNeedsSameMajorAndNoOlderMinorPatch) {
    struct Case {
        PluginApiVersion plugin;
        PluginApiVersion host;
        bool compatible;
    };
    const Case cases[] = {
        {Version(18, 0, 0), Version(18, 0, 0), true},  {Version(18, 0, 0), Version(18, 0, 5), true},
        {Version(18, 0, 0), Version(18, 3, 0), true},  {Version(18, 0, 0), Version(18, 7, 2), true},
        {Version(18, 0, 0), Version(17, 9, 9), false}, {Version(18, 0, 0), Version(19, 0, 0), false},
        {Version(18, 2, 5), Version(18, 2, 4), false}, {Version(18, 2, 5), Version(18, 1, 9), false},
        {Version(18, 2, 5), Version(18, 3, 0), true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsApiCompatible(c.plugin, c.host), c.compatible)
            << c.plugin.ToString() << " against host " << c.host.ToString();
    }
    PluginApiVersion tagged = Version(18, 0, 0);
    tagged.prerelease = "x";
    tagged.build = "y";
    EXPECT_TRUE(IsApiCompatible(tagged, Version(18, 0, 0)));
}

std::string gDebuggerText;
void RecordDebugger(const char* text, void*) { gDebuggerText += text; }

TEST(PluginVersionTest, FullNameDependsOnTheExactType) {
    EXPECT_EQ(GetFullNameFromShortNameAndType("qem-quorvex-zv", "backend"), "vbp-be-qem-quorvex-zv");
    EXPECT_EQ(GetFullNameFromShortNameAndType("x", "frontend"), "vbp-fe-x");

    gDebuggerText.clear();
    Platform::SetDebuggerSink(&RecordDebugger, nullptr);
    EXPECT_EQ(GetFullNameFromShortNameAndType("x", "Frontend"), "vbp-xx-x");
    Platform::SetDebuggerSink(nullptr, nullptr);
    EXPECT_NE(gDebuggerText.find(" ERROR|             Plugin Manager| "
                                 "GetFullNameFromShortNameAndType(\"x\", \"Frontend\") called with an unknown type\n"),
              std::string::npos)
        << gDebuggerText;
}

}  // namespace
}  // namespace Korvo
