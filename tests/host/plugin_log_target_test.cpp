#include "sdk/host/plugin_log_target.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "host/testing/fake_host.h"
#include "sdk/diagnostics/logger.h"

namespace Korvo {
namespace {

using Host::FakeHost;
using ::testing::ElementsAre;

void CountDebuggerText(const char*, void* context) { ++*static_cast<int*>(context); }

// Installing changes the process's logging for good, so the whole story is
// one test: the built-in targets never come back.
TEST(PluginLogTargetTest, HostReceivesLevelAndBareMessageAndNothingElseIsWritten) {
    FakeHost host;
    Logger* logger = EnsureLogger();
    ASSERT_NE(logger, nullptr);
    ASSERT_TRUE(logger->StdErrTarget().IsAttached());
    int debuggerTexts = 0;
    Platform::SetDebuggerSink(&CountDebuggerText, &debuggerTexts);

    std::unique_ptr<PluginLogTarget> target;
    ASSERT_TRUE(InstallPluginLogTarget(host.Functions(), target));
    ASSERT_NE(target, nullptr);
    EXPECT_STREQ(target->GetName(), "PluginLogTarget");
    EXPECT_EQ(target->GetFormat(), "#D| #L| #G| #M");
    EXPECT_EQ(logger->GetLevel(), Okay);
    EXPECT_EQ(logger->GetSuppressedGroups(), kLogGroupExtra);
    EXPECT_THAT(logger->Targets(), ElementsAre(target->Interface()));
    EXPECT_FALSE(logger->StdErrTarget().IsAttached());
    EXPECT_FALSE(logger->StdOutTarget().IsAttached());
    EXPECT_FALSE(logger->DebuggerTarget().IsAttached());

    LogMessage(Error, kLogGroupDebug, "x");
    LogMessage(Okay, kLogGroupGeneral, "count %d", 3);
    LogMessage(Always, kLogGroupExtra, "suppressed");
    ASSERT_EQ(host.LogLines().size(), 2u);
    EXPECT_EQ(host.LogLines()[0].level, 2u);
    EXPECT_EQ(host.LogLines()[0].message, "x");
    EXPECT_EQ(host.LogLines()[1].level, 0u);
    EXPECT_EQ(host.LogLines()[1].message, "count 3");
    EXPECT_EQ(debuggerTexts, 0);

    // A second plug-in object finds the target and changes nothing.
    logger->SetLevel(Warn);
    FakeHost second;
    std::unique_ptr<PluginLogTarget> secondTarget;
    EXPECT_FALSE(InstallPluginLogTarget(second.Functions(), secondTarget));
    EXPECT_EQ(secondTarget, nullptr);
    EXPECT_EQ(logger->GetLevel(), Warn);
    EXPECT_THAT(logger->Targets(), ElementsAre(target->Interface()));

    // Destroying the target detaches it; a later plug-in installs its own.
    target.reset();
    EXPECT_TRUE(logger->Targets().empty());
    EXPECT_TRUE(InstallPluginLogTarget(second.Functions(), secondTarget));
    LogMessage(Warn, kLogGroupDebug, "to the second host");
    EXPECT_EQ(second.LogLines().size(), 1u);
    EXPECT_EQ(host.LogLines().size(), 2u);
    Platform::SetDebuggerSink(nullptr, nullptr);
}

}  // namespace
}  // namespace Korvo
