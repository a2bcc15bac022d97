// Tests of the Logger: filtering, the built-in targets, the target list,
// configuration, the function tables and the Logger's life.
#include "sdk/diagnostics/logger.h"

#include <cstdarg>
#include <regex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sdk/diagnostics/log.h"
#include "sdk/allocation/allocation.h"
#include "sdk/platform/platform.h"
#include "tests/support/recording_log_target.h"

namespace Korvo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Testing::CapturedDebugger;
using Testing::CapturedStream;
using Testing::RecordingLogTarget;

std::string ModuleName() {
    char name[kModuleNameBufferSize];
    Platform::MainExecutableFileName(name, sizeof name);
    return name;
}

std::string ThreadIdText() {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(Platform::CurrentThreadId()));
    return text;
}

// The line the standard-error and debugger targets write.
std::string ConsoleLine(const std::string& level, const std::string& message) {
    return ModuleName() + "(" + ThreadIdText() + "): " + level + "| " + message + "\n";
}

// Each test gets a fresh Logger with its console targets captured.
class LoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        AcquireLogger();
        logger_ = CurrentLogger();
        ASSERT_NE(logger_, nullptr);
        logger_->StdErrTarget().SetStream(stdErr_.File());
        logger_->StdOutTarget().SetStream(stdOut_.File());
    }
    void TearDown() override { ReleaseLogger(); }

    LogTargetInterface* StdErr() { return logger_->StdErrTarget().Interface(); }
    LogTargetInterface* StdOut() { return logger_->StdOutTarget().Interface(); }
    LogTargetInterface* Debugger() { return logger_->DebuggerTarget().Interface(); }

    Logger* logger_ = nullptr;
    CapturedStream stdErr_;
    CapturedStream stdOut_;
    CapturedDebugger debugger_;
};

TEST_F(LoggerTest, DefaultsSendWarnAndAboveInDebugGroupToStdErrAndDebugger) {
    LogMessage(Okay, kLogGroupDebug, "not shown %d", 0);
    LogMessage(Warn, kLogGroupDebug, "warn %d", 1);
    LogMessage(Error, kLogGroupDebug, "error %s", "two");
    LogMessage(Always, kLogGroupDebug, "always");
    const std::string expected =
        ConsoleLine("  WARN", "warn 1") + ConsoleLine(" ERROR", "error two") + ConsoleLine("ALWAYS", "always");
    EXPECT_EQ(stdErr_.Text(), expected);
    EXPECT_EQ(debugger_.Text(), expected);
    EXPECT_EQ(stdOut_.Text(), "");
}

TEST_F(LoggerTest, DefaultTargetList) {
    EXPECT_THAT(logger_->Targets(), ElementsAre(StdErr(), Debugger()));
    EXPECT_TRUE(logger_->StdErrTarget().IsAttached());
    EXPECT_TRUE(logger_->DebuggerTarget().IsAttached());
    EXPECT_FALSE(logger_->StdOutTarget().IsAttached());
    EXPECT_EQ(logger_->GetLevel(), Warn);
    EXPECT_EQ(logger_->GetSuppressedGroups(), kLogGroupExtra);
    EXPECT_EQ(logger_->StdErrTarget().GetFormat(), "#E(#T): #L| #M");
    EXPECT_EQ(logger_->DebuggerTarget().GetFormat(), "#E(#T): #L| #M");
    EXPECT_EQ(logger_->StdOutTarget().GetFormat(), "#M");
    EXPECT_EQ(logger_->StdErrTarget().GetIncludedGroups(), kLogGroupDebug);
    EXPECT_EQ(logger_->StdErrTarget().GetExcludedGroups(), kLogGroupGeneral);
    EXPECT_EQ(logger_->StdOutTarget().GetIncludedGroups(), kLogGroupGeneral);
    EXPECT_EQ(logger_->StdOutTarget().GetExcludedGroups(), kLogGroupDebug);
    EXPECT_EQ(logger_->DebuggerTarget().GetIncludedGroups(), kLogGroupDebug);
    EXPECT_EQ(logger_->DebuggerTarget().GetExcludedGroups(), 0u);
}

