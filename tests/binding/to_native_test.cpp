// Value to native conversion: every message with an input that produces it,
// and the rules of each destination kind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "sdk/binding/converter.h"
#include "sdk/binding/record_builder.h"
#include "sdk/binding/registry.h"
#include "sdk/binding/to_native.h"
#include "tests/support/binding_matchers.h"

namespace Korvo {
namespace {

using Testing::FailedWithMessage;
using Testing::Succeeded;
using ::testing::ElementsAre;
using ::testing::Pair;
using ::testing::UnorderedElementsAre;

enum class Color : int32_t { Red = 1, Green = 2, Crimson = 1 };
enum class Wide : int64_t { Small = 5, Negative = -3 };
enum class Tiny : uint8_t { One = 1, Big = 200 };

struct Point {
    int32_t x = 0;
    std::string label;
    int32_t id = 0;
};

struct Unregistered {
    int32_t value = 0;
};

BindingProperty Structure(std::initializer_list<std::pair<const char*, BindingProperty>> members) {
    BindingProperty value;
    value.SetStructure();
    for (const auto& [name, member] : members) value.Member(name) = member;
    return value;
}

BindingProperty Collection(std::initializer_list<BindingProperty> elements) {
    BindingProperty value;
    value.SetCollection();
    for (const auto& element : elements) value.Append() = element;
    return value;
}

BindingProperty EnumValue(int32_t number, uint32_t hash) {
    BindingProperty value;
    value.SetEnum(number, hash);
    return value;
}

class ToNativeTest : public ::testing::Test {
protected:
    ToNativeTest() {
        RegisterEnum<Color>(registry_, "Color")
            .Enumerator("Red", Color::Red)
            .Enumerator("Green", Color::Green)
            .Enumerator("Crimson", Color::Crimson);
        RegisterEnum<Wide>(registry_, "Wide").Enumerator("Small", Wide::Small).Enumerator("Negative", Wide::Negative);
        RegisterEnum<Tiny>(registry_, "Tiny").Enumerator("One", Tiny::One).Enumerator("Big", Tiny::Big);
        RegisterRecord<Point>(registry_, "Point")
            .Field("x", &Point::x)
            .Field("label", &Point::label)
            .Field("id", &Point::id, BindingFieldFlag::kRequired);
    }

    // Converts input into a T named "field" and returns the result; the
    // converted value is left in *out when given.
    template <typename T>
    BindingResult Convert(const BindingProperty& input, T* out = nullptr) {
        BindingResult result;
        T value{};
        ToNative(result, value, input, "field", &registry_);
        if (out != nullptr) *out = std::move(value);
        return result;
    }

    template <typename T>
    T ConvertOk(const BindingProperty& input) {
        T value{};
        BindingResult result = Convert<T>(input, &value);
        EXPECT_THAT(result, Succeeded());
        return value;
    }

    uint32_t ColorHash() const { return StaticType::HashCode<Color>().hash; }

