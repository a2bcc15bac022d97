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

// "[0,0,...,0]" with count zeros.
std::string ManyZeros(size_t count) {
    std::string text = "[0";
    for (size_t i = 1; i < count; ++i) text += ",0";
    return text + "]";
}

// JSON read back into host values renders as the same text; what is not one
// JSON value, or nests too deep, is refused with the reason and leaves the
// target alone.
TEST(HostValueJsonTest, ReadsJsonTextIntoHostValues) {
    const char* const kRoundTrips[] = {
        R"({"a":[1,-2,18446744073709551615,0.5,true,null,"x\u0001"],"b":{}})",
        R"("text")",
        "[]",
    };
    for (const std::string& text : {std::string(kRoundTrips[0]), std::string(kRoundTrips[1]), std::string(kRoundTrips[2]),
                                   ManyZeros(65535)}) {
        OwnedHostValue value;
        std::string error;
        ASSERT_TRUE(JsonToHostValue(text, value, error)) << text << ": " << error;
        EXPECT_EQ(HostValueToJson(value.Record()), text);
    }
    EXPECT_EQ(OwnedHostValue().Record().type, 0u);

    struct Refused {
        std::string text;
        const char* reason;
    };
    const Refused kRefused[] = {
        {"", "Invalid JSON at offset 0: The document is empty."},
        {"[1,", "Invalid JSON at offset 3: Invalid value."},
        {"{} {}", "Invalid JSON at offset 3: The document root must not be followed by other values."},
        {std::string(65, '[') + std::string(65, ']'), "The JSON text nests deeper than 64 levels"},
        {std::string(1000000, '['), "The JSON text nests deeper than 64 levels"},
        // Two bytes of text a value would be hundreds as host values.
        {ManyZeros(70000), "The JSON text holds more than 65536 values"},
    };
    for (const Refused& refused : kRefused) {
        OwnedHostValue value = OwnedHostValue::Int(7);
        std::string error;
        EXPECT_FALSE(JsonToHostValue(refused.text, value, error));
        EXPECT_EQ(error, refused.reason) << refused.text.substr(0, 20);
        EXPECT_EQ(HostValueToJson(value.Record()), "7");
    }
}

}  // namespace
}  // namespace Korvo::Host