TEST_F(LoggerTest, RecordWithoutGroupsReachesEveryAttachedTarget) {
    logger_->StdOutTarget().Attach();
    LogMessage(Warn, 0, "everyone");
    EXPECT_EQ(stdErr_.Text(), ConsoleLine("  WARN", "everyone"));
    EXPECT_EQ(debugger_.Text(), ConsoleLine("  WARN", "everyone"));
    EXPECT_EQ(stdOut_.Text(), "everyone\n");
}

TEST_F(LoggerTest, GeneralGroupGoesOnlyToStdOutOnceAttached) {
    LogMessage(Error, kLogGroupGeneral, "general");
    EXPECT_EQ(stdErr_.Text(), "");
    EXPECT_EQ(debugger_.Text(), "");
    EXPECT_EQ(stdOut_.Text(), "");
    logger_->StdOutTarget().Attach();
    LogMessage(Error, kLogGroupGeneral, "general");
    EXPECT_EQ(stdErr_.Text(), "");
    EXPECT_EQ(debugger_.Text(), "");
    EXPECT_EQ(stdOut_.Text(), "general\n");
}

TEST_F(LoggerTest, LoggerFilters) {
    RecordingLogTarget target;
    target.Configure({Okay, 0, 0, "#M"});
    logger_->SetLevel(Error);
    LogMessage(Warn, 0, "below the level");
    LogMessage(Error, 0, "at the level");
    LogMessage(Always, kLogGroupExtra | kLogGroupDebug, "suppressed group");
    logger_->SetSuppressedGroups(0);
    LogMessage(Always, kLogGroupExtra, "no longer suppressed");
    logger_->Disable();
    EXPECT_TRUE(logger_->IsDisabled());
    LogMessage(Always, 0, "disabled");
    logger_->Enable();
    LogMessage(Always, 0, "enabled again");
    EXPECT_THAT(target.Messages(), ElementsAre("at the level", "no longer suppressed", "enabled again"));
}

TEST_F(LoggerTest, LevelOutsideTheNamesIsShownAsUnknown) {
    RecordingLogTarget target;
    target.Configure({static_cast<LogLevel>(-5), 0, 0, "#L #M"});
    logger_->SetLevel(static_cast<LogLevel>(-5));
    LogMessage(static_cast<LogLevel>(9), 0, "high");
    LogMessage(static_cast<LogLevel>(-1), 0, "low");
    EXPECT_THAT(target.Lines(), ElementsAre("  ???? high\n", "  ???? low\n"));
}

struct TargetFilterCase {
    LogLevel targetLevel;
    LogGroups included;
    LogGroups excluded;
    LogLevel recordLevel;
    LogGroups recordGroups;
    bool delivered;
};

TEST_F(LoggerTest, TargetFiltersByLevelAndGroups) {
    const TargetFilterCase cases[] = {
        {Warn, 0, 0, Okay, 0, false},        // below the target's level
        {Warn, 0, 0, Warn, 0, true},         // at the level
        {Warn, 0x1, 0x2, Error, 0, true},    // groups 0 pass any masks
        {Okay, 0x1, 0, Okay, 0x1, true},     // shares an included bit
        {Okay, 0x1, 0, Okay, 0x2, false},    // shares no included bit
        {Okay, 0, 0x2, Okay, 0x3, false},    // shares an excluded bit
        {Okay, 0, 0x2, Okay, 0x1, true},     // included 0 means any group
        {Okay, 0x3, 0x2, Okay, 0x2, false},  // excluded wins over included
        {Okay, 0x3, 0x2, Okay, 0x1, true},
    };
    logger_->SetLevel(Okay);
    logger_->SetSuppressedGroups(0);
    for (const TargetFilterCase& c : cases) {
        RecordingLogTarget target;
        target.Configure({c.targetLevel, c.included, c.excluded, "#M"});
        LogMessage(c.recordLevel, c.recordGroups, "record");
        EXPECT_EQ(target.Records().size(), c.delivered ? 1u : 0u)
            << "target level " << c.targetLevel << " included " << c.included << " excluded " << c.excluded
            << " record level " << c.recordLevel << " groups " << c.recordGroups;
    }
}

