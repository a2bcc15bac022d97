// Lookups from many threads while the start-up thread keeps registering:
// every map access holds the registry's mutex.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "sdk/binding/builtin_types.h"
#include "sdk/binding/registry.h"

namespace Korvo {
namespace {

TEST(BindingRegistryConcurrencyTest, ParallelLookupsDuringRegistration) {
    BindingRegistry registry;
    registry.Initialise();
    const uint32_t asyncStateHash = StaticType::HashCode<BindingAsyncState::Type>().hash;
    constexpr int kReaders = 4;
    constexpr int kFunctions = 400;
    std::atomic<bool> stop{false};
    std::atomic<int> misses{0};

    std::vector<std::thread> readers;
    for (int reader = 0; reader < kReaders; ++reader) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                if (registry.FindTypeByName("BindingFullApiHelp") == nullptr) ++misses;
                if (registry.FindType(StaticType::HashCode<BindingCallbackEvent>()) == nullptr) ++misses;
                if (registry.FindEvent("OnCallback") == nullptr) ++misses;
                const char* const name = registry.FindEnumeratorName(asyncStateHash, 3);
                if (name == nullptr || std::string(name) != "Cancelled") ++misses;
                (void)registry.FindFunction("f7");
                (void)registry.FunctionsSnapshot();
                (void)registry.ChangeCount();
            }
        });
    }
    for (int index = 0; index < kFunctions; ++index) {
        registry.RegisterFunction("f" + std::to_string(index), 1);
        if (index % 2 == 0) registry.RemoveFunction("f" + std::to_string(index));
    }
    stop = true;
    for (std::thread& reader : readers) reader.join();

    EXPECT_EQ(misses.load(), 0);
    EXPECT_EQ(registry.FunctionsSnapshot().size(), static_cast<size_t>(kFunctions / 2));
}

}  // namespace
}  // namespace Korvo