    BindingRegistry registry_;
};

// ------------------------------------------------------------ messages

TEST_F(ToNativeTest, EveryMessageWithTheInputThatProducesIt) {
    struct Case {
        const char* what;
        BindingResult result;
        const char* message;
    };
    const Case cases[] = {
        {"empty scalar", Convert<int32_t>(BindingProperty()), "A value for 'field' is required."},
        {"bool into int32", Convert<int32_t>(BindingProperty(true)),
         "Couldn't assign value to 'field' of type int32 because the input is of an invalid type bool."},
        {"collection into double", Convert<double>(Collection({})),
         "Couldn't assign value to 'field' of type double because the input is of an invalid type "
         "collection."},
        {"text above int8", Convert<int8_t>(BindingProperty("128")), "Value 128 for 'field' of type int8 is out of range"},
        {"signed below uint32", Convert<uint32_t>(BindingProperty(-1)),
         "Value -1 for 'field' of type uint32 is out of range"},
        {"float above int32", Convert<int32_t>(BindingProperty(1e300)),
         "Value 1e+300 for 'field' of type int32 is out of range"},
        {"trailing characters", Convert<int8_t>(BindingProperty("12abc")),
         "Value 12abc for 'field' of type int8 is in an incorrect format"},
        {"bool spelling", Convert<bool>(BindingProperty("TRUE")),
         "Value TRUE for 'field' of type bool is in an incorrect format. Options are \"true\", \"false\", "
         "\"1\", \"0\"."},
        {"number into bool", Convert<bool>(BindingProperty(1)),
         "Couldn't assign value to 'field' of type bool because the input is of an invalid type signed."},
        {"number into string", Convert<std::string>(BindingProperty(5)),
         "Couldn't assign value to 'field' because the input is not a string."},
        {"nameless enum into string", Convert<std::string>(EnumValue(9, ColorHash())),
         "9 is not a valid enumeration value for 'field'."},
        {"number that names no enumerator", Convert<Color>(BindingProperty(7)),
         "7 is not a valid Color enumeration value for 'field'."},
        {"float into enum", Convert<Color>(BindingProperty(1.0)),
         "Couldn't assign value to 'field' of enum type because the input is of an invalid type float."},
        {"text outside base64", Convert<BindingProperty::Blob>(BindingProperty("ab$c")),
         "Couldn't assign string value to 'field' of type blob because the input has invalid base64 "
         "characters."},
        {"number into blob", Convert<BindingProperty::Blob>(BindingProperty(1)),
         "Couldn't assign value to 'field' of type blob because the input is not a blob."},
        {"structure into vector", Convert<std::vector<int32_t>>(Structure({})),
         "Couldn't assign value to 'field' of type vector because the input not a collection."},
        {"collection into map", Convert<std::unordered_map<std::string, int32_t>>(Collection({})),
         "Couldn't assign value to 'field' of type map because the input not a structure."},
        {"unregistered struct", Convert<Unregistered>(Structure({})),
         "Couldn't assign value to 'field' because the input is an unregistered structure or not a "
         "structure at all."},
        {"number into struct", Convert<Point>(BindingProperty(3)),
         "Couldn't assign value to 'field' of type Point because the input not a structure."},
        {"required field missing", Convert<Point>(Structure({{"x", 1}})),
         "Couldn't assign value to 'field' of type Point because the input structure doesn't have required "
         "field 'id'."},
    };
    for (const Case& c : cases) {
        EXPECT_THAT(c.result, FailedWithMessage(c.message)) << c.what;
    }
}

// --------------------------------------------------------------- integers

TEST_F(ToNativeTest, TextsParseWithBaseDetectionAsAWhole) {
    EXPECT_EQ(ConvertOk<int8_t>(BindingProperty("0x7f")), 127);
    EXPECT_EQ(ConvertOk<int32_t>(BindingProperty("010")), 8);
    EXPECT_EQ(ConvertOk<int32_t>(BindingProperty("  -42")), -42);
    EXPECT_EQ(ConvertOk<int8_t>(BindingProperty("")), 0);
    EXPECT_THAT(Convert<int32_t>(BindingProperty("  ")),
                FailedWithMessage("Value    for 'field' of type int32 is in an incorrect format"));
    EXPECT_THAT(Convert<int32_t>(BindingProperty("0x")),
                FailedWithMessage("Value 0x for 'field' of type int32 is in an incorrect format"));
    // A NUL inside the text ends the number before the text's end.
    EXPECT_THAT(Convert<int32_t>(BindingProperty("12\0" "3", 4)), FailedWithMessage(::testing::HasSubstr("incorrect format")));
    EXPECT_THAT(Convert<int64_t>(BindingProperty("99999999999999999999")),
                FailedWithMessage("Value 99999999999999999999 for 'field' of type int64 is out of range"));
}

TEST_F(ToNativeTest, UnsignedDestinationsRejectEveryNegativeInput) {
    EXPECT_THAT(Convert<uint32_t>(BindingProperty("-0")),
                FailedWithMessage("Value -0 for 'field' of type uint32 is out of range"));
    // strtoull would wrap these to the largest value.
    EXPECT_THAT(Convert<uint64_t>(BindingProperty("-1")),
                FailedWithMessage("Value -1 for 'field' of type uint64 is out of range"));
    EXPECT_THAT(Convert<uint64_t>(BindingProperty(" \t-1")),
                FailedWithMessage("Value  \t-1 for 'field' of type uint64 is out of range"));
    EXPECT_THAT(Convert<uint8_t>(BindingProperty(-0.5)),
                FailedWithMessage("Value -0.5 for 'field' of type uint8 is out of range"));
    EXPECT_EQ(ConvertOk<uint8_t>(BindingProperty(-0.0)), 0);
}

TEST_F(ToNativeTest, FloatsAreRangeCheckedThenTruncatedTowardZero) {
    EXPECT_EQ(ConvertOk<uint32_t>(BindingProperty(3.9)), 3u);
    EXPECT_EQ(ConvertOk<int32_t>(BindingProperty(-3.9)), -3);
    EXPECT_EQ(ConvertOk<int8_t>(BindingProperty(127.0)), 127);
    EXPECT_THAT(Convert<int8_t>(BindingProperty(127.5)),
                FailedWithMessage("Value 127.5 for 'field' of type int8 is out of range"));
    EXPECT_THAT(Convert<int32_t>(BindingProperty(std::nan(""))), FailedWithMessage(::testing::HasSubstr("out of range")));
    // 2^63 is where int64's maximum rounds to as a double; no int64 holds it.
    EXPECT_THAT(Convert<int64_t>(BindingProperty(9223372036854775808.0)),
                FailedWithMessage(::testing::HasSubstr("out of range")));
    EXPECT_EQ(ConvertOk<int64_t>(BindingProperty(-9223372036854775808.0)), INT64_MIN);
    EXPECT_THAT(Convert<uint64_t>(BindingProperty(18446744073709551616.0)),
                FailedWithMessage(::testing::HasSubstr("out of range")));
}

TEST_F(ToNativeTest, NumbersOfEveryKindAreRangeChecked) {
    EXPECT_EQ(ConvertOk<int64_t>(BindingProperty(uint64_t{INT64_MAX})), INT64_MAX);
    EXPECT_THAT(Convert<int64_t>(BindingProperty(uint64_t{INT64_MAX} + 1)),
                FailedWithMessage("Value 9223372036854775808 for 'field' of type int64 is out of range"));
    EXPECT_EQ(ConvertOk<uint16_t>(BindingProperty(65535)), 65535);
    EXPECT_THAT(Convert<uint16_t>(BindingProperty(65536u)),
                FailedWithMessage("Value 65536 for 'field' of type uint16 is out of range"));
    EXPECT_EQ(ConvertOk<int16_t>(EnumValue(-5, ColorHash())), -5);
    EXPECT_THAT(Convert<uint8_t>(EnumValue(-5, ColorHash())),
                FailedWithMessage("Value -5 for 'field' of type uint8 is out of range"));
}

// ------------------------------------------------------------------ floats

TEST_F(ToNativeTest, FloatDestinationsFollowTheNumberRules) {
    EXPECT_FLOAT_EQ(ConvertOk<float>(BindingProperty(1.5)), 1.5f);
    EXPECT_DOUBLE_EQ(ConvertOk<double>(BindingProperty("2.25")), 2.25);
    EXPECT_DOUBLE_EQ(ConvertOk<double>(BindingProperty(uint64_t{1} << 60)), 1152921504606846976.0);
    EXPECT_TRUE(std::isnan(ConvertOk<double>(BindingProperty(std::nan("")))));
    EXPECT_THAT(Convert<float>(BindingProperty(1e39)),
                FailedWithMessage("Value 1e+39 for 'field' of type float is out of range"));
    EXPECT_THAT(Convert<float>(BindingProperty("1e39")),
                FailedWithMessage("Value 1e39 for 'field' of type float is out of range"));
    EXPECT_THAT(Convert<double>(BindingProperty("1e999")),
                FailedWithMessage("Value 1e999 for 'field' of type double is out of range"));
    EXPECT_THAT(Convert<double>(BindingProperty("1.5x")),
                FailedWithMessage("Value 1.5x for 'field' of type double is in an incorrect format"));
    EXPECT_THAT(Convert<double>(BindingProperty(false)),
                FailedWithMessage(
                    "Couldn't assign value to 'field' of type double because the input is of an invalid type bool."));
}

// ------------------------------------------------------- bool and strings

TEST_F(ToNativeTest, BoolAcceptsExactlyFourSpellings) {
    EXPECT_TRUE(ConvertOk<bool>(BindingProperty("1")));
    EXPECT_TRUE(ConvertOk<bool>(BindingProperty("true")));
    EXPECT_FALSE(ConvertOk<bool>(BindingProperty("0")));
    EXPECT_FALSE(ConvertOk<bool>(BindingProperty("false")));
    EXPECT_TRUE(ConvertOk<bool>(BindingProperty(true)));
    EXPECT_THAT(Convert<bool>(BindingProperty(" true")), FailedWithMessage(::testing::HasSubstr("Options are")));
    EXPECT_THAT(Convert<bool>(BindingProperty()), FailedWithMessage("A value for 'field' is required."));
}

TEST_F(ToNativeTest, StringTakesTextsAndEnumeratorNames) {
    EXPECT_EQ(ConvertOk<std::string>(BindingProperty("abc")), "abc");
    // Red and Crimson share the value 1: the first name in byte order wins.
    EXPECT_EQ(ConvertOk<std::string>(EnumValue(1, ColorHash())), "Crimson");
    EXPECT_EQ(ConvertOk<std::string>(EnumValue(2, ColorHash())), "Green");

    BindingResult withoutRegistry;
    std::string out = "stale";
    ToNative(withoutRegistry, out, EnumValue(2, ColorHash()), "field", nullptr);
    EXPECT_THAT(withoutRegistry, FailedWithMessage("2 is not a valid enumeration value for 'field'."));
    EXPECT_EQ(out, "");
}

// ------------------------------------------------------------------- enums

TEST_F(ToNativeTest, EnumAcceptsNamesNumbersAndNumberTexts) {
    EXPECT_EQ(ConvertOk<Color>(BindingProperty("Green")), Color::Green);
    EXPECT_EQ(ConvertOk<Color>(BindingProperty("2")), Color::Green);
    EXPECT_EQ(ConvertOk<Color>(BindingProperty(2)), Color::Green);
    EXPECT_EQ(ConvertOk<Color>(BindingProperty(2u)), Color::Green);
    // The enum type of an Enum input is not compared, only its number.
    EXPECT_EQ(ConvertOk<Color>(EnumValue(2, 12345)), Color::Green);

    EXPECT_THAT(Convert<Color>(BindingProperty("green")),
                FailedWithMessage("green is not a valid Color enumeration value for 'field'."));
    EXPECT_THAT(Convert<Color>(BindingProperty("7")),
                FailedWithMessage("7 is not a valid Color enumeration value for 'field'."));
    EXPECT_THAT(Convert<Color>(BindingProperty("2x")),
                FailedWithMessage("2x is not a valid Color enumeration value for 'field'."));
    // 2^32 + 2 must not wrap onto Green.
    EXPECT_THAT(Convert<Color>(BindingProperty(uint64_t{0x100000002})),
                FailedWithMessage("4294967298 is not a valid Color enumeration value for 'field'."));
    EXPECT_THAT(Convert<Color>(EnumValue(9, ColorHash())),
                FailedWithMessage("9 is not a valid Color enumeration value for 'field'."));
    EXPECT_THAT(Convert<Color>(BindingProperty()), FailedWithMessage("A value for 'field' is required."));
}

TEST_F(ToNativeTest, EnumIsStoredInItsOwnSize) {
    EXPECT_EQ(ConvertOk<Wide>(BindingProperty("Negative")), Wide::Negative);
    EXPECT_EQ(ConvertOk<Tiny>(BindingProperty(200)), Tiny::Big);

    struct Guarded {
        Tiny value;
        uint8_t after[7];
    } guarded{};
    std::fill(std::begin(guarded.after), std::end(guarded.after), 0xAB);
    BindingResult result;
    ToNativeEnum(result, &guarded.value, sizeof(Tiny), BindingProperty(1), "field",
                 registry_.FindTypeByName("Tiny"));
    EXPECT_THAT(result, Succeeded());
    EXPECT_EQ(guarded.value, Tiny::One);
    EXPECT_THAT(guarded.after, ::testing::Each(0xAB));
}

// -------------------------------------------------------------------- blob

TEST_F(ToNativeTest, BlobDecodesBase64) {
    const auto decode = [&](const char* text) {
        const auto bytes = ConvertOk<BindingProperty::Blob>(BindingProperty(text));
        return std::string(bytes.begin(), bytes.end());
    };
    EXPECT_EQ(decode("aGVsbG8="), "hello");
    EXPECT_EQ(decode("aGVsbG8"), "hello");     // a final group of three gives two bytes
    EXPECT_EQ(decode("aGVsbA=="), "hell");
    EXPECT_EQ(decode("aGVsbA"), "hell");       // a final group of two gives one byte
    EXPECT_EQ(decode("aGk=aGk="), "hi");       // decoding stops at the first '='
    EXPECT_EQ(decode("+/+/"), "\xfb\xff\xbf");
    EXPECT_EQ(decode(""), "");

    const BindingProperty::Blob bytes{1, 2, 3};
    EXPECT_EQ(ConvertOk<BindingProperty::Blob>(BindingProperty(bytes)), bytes);
}

// -------------------------------------------------------------- containers

TEST_F(ToNativeTest, VectorKeepsDefaultsForEmptyElements) {
    EXPECT_THAT(ConvertOk<std::vector<int32_t>>(Collection({1, BindingProperty(), 3})), ElementsAre(1, 0, 3));
    EXPECT_THAT(ConvertOk<std::vector<bool>>(Collection({true, BindingProperty(), "1"})),
                ElementsAre(true, false, true));
    EXPECT_THAT(ConvertOk<std::vector<std::string>>(Collection({})), ::testing::IsEmpty());
    // Elements are converted under the vector's own name.
    EXPECT_THAT(Convert<std::vector<int8_t>>(Collection({1, 300, "x"})),
                FailedWithMessage("Value 300 for 'field' of type int8 is out of range"));
    // Only a vector of bool calls an Empty input missing.
    EXPECT_THAT(Convert<std::vector<bool>>(BindingProperty()), FailedWithMessage("A value for 'field' is required."));
    EXPECT_THAT(Convert<std::vector<int32_t>>(BindingProperty()),
                FailedWithMessage("Couldn't assign value to 'field' of type vector because the input not a collection."));
}

TEST_F(ToNativeTest, VectorOfStructsSkipsEmptyElements) {
    const auto points = ConvertOk<std::vector<Point>>(
        Collection({Structure({{"x", 1}, {"id", 2}}), BindingProperty(), Structure({{"id", 3}})}));
    ASSERT_EQ(points.size(), 3u);
    EXPECT_EQ(points[0].x, 1);
    EXPECT_EQ(points[1].id, 0);
    EXPECT_EQ(points[2].id, 3);
}

TEST_F(ToNativeTest, MapTakesEveryMemberThatIsNotEmpty) {
    EXPECT_THAT((ConvertOk<std::unordered_map<std::string, int32_t>>(Structure({{"b", 2}, {"a", 1}, {"c", BindingProperty()}}))),
                UnorderedElementsAre(Pair("a", 1), Pair("b", 2)));
    EXPECT_THAT((ConvertOk<std::map<std::string, Color>>(Structure({{"k", "Red"}}))),
                ElementsAre(Pair("k", Color::Red)));
    // Members go in name order, so "a" fails first.
    EXPECT_THAT((Convert<std::map<std::string, int8_t>>(Structure({{"b", 999}, {"a", 500}}))),
                FailedWithMessage("Value 500 for 'field' of type int8 is out of range"));
}

TEST_F(ToNativeTest, OptionalStaysAbsentForEmpty) {
    EXPECT_EQ(ConvertOk<std::optional<int32_t>>(BindingProperty()), std::nullopt);
    EXPECT_EQ(ConvertOk<std::optional<int32_t>>(BindingProperty(4)), 4);
}

TEST_F(ToNativeTest, ObjectIsADeepCopyOfAnyKind) {
    const BindingProperty input = Structure({{"a", Collection({1, "x"})}});
    EXPECT_EQ(ConvertOk<BindingProperty>(input), input);
    BindingProperty out = 5;
    BindingResult result;
    ToNative(result, out, BindingProperty(), "field", &registry_);
    EXPECT_THAT(result, Succeeded());
    EXPECT_TRUE(out.Is(BindingPropertyKind::Empty));
}

// ----------------------------------------------------------------- structs

TEST_F(ToNativeTest, StructFillsFieldsAndKeepsMissingOptionalOnes) {
    Point point;
    point.x = 77;
    point.label = "kept";
    BindingResult result;
    ToNative(result, point, Structure({{"id", 5}, {"unknown", "ignored"}}), "point", &registry_);
    EXPECT_THAT(result, Succeeded());
    EXPECT_EQ(point.id, 5);
    EXPECT_EQ(point.x, 77);
    EXPECT_EQ(point.label, "kept");
}

TEST_F(ToNativeTest, StructRequiredFieldThatIsEmptyIsMissing) {
    EXPECT_THAT(Convert<Point>(Structure({{"id", BindingProperty()}})),
                FailedWithMessage(::testing::HasSubstr("doesn't have required field 'id'")));
}

TEST_F(ToNativeTest, StructStopsAtTheFirstFailingField) {
    Point point;
    BindingResult result;
    ToNative(result, point, Structure({{"x", "bad"}, {"label", 5}, {"id", 9}}), "point", &registry_);
    EXPECT_THAT(result, FailedWithMessage("Value bad for 'x' of type int32 is in an incorrect format"));
    EXPECT_EQ(point.id, 0);  // not reached
}

TEST_F(ToNativeTest, StructEmptyOutsideAStructWalkIsMissing) {
    EXPECT_THAT(Convert<Point>(BindingProperty()), FailedWithMessage("A value for 'field' is required."));
}

// ---------------------------------------------------- first failure wins

TEST_F(ToNativeTest, AFailedResultIsKeptAndDestinationsAreCleared) {
    BindingResult result = BindingResult::Failure("first");
    int64_t number = 9;
    ToNativeSigned(result, number, BindingProperty(5), "n", "int64", INT64_MIN, INT64_MAX);
    EXPECT_EQ(number, 0);
    std::string text = "stale";
    ToNativeString(result, text, BindingProperty("x"), "s", nullptr);
    EXPECT_EQ(text, "");
    bool flag = true;
    ToNativeBool(result, flag, BindingProperty(true), "b");
    EXPECT_FALSE(flag);
    EXPECT_THAT(result, FailedWithMessage("first"));
}

TEST_F(ToNativeTest, ScalarRoutinesServeOtherReaders) {
    // The YAML reader converts plain scalars with these routines.
    BindingResult result;
    int64_t signedValue = 0;
    ToNativeSigned(result, signedValue, BindingProperty("-0x10"), "yaml", "int64_t", INT64_MIN, INT64_MAX);
    EXPECT_EQ(signedValue, -16);
    uint64_t unsignedValue = 0;
    ToNativeUnsigned(result, unsignedValue, BindingProperty("18446744073709551615"), "yaml", "uint64_t",
                     UINT64_MAX);
    EXPECT_EQ(unsignedValue, UINT64_MAX);
    double doubleValue = 0;
    ToNativeDouble(result, doubleValue, BindingProperty("1e3"), "yaml", "double",
                   -std::numeric_limits<double>::max(), std::numeric_limits<double>::max());
    EXPECT_EQ(doubleValue, 1000.0);
    EXPECT_THAT(result, Succeeded());
    ToNativeSigned(result, signedValue, BindingProperty("1.5"), "yaml", "int64_t", INT64_MIN, INT64_MAX);
    EXPECT_THAT(result, FailedWithMessage("Value 1.5 for 'yaml' of type int64_t is in an incorrect format"));
}

}  // namespace
}  // namespace Korvo
