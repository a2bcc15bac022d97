// A host that loads, uses, stops and unloads the built plug-in library over
// and over in one process: from the second cycle on, nothing of it stays
// behind - not in the plug-in's own allocation counters, and not in the
// process's mapped memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "host/testing/fake_host.h"
#include "sdk/platform/platform.h"
#include "tests/plugin/plugin_test_support.h"
#include "tests/support/test_support.h"

namespace Korvo {
namespace {

using Host::FakeHost;
using Testing::kArgumentsPath;
using Testing::kLocalePath;
using Testing::kJson;
using Testing::kPost;
using Testing::kStatesPrefix;

constexpr int kCycles = 10;
constexpr int kFeatures = 20;
// The run after the first cycle is looked at in two halves of four cycles
// each. Something left behind by every cycle (a library image, a 64 KiB
// block) grows both halves by four of it. The process heap, which the
// library's runtime shares with the host, may grow once when a large
// document no longer fits its free space, and keeps that memory; such a step
// falls in one half only (64-bit Wine takes one of 1.8 MiB in this run).
constexpr int kHalf = 4;
constexpr uint64_t kMappedSlackBytes = 128 * 1024;
constexpr size_t kRegionSlack = 2;

uint64_t BytesInUse(const PluginMemoryStats& stats) { return stats.bytesAllocated - stats.bytesFreed; }

struct Cycle {
    uint64_t bytesAfterStop;
    Platform::AddressSpaceUsage mappedAfterUnload;
};

// One life of the library: load, start, twenty writes (one of them with a
// large document as its data), reads, stop, unload.
Cycle RunCycle(const std::string& largeDocument) {
    Cycle cycle{};
    FakeHost host;
    EXPECT_TRUE(host.Load(Testing::PluginLibraryPath()));
    host.AnswerValue(kLocalePath, Testing::Locale("QUORVEX"));
    host.AnswerValue(kArgumentsPath, Testing::Arguments({}));
    EXPECT_NE(host.CallLoad(), nullptr);
    EXPECT_TRUE(host.Start());
    for (int i = 0; i < kFeatures; ++i) {
        const std::string data = i == 0 ? largeDocument : R"({"volume":0.5,"devices":["a","b"]})";
        const std::string body = R"({"state":"on","updatedBy":"reload","data":)" + data + "}";
        const FakeHost::CallResponse written = host.Call(kPost, kStatesPrefix + std::to_string(i), body, kJson);
        EXPECT_FALSE(written.error) << written.errorMessage << written.text;
        EXPECT_FALSE(host.Call(Testing::kGet, kStatesPrefix + std::to_string(i)).error);
    }
    EXPECT_FALSE(host.Call(Testing::kGet, Testing::kStatesPath).error);
    host.Stop();
    cycle.bytesAfterStop = BytesInUse(host.MemoryStats());
    host.ClearRecords();
    host.Unload();
    cycle.mappedAfterUnload = Platform::ReadAddressSpaceUsage();
    return cycle;
}

TEST(PluginReloadTest, CyclesOfLoadUseStopAndUnloadLeaveTheProcessWhereItWas) {
    const std::string large = Testing::ReadFile(Testing::BenchDataDirectory() + "/json/twitter.json");
    ASSERT_FALSE(large.empty()) << "the corpus document json/twitter.json";

    std::vector<Cycle> cycles;
    for (int i = 0; i < kCycles; ++i) {
        cycles.push_back(RunCycle(large));
        if (HasFailure()) return;
    }

    for (int i = 0; i < kCycles; ++i) {
        // The load's own allocations are the plug-in object and what it
        // registered, all of which the stop destroys: nothing is left.
        EXPECT_EQ(cycles[i].bytesAfterStop, 0u) << "cycle " << i;
    }
    static_assert(1 + 2 * kHalf < kCycles);
    const Platform::AddressSpaceUsage& second = cycles[1].mappedAfterUnload;
    const Platform::AddressSpaceUsage& middle = cycles[1 + kHalf].mappedAfterUnload;
    const Platform::AddressSpaceUsage& last = cycles[1 + 2 * kHalf].mappedAfterUnload;
    ASSERT_GT(second.regions, 0u) << "the system told nothing of the address space";
    const auto growth = [](uint64_t from, uint64_t to) { return to > from ? to - from : 0; };
    EXPECT_LE(std::min(growth(second.bytes, middle.bytes), growth(middle.bytes, last.bytes)), kMappedSlackBytes)
        << "mapped bytes grew in both halves: " << second.bytes << ", " << middle.bytes << ", " << last.bytes;
    EXPECT_LE(std::min(growth(second.regions, middle.regions), growth(middle.regions, last.regions)), kRegionSlack)
        << "mapped regions grew in both halves: " << second.regions << ", " << middle.regions << ", "
        << last.regions;
}

}  // namespace
}  // namespace Korvo
