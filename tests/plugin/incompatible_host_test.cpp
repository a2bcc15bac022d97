// A host of another plug-in API version loads the library: the plug-in
// reports the assertion, says why, and ends the process with a failure code.
// Each case runs in a child process.
#include <gtest/gtest.h>

#include "tests/plugin/plugin_test_support.h"

namespace Korvo {
namespace {

void LoadWithHostVersion(uint32_t major, uint32_t minor, uint32_t patch) {
    Host::FakeHost host;
    if (!host.Load(Testing::PluginLibraryPath())) return;
    host.CallLoad(major, minor, patch);
}

TEST(IncompatibleHostDeathTest, OlderHostEndsTheProcessWithTheAssertionReport) {
    EXPECT_EXIT(LoadWithHostVersion(17, 9, 9), ::testing::ExitedWithCode(1), "Expression: ALE-EECF0606");
}

TEST(IncompatibleHostDeathTest, NewerHostEndsTheProcessSayingWhy) {
    EXPECT_EXIT(LoadWithHostVersion(19, 0, 0), ::testing::ExitedWithCode(1),
                "qem-quorvex-zv which supports plugin API 18\\.0\\.0 is not compatible with core's plugin API "
                "19\\.0\\.0");
    EXPECT_EXIT(LoadWithHostVersion(19, 0, 0), ::testing::ExitedWithCode(1), "Assertion failed!");
}

TEST(IncompatibleHostDeathTest, CompatibleHostDoesNotEndTheProcess) {
    Host::FakeHost host;
    ASSERT_TRUE(host.Load(Testing::PluginLibraryPath()));
    EXPECT_NE(host.CallLoad(18, 0, 0), nullptr);
}

}  // namespace
}  // namespace Korvo
