// The plug-in's own memory counters over repeated lives of the plug-in
// object: from the second cycle on, what a cycle leaves allocated returns to
// the same level.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/plugin/plugin_test_support.h"

namespace Korvo {
namespace {

constexpr int kCycles = 4;
constexpr int kWritesPerCycle = 300;

uint64_t BytesInUse(const PluginMemoryStats& stats) { return stats.bytesAllocated - stats.bytesFreed; }

class PluginMemoryTest : public Testing::PluginFixture {};

TEST_F(PluginMemoryTest, EveryCycleAfterTheFirstEndsAtTheSameLevel) {
    std::vector<uint64_t> bytes;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        ASSERT_TRUE(LoadAndStart());
        for (int i = 0; i < kWritesPerCycle; ++i) {
            const std::string feature = "feature" + std::to_string(i % 50);
            ASSERT_FALSE(Post(feature, R"({"state":"s)" + std::to_string(i) +
                                           R"(","updatedBy":"u","data":{"list":[1,2,3],"text":"abc"}})")
                             .error);
            ASSERT_FALSE(Get(feature).error);
            if (i % 20 == 0) {
                ASSERT_FALSE(List().error);
            }
        }
        host_.Stop();
        host_.ClearRecords();
        const PluginMemoryStats stats = host_.MemoryStats();
        EXPECT_GE(stats.peakBytesInUse, BytesInUse(stats));
        bytes.push_back(BytesInUse(stats));
    }
    for (int cycle = 2; cycle < kCycles; ++cycle) {
        EXPECT_EQ(bytes[cycle], bytes[1]) << "cycle " << cycle;
    }
}

}  // namespace
}  // namespace Korvo
