#include "host/common/host_value_json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace Korvo::Host {
namespace {

TEST(HostValueJsonTest, RendersEveryType) {
    OwnedHostValue value = OwnedHostValue::Object({
        {"b", OwnedHostValue::Bool(true)},
        {"i", OwnedHostValue::Int(-5)},
        {"u", OwnedHostValue::UInt(18446744073709551615ull)},
        {"d", OwnedHostValue::Double(0.5)},
        {"s", OwnedHostValue::String("a\"b\\c\n\x01")},
        {"x", OwnedHostValue::Binary({'M', 'a', 'n', 'y'})},
        {"a", OwnedHostValue::Array({OwnedHostValue::Null(), OwnedHostValue::Array({})})},
        {"o", OwnedHostValue::Object({})},
        {"n", OwnedHostValue::Double(std::numeric_limits<double>::quiet_NaN())},
    });
    EXPECT_EQ(HostValueToJson(value.Record()),
              "{\"b\":true,\"i\":-5,\"u\":18446744073709551615,\"d\":0.5,\"s\":\"a\\\"b\\\\c\\n\\u0001\","
              "\"x\":\"TWFueQ==\",\"a\":[null,[]],\"o\":{},\"n\":null}");
}

TEST(HostValueJsonTest, DoublesInTheShortestFormThatReadsBack) {
    const std::pair<double, const char*> cases[] = {
        {0.1, "0.1"},
        {1.0, "1.0"},
        {-2.5e-300, "-2.5e-300"},
        {1e21, "1e21"},
        {std::numeric_limits<double>::max(), "1.7976931348623157e308"},
        {std::numeric_limits<double>::infinity(), "null"},
        {-std::numeric_limits<double>::infinity(), "null"},
    };
    for (const auto& [number, text] : cases) {
        EXPECT_EQ(HostValueToJson(OwnedHostValue::Double(number).Record()), text) << number;
    }
}

TEST(HostValueJsonTest, TextBetweenEscapesAndExtremeIntegers) {
    OwnedHostValue value = OwnedHostValue::Array({
        OwnedHostValue::String("\x1f\xc3\xa9t\xc3\xa9 \"x\"\t"),  // UTF-8 passes through as it is
        OwnedHostValue::String(""),
        OwnedHostValue::Int(std::numeric_limits<int64_t>::min()),
        OwnedHostValue::UInt(0),
    });
    EXPECT_EQ(HostValueToJson(value.Record()),
              "[\"\\u001F\xc3\xa9t\xc3\xa9 \\\"x\\\"\\t\",\"\",-9223372036854775808,0]");
}

TEST(HostValueJsonTest, UnknownTypeAndNullPointersRenderSafely) {
    HostValue unknown{};
    unknown.type = 77;
    EXPECT_EQ(HostValueToJson(unknown), "null");
    HostValue array{};
    array.type = static_cast<uint32_t>(KORVO_VALUE_ARRAY);
    array.data.array.count = 1000000;  // no items pointer: nothing to read
    EXPECT_EQ(HostValueToJson(array), "[]");
}

TEST(HostValueJsonTest, DeepNestingUsesBoundedStack) {
    constexpr int kDepth = 200000;
    std::vector<HostValue> chain(kDepth);
    for (int i = 0; i < kDepth; ++i) {
        chain[i].type = static_cast<uint32_t>(KORVO_VALUE_ARRAY);
        chain[i].data.array.items = i + 1 < kDepth ? &chain[i + 1] : nullptr;
        chain[i].data.array.count = i + 1 < kDepth ? 1 : 0;
    }
    std::string json = HostValueToJson(chain[0]);
    EXPECT_EQ(json.size(), 2u * kDepth);
}

}  // namespace
}  // namespace Korvo::Host
