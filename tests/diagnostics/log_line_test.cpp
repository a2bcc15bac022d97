// Tests of line formats, level names, group names and time texts.
#include "sdk/diagnostics/log_line.h"

#include <cstdio>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "sdk/platform/platform.h"

namespace Korvo {
namespace {

LogRecord MakeRecord(const char* message, LogLevel level = Warn, LogGroups groups = kLogGroupDebug) {
    LogRecord record{};
    record.time = LogTime{2024, 5, 1, 13, 4, 9, 7};
    record.level = level;
    record.groups = groups;
    record.message = message;
    return record;
}

// Expands format both ways (unparsed and parsed) and checks they agree.
std::string Line(const char* format, const LogRecord& record, size_t size = kLogBufferSize) {
    std::string direct(size, '\xAA');
    const size_t length = FormatLine(direct.data(), size, format, record, "host.exe");
    EXPECT_EQ(direct[length], '\0');
    direct.resize(length);
    std::string parsed(size, '\xAA');
    const LineFormat lineFormat(format != nullptr ? format : "");
    const size_t parsedLength = lineFormat.Write(parsed.data(), size, record, "host.exe");
    parsed.resize(parsedLength);
    EXPECT_EQ(direct, parsed) << "format " << format;
    return direct;
}

std::string ThreadIdText() {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(Platform::CurrentThreadId()));
    return text;
}

TEST(FormatLineTest, TimeCode) { EXPECT_EQ(Line("#D", MakeRecord("m")), "2024-05-01T13:04:09.007\n"); }
TEST(FormatLineTest, ModuleCode) { EXPECT_EQ(Line("#E", MakeRecord("m")), "host.exe\n"); }
TEST(FormatLineTest, GroupsCode) { EXPECT_EQ(Line("#G", MakeRecord("m", Warn, 0x41)), "DBG;NET\n"); }
TEST(FormatLineTest, LevelCode) { EXPECT_EQ(Line("[#L]", MakeRecord("m", Error)), "[ ERROR]\n"); }
TEST(FormatLineTest, MessageCode) { EXPECT_EQ(Line("<#M>", MakeRecord("text")), "<text>\n"); }
TEST(FormatLineTest, ThreadCodeIsEightUpperCaseHexDigits) {
    EXPECT_EQ(Line("#T", MakeRecord("m")), ThreadIdText() + "\n");
}
TEST(FormatLineTest, ElapsedCode) {
    EXPECT_TRUE(std::regex_match(Line("#H", MakeRecord("m")), std::regex("[0-9]{6}\\.[0-9]{3}\n")));
}

TEST(FormatLineTest, ConsoleFormat) {
    EXPECT_EQ(Line("#E(#T): #L| #M", MakeRecord("disk full", Error)),
              "host.exe(" + ThreadIdText() + "):  ERROR| disk full\n");
}

TEST(FormatLineTest, DefaultTargetFormat) {
    EXPECT_EQ(Line("#D| #L| #G| #M", MakeRecord("hello", Always, 0x3)),
              "2024-05-01T13:04:09.007| ALWAYS| DBG;GEN| hello\n");
}

TEST(FormatLineTest, HashBeforeOtherCharactersGivesThatCharacter) {
    EXPECT_EQ(Line("a##b", MakeRecord("m")), "a#b\n");
    EXPECT_EQ(Line("#x#y#M", MakeRecord("m")), "xym\n");
    EXPECT_EQ(Line("####", MakeRecord("m")), "##\n");
    EXPECT_EQ(Line("#d", MakeRecord("m")), "d\n");
}

TEST(FormatLineTest, HashAtTheEndEndsTheFormat) {
    EXPECT_EQ(Line("abc#", MakeRecord("m")), "abc\n");
    EXPECT_EQ(Line("#", MakeRecord("m")), "\n");
}

TEST(FormatLineTest, LineEndsInExactlyOneLineFeed) {
    EXPECT_EQ(Line("#M", MakeRecord("one\n")), "one\n");
    EXPECT_EQ(Line("#M", MakeRecord("two\n\n")), "two\n\n");
    EXPECT_EQ(Line("#M", MakeRecord("")), "\n");
    EXPECT_EQ(Line("", MakeRecord("m")), "\n");
    EXPECT_EQ(Line(nullptr, MakeRecord("m")), "\n");
    EXPECT_EQ(Line("#M", MakeRecord("inner\nline")), "inner\nline\n");
}

TEST(FormatLineTest, LongLineIsCutSoThatLineFeedAndNulFit) {
    EXPECT_EQ(Line("abcdefgh", MakeRecord("m"), 6), "abcd\n");
    EXPECT_EQ(Line("#M", MakeRecord("abcdefgh"), 6), "abcd\n");
    EXPECT_EQ(Line("ab#D", MakeRecord("m"), 8), "ab2024\n");
    EXPECT_EQ(Line("#M", MakeRecord("abc\nefg"), 6), "abc\n");
    EXPECT_EQ(Line("#M", MakeRecord("ab"), 2), "\n");
    const std::string longMessage(5000, 'x');
    EXPECT_EQ(Line("#M", MakeRecord(longMessage.c_str())), std::string(4094, 'x') + "\n");
}

TEST(FormatLineTest, TinyBuffers) {
    char buffer[2] = {'x', 'x'};
    EXPECT_EQ(FormatLine(buffer, 0, "#M", MakeRecord("m"), ""), 0u);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(FormatLine(buffer, 1, "#M", MakeRecord("m"), ""), 0u);
    EXPECT_EQ(buffer[0], '\0');
}

TEST(FormatLineTest, NullMessageAndModulePrintNothing) {
    char buffer[32];
    FormatLine(buffer, sizeof buffer, "[#E|#M]", MakeRecord(nullptr), nullptr);
    EXPECT_STREQ(buffer, "[|]\n");
}

TEST(LogLevelNameTest, SixCharactersWide) {
    EXPECT_STREQ(LogLevelName(Okay), "  OKAY");
    EXPECT_STREQ(LogLevelName(Warn), "  WARN");
    EXPECT_STREQ(LogLevelName(Error), " ERROR");
    EXPECT_STREQ(LogLevelName(Always), "ALWAYS");
}

TEST(LogLevelNameTest, LevelOutsideTheTableHasItsOwnName) {
    EXPECT_STREQ(LogLevelName(static_cast<LogLevel>(4)), "  ????");
    EXPECT_STREQ(LogLevelName(static_cast<LogLevel>(-1)), "  ????");
    EXPECT_STREQ(LogLevelName(static_cast<LogLevel>(INT32_MIN)), "  ????");
    EXPECT_EQ(Line("#L", MakeRecord("m", static_cast<LogLevel>(1000))), "  ????\n");
}

TEST(FormatGroupsTest, NamesFromBitZeroUpward) {
    char buffer[64];
    EXPECT_EQ(FormatGroups(buffer, sizeof buffer, 0), 0u);
    EXPECT_STREQ(buffer, "");
    FormatGroups(buffer, sizeof buffer, 0xFF);
    EXPECT_STREQ(buffer, "DBG;GEN;XTR;PRF;MEM;DSK;NET;TST");
    FormatGroups(buffer, sizeof buffer, LogGroups{1} << 63 | 0x4);
    EXPECT_STREQ(buffer, "XTR;???");
}

TEST(FormatGroupsTest, CutToTheBuffer) {
    char buffer[6];
    EXPECT_EQ(FormatGroups(buffer, sizeof buffer, 0x3), 5u);
    EXPECT_STREQ(buffer, "DBG;G");
    EXPECT_EQ(FormatGroups(buffer, 1, 0x3), 0u);
    EXPECT_STREQ(buffer, "");
    char all[256];
    EXPECT_EQ(FormatGroups(all, sizeof all, ~LogGroups{0}), 255u);
}

TEST(LogTimeTest, TimeTexts) {
    const LogTime time{987, 12, 31, 23, 59, 58, 999};
    char buffer[64];
    EXPECT_EQ(FormatLogTime(buffer, sizeof buffer, time), 23u);
    EXPECT_STREQ(buffer, "0987-12-31T23:59:58.999");
    EXPECT_EQ(FormatLogFileTime(buffer, sizeof buffer, time), 19u);
    EXPECT_STREQ(buffer, "0987-12-31T23-59-58");
    EXPECT_EQ(FormatLogTime(buffer, 5, time), 4u);
    EXPECT_STREQ(buffer, "0987");
}

TEST(LogTimeTest, ReadsTheLocalTime) {
    const LogTime time = ReadLogTime();
    EXPECT_GE(time.year, 2000);
    EXPECT_GE(time.month, 1);
    EXPECT_LE(time.month, 12);
    EXPECT_LE(time.millisecond, 999);
}

TEST(ElapsedSecondsTest, NeverGoesBackwards) {
    const double first = ElapsedSeconds();
    const double second = ElapsedSeconds();
    EXPECT_GE(first, 0.0);
    EXPECT_GE(second, first);
}

}  // namespace
}  // namespace Korvo
