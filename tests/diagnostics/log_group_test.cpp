// Tests of group registration (a process-wide table: its own program).
#include "sdk/diagnostics/log_line.h"
#include "sdk/diagnostics/logger.h"

#include <string>

#include <gtest/gtest.h>

namespace Korvo {
namespace {

std::string Names(LogGroups groups) {
    char buffer[256];
    FormatGroups(buffer, sizeof buffer, groups);
    return buffer;
}

TEST(RegisterGroupTest, FillsTheTableAndThenRefuses) {
    // Known names keep their bits; only the first three characters count.
    LogGroups result = 0;
    EXPECT_EQ(RegisterGroup(&result, "NET"), LogGroups{1} << 6);
    EXPECT_EQ(result, LogGroups{1} << 6);
    EXPECT_EQ(RegisterGroup(nullptr, "DBGX"), LogGroups{1} << 0);
    EXPECT_EQ(RegisterGroup(nullptr, "TST"), LogGroups{1} << 7);

    // New names take bit 8, then 9, and are found again.
    EXPECT_EQ(RegisterGroup(&result, "UIS"), LogGroups{1} << 8);
    EXPECT_EQ(result, LogGroups{1} << 8);
    EXPECT_EQ(RegisterGroup(nullptr, "HTTP"), LogGroups{1} << 9);
    EXPECT_EQ(RegisterGroup(nullptr, "HTT"), LogGroups{1} << 9);
    EXPECT_EQ(RegisterGroup(nullptr, "UIS"), LogGroups{1} << 8);
    EXPECT_EQ(Names(LogGroups{3} << 8), "UIS;HTT");

    // Shorter names are names of their own.
    EXPECT_EQ(RegisterGroup(nullptr, "A"), LogGroups{1} << 10);
    EXPECT_EQ(RegisterGroup(nullptr, "AB"), LogGroups{1} << 11);
    EXPECT_EQ(Names(LogGroups{3} << 10), "A;AB");

    // Nothing to register.
    result = 77;
    EXPECT_EQ(RegisterGroup(&result, nullptr), 0u);
    EXPECT_EQ(RegisterGroup(&result, ""), 0u);
    EXPECT_EQ(result, 77u);

    // Through the function table, up to the last bit.
    const LoggingInterface* logging = GetLoggingInterface();
    for (int bit = 12; bit < 64; ++bit) {
        const std::string name = "G" + std::to_string(bit);
        EXPECT_EQ(logging->RegisterGroup(logging, nullptr, name.c_str()), LogGroups{1} << bit) << name;
    }
    EXPECT_EQ(Names(LogGroups{1} << 63), "G63");
    EXPECT_EQ(RegisterGroup(&result, "ZZZ"), 0u);
    EXPECT_EQ(result, 77u);
    EXPECT_EQ(RegisterGroup(nullptr, "G40"), LogGroups{1} << 40);
}

}  // namespace
}  // namespace Korvo
