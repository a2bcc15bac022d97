// Between BindingProperty and HostValue: every type code and kind, hostile
// records from the host, very deep trees and running out of memory.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "sdk/binding/host_value_conversion.h"
#include "sdk/binding/record_builder.h"
#include "sdk/binding/registry.h"
#include "sdk/allocation/allocation.h"
#include "sdk/records/host_value.h"
#include "tests/support/allocation_budget.h"
#include "tests/support/binding_matchers.h"

namespace Korvo {
namespace {

using Testing::AllocationBudget;

using Testing::IsBlob;
using Testing::IsBool;
using Testing::IsCollection;
using Testing::IsEmptyValue;
using Testing::IsFloat;
using Testing::IsSigned;
using Testing::IsString;
using Testing::IsStructure;
using Testing::IsUnsigned;
using ::testing::ElementsAre;
using ::testing::Pair;

constexpr uint32_t Code(HostValueType type) { return static_cast<uint32_t>(type); }

HostValue Value(HostValueType type) {
    HostValue value;
    std::memset(static_cast<void*>(&value), 0, sizeof(value));
    value.type = Code(type);
    return value;
}

HostValue Text(const char* text, HostValueType type = HostValueType::BorrowedString) {
    HostValue value = Value(type);
    value.data.string.text = const_cast<char*>(text);
    value.data.string.length = text != nullptr ? static_cast<uint32_t>(std::strlen(text)) : 0;
    return value;
}

HostValue Signed(int64_t number) {
    HostValue value = Value(HostValueType::Int64);
    value.data.int64 = number;
    return value;
}

HostValue Array(HostValue* items, uint32_t count) {
    HostValue value = Value(HostValueType::Array);
    value.data.array.items = items;
    value.data.array.count = count;
    return value;
}

HostValue Object(HostValueMember* members, uint32_t count) {
    HostValue value = Value(HostValueType::Object);
    value.data.object.members = members;
    value.data.object.count = count;
    return value;
}

HostValueMember Member(const char* key, HostValue value) {
    HostValueMember member;
    std::memset(static_cast<void*>(&member), 0, sizeof(member));
    member.key = const_cast<char*>(key);
    member.value = value;
    return member;
}

// A copy of a field of a packed record (gtest would bind a misaligned
// reference to the field itself).
template <typename T>
T Copy(T value) {
    return value;
}

bool IsAllZero(const void* record, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(record);
    for (size_t index = 0; index < size; ++index) {
        if (bytes[index] != 0) return false;
    }
    return true;
}

// A zeroed error record that frees what a failure put into it.
struct ErrorRecord {
    HostValueResult record;
    ErrorRecord() { std::memset(static_cast<void*>(&record), 0, sizeof(record)); }
    ~ErrorRecord() {
        FreeHostValue(&record.value);
        Memory::Free(record.message);
    }
    std::string Message() const { return record.message != nullptr ? record.message : "(null)"; }
};

// A host value built by ToHostValue, freed at the end of the test.
struct OwnedHostValue {
    HostValue value;
    OwnedHostValue() { std::memset(static_cast<void*>(&value), 0, sizeof(value)); }
    ~OwnedHostValue() { FreeHostValue(&value); }
};

enum class Level : int32_t { Low = 1, High = 2 };

class HostValueConversionTest : public ::testing::Test {
protected:
    HostValueConversionTest() {
        RegisterEnum<Level>(registry_, "Level").Enumerator("Low", Level::Low).Enumerator("High", Level::High);
    }

    // Reads value under the root name "<result>".
    BindingProperty Read(const HostValue& value) {
        BindingProperty property;
        ErrorRecord error;
        EXPECT_TRUE(ToProperty(error.record, property, value, "<result>", &registry_)) << error.Message();
        return property;
    }

    // Reads a value that must fail; returns the message.
    std::string ReadFailure(const HostValue& value) {
        BindingProperty property = 5;
        ErrorRecord error;
        EXPECT_FALSE(ToProperty(error.record, property, value, "<result>", &registry_));
        EXPECT_EQ(Copy(error.record.error), 1);
        EXPECT_TRUE(IsAllZero(&error.record.value, sizeof(HostValue)));
        EXPECT_TRUE(property.Is(BindingPropertyKind::Empty));
        return error.Message();
    }

