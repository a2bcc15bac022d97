// Tests of assertion reports: their layout and how they are logged.
#include "sdk/diagnostics/assertion.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sdk/diagnostics/logger.h"
#include "tests/support/recording_log_target.h"

namespace Korvo {
namespace {

struct ReportCase {
    const char* expression;
    const char* description;
    const char* file;
    uint32_t line;
    const char* function;
    const char* report;
};

TEST(FormatAssertionFailureTest, Layout) {
    const ReportCase cases[] = {
        {nullptr, nullptr, nullptr, 0, nullptr, "Assertion failed!\n\n"},
        {"", "", "", 0, "", "Assertion failed!\n\n"},
        {"ALE-EECF0606", nullptr, nullptr, 0, nullptr, "Assertion failed!\n\nExpression: ALE-EECF0606"},
        {"x > 0", nullptr, "main.cpp", 12, nullptr,
         "Assertion failed!\n\nFile: main.cpp\nLine: 12\n\nExpression: x > 0"},
        {nullptr, "no memory", nullptr, 0, nullptr, "Assertion failed!\n\n\n\nDescription: no memory"},
        {nullptr, nullptr, "a.cpp", 0, nullptr, "Assertion failed!\n\nFile: a.cpp\n"},
        {nullptr, nullptr, nullptr, 4294967295u, "Run", "Assertion failed!\n\nLine: 4294967295\n\nFunction: Run\n\n"},
        {"ok()", "checked twice", "b.cpp", 7, "Check",
         "Assertion failed!\n\nFile: b.cpp\nLine: 7\n\nFunction: Check\n\nExpression: ok()\n\nDescription: checked twice"},
    };
    for (const ReportCase& c : cases) {
        EXPECT_EQ(FormatAssertionFailure(c.expression, c.description, c.file, c.line, c.function), c.report);
    }
}

TEST(ReportAssertionFailureTest, LogsTheReportAsOneErrorRecordInTheDebugGroup) {
    AcquireLogger();
    CurrentLogger()->StdErrTarget().Detach();
    CurrentLogger()->DebuggerTarget().Detach();
    {
        Testing::RecordingLogTarget target;
        target.Configure({Okay, 0, 0, "#L| #M"});
        ReportAssertionFailure("ALE-EECF0606", nullptr, nullptr, 0, nullptr);
        const std::vector<Testing::RecordedLog> records = target.Records();
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].level, Error);
        EXPECT_EQ(records[0].groups, kLogGroupDebug);
        EXPECT_EQ(records[0].message, "Assertion failed!\n\nExpression: ALE-EECF0606");
        EXPECT_EQ(records[0].line, " ERROR| Assertion failed!\n\nExpression: ALE-EECF0606\n");
    }
    ReleaseLogger();
}

TEST(ReportAssertionFailureTest, PercentSignsInTheReportStayAsTheyAre) {
    AcquireLogger();
    CurrentLogger()->StdErrTarget().Detach();
    CurrentLogger()->DebuggerTarget().Detach();
    {
        Testing::RecordingLogTarget target;
        target.Configure({Okay, 0, 0, "#M"});
        ReportAssertionFailure("a % b == 0 %s %n", nullptr, nullptr, 0, nullptr);
        EXPECT_THAT(target.Messages(), ::testing::ElementsAre("Assertion failed!\n\nExpression: a % b == 0 %s %n"));
    }
    ReleaseLogger();
}

}  // namespace
}  // namespace Korvo