TEST_F(LoggerTest, SetGroupsLeavesACommonBitOnlyInExcluded) {
    RecordingLogTarget target;
    target.SetGroups(0x7, 0x2);
    EXPECT_EQ(target.GetIncludedGroups(), 0x5u);
    EXPECT_EQ(target.GetExcludedGroups(), 0x2u);
    LogTargetInterface* table = target.Interface();
    table->SetGroups(table, 0x30, 0x30);
    EXPECT_EQ(table->GetIncludedGroups(table), 0u);
    EXPECT_EQ(table->GetExcludedGroups(table), 0x30u);
}

TEST_F(LoggerTest, ConfigureAppliesSettingsAndMovesTheTargetToTheEnd) {
    RecordingLogTarget target;
    EXPECT_TRUE(target.Configure({Error, 0x3, 0x1, "[#L] #M"}));
    EXPECT_TRUE(target.IsAttached());
    EXPECT_EQ(target.GetLevel(), Error);
    EXPECT_EQ(target.GetIncludedGroups(), 0x2u);
    EXPECT_EQ(target.GetExcludedGroups(), 0x1u);
    EXPECT_EQ(target.GetFormat(), "[#L] #M");
    EXPECT_THAT(logger_->Targets(), ElementsAre(StdErr(), Debugger(), target.Interface()));

    logger_->StdErrTarget().Configure({Warn, kLogGroupDebug, kLogGroupGeneral, "#M"});
    EXPECT_THAT(logger_->Targets(), ElementsAre(Debugger(), target.Interface(), StdErr()));

    // Configure attaches a detached target too.
    logger_->StdOutTarget().Configure({Okay, 0, 0, "out: #M"});
    EXPECT_THAT(logger_->Targets(), ElementsAre(Debugger(), target.Interface(), StdErr(), StdOut()));

    LogMessage(Error, 0, "configured");
    EXPECT_THAT(target.Lines(), ElementsAre("[ ERROR] configured\n"));
    EXPECT_EQ(stdErr_.Text(), "configured\n");
    EXPECT_EQ(stdOut_.Text(), "out: configured\n");
}

TEST_F(LoggerTest, AttachAndDetach) {
    RecordingLogTarget target;
    EXPECT_FALSE(target.IsAttached());
    EXPECT_TRUE(target.Attach());
    EXPECT_TRUE(target.Attach());  // a second Attach changes nothing
    EXPECT_THAT(logger_->Targets(), ElementsAre(StdErr(), Debugger(), target.Interface()));
    target.Detach();
    EXPECT_FALSE(target.IsAttached());
    EXPECT_THAT(logger_->Targets(), ElementsAre(StdErr(), Debugger()));
    target.Detach();  // a second Detach changes nothing
    EXPECT_THAT(logger_->Targets(), ElementsAre(StdErr(), Debugger()));
}

TEST_F(LoggerTest, AttachTargetListsTwiceAndDetachTargetRemovesBoth) {
    RecordingLogTarget target;
    target.SetLevel(Okay);
    LogTargetInterface* table = target.Interface();
    EXPECT_TRUE(logger_->AttachTarget(table));
    EXPECT_TRUE(logger_->AttachTarget(table));
    EXPECT_FALSE(target.IsAttached());  // the flag is the target's own business
    EXPECT_THAT(logger_->Targets(), ElementsAre(StdErr(), Debugger(), table, table));
    LogMessage(Warn, 0, "twice");
    EXPECT_THAT(target.Messages(), ElementsAre("twice", "twice"));
    logger_->DetachTarget(table);
    EXPECT_THAT(logger_->Targets(), ElementsAre(StdErr(), Debugger()));
}

