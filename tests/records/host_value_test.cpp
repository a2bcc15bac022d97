#include "sdk/records/host_value.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sdk/allocation/allocation.h"

namespace Korvo {
namespace {

constexpr uint32_t Code(HostValueType type) { return static_cast<uint32_t>(type); }

HostValue OwnedString(const char* text) {
    HostValue value{};
    value.type = Code(HostValueType::String);
    value.data.string.text = Memory::DuplicateString(text);
    value.data.string.length = static_cast<uint32_t>(std::strlen(text));
    return value;
}

HostValue OwnedBinary(std::vector<uint8_t> bytes) {
    HostValue value{};
    value.type = Code(HostValueType::Binary);
    value.data.binary.bytes = static_cast<uint8_t*>(Memory::Allocate(bytes.size()));
    std::memcpy(value.data.binary.bytes, bytes.data(), bytes.size());
    value.data.binary.count = static_cast<uint32_t>(bytes.size());
    return value;
}

HostValue Array(std::vector<HostValue> items) {
    HostValue value{};
    value.type = Code(HostValueType::Array);
    value.data.array.items = static_cast<HostValue*>(Memory::Allocate(items.size() * sizeof(HostValue)));
    if (!items.empty()) {
        std::memcpy(static_cast<void*>(value.data.array.items), items.data(), items.size() * sizeof(HostValue));
    }
    value.data.array.count = static_cast<uint32_t>(items.size());
    return value;
}

HostValue Object(std::vector<HostValueMember> members) {
    HostValue value{};
    value.type = Code(HostValueType::Object);
    value.data.object.members =
        static_cast<HostValueMember*>(Memory::Allocate(members.size() * sizeof(HostValueMember)));
    std::memcpy(static_cast<void*>(value.data.object.members), members.data(),
                members.size() * sizeof(HostValueMember));
    value.data.object.count = static_cast<uint32_t>(members.size());
    return value;
}

HostValueMember OwnedKey(const char* key, HostValue value) {
    return HostValueMember{Memory::DuplicateString(key), value, 1};
}

HostValueMember BorrowedKey(const char* key, HostValue value) {
    return HostValueMember{const_cast<char*>(key), value, 0};
}

bool IsAllZero(const HostValue& value) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&value);
    for (size_t i = 0; i < sizeof value; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

// Counts the layer's blocks between construction and a check: every block
// allocated since must have been freed. Borrowed parts point at memory the
// layer never gave, so freeing one would also trip the sanitizers.
class BlockBalance {
public:
    BlockBalance() : start_(Memory::ReadCounters(Memory::ProcessCounters())) {}
    uint64_t Outstanding() const {
        Memory::MemoryStats now = Memory::ReadCounters(Memory::ProcessCounters());
        return (now.allocations - start_.allocations) - (now.frees - start_.frees);
    }

private:
    Memory::MemoryStats start_;
};

TEST(HostValueTest, FreeingNullDoesNothing) {
    FreeHostValue(nullptr);
    HostValue value{};
    FreeHostValue(&value);
    EXPECT_TRUE(IsAllZero(value));
}

TEST(HostValueTest, FreeingScalarsLeavesNull) {
    HostValue value{};
    value.type = Code(HostValueType::Double);
    value.data.float64 = 2.5;
    FreeHostValue(&value);
    EXPECT_TRUE(IsAllZero(value));
}

TEST(HostValueTest, FreeingReleasesOwnedStringAndBinary) {
    BlockBalance balance;
    HostValue text = OwnedString("hello");
    HostValue bytes = OwnedBinary({1, 2, 3});
    EXPECT_EQ(balance.Outstanding(), 2u);
    FreeHostValue(&text);
    FreeHostValue(&bytes);
    EXPECT_EQ(balance.Outstanding(), 0u);
    EXPECT_TRUE(IsAllZero(text));
    EXPECT_TRUE(IsAllZero(bytes));
}

TEST(HostValueTest, BorrowedStringAndBinaryAreNeverFreed) {
    static char text[] = "host's";
    static uint8_t bytes[] = {9, 8};
    HostValue borrowedText{};
    borrowedText.type = Code(HostValueType::BorrowedString);
    borrowedText.data.string = {text, 6};
    HostValue borrowedBytes{};
    borrowedBytes.type = Code(HostValueType::BorrowedBinary);
    borrowedBytes.data.binary = {bytes, 2};
    BlockBalance balance;
    HostValue array = Array({borrowedText, borrowedBytes});
    FreeHostValue(&array);
    FreeHostValue(&borrowedText);
    EXPECT_EQ(balance.Outstanding(), 0u);
    EXPECT_TRUE(IsAllZero(borrowedText));
    EXPECT_STREQ(text, "host's");
}

TEST(HostValueTest, ObjectFreesOnlyTheKeysItOwns) {
    BlockBalance balance;
    HostValue object = Object({BorrowedKey("static", OwnedString("a")), OwnedKey("copied", OwnedBinary({7}))});
    FreeHostValue(&object);
    EXPECT_EQ(balance.Outstanding(), 0u);
    EXPECT_TRUE(IsAllZero(object));
}

TEST(HostValueTest, ArrayOfArraysFreesEveryLevel) {
    BlockBalance balance;
    HostValue outer = Array({Array({OwnedString("x"), Array({})}), Array({Array({OwnedString("y")})}),
                             Object({OwnedKey("k", Array({OwnedString("z")}))})});
    FreeHostValue(&outer);
    EXPECT_EQ(balance.Outstanding(), 0u);
    EXPECT_TRUE(IsAllZero(outer));
}

TEST(HostValueTest, UnknownTypeCodesOwnNothing) {
    BlockBalance balance;
    HostValue odd{};
    odd.type = 77;
    odd.data.uint64 = 0xDEADBEEF;
    HostValue array = Array({odd});
    FreeHostValue(&array);
    FreeHostValue(&odd);
    EXPECT_EQ(balance.Outstanding(), 0u);
    EXPECT_TRUE(IsAllZero(odd));
}

// A million nested levels, alternating arrays and objects, each level also
// holding an owned string beside the nested container.
TEST(HostValueTest, MillionLevelsDeepFreesInConstantStack) {
    constexpr int kDepth = 1000000;
    BlockBalance balance;
    HostValue inner = OwnedString("bottom");
    for (int level = 0; level < kDepth; ++level) {
        if (level % 2 == 0) {
            inner = Array({OwnedString("s"), inner});
        } else {
            inner = Object({OwnedKey("v", inner), BorrowedKey("w", HostValue{})});
        }
    }
    FreeHostValue(&inner);
    EXPECT_EQ(balance.Outstanding(), 0u);
    EXPECT_TRUE(IsAllZero(inner));
}

}  // namespace
}  // namespace Korvo
