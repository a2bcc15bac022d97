#include "sdk/formats/message_pack_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sdk/allocation/allocation.h"
#include "sdk/formats/reader_limits.h"
#include "tests/support/binding_matchers.h"

namespace Korvo {
namespace {

using Testing::FailedWithMessage;
using Testing::HasMember;
using Testing::HasValue;
using Testing::IsBlob;
using Testing::IsBool;
using Testing::IsCollection;
using Testing::IsEmptyValue;
using Testing::IsFloat;
using Testing::IsSigned;
using Testing::IsString;
using Testing::IsStructure;
using Testing::IsUnsigned;
using Testing::Succeeded;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Matcher;
using ::testing::Pair;

using Bytes = std::vector<uint8_t>;

struct Read {
    BindingResult result;
    uint32_t position = 0xFFFFFFFFu;
};

Read ReadBytes(const Bytes& bytes) {
    Read read;
    read.result = ReadMessagePack(bytes.data(), static_cast<uint32_t>(bytes.size()), &read.position);
    return read;
}

struct ValueCase {
    const char* what;
    Bytes bytes;
    Matcher<const BindingResult&> expected;
    uint32_t position;
};

TEST(MessagePackReaderTest, ReadsEveryType) {
    const ValueCase cases[] = {
        {"empty input", {}, HasValue(IsEmptyValue()), 0},
        {"positive fixint is signed", {0x05}, HasValue(IsSigned(5)), 1},
        {"largest positive fixint", {0x7F}, HasValue(IsSigned(127)), 1},
        {"negative fixint", {0xFF}, HasValue(IsSigned(-1)), 1},
        {"smallest negative fixint", {0xE0}, HasValue(IsSigned(-32)), 1},
        {"nil", {0xC0}, HasValue(IsEmptyValue()), 1},
        {"false", {0xC2}, HasValue(IsBool(false)), 1},
        {"true", {0xC3}, HasValue(IsBool(true)), 1},
        {"uint 8", {0xCC, 0x05}, HasValue(IsUnsigned(5u)), 2},
        {"uint 16", {0xCD, 0x12, 0x34}, HasValue(IsUnsigned(0x1234u)), 3},
        {"uint 32", {0xCE, 0x89, 0xAB, 0xCD, 0xEF}, HasValue(IsUnsigned(0x89ABCDEFu)), 5},
        {"uint 64", {0xCF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, HasValue(IsUnsigned(UINT64_MAX)), 9},
        {"int 8", {0xD0, 0xFF}, HasValue(IsSigned(-1)), 2},
        {"int 8 positive", {0xD0, 0x7F}, HasValue(IsSigned(127)), 2},
        {"int 16", {0xD1, 0x80, 0x00}, HasValue(IsSigned(-32768)), 3},
        {"int 32", {0xD2, 0x80, 0x00, 0x00, 0x00}, HasValue(IsSigned(INT32_MIN)), 5},
        {"int 64", {0xD3, 0x80, 0, 0, 0, 0, 0, 0, 0}, HasValue(IsSigned(INT64_MIN)), 9},
        {"float 32 of 1.5", {0xCA, 0x3F, 0xC0, 0x00, 0x00}, HasValue(IsFloat(1.5)), 5},
        {"float 64 of -2.25", {0xCB, 0xC0, 0x02, 0x00, 0, 0, 0, 0, 0}, HasValue(IsFloat(-2.25)), 9},
        {"fixstr", {0xA3, 'a', 'b', 'c'}, HasValue(IsString("abc")), 4},
        {"empty fixstr", {0xA0}, HasValue(IsString("")), 1},
        {"fixstr keeps NUL bytes", {0xA3, 'a', 0x00, 'b'}, HasValue(IsString(std::string("a\0b", 3))), 4},
        {"str 8", {0xD9, 0x02, 'h', 'i'}, HasValue(IsString("hi")), 4},
        {"str 16", {0xDA, 0x00, 0x02, 'h', 'i'}, HasValue(IsString("hi")), 5},
        {"str 32", {0xDB, 0x00, 0x00, 0x00, 0x02, 'h', 'i'}, HasValue(IsString("hi")), 7},
        {"bin 8", {0xC4, 0x02, 0x00, 0x01}, HasValue(IsBlob(ElementsAre(0x00, 0x01))), 4},
        {"empty bin 8", {0xC4, 0x00}, HasValue(IsBlob(IsEmpty())), 2},
        {"bin 16", {0xC5, 0x00, 0x01, 0x7F}, HasValue(IsBlob(ElementsAre(0x7F))), 4},
        {"bin 32", {0xC6, 0x00, 0x00, 0x00, 0x01, 0xFF}, HasValue(IsBlob(ElementsAre(0xFF))), 6},
        {"empty fixarray", {0x90}, HasValue(IsCollection(IsEmpty())), 1},
        {"empty fixmap", {0x80}, HasValue(IsStructure(IsEmpty())), 1},
        {"fixarray", {0x92, 0x01, 0xC3}, HasValue(IsCollection(ElementsAre(IsSigned(1), IsBool(true)))), 3},
        {"array 16", {0xDC, 0x00, 0x02, 0x01, 0x02}, HasValue(IsCollection(ElementsAre(IsSigned(1), IsSigned(2)))), 5},
        {"array 32", {0xDD, 0x00, 0x00, 0x00, 0x01, 0xC0}, HasValue(IsCollection(ElementsAre(IsEmptyValue()))), 6},
        {"fixmap in name order", {0x82, 0xA1, 'b', 0x01, 0xA1, 'a', 0xC3},
         HasValue(IsStructure(ElementsAre(Pair("a", IsBool(true)), Pair("b", IsSigned(1))))), 7},
        {"map 16", {0xDE, 0x00, 0x01, 0xA1, 'k', 0xA0}, HasValue(IsStructure(ElementsAre(Pair("k", IsString(""))))), 6},
        {"map 32", {0xDF, 0x00, 0x00, 0x00, 0x01, 0xA1, 'k', 0x05}, HasValue(IsStructure(ElementsAre(Pair("k", IsSigned(5))))), 8},
        {"nil member stays empty", {0x81, 0xA1, 'a', 0xC0}, HasValue(IsStructure(ElementsAre(Pair("a", IsEmptyValue())))), 4},
        {"keys in every string width", {0x83, 0xD9, 0x01, 'a', 0x01, 0xDA, 0x00, 0x01, 'b', 0x02, 0xDB, 0, 0, 0, 1, 'c', 0x03},
         HasValue(IsStructure(ElementsAre(Pair("a", IsSigned(1)), Pair("b", IsSigned(2)), Pair("c", IsSigned(3))))), 17},
        {"nested containers", {0x91, 0x81, 0xA1, 'x', 0x91, 0x90},
         HasValue(IsCollection(ElementsAre(HasMember("x", IsCollection(ElementsAre(IsCollection(IsEmpty()))))))), 6},
    };
    for (const ValueCase& c : cases) {
        Read read = ReadBytes(c.bytes);
        EXPECT_THAT(read.result, c.expected) << c.what;
        EXPECT_EQ(read.position, c.position) << c.what;
    }
}

TEST(MessagePackReaderTest, StopsWhereTheDataOrTheRootEnds) {
    const ValueCase cases[] = {
        {"bytes after the root are not read", {0x01, 0x02}, HasValue(IsSigned(1)), 1},
        {"bytes after a container", {0x91, 0x01, 0x02}, HasValue(IsCollection(ElementsAre(IsSigned(1)))), 2},
        {"array of two holding one", {0x92, 0x01}, HasValue(IsCollection(ElementsAre(IsSigned(1)))), 2},
        {"map whose data ends after a key", {0x82, 0xA1, 'a', 0x01, 0xA1, 'b'},
         HasValue(IsStructure(ElementsAre(Pair("a", IsSigned(1))))), 6},
        {"open containers keep what was read", {0x92, 0x92, 0x01},
         HasValue(IsCollection(ElementsAre(IsCollection(ElementsAre(IsSigned(1)))))), 3},
        // Declared sizes are never trusted: nothing is allocated ahead.
        {"array 32 claiming four billion", {0xDD, 0xFF, 0xFF, 0xFF, 0xFF}, HasValue(IsCollection(IsEmpty())), 5},
        {"map 32 claiming four billion", {0xDF, 0xFF, 0xFF, 0xFF, 0xFF, 0xA1, 'a', 0x01},
         HasValue(IsStructure(ElementsAre(Pair("a", IsSigned(1))))), 8},
        // 2^31 entries: doubling the count would overflow 32 bits.
        {"map 32 of 2^31 entries", {0xDF, 0x80, 0x00, 0x00, 0x00, 0xA1, 'a', 0x91, 0x01, 0xA1, 'b', 0x02},
         HasValue(IsStructure(ElementsAre(Pair("a", IsCollection(ElementsAre(IsSigned(1)))), Pair("b", IsSigned(2))))), 12},
    };
    for (const ValueCase& c : cases) {
        Read read = ReadBytes(c.bytes);
        EXPECT_THAT(read.result, c.expected) << c.what;
        EXPECT_EQ(read.position, c.position) << c.what;
    }
}

// Arrays get room for their declared elements at once, but all the open
// arrays together never for more than the data left could fill: 400 nested
// arrays, each declaring exactly as many elements as bytes follow it (1200
// bytes declaring 240000 elements in all), cost about what their bytes would
// as elements.
TEST(MessagePackReaderTest, DeclaredSizesReserveNoMoreThanTheDataCouldFill) {
    constexpr uint32_t kArrays = 400;
    Bytes bytes;
    for (uint32_t i = 0; i < kArrays; ++i) {
        const uint32_t following = (kArrays - i - 1) * 3;
        bytes.insert(bytes.end(), {0xDC, static_cast<uint8_t>(following >> 8), static_cast<uint8_t>(following)});
    }
    const uint64_t before = Memory::ReadCounters(Memory::ProcessCounters()).bytesAllocated;
    Read read = ReadBytes(bytes);
    const uint64_t allocated = Memory::ReadCounters(Memory::ProcessCounters()).bytesAllocated - before;
    EXPECT_TRUE(read.result.Succeeded());
    EXPECT_EQ(read.position, bytes.size());
    EXPECT_LT(allocated, uint64_t{256} << 10);

    // What the data can hold is reserved exactly.
    Read exact = ReadBytes({0x93, 0x01, 0x02, 0x03});
    EXPECT_THAT(exact.result, HasValue(IsCollection(ElementsAre(IsSigned(1), IsSigned(2), IsSigned(3)))));
}

TEST(MessagePackReaderTest, RepeatedKeyReadsOneValuePerEntry) {
    const ValueCase cases[] = {
        {"later scalar replaces", {0x82, 0xA1, 'a', 0x01, 0xA1, 'a', 0x02}, HasValue(IsStructure(ElementsAre(Pair("a", IsSigned(2))))), 7},
        {"later nil leaves the value", {0x82, 0xA1, 'a', 0x01, 0xA1, 'a', 0xC0},
         HasValue(IsStructure(ElementsAre(Pair("a", IsSigned(1))))), 7},
        {"later array appends", {0x83, 0xA1, 'a', 0x91, 0x01, 0xA1, 'a', 0x91, 0x02, 0xA1, 'b', 0x03},
         HasValue(IsStructure(ElementsAre(Pair("a", IsCollection(ElementsAre(IsSigned(1), IsSigned(2)))), Pair("b", IsSigned(3))))), 12},
        {"later map adds", {0x83, 0xA1, 'a', 0x81, 0xA1, 'x', 0x01, 0xA1, 'a', 0x81, 0xA1, 'y', 0x02, 0xA1, 'b', 0x03},
         HasValue(IsStructure(ElementsAre(
             Pair("a", IsStructure(ElementsAre(Pair("x", IsSigned(1)), Pair("y", IsSigned(2))))), Pair("b", IsSigned(3))))), 16},
        {"later empty array after an array", {0x83, 0xA1, 'a', 0x91, 0x01, 0xA1, 'a', 0x90, 0xA1, 'b', 0x03},
         HasValue(IsStructure(ElementsAre(Pair("a", IsCollection(ElementsAre(IsSigned(1)))), Pair("b", IsSigned(3))))), 11},
        {"later scalar replaces a map", {0x83, 0xA1, 'a', 0x81, 0xA1, 'x', 0x01, 0xA1, 'a', 0x05, 0xA1, 'b', 0x03},
         HasValue(IsStructure(ElementsAre(Pair("a", IsSigned(5)), Pair("b", IsSigned(3))))), 13},
        {"later array replaces a scalar", {0x83, 0xA1, 'a', 0x05, 0xA1, 'a', 0x91, 0x06, 0xA1, 'b', 0x03},
         HasValue(IsStructure(ElementsAre(Pair("a", IsCollection(ElementsAre(IsSigned(6)))), Pair("b", IsSigned(3))))), 11},
    };
    for (const ValueCase& c : cases) {
        Read read = ReadBytes(c.bytes);
        EXPECT_THAT(read.result, c.expected) << c.what;
        EXPECT_EQ(read.position, c.position) << c.what;
    }
}

struct FailureCase {
    Bytes bytes;
    std::string message;
};

TEST(MessagePackReaderTest, InvalidDataFailsWithItsPosition) {
    const FailureCase cases[] = {
        {{0xC1}, "Invalid MessagePack data at position 1."},
        {{0xD4, 0x00, 0x00}, "Invalid MessagePack data at position 1."},  // fixext 1
        {{0xD8}, "Invalid MessagePack data at position 1."},              // fixext 16
        {{0xC7, 0x01, 0x00, 0x00}, "Invalid MessagePack data at position 1."},  // ext 8
        {{0xC8}, "Invalid MessagePack data at position 1."},
        {{0xC9}, "Invalid MessagePack data at position 1."},
        {{0x92, 0x01, 0xC1}, "Invalid MessagePack data at position 3."},
        {{0x81, 0x01, 0x01}, "Invalid MessagePack data at position 2. Map keys must be strings."},
        {{0x81, 0xC0, 0x01}, "Invalid MessagePack data at position 2. Map keys must be strings."},
        {{0x81, 0xC4, 0x01, 'a', 0x01}, "Invalid MessagePack data at position 2. Map keys must be strings."},
        {{0x81, 0x80, 0x01}, "Invalid MessagePack data at position 2. Map keys must be strings."},
        {{0xCC}, "Invalid MessagePack data. 8-bit integer value at position 1 is truncated."},
        {{0xD0}, "Invalid MessagePack data. 8-bit integer value at position 1 is truncated."},
        {{0xCD, 0x01}, "Invalid MessagePack data. 16-bit integer value at position 1 is truncated."},
        {{0xCD}, "Invalid MessagePack data. 16-bit integer value at position 1 is truncated."},
        {{0xD1, 0x01}, "Invalid MessagePack data. 16-bit integer value at position 1 is truncated."},
        {{0xCE, 0x01, 0x02, 0x03}, "Invalid MessagePack data. 32-bit integer value at position 1 is truncated."},
        {{0xCA, 0x3F}, "Invalid MessagePack data. 32-bit integer value at position 1 is truncated."},
        {{0xCF, 1, 2, 3, 4, 5, 6, 7}, "Invalid MessagePack data. 64-bit integer value at position 1 is truncated."},
        {{0xCB, 0x3F}, "Invalid MessagePack data. 64-bit integer value at position 1 is truncated."},
        {{0xD3}, "Invalid MessagePack data. 64-bit integer value at position 1 is truncated."},
        {{0x91, 0xDC, 0x00}, "Invalid MessagePack data. 16-bit integer value at position 2 is truncated."},
        {{0xDF, 0x00, 0x00}, "Invalid MessagePack data. 32-bit integer value at position 1 is truncated."},
        {{0xD9}, "Invalid MessagePack data. 8-bit integer value at position 1 is truncated."},
        {{0xA3, 0x61, 0x62}, "Invalid MessagePack data. String of size 3 at position 1 is truncated."},
        {{0xD9, 0x05, 'a'}, "Invalid MessagePack data. String of size 5 at position 2 is truncated."},
        {{0xDB, 0xFF, 0xFF, 0xFF, 0xFF, 'a'}, "Invalid MessagePack data. String of size 4294967295 at position 5 is truncated."},
        {{0x81, 0xA5, 'k'}, "Invalid MessagePack data. String of size 5 at position 2 is truncated."},
        {{0x81, 0xDA, 0x00}, "Invalid MessagePack data. 16-bit integer value at position 2 is truncated."},
        {{0xC4, 0x03, 0x00, 0x01}, "Invalid MessagePack data. Raw bytes of size 3 at position 2 are truncated."},
        {{0xC6, 0xFF, 0xFF, 0xFF, 0xFF}, "Invalid MessagePack data. Raw bytes of size 4294967295 at position 5 are truncated."},
    };
    for (const FailureCase& c : cases) {
        Read read = ReadBytes(c.bytes);
        EXPECT_THAT(read.result, FailedWithMessage(c.message)) << testing::PrintToString(c.bytes);
        // Nothing of the partial value is kept.
        EXPECT_EQ(read.result.Value().Size(), 1u);
    }
}

TEST(MessagePackReaderTest, NestingIsBounded) {
    Bytes deepest(kMaxNestingDepth, 0x91);
    deepest.push_back(0x01);
    Read read = ReadBytes(deepest);
    ASSERT_THAT(read.result, Succeeded());
    const BindingProperty* level = &read.result.Value();
    for (uint32_t i = 0; i < kMaxNestingDepth; ++i) level = &level->At(0);
    EXPECT_THAT(*level, IsSigned(1));

    EXPECT_THAT(ReadBytes(Bytes(kMaxNestingDepth + 1, 0x91)).result,
                FailedWithMessage("Invalid MessagePack data at position 513. The document is nested deeper than 512 levels."));
    // Maps count alike, and far deeper input fails at the same point.
    Bytes maps;
    for (uint32_t i = 0; i <= kMaxNestingDepth; ++i) maps.insert(maps.end(), {0x81, 0xA0});
    EXPECT_THAT(ReadBytes(maps).result,
                FailedWithMessage("Invalid MessagePack data at position 1025. The document is nested deeper than 512 levels."));
    EXPECT_THAT(ReadBytes(Bytes(1000000, 0xDD)).result, FailedWithMessage(testing::HasSubstr("nested deeper than 512")));
}

TEST(MessagePackReaderTest, NullPositionIsAllowed) {
    const uint8_t bytes[] = {0x05};
    EXPECT_THAT(ReadMessagePack(bytes, 1, nullptr), HasValue(IsSigned(5)));
}

TEST(MessagePackReaderTest, LooksLikeMessagePackRecognisesMapAndArrayRoots) {
    const std::pair<uint8_t, bool> cases[] = {
        {0x80, true},  {0x8F, true},  {0x90, true},  {0x9F, true},  {0xDC, true},  {0xDD, true},
        {0xDE, true},  {0xDF, true},  {0x7F, false}, {0xA0, false}, {0xC0, false}, {0xDB, false},
        {0xE0, false}, {0x00, false}, {'{', false},  {'-', false},
    };
    for (auto [first, expected] : cases) {
        EXPECT_EQ(LooksLikeMessagePack(&first, 1), expected) << static_cast<int>(first);
        EXPECT_FALSE(LooksLikeMessagePack(&first, 0));
    }
}

}  // namespace
}  // namespace Korvo