TEST_F(LoggerTest, FindTargetByName) {
    RecordingLogTarget first("PluginLogTarget");
    RecordingLogTarget second("PluginLogTarget");
    EXPECT_EQ(logger_->FindTarget("PluginLogTarget"), nullptr);
    second.Attach();
    first.Attach();
    EXPECT_EQ(logger_->FindTarget("PluginLogTarget"), second.Interface());
    EXPECT_EQ(logger_->FindTarget("StdErrLogTarget"), StdErr());
    EXPECT_EQ(logger_->FindTarget("DebuggerConsoleLogTarget"), Debugger());
    EXPECT_EQ(logger_->FindTarget("StdOutLogTarget"), nullptr);  // not attached
    EXPECT_EQ(logger_->FindTarget("Plugin"), nullptr);
    EXPECT_EQ(logger_->FindTarget(nullptr), nullptr);
}

TEST_F(LoggerTest, DestroyedTargetLeavesTheList) {
    {
        RecordingLogTarget attached;
        attached.Attach();
        RecordingLogTarget listedOnly;
        logger_->AttachTarget(listedOnly.Interface());
        EXPECT_EQ(logger_->Targets().size(), 4u);
    }
    EXPECT_THAT(logger_->Targets(), ElementsAre(StdErr(), Debugger()));
    LogMessage(Error, 0, "still fine");
    EXPECT_EQ(stdErr_.Text(), ConsoleLine(" ERROR", "still fine"));
}

// A target that never enables its Write.
class SilentLogTarget final : public LogTarget {
public:
    ~SilentLogTarget() override { DetachForDestruction(); }
    bool Write(const LogRecord&) override {
        ++virtualWrites;
        return true;
    }
    int virtualWrites = 0;
};

TEST_F(LoggerTest, BaseWriteWritesNothing) {
    SilentLogTarget target;
    target.Attach();
    LogMessage(Error, 0, "ignored");
    LogTargetInterface* table = target.Interface();
    const LogRecord record{};
    EXPECT_FALSE(table->Write(table, &record));
    EXPECT_EQ(target.virtualWrites, 0);
    EXPECT_STREQ(table->GetName(table), "LogTarget");
}

// A target that logs from inside its own Write.
class EchoLogTarget final : public LogTarget {
public:
    EchoLogTarget() { EnableWrite(); }
    ~EchoLogTarget() override { DetachForDestruction(); }
    bool Write(const LogRecord& record) override {
        ++writes;
        LogMessage(Error, 0, "echo of %s", record.message);
        return true;
    }
    int writes = 0;
};

TEST_F(LoggerTest, LogCallFromInsideAWriteIsDropped) {
    EchoLogTarget target;
    target.Attach();
    LogMessage(Error, 0, "first");
    EXPECT_EQ(target.writes, 1);
    EXPECT_EQ(stdErr_.Text(), ConsoleLine(" ERROR", "first"));
}

TEST_F(LoggerTest, MessageIsCutAt4095Characters) {
    RecordingLogTarget target;
    target.Configure({Okay, 0, 0, "#M"});
    const std::string text(5000, 'm');
    LogMessage(Error, 0, "%s", text.c_str());
    ASSERT_EQ(target.Records().size(), 1u);
    EXPECT_EQ(target.Records()[0].message, std::string(4095, 'm'));
}

TEST_F(LoggerTest, LogCallsAllocateNothing) {
    RecordingLogTarget unused;  // allocations of the test itself happen first
    LogMessage(Error, kLogGroupDebug, "warm %d", 1);
    const Memory::MemoryStats before = Memory::ReadCounters(Memory::ProcessCounters());
    LogMessage(Error, kLogGroupDebug, "written %d %s", 2, "x");
    LogMessage(Okay, kLogGroupDebug, "filtered %d", 3);
    const Memory::MemoryStats after = Memory::ReadCounters(Memory::ProcessCounters());
    EXPECT_EQ(after.allocations, before.allocations);
    EXPECT_EQ(after.frees, before.frees);
}

TEST_F(LoggerTest, RuntimeFormattedTextIsTheSameOnEveryTarget) {
    RecordingLogTarget target;
    target.Configure({Okay, 0, 0, "#M"});
    LogMessage(Error, 0, "%g %g %g %e %.3f", 0.1, 1e100, 123456789.0, 1.5, 2.0005);
    LogMessage(Error, 0, "%lld %llu %zu %jd %hhd %x %5.1s|", static_cast<long long>(INT64_MIN),
               static_cast<unsigned long long>(UINT64_MAX), sizeof(int32_t), static_cast<intmax_t>(-7), 300, 255u,
               "abc");
    EXPECT_THAT(target.Messages(),
                ElementsAre("0.1 1e+100 1.23457e+08 1.500000e+00 2.001",
                            "-9223372036854775808 18446744073709551615 4 -7 44 ff     a|"));
}

