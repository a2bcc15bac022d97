#include "sdk/async/wait_yield.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "host/testing/fake_host.h"
#include "tests/support/host_table_plugin.h"

namespace Korvo {
namespace {

using ::testing::ElementsAre;

TEST(WaitYieldTest, MarksYieldsAndPollsOnceEachInThatOrder) {
    Host::FakeHost host;
    Testing::HostTablePlugin plugin(host.Functions());

    const uint64_t first = WaitYield(plugin);
    EXPECT_THAT(host.WaitCalls(), ElementsAre("MarkActivity Wait: yield 0", "Yield", "PollWake"));

    // The polled value is handed on unchanged.
    const uint64_t second = WaitYield(plugin);
    EXPECT_EQ(second, first + 1);
    EXPECT_EQ(host.WaitCalls().size(), 6u);
}

}  // namespace
}  // namespace Korvo
