#include "sdk/platform/platform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace Korvo::Platform {
namespace {

TEST(PlatformTest, RecursiveLockCanBeTakenTwiceByItsOwner) {
    RecursiveLock lock;
    lock.Lock();
    lock.Lock();
    lock.Unlock();
    lock.Unlock();
    std::thread other([&] { std::lock_guard<RecursiveLock> guard(lock); });
    other.join();
}

TEST(PlatformTest, LocalTimeFieldsAreInRange) {
    LocalTime now = GetLocalTime();
    EXPECT_GE(now.year, 2020);
    EXPECT_GE(now.month, 1);
    EXPECT_LE(now.month, 12);
    EXPECT_GE(now.day, 1);
    EXPECT_LE(now.day, 31);
    EXPECT_LT(now.hour, 24);
    EXPECT_LT(now.minute, 60);
    EXPECT_LT(now.second, 61);
    EXPECT_LT(now.millisecond, 1000);
}

TEST(PlatformTest, SystemTimeCountsFrom1970InBothUnits) {
    int64_t ms = SystemTimeMilliseconds();
    int64_t ticks = SystemTimeTicks100ns();
    int64_t precise = PreciseSystemTimeTicks100ns();
    EXPECT_GT(ms, int64_t{1577836800000});  // after 2020-01-01
    EXPECT_NEAR(static_cast<double>(ticks / 10000), static_cast<double>(ms), 5000.0);
    EXPECT_NEAR(static_cast<double>(precise / 10000), static_cast<double>(ms), 5000.0);
}

TEST(PlatformTest, PerformanceCounterMovesForward) {
    EXPECT_GT(PerformanceFrequency(), 0);
    int64_t first = PerformanceCounter();
    int64_t second = PerformanceCounter();
    EXPECT_LE(first, second);
}

TEST(PlatformTest, ThreadIdsDifferBetweenThreads) {
    uint32_t mine = CurrentThreadId();
    uint32_t theirs = 0;
    std::thread other([&] { theirs = CurrentThreadId(); });
    other.join();
    EXPECT_NE(mine, 0u);
    EXPECT_NE(mine, theirs);
}

TEST(PlatformTest, MainExecutableFileNameHasNoDirectory) {
    char name[1024];
    size_t length = MainExecutableFileName(name, sizeof(name));
    ASSERT_GT(length, 0u);
    EXPECT_EQ(std::strchr(name, '/'), nullptr);
    EXPECT_EQ(std::strchr(name, '\\'), nullptr);
    EXPECT_NE(std::string(name).find("platform_test"), std::string::npos);

    char tiny[4];
    EXPECT_EQ(MainExecutableFileName(tiny, sizeof(tiny)), 3u);
    EXPECT_EQ(std::strlen(tiny), 3u);
}

void Record(const char* text, void* context) { *static_cast<std::string*>(context) += text; }

TEST(PlatformTest, DebuggerOutputReachesTheInstalledSinkOnly) {
    std::string seen;
    DebuggerOutput("before");
    SetDebuggerSink(&Record, &seen);
    DebuggerOutput("one ");
    DebuggerOutput("two");
    EXPECT_EQ(SetDebuggerSink(nullptr, nullptr), &Record);
    DebuggerOutput("after");
    EXPECT_EQ(seen, "one two");
}

TEST(PlatformTest, BlocksAreAlignedWritableAndReleasable) {
    void* blocks[4];
    for (void*& block : blocks) {
        block = ReserveBlock();
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % kBlockSize, 0u);
        std::memset(block, 0xA5, kBlockSize);
    }
    for (void* block : blocks) ReleaseBlock(block);
}

TEST(PlatformTest, MissingLibraryAndSymbolGiveNull) {
    EXPECT_EQ(LoadSharedLibrary("no-such-library-korvo.dll"), nullptr);
    EXPECT_EQ(LoadSharedLibrary(nullptr), nullptr);
    EXPECT_EQ(FindSymbol(nullptr, "x"), nullptr);
}

TEST(PlatformTest, UsableSizeIsAtLeastTheRequest) {
    void* block = std::malloc(100);
    EXPECT_GE(UsableSize(block), 100u);
    std::free(block);
    EXPECT_EQ(UsableSize(nullptr), 0u);
}

}  // namespace
}  // namespace Korvo::Platform