    uint32_t LevelHash() const { return StaticType::HashCode<Level>().hash; }

    BindingRegistry registry_;
};

// ------------------------------------------------------ host to property

TEST_F(HostValueConversionTest, ReadsEveryTypeCode) {
    HostValue boolean = Value(HostValueType::Bool);
    boolean.data.boolean = 1;
    HostValue unsignedValue = Value(HostValueType::UInt64);
    unsignedValue.data.uint64 = UINT64_MAX;
    HostValue doubleValue = Value(HostValueType::Double);
    doubleValue.data.float64 = 1.5;
    uint8_t bytes[] = {7, 8, 9};
    HostValue binary = Value(HostValueType::BorrowedBinary);
    binary.data.binary.bytes = bytes;
    binary.data.binary.count = 3;

    EXPECT_THAT(Read(Value(HostValueType::Null)), IsEmptyValue());
    EXPECT_THAT(Read(boolean), IsBool(true));
    EXPECT_THAT(Read(Signed(INT64_MIN)), IsSigned(INT64_MIN));
    EXPECT_THAT(Read(unsignedValue), IsUnsigned(UINT64_MAX));
    EXPECT_THAT(Read(doubleValue), IsFloat(1.5));
    EXPECT_THAT(Read(binary), IsBlob(ElementsAre(7, 8, 9)));
    binary.type = Code(HostValueType::Binary);
    EXPECT_THAT(Read(binary), IsBlob(ElementsAre(7, 8, 9)));
}

TEST_F(HostValueConversionTest, BorrowedAndOwnedStringsReadAlike) {
    EXPECT_EQ(Read(Text("same", HostValueType::BorrowedString)), Read(Text("same", HostValueType::String)));
    EXPECT_THAT(Read(Text("same")), IsString("same"));
    // The text ends at its NUL, whatever the length word says.
    HostValue lying = Text("ab");
    lying.data.string.length = 1000;
    EXPECT_THAT(Read(lying), IsString("ab"));
    EXPECT_THAT(Read(Text(nullptr)), IsString(""));
}

TEST_F(HostValueConversionTest, ReadsArraysAndObjectsInOrder) {
    HostValue inner[] = {Signed(1), Text("x")};
    HostValueMember members[] = {Member("b", Array(inner, 2)), Member("a", Signed(2)), Member(nullptr, Signed(3)),
                                 Member("a", Signed(4))};
    EXPECT_THAT(Read(Object(members, 4)),
                IsStructure(ElementsAre(Pair("", IsSigned(3)), Pair("a", IsSigned(4)),
                                        Pair("b", IsCollection(ElementsAre(IsSigned(1), IsString("x")))))));
    EXPECT_THAT(Read(Array(nullptr, 0)), IsCollection(::testing::IsEmpty()));
    EXPECT_THAT(Read(Object(nullptr, 0)), IsStructure(::testing::IsEmpty()));
}

TEST_F(HostValueConversionTest, UnknownTypeCodeFails) {
    HostValue unknown = Value(HostValueType::Null);
    unknown.type = 11;
    EXPECT_EQ(ReadFailure(unknown),
              "Couldn't assign value to '<result>' of type object because the input is of an incompatible type ''.");
    unknown.type = 0xFFFFFFFFu;
    EXPECT_THAT(ReadFailure(unknown), ::testing::EndsWith("incompatible type ''."));
}

TEST_F(HostValueConversionTest, FailureInsideAContainerStopsEverything) {
    HostValue unknown = Value(HostValueType::Null);
    unknown.type = 42;
    HostValue items[] = {Signed(1), unknown, Signed(3)};
    HostValueMember members[] = {Member("list", Array(items, 3))};
    EXPECT_THAT(ReadFailure(Object(members, 1)), ::testing::EndsWith("incompatible type ''."));
}

TEST_F(HostValueConversionTest, CountWithoutRecordsFails) {
    // Whatever the count claims, a null pointer holds nothing to read.
    EXPECT_EQ(ReadFailure(Array(nullptr, 0xFFFFFFFFu)),
              "Couldn't assign value to '<result>' of type object because the input is of an incompatible type "
              "'collection'.");
    EXPECT_THAT(ReadFailure(Object(nullptr, 3)), ::testing::EndsWith("incompatible type 'structure'."));
    HostValue binary = Value(HostValueType::Binary);
    binary.data.binary.count = 10;
    EXPECT_THAT(ReadFailure(binary), ::testing::EndsWith("incompatible type 'blob'."));
}

TEST_F(HostValueConversionTest, FailureReplacesAnEarlierErrorRecord) {
    ErrorRecord error;
    error.record.message = Memory::DuplicateString("old");
    error.record.value = Signed(1);
    HostValue unknown = Value(HostValueType::Null);
    unknown.type = 99;
    BindingProperty property;
    EXPECT_FALSE(ToProperty(error.record, property, unknown, "root", nullptr));
    EXPECT_THAT(error.Message(), ::testing::StartsWith("Couldn't assign value to 'root'"));
    EXPECT_TRUE(IsAllZero(&error.record.value, sizeof(HostValue)));
}

TEST_F(HostValueConversionTest, MillionLevelsDeepTakeNoStack) {
    constexpr uint32_t kDepth = 1000000;
    std::vector<HostValue> chain(kDepth + 1);
    for (uint32_t level = 0; level < kDepth; ++level) chain[level] = Array(&chain[level + 1], 1);
    chain[kDepth] = Signed(7);

    BindingProperty property = Read(chain[0]);
    const BindingProperty* cursor = &property;
    uint32_t depth = 0;
    while (cursor->Is(BindingPropertyKind::Collection)) {
        cursor = &cursor->At(0);
        ++depth;
    }
    EXPECT_EQ(depth, kDepth);
    EXPECT_THAT(*cursor, IsSigned(7));

    // Back to a host value, as deep.
    OwnedHostValue back;
    ASSERT_TRUE(ToHostValue(back.value, property, nullptr));
    const HostValue* record = &back.value;
    depth = 0;
    while (record->type == Code(HostValueType::Array)) {
        ASSERT_EQ(Copy(record->data.array.count), 1u);
        record = record->data.array.items;
        ++depth;
    }
    EXPECT_EQ(depth, kDepth);

    // A bad type code at the bottom fails without a crash.
    chain[kDepth].type = 12;
    EXPECT_THAT(ReadFailure(chain[0]), ::testing::EndsWith("incompatible type ''."));
}

// ------------------------------------------------------ property to host

TEST_F(HostValueConversionTest, WritesEveryKind) {
    BindingProperty property;
    property.Member("b") = true;
    property.Member("s") = -5;
    property.Member("u") = 5u;
    property.Member("f") = 0.25;
    property.Member("t") = "text";
    property.Member("e").SetString("");
    property.Member("x") = BindingProperty::Blob{1, 2};
    property.Member("c").Append() = 1;
    property.Member("n");

    OwnedHostValue host;
    ASSERT_TRUE(ToHostValue(host.value, property, &registry_));
    ASSERT_EQ(Copy(host.value.type), Code(HostValueType::Object));
    ASSERT_EQ(Copy(host.value.data.object.count), 9u);
    const HostValueMember* members = host.value.data.object.members;
    const char* const names[] = {"b", "c", "e", "f", "n", "s", "t", "u", "x"};
    for (size_t index = 0; index < std::size(names); ++index) {
        EXPECT_STREQ(members[index].key, names[index]);
        EXPECT_EQ(Copy(members[index].ownsKey), 1);
    }
    EXPECT_EQ(Copy(members[0].value.type), Code(HostValueType::Bool));
    EXPECT_EQ(Copy(members[0].value.data.boolean), 1);
    EXPECT_EQ(Copy(members[1].value.type), Code(HostValueType::Array));
    EXPECT_EQ(Copy(members[1].value.data.array.count), 1u);
    EXPECT_EQ(Copy(members[2].value.type), Code(HostValueType::String));
    EXPECT_STREQ(members[2].value.data.string.text, "");
    EXPECT_EQ(Copy(members[3].value.type), Code(HostValueType::Double));
    EXPECT_EQ(Copy(members[3].value.data.float64), 0.25);
    EXPECT_TRUE(IsAllZero(&members[4].value, sizeof(HostValue)));
    EXPECT_EQ(Copy(members[5].value.type), Code(HostValueType::Int64));
    EXPECT_EQ(Copy(members[5].value.data.int64), -5);
    EXPECT_EQ(Copy(members[6].value.type), Code(HostValueType::String));
    EXPECT_STREQ(members[6].value.data.string.text, "text");
    EXPECT_EQ(Copy(members[6].value.data.string.length), 4u);
    EXPECT_EQ(Copy(members[7].value.type), Code(HostValueType::UInt64));
    EXPECT_EQ(Copy(members[7].value.data.uint64), 5u);
    EXPECT_EQ(Copy(members[8].value.type), Code(HostValueType::Binary));
    EXPECT_EQ(Copy(members[8].value.data.binary.count), 2u);
    EXPECT_EQ(Copy(members[8].value.data.binary.bytes[1]), 2);

    // And back.
    EXPECT_EQ(Read(host.value), property);
}

TEST_F(HostValueConversionTest, EnumTravelsAsItsNameWhenTheRegistryKnowsOne) {
    BindingProperty named;
    named.SetEnum(2, LevelHash());
    OwnedHostValue host;
    ASSERT_TRUE(ToHostValue(host.value, named, &registry_));
    EXPECT_EQ(Copy(host.value.type), Code(HostValueType::String));
    EXPECT_STREQ(host.value.data.string.text, "High");

    ASSERT_TRUE(ToHostValue(host.value, named, nullptr));
    EXPECT_EQ(Copy(host.value.type), Code(HostValueType::Int64));
    EXPECT_EQ(Copy(host.value.data.int64), 2);

    BindingProperty nameless;
    nameless.SetEnum(9, LevelHash());
    ASSERT_TRUE(ToHostValue(host.value, nameless, &registry_));
    EXPECT_EQ(Copy(host.value.type), Code(HostValueType::Int64));
    EXPECT_EQ(Copy(host.value.data.int64), 9);
}

TEST_F(HostValueConversionTest, EmptyContainersHaveNoRecords) {
    BindingProperty collection;
    collection.SetCollection();
    OwnedHostValue host;
    ASSERT_TRUE(ToHostValue(host.value, collection, nullptr));
    EXPECT_EQ(Copy(host.value.type), Code(HostValueType::Array));
    EXPECT_EQ(Copy(host.value.data.array.items), nullptr);
    EXPECT_EQ(Copy(host.value.data.array.count), 0u);
}

// ------------------------------------------------------ running out of memory

BindingProperty SampleTree() {
    BindingProperty tree;
    tree.Member("name") = "a fairly long text that does not fit a small buffer";
    BindingProperty& list = tree.Member("list");
    for (int index = 0; index < 20; ++index) list.Append().Member("k" + std::to_string(index)) = index;
    tree.Member("bytes") = BindingProperty::Blob(100, 1);
    return tree;
}

TEST_F(HostValueConversionTest, WritingWithoutMemoryLeavesNull) {
    const BindingProperty tree = SampleTree();
    bool succeeded = false;
    for (int budget = 0; !succeeded && budget < 1000; ++budget) {
        OwnedHostValue host;
        {
            AllocationBudget limit(budget);
            succeeded = ToHostValue(host.value, tree, nullptr);
        }
        if (!succeeded) {
            EXPECT_TRUE(IsAllZero(&host.value, sizeof(HostValue))) << budget;
        }
    }
    EXPECT_TRUE(succeeded);
}

TEST_F(HostValueConversionTest, ReadingWithoutMemoryFails) {
    OwnedHostValue host;
    ASSERT_TRUE(ToHostValue(host.value, SampleTree(), nullptr));
    bool succeeded = false;
    for (int budget = 0; !succeeded && budget < 1000; ++budget) {
        BindingProperty property;
        ErrorRecord error;
        {
            AllocationBudget limit(budget);
            succeeded = ToProperty(error.record, property, host.value, "<result>", nullptr);
        }
        if (!succeeded) {
            EXPECT_EQ(Copy(error.record.error), 1) << budget;
            EXPECT_TRUE(property.Is(BindingPropertyKind::Empty)) << budget;
        }
    }
    EXPECT_TRUE(succeeded);
}

}  // namespace
}  // namespace Korvo