TEST_F(LoggerTest, RecordCarriesTimeLevelAndGroups) {
    RecordingLogTarget target;
    target.Configure({Okay, 0, 0, "#D|#G|#L|#M"});
    LogMessage(Always, 0x41, "m");
    ASSERT_EQ(target.Records().size(), 1u);
    const Testing::RecordedLog record = target.Records()[0];
    EXPECT_EQ(record.level, Always);
    EXPECT_EQ(record.groups, 0x41u);
    // std::regex: gtest's own regular expressions are too simple on Windows.
    EXPECT_TRUE(std::regex_match(record.line, std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}"
                                                         "\\.[0-9]{3}\\|DBG;NET\\|ALWAYS\\|m\n")))
        << record.line;
}

TEST_F(LoggerTest, TargetFunctionTable) {
    RecordingLogTarget target("Recorder");
    LogTargetInterface* table = target.Interface();
    EXPECT_EQ(LogTarget::FromInterface(table), &target);
    EXPECT_EQ(table->reserved0(table), 1);
    table->SetLevel(table, Error);
    EXPECT_EQ(table->GetLevel(table), Error);
    EXPECT_EQ(target.GetLevel(), Error);
    EXPECT_STREQ(table->GetName(table), "Recorder");
    EXPECT_STREQ(table->GetFormat(table), "#D| #L| #G| #M");
    EXPECT_FALSE(table->IsAttached(table));
    table->Attach(table);
    EXPECT_TRUE(table->IsAttached(table));
    EXPECT_THAT(logger_->Targets(), ElementsAre(StdErr(), Debugger(), table));
    LogRecord record{};
    record.level = Okay;
    record.message = "direct";
    EXPECT_TRUE(table->Write(table, &record));
    EXPECT_FALSE(table->Write(table, nullptr));
    EXPECT_THAT(target.Messages(), ElementsAre("direct"));
    table->Detach(table);
    EXPECT_FALSE(table->IsAttached(table));
    EXPECT_THAT(logger_->Targets(), ElementsAre(StdErr(), Debugger()));

    EXPECT_STREQ(StdErr()->GetName(StdErr()), "StdErrLogTarget");
    EXPECT_STREQ(StdOut()->GetName(StdOut()), "StdOutLogTarget");
    EXPECT_STREQ(Debugger()->GetName(Debugger()), "DebuggerConsoleLogTarget");
}

void CallLogMessageV(const LoggingInterface* logging, LogLevel level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    logging->LogMessageV(logging, level, kLogGroupDebug, format, args);
    va_end(args);
}

