#include "sdk/allocation/allocation.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "sdk/records/memory_stats.h"
#include "sdk/platform/platform.h"

namespace Korvo::Memory {
namespace {

// Each case counts into its own counters through the same routines the
// process-wide layer uses.
class AccountingTest : public ::testing::Test {
protected:
    AllocationCounters counters_;
    AllocationRoutines r_ = AccountingRoutines(&counters_);

    MemoryStats Stats() const { return ReadCounters(counters_); }
};

TEST_F(AccountingTest, FreshCountersCopyAsZeros) {
    PluginMemoryStats out;
    std::memset(&out, 0xFF, sizeof(out));
    CopyMemoryStats(counters_, &out);
    PluginMemoryStats zero{};
    EXPECT_EQ(std::memcmp(&out, &zero, sizeof(out)), 0);
}

TEST_F(AccountingTest, AllocateAndFreeCountUsableSizes) {
    void* block = r_.allocate(r_.context, 10);
    size_t usable = Platform::UsableSize(block);
    EXPECT_GE(usable, 10u);
    EXPECT_EQ(Stats().bytesAllocated, usable);
    EXPECT_EQ(Stats().allocations, 1u);
    r_.free(r_.context, block);
    EXPECT_EQ(Stats().bytesFreed, usable);
    EXPECT_EQ(Stats().frees, 1u);
    r_.free(r_.context, nullptr);
    EXPECT_EQ(Stats().frees, 1u);
}

TEST_F(AccountingTest, FailedAllocationIsCountedWithNoBytes) {
    void* block = r_.allocate(r_.context, SIZE_MAX - 64);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(Stats().allocations, 1u);
    EXPECT_EQ(Stats().bytesAllocated, 0u);
}

TEST_F(AccountingTest, ReallocateCountsOneFreeAndOneAllocation) {
    void* block = r_.allocate(r_.context, 16);
    size_t first = Platform::UsableSize(block);
    block = r_.reallocate(r_.context, block, 4000);
    size_t second = Platform::UsableSize(block);
    EXPECT_EQ(Stats().allocations, 2u);
    EXPECT_EQ(Stats().frees, 1u);
    EXPECT_EQ(Stats().bytesFreed, first);
    EXPECT_EQ(Stats().bytesAllocated, first + second);
    r_.free(r_.context, block);

    // From null: the old block counts as a free of 0 bytes.
    void* fresh = r_.reallocate(r_.context, nullptr, 8);
    EXPECT_EQ(Stats().frees, 3u);
    r_.free(r_.context, fresh);
}

TEST_F(AccountingTest, DuplicateCountsOneAllocation) {
    char* copy = r_.duplicate(r_.context, "hello");
    EXPECT_STREQ(copy, "hello");
    EXPECT_EQ(Stats().allocations, 1u);
    EXPECT_EQ(Stats().bytesAllocated, Platform::UsableSize(copy));
    r_.free(r_.context, copy);
}

TEST_F(AccountingTest, PeakPairRemembersTheHighestInUse) {
    void* a = r_.allocate(r_.context, 1000);
    void* b = r_.allocate(r_.context, 2000);
    uint64_t peak = Platform::UsableSize(a) + Platform::UsableSize(b);
    r_.free(r_.context, a);
    void* c = r_.allocate(r_.context, 8);
    EXPECT_EQ(Stats().peakBytesInUse, peak);
    EXPECT_EQ(Stats().allocationsAtPeak, 2u);
    r_.free(r_.context, b);
    r_.free(r_.context, c);
    EXPECT_EQ(Stats().peakBytesInUse, peak);
}

TEST_F(AccountingTest, ConcurrentUpdatesLoseNothing) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([this] {
            for (int i = 0; i < kRounds; ++i) {
                void* block = r_.allocate(r_.context, 24 + (i % 7) * 8);
                block = r_.reallocate(r_.context, block, 100);
                r_.free(r_.context, block);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    MemoryStats stats = Stats();
    EXPECT_EQ(stats.allocations, uint64_t{kThreads} * kRounds * 2);
    EXPECT_EQ(stats.frees, uint64_t{kThreads} * kRounds * 2);
    EXPECT_EQ(stats.bytesAllocated, stats.bytesFreed);
    EXPECT_GT(stats.peakBytesInUse, 0u);
}

TEST(ProcessLayerTest, OperatorNewIsCounted) {
    uint64_t before = ReadCounters(ProcessCounters()).allocations;
    auto* numbers = new std::vector<int>(100);
    uint64_t after = ReadCounters(ProcessCounters()).allocations;
    EXPECT_GE(after - before, 2u);  // the vector object and its elements
    delete numbers;
}

TEST(ProcessLayerTest, GrowingFromNothingCountsNoFree) {
    MemoryStats before = ReadCounters(ProcessCounters());
    void* block = Reallocate(nullptr, 64);
    MemoryStats after = ReadCounters(ProcessCounters());
    EXPECT_EQ(after.allocations - before.allocations, 1u);
    EXPECT_EQ(after.frees, before.frees);
    Free(block);
}

TEST(ProcessLayerTest, CopyWritesTrailingZeros) {
    PluginMemoryStats out;
    std::memset(&out, 0xFF, sizeof(out));
    CopyMemoryStats(&out);
    EXPECT_EQ(out.reserved0, 0u);
    EXPECT_EQ(out.reserved1, 0u);
    EXPECT_GT(out.allocations, 0u);
}

}  // namespace
}  // namespace Korvo::Memory
