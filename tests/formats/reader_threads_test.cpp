// The readers share nothing but the process-wide page pool behind the value
// trees: many threads may read at once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "sdk/formats/json_reader.h"
#include "sdk/formats/message_pack_reader.h"
#include "sdk/formats/yaml_reader.h"
#include "tests/support/binding_matchers.h"

namespace Korvo {
namespace {

using Testing::FailedWithMessage;
using Testing::HasMember;
using Testing::HasValue;
using Testing::IsCollection;
using ::testing::ElementsAre;
using ::testing::SizeIs;

constexpr int kThreads = 4;
constexpr int kRounds = 200;

TEST(ReaderThreadsTest, ThreadsReadAtOnce) {
    const std::string json = R"({"name":"x","list":[1,2,3],"nested":{"deep":[{"k":"v"}]}})";
    const std::string yaml = "name: x\nlist: &l [1, 2, 3]\ncopy: *l\n";
    const uint8_t messagePack[] = {0x82, 0xA4, 'n', 'a', 'm', 'e', 0xA1, 'x', 0xA4, 'l', 'i', 's', 't', 0x93, 0x01, 0x02, 0x03};
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                BindingResult fromJson = ReadJson(json);
                BindingResult fromYaml = ReadYaml(yaml);
                uint32_t position = 0;
                BindingResult fromMessagePack = ReadMessagePack(messagePack, sizeof(messagePack), &position);
                BindingResult broken = ReadJson("[1,");
                bool ok = fromJson.Value().Get("nested").Get("deep").At(0).Get("k").AsString() == "v" &&
                          fromYaml.Value().Get("copy").Size() == 3 && fromMessagePack.Value().Get("list").Size() == 3 &&
                          broken.Failed();
                if (!ok) ++failures[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_THAT(failures, ElementsAre(0, 0, 0, 0));
    // One more read on this thread after the others are gone.
    EXPECT_THAT(ReadYaml("list: [1, 2, 3]"), HasValue(HasMember("list", IsCollection(SizeIs(3)))));
    EXPECT_THAT(ReadJson("[1,"), FailedWithMessage("Error: Invalid value. at offset 3."));
}

}  // namespace
}  // namespace Korvo