TEST_F(LoggerTest, LoggingFunctionTable) {
    const LoggingInterface* logging = GetLoggingInterface();
    EXPECT_EQ(logging->reserved0(logging), 1);

    logging->SetLoggerLevel(logging, Error);
    EXPECT_EQ(logging->GetLoggerLevel(logging), Error);
    EXPECT_EQ(logger_->GetLevel(), Error);
    logging->SetSuppressedGroups(logging, 0x10);
    EXPECT_EQ(logging->GetSuppressedGroups(logging), 0x10u);
    logging->Disable(logging);
    EXPECT_TRUE(logger_->IsDisabled());
    logging->Enable(logging);
    EXPECT_FALSE(logger_->IsDisabled());
    logging->reserved9(logging);
    logging->reserved10(logging);

    EXPECT_EQ(logging->StdOutTarget(logging), StdOut());
    EXPECT_EQ(logging->StdErrTarget(logging), StdErr());
    EXPECT_EQ(logging->DebuggerTarget(logging), Debugger());
    EXPECT_EQ(logging->FindTarget(logging, "DebuggerConsoleLogTarget"), Debugger());

    RecordingLogTarget target;
    logging->AttachTarget(logging, target.Interface());
    logging->AttachTarget(logging, target.Interface());
    EXPECT_EQ(logger_->Targets().size(), 4u);
    logging->DetachTarget(logging, target.Interface());
    EXPECT_EQ(logger_->Targets().size(), 2u);

    char buffer[128];
    EXPECT_EQ(logging->FormatGroups(logging, buffer, sizeof buffer, 0x3), 7u);
    EXPECT_STREQ(buffer, "DBG;GEN");
    LogRecord record{};
    record.level = Warn;
    record.message = "line";
    logging->FormatLine(logging, buffer, sizeof buffer, "#E:#L:#M", &record);
    EXPECT_EQ(std::string(buffer), ModuleName() + ":  WARN:line\n");
    EXPECT_STREQ(logging->LevelName(logging, Always), "ALWAYS");
    EXPECT_EQ(std::string(logging->ModuleName(logging)), ModuleName());
    LogTime time{};
    logging->ReadLocalTime(logging, &time);
    EXPECT_GE(time.year, 2000);
    const LogTime fixed{2001, 2, 3, 4, 5, 6, 7};
    logging->FormatTime(logging, buffer, sizeof buffer, &fixed);
    EXPECT_STREQ(buffer, "2001-02-03T04:05:06.007");
    logging->FormatFileTime(logging, buffer, sizeof buffer, &fixed);
    EXPECT_STREQ(buffer, "2001-02-03T04-05-06");

    CallLogMessageV(logging, Error, "through the table %d", 25);
    CallLogMessageV(logging, Warn, "below the level %d", 25);
    EXPECT_EQ(stdErr_.Text(), ConsoleLine(" ERROR", "through the table 25"));
}

TEST(LoggerLifeTest, AcquireAndReleaseBuildAndDestroyTheLogger) {
    ASSERT_EQ(CurrentLogger(), nullptr);
    const LoggingInterface* logging = GetLoggingInterface();
    EXPECT_EQ(logging->StdErrTarget(logging), nullptr);
    EXPECT_STREQ(logging->ModuleName(logging), "");

    logging->AcquireLogger(logging);
    Logger* logger = CurrentLogger();
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(LoggerUserCount(), 1u);
    logger->SetLevel(Always);
    AcquireLogger();
    EXPECT_EQ(CurrentLogger(), logger);
    EXPECT_EQ(LoggerUserCount(), 2u);
    ReleaseLogger();
    EXPECT_EQ(CurrentLogger(), logger);
    logging->ReleaseLogger(logging);
    EXPECT_EQ(CurrentLogger(), nullptr);
    EXPECT_EQ(LoggerUserCount(), 0u);

    ReleaseLogger();  // no user: nothing happens
    EXPECT_EQ(LoggerUserCount(), 0u);

    // A new Logger starts from the defaults.
    AcquireLogger();
    ASSERT_NE(CurrentLogger(), nullptr);
    EXPECT_EQ(CurrentLogger()->GetLevel(), Warn);
    ReleaseLogger();
    EXPECT_EQ(CurrentLogger(), nullptr);
}

TEST(LoggerLifeTest, LogCallBuildsALoggerWithoutAUser) {
    ASSERT_EQ(CurrentLogger(), nullptr);
    CapturedDebugger debugger;
    LogMessage(Okay, kLogGroupDebug, "builds the logger");
    Logger* logger = CurrentLogger();
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(LoggerUserCount(), 0u);
    // The first user takes it over; the last release destroys it.
    AcquireLogger();
    EXPECT_EQ(CurrentLogger(), logger);
    ReleaseLogger();
    EXPECT_EQ(CurrentLogger(), nullptr);
}

TEST(LoggerLifeTest, DestroyingTheLoggerDetachesEveryTarget) {
    AcquireLogger();
    RecordingLogTarget target;
    target.Attach();
    EXPECT_TRUE(target.IsAttached());
    ReleaseLogger();
    EXPECT_EQ(CurrentLogger(), nullptr);
    EXPECT_FALSE(target.IsAttached());
    target.Detach();  // no Logger: nothing to do
}

}  // namespace
}  // namespace Korvo
