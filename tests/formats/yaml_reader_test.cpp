#include "sdk/formats/yaml_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <yaml.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "sdk/formats/reader_limits.h"
#include "tests/support/binding_matchers.h"

namespace Korvo {
namespace {

using Testing::FailedWithMessage;
using Testing::HasMember;
using Testing::HasValue;
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
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::IsNan;
using ::testing::Matcher;
using ::testing::Pair;

constexpr char kIntTag[] = "tag:yaml.org,2002:int";
constexpr char kFloatTag[] = "tag:yaml.org,2002:float";
constexpr char kBoolTag[] = "tag:yaml.org,2002:bool";
constexpr char kStrTag[] = "tag:yaml.org,2002:str";

struct ScalarCase {
    const char* tag;
    std::string text;
    bool quoted;
    Matcher<const BindingResult&> expected;
};

BindingResult Resolve(const ScalarCase& c) {
    BindingResult result;
    ResolveYamlScalar(result, result.Value(), c.tag, c.text.c_str(), c.text.size(), c.quoted);
    return result;
}

TEST(ResolveYamlScalarTest, PlainScalars) {
    const ScalarCase cases[] = {
        {nullptr, "", false, HasValue(IsEmptyValue())},
        {nullptr, "~", false, HasValue(IsEmptyValue())},
        {nullptr, "null", false, HasValue(IsEmptyValue())},
        {nullptr, "Null", false, HasValue(IsEmptyValue())},
        {nullptr, "NULL", false, HasValue(IsEmptyValue())},
        {nullptr, "nULL", false, HasValue(IsString("nULL"))},
        {nullptr, "42", false, HasValue(IsUnsigned(42u))},
        {nullptr, "+5", false, HasValue(IsUnsigned(5u))},
        {nullptr, "-7", false, HasValue(IsSigned(-7))},
        {nullptr, "1.5", false, HasValue(IsFloat(1.5))},
        {nullptr, ".5", false, HasValue(IsFloat(0.5))},
        {nullptr, "1.0", false, HasValue(IsUnsigned(1u))},
        {nullptr, "5.", false, HasValue(IsUnsigned(5u))},
        {nullptr, "1e2", false, HasValue(IsUnsigned(100u))},
        {nullptr, "-2.5e1", false, HasValue(IsSigned(-25))},
        {nullptr, "-0", false, HasValue(IsUnsigned(0u))},
        {nullptr, "-0.0", false, HasValue(IsUnsigned(0u))},
        {nullptr, "0x10", false, HasValue(IsUnsigned(16u))},
        {nullptr, "0X1A", false, HasValue(IsUnsigned(26u))},
        {nullptr, "0x1p3", false, HasValue(IsUnsigned(8u))},
        {nullptr, "nan", false, HasValue(IsFloat(IsNan()))},
        {nullptr, "NaN", false, HasValue(IsFloat(IsNan()))},
        {nullptr, "inf", false, HasValue(IsString("inf"))},
        {nullptr, "-inf", false, HasValue(IsString("-inf"))},
        {nullptr, "infinity", false, HasValue(IsString("infinity"))},
        {nullptr, ".inf", false, HasValue(IsString(".inf"))},
        {nullptr, "1e400", false, HasValue(IsString("1e400"))},
        {nullptr, "1e-400", false, HasValue(IsUnsigned(0u))},
        {nullptr, "1_000", false, HasValue(IsString("1_000"))},
        {nullptr, "1,5", false, HasValue(IsString("1,5"))},
        {nullptr, "12abc", false, HasValue(IsString("12abc"))},
        // Whole numbers go through a double: 53 bits are exact.
        {nullptr, "9007199254740993", false, HasValue(IsUnsigned(9007199254740992u))},
        {nullptr, "12345678901234567890", false, HasValue(IsUnsigned(12345678901234567168u))},
        {nullptr, "9223372036854775808", false, HasValue(IsUnsigned(9223372036854775808u))},
        {nullptr, "1e19", false, HasValue(IsUnsigned(10000000000000000000u))},
        {nullptr, "-9223372036854775808", false, HasValue(IsSigned(INT64_MIN))},
        // Beyond both 64-bit ranges: float.
        {nullptr, "18446744073709551616", false, HasValue(IsFloat(18446744073709551616.0))},
        {nullptr, "2e19", false, HasValue(IsFloat(2e19))},
        {nullptr, "-1e19", false, HasValue(IsFloat(-1e19))},
        {nullptr, "1e300", false, HasValue(IsFloat(1e300))},
        {nullptr, "true", false, HasValue(IsBool(true))},
        {nullptr, "yes", false, HasValue(IsBool(true))},
        {nullptr, "Y", false, HasValue(IsBool(true))},
        {nullptr, "ON", false, HasValue(IsBool(true))},
        {nullptr, "Off", false, HasValue(IsBool(false))},
        {nullptr, "n", false, HasValue(IsBool(false))},
        {nullptr, "NO", false, HasValue(IsBool(false))},
        {nullptr, "yES", false, HasValue(IsString("yES"))},
        {nullptr, "maybe", false, HasValue(IsString("maybe"))},
    };
    for (const ScalarCase& c : cases) EXPECT_THAT(Resolve(c), c.expected) << "text: " << c.text;
}

// Short whole numbers are read without strtod; each must resolve exactly as
// the same number with an exponent, which strtod reads.
TEST(ResolveYamlScalarTest, WholeNumbersReadAsStrtodReadsThem) {
    const std::string texts[] = {"0", "-0", "7", "007", "-12", "4294967296", "999999999999999",
                                 "-999999999999999", "1000000000000000", "-1000000000000001",
                                 "9007199254740993", "18446744073709551615", "-9223372036854775808"};
    for (const std::string& text : texts) {
        const BindingResult plain = Resolve({nullptr, text, false, ::testing::_});
        const BindingResult withExponent = Resolve({nullptr, text + "e0", false, ::testing::_});
        ASSERT_TRUE(plain.Succeeded()) << text;
        EXPECT_EQ(plain.Value().Kind(), withExponent.Value().Kind()) << text;
        EXPECT_TRUE(plain.Value() == withExponent.Value()) << text;
    }
    // Not numbers to strtod either: they stay text.
    for (const std::string text : {"-", "1-2", "12a", "0x"}) {
        EXPECT_THAT(Resolve({nullptr, text, false, ::testing::_}), HasValue(IsString(text))) << text;
    }
}

// Plain decimals take a faster conversion than strtod; they must come out as
// strtod reads them, to the bit, at the edges of rounding and range too.
TEST(ResolveYamlScalarTest, DecimalsReadAsStrtodReadsThem) {
    const char* const texts[] = {
        "0.1", "-0.1", "5.", "0.30000000000000001665", "2.5e-3", "1E10", "1e+2", "-0.0",
        "9007199254740993.0", "9007199254740992.5", "123456789012345678901234567890.5",
        "2.2250738585072011e-308", "2.2250738585072014e-308", "4.9406564584124654e-324", "1e-320",
        "1.7976931348623157e308", "1.7976931348623158e308", "1.7976931348623159e308", "-45.1234567890123456789",
        "0.000000000000000000000000000000000000001", "7e-400", "1.00000000000000011102230246251565404236316680908203125",
    };
    for (const char* text : texts) {
        const double expected = std::strtod(text, nullptr);
        const BindingResult resolved = Resolve({nullptr, text, false, ::testing::_});
        ASSERT_TRUE(resolved.Succeeded()) << text;
        const BindingProperty& value = resolved.Value();
        if (std::isinf(expected)) {
            EXPECT_THAT(value, IsString(text));
        } else if (value.Is(BindingPropertyKind::Float)) {
            EXPECT_EQ(std::bit_cast<uint64_t>(value.AsFloat()), std::bit_cast<uint64_t>(expected)) << text;
        } else if (value.Is(BindingPropertyKind::Signed)) {
            EXPECT_EQ(static_cast<double>(value.AsSigned()), expected) << text;
        } else {
            ASSERT_TRUE(value.Is(BindingPropertyKind::Unsigned)) << text;
            EXPECT_EQ(static_cast<double>(value.AsUnsigned()), expected) << text;
        }
    }
}

TEST(ResolveYamlScalarTest, QuotedAndTaggedScalars) {
    const ScalarCase cases[] = {
        {nullptr, "123", true, HasValue(IsString("123"))},
        {nullptr, "true", true, HasValue(IsString("true"))},
        {nullptr, "", true, HasValue(IsString(""))},
        {nullptr, "~", true, HasValue(IsString("~"))},
        {kStrTag, "123", false, HasValue(IsString("123"))},
        {kStrTag, "", false, HasValue(IsString(""))},
        {kIntTag, "12345678901234567890", false, HasValue(IsUnsigned(12345678901234567890u))},
        {kIntTag, "18446744073709551615", false, HasValue(IsUnsigned(UINT64_MAX))},
        {kIntTag, "-9223372036854775808", false, HasValue(IsSigned(INT64_MIN))},
        {kIntTag, "-5", true, HasValue(IsSigned(-5))},
        {kIntTag, "0x10", false, HasValue(IsUnsigned(16u))},
        {kIntTag, "abc", false, FailedWithMessage("Value abc for 'yaml' of type uint64_t is in an incorrect format")},
        {kIntTag, "-abc", false, FailedWithMessage("Value -abc for 'yaml' of type int64_t is in an incorrect format")},
        {kIntTag, "18446744073709551616", false,
         FailedWithMessage("Value 18446744073709551616 for 'yaml' of type uint64_t is out of range")},
        {kIntTag, "-9223372036854775809", false,
         FailedWithMessage("Value -9223372036854775809 for 'yaml' of type int64_t is out of range")},
        {kIntTag, "1.5", false, FailedWithMessage("Value 1.5 for 'yaml' of type uint64_t is in an incorrect format")},
        {kFloatTag, "1", false, HasValue(IsFloat(1.0))},
        {kFloatTag, "-2.5", false, HasValue(IsFloat(-2.5))},
        {kFloatTag, "abc", false, FailedWithMessage("Value abc for 'yaml' of type double is in an incorrect format")},
        {kFloatTag, "1e400", false, FailedWithMessage("Value 1e400 for 'yaml' of type double is out of range")},
        {kBoolTag, "yes", false, HasValue(IsBool(true))},
        {kBoolTag, "OFF", false, HasValue(IsBool(false))},
        {kBoolTag, "maybe", false, HasValue(IsEmptyValue())},
        {kBoolTag, "1", false, HasValue(IsEmptyValue())},
        {"tag:yaml.org,2002:timestamp", "2001-12-14", false,
         FailedWithMessage("Unsupported YAML tag 'tag:yaml.org,2002:timestamp'.")},
        {"!local", "x", false, FailedWithMessage("Unsupported YAML tag '!local'.")},
    };
    for (const ScalarCase& c : cases) EXPECT_THAT(Resolve(c), c.expected) << c.tag << " " << c.text;
}

TEST(ResolveYamlScalarTest, UnmatchedBoolTagLeavesTheTargetAsItWas) {
    BindingResult result;
    result.Value().SetSigned(3);
    ResolveYamlScalar(result, result.Value(), kBoolTag, "maybe", 5, false);
    EXPECT_THAT(result, HasValue(IsSigned(3)));
}

struct DocumentCase {
    std::string text;
    Matcher<const BindingResult&> expected;
};

TEST(YamlReaderTest, ReadsDocuments) {
    const DocumentCase cases[] = {
        {"", HasValue(IsEmptyValue())},
        {"# only a comment\n", HasValue(IsEmptyValue())},
        {"42", HasValue(IsUnsigned(42u))},
        {"--- 42\n...\n", HasValue(IsUnsigned(42u))},
        {"'123'", HasValue(IsString("123"))},
        {"\"a\\0b\"", HasValue(IsString(std::string("a\0b", 3)))},
        {"!!int 12345678901234567890", HasValue(IsUnsigned(12345678901234567890u))},
        {"!!bool maybe", HasValue(IsEmptyValue())},
        {"a: 1", HasValue(IsStructure(ElementsAre(Pair("a", IsUnsigned(1u)))))},
        {"1: x\n~: v\n'': z\ntrue: w",
         HasValue(IsStructure(ElementsAre(Pair("", IsString("z")), Pair("1", IsString("x")), Pair("true", IsString("w")),
                                          Pair("~", IsString("v")))))},
        {"!!str k: v", HasValue(IsStructure(ElementsAre(Pair("k", IsString("v")))))},
        {"a:\nb: ~", HasValue(IsStructure(ElementsAre(Pair("a", IsEmptyValue()), Pair("b", IsEmptyValue()))))},
        {"- 1\n- [2, x]\n- {k: yes}\n- []\n- {}",
         HasValue(IsCollection(ElementsAre(IsUnsigned(1u), IsCollection(ElementsAre(IsUnsigned(2u), IsString("x"))),
                                           HasMember("k", IsBool(true)), IsCollection(IsEmpty()), IsStructure(IsEmpty()))))},
        {"text: |\n  line 1\n  line 2\nfolded: >\n  a\n  b\n",
         HasValue(IsStructure(ElementsAre(Pair("folded", IsString("a b\n")), Pair("text", IsString("line 1\nline 2\n")))))},
        // Literal and folded scalars are not quoted: they resolve.
        {"n: |-\n  12", HasValue(HasMember("n", IsUnsigned(12u)))},
        // Tags on sequences and mappings are not looked at.
        {"!!set {a: 1}", HasValue(HasMember("a", IsUnsigned(1u)))},
        {"!custom [1]", HasValue(IsCollection(ElementsAre(IsUnsigned(1u))))},
    };
    for (const DocumentCase& c : cases) EXPECT_THAT(ReadYaml(c.text), c.expected) << "text: " << c.text;
}

TEST(YamlReaderTest, AnchorsAndAliases) {
    const DocumentCase cases[] = {
        {"x: &s [1, 2]\ny: *s",
         HasValue(IsStructure(ElementsAre(Pair("x", IsCollection(ElementsAre(IsUnsigned(1u), IsUnsigned(2u)))),
                                          Pair("y", IsCollection(ElementsAre(IsUnsigned(1u), IsUnsigned(2u)))))))},
        {"- &a 5\n- *a\n- &m {k: *a}\n- *m",
         HasValue(IsCollection(ElementsAre(IsUnsigned(5u), IsUnsigned(5u), HasMember("k", IsUnsigned(5u)),
                                           HasMember("k", IsUnsigned(5u)))))},
        // Anchors inside sequences find their node again after the sequence grew.
        {"- [a, &b x]\n- 1\n- 2\n- 3\n- *b", HasValue(IsCollection(ElementsAre(IsCollection(ElementsAre(IsString("a"), IsString("x"))),
                                                                                 IsUnsigned(1u), IsUnsigned(2u), IsUnsigned(3u), IsString("x"))))},
        // A repeated key's sequence continues the earlier one: an anchor in
        // it is found at its place in the whole sequence.
        {"a: [1]\na: [{x: &n 5}, *n]",
         HasValue(HasMember("a", IsCollection(ElementsAre(IsUnsigned(1u), HasMember("x", IsUnsigned(5u)),
                                                          IsUnsigned(5u)))))},
        {"o: {p: 1}\no: {q: &z 2, r: *z}\nb: 1\nb: &m [2]\nc: *m",
         HasValue(IsStructure(ElementsAre(Pair("b", IsCollection(ElementsAre(IsUnsigned(2u)))),
                                          Pair("c", IsCollection(ElementsAre(IsUnsigned(2u)))),
                                          Pair("o", IsStructure(ElementsAre(Pair("p", IsUnsigned(1u)),
                                                                            Pair("q", IsUnsigned(2u)),
                                                                            Pair("r", IsUnsigned(2u)))))))) },
        // A key anchor: an alias of it is the key's text, in value and in key position.
        {"&k name: 1\nother: *k", HasValue(IsStructure(ElementsAre(Pair("name", IsUnsigned(1u)), Pair("other", IsString("name")))))},
        {"&k name: 1\n*k : 2", HasValue(IsStructure(ElementsAre(Pair("name", IsUnsigned(2u)))))},
        {"a: &x 1\nb: {*x : 2}", FailedWithMessage("Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 5")},
        {"a: *nope", FailedWithMessage("Undefined alias encountered: \"nope\". At line: 1 col: 4")},
        {"*nope : 1", FailedWithMessage("Undefined alias encountered: \"nope\". At line: 1 col: 1")},
        {"a: &s [1, *s]", FailedWithMessage("Cannot deserialize cyclic aliases. Alias \"s\". At line: 1 col: 11")},
        {"&r {a: {b: *r}}", FailedWithMessage("Cannot deserialize cyclic aliases. Alias \"r\". At line: 1 col: 12")},
        {"a: &s 1\nb: &s 2", FailedWithMessage("Duplicate occurrence of anchor \"s\". At line: 2 col: 4")},
        {"&s a: &s 1", FailedWithMessage("Duplicate occurrence of anchor \"s\". At line: 1 col: 7")},
        {"- &s [1]\n- &s x", FailedWithMessage("Duplicate occurrence of anchor \"s\". At line: 2 col: 3")},
    };
    for (const DocumentCase& c : cases) EXPECT_THAT(ReadYaml(c.text), c.expected) << "text: " << c.text;
}

// Anchors far below the root, under mappings and sequences by turns, and
// aliases of them further down still: the reader's path to each node is as
// long as the nesting.
TEST(YamlReaderTest, AnchorsAndAliasesDeepInTheDocument) {
    std::string text;
    std::string expectedPath;
    for (int level = 0; level < 40; ++level) {
        text += level % 2 == 0 ? "{k" + std::to_string(level) + ": " : "[0, ";
        if (level == 25) text += "&deep {leaf: " + std::to_string(level) + "}, ";
        if (level == 33) text += "*deep, ";
    }
    text += "*deep";
    for (int level = 39; level >= 0; --level) text += level % 2 == 0 ? "}" : "]";
    BindingResult result = ReadYaml(text);
    ASSERT_THAT(result, Succeeded()) << result.ErrorMessage();
    // Walk down to the bottom, where the last alias stands.
    const BindingProperty* node = &result.Value();
    for (int level = 0; level < 40; ++level) {
        if (level % 2 == 0) {
            node = &node->Get("k" + std::to_string(level));
        } else {
            ASSERT_EQ(node->Kind(), BindingPropertyKind::Collection) << level;
            node = &node->At(node->Size() - 1);
        }
    }
    EXPECT_THAT(*node, HasMember("leaf", IsUnsigned(25u)));
}

TEST(YamlReaderTest, AliasCopiesAreIndependent) {
    BindingResult result = ReadYaml("x: &s [1, {k: v}]\ny: *s");
    ASSERT_THAT(result, Succeeded());
    result.Value().Member("y").Element(0).SetString("changed");
    result.Value().Member("y").Element(1).Member("k").SetBool(false);
    EXPECT_THAT(result.Value().Get("x"), IsCollection(ElementsAre(IsUnsigned(1u), HasMember("k", IsString("v")))));
}

TEST(YamlReaderTest, RepeatedKeyAddressesTheSameField) {
    const DocumentCase cases[] = {
        {"a: 1\na: 2", HasValue(IsStructure(ElementsAre(Pair("a", IsUnsigned(2u)))))},
        {"a: 1\na: ~", HasValue(IsStructure(ElementsAre(Pair("a", IsEmptyValue()))))},
        {"a: [1]\na: [2]\nb: 3",
         HasValue(IsStructure(ElementsAre(Pair("a", IsCollection(ElementsAre(IsUnsigned(1u), IsUnsigned(2u)))), Pair("b", IsUnsigned(3u)))))},
        {"a: {x: 1}\na: {y: 2}\nb: 3",
         HasValue(IsStructure(ElementsAre(Pair("a", IsStructure(ElementsAre(Pair("x", IsUnsigned(1u)), Pair("y", IsUnsigned(2u))))),
                                          Pair("b", IsUnsigned(3u)))))},
        {"a: {x: 1}\na: 5\nb: 3", HasValue(IsStructure(ElementsAre(Pair("a", IsUnsigned(5u)), Pair("b", IsUnsigned(3u)))))},
        {"a: {x: 1}\na: [5]", HasValue(HasMember("a", IsCollection(ElementsAre(IsUnsigned(5u)))))},
        // An alias copies what stands at the anchored position when it is read.
        {"a: &x {k: 1}\na: {m: 2}\nb: *x", HasValue(HasMember("b", IsStructure(ElementsAre(Pair("k", IsUnsigned(1u)), Pair("m", IsUnsigned(2u))))))},
        {"a: &x 1\na: *x", HasValue(IsStructure(ElementsAre(Pair("a", IsUnsigned(1u)))))},
        {"a: {k: &y [1]}\na: *y", HasValue(IsStructure(ElementsAre(Pair("a", IsCollection(ElementsAre(IsUnsigned(1u)))))))},
        {"a: {k: &y 1}\na: 2\nb: *y", HasValue(HasMember("b", IsEmptyValue()))},
        // The anchored node is open again through the repeated key: cyclic.
        {"a: &x [1]\na: [*x]", FailedWithMessage("Cannot deserialize cyclic aliases. Alias \"x\". At line: 2 col: 5")},
    };
    for (const DocumentCase& c : cases) EXPECT_THAT(ReadYaml(c.text), c.expected) << "text: " << c.text;
}

TEST(YamlReaderTest, ReaderFailures) {
    const DocumentCase cases[] = {
        {"---\na: 1\n---\nb: 2", FailedWithMessage("Multi-document YAML is not supported.")},
        {"---\n---\n", FailedWithMessage("Multi-document YAML is not supported.")},
        {"--- ~\n--- 1\n", FailedWithMessage("Multi-document YAML is not supported.")},
        {"[a, b]: x", FailedWithMessage("Unexpected start of sequence. At line: 1 col: 1")},
        {"k:\n  ? - a\n  : x", FailedWithMessage("Unexpected start of sequence. At line: 2 col: 5")},
        {"{a: 1}: x", FailedWithMessage("Unexpected start of mapping. At line: 1 col: 1")},
        {"!!int 1: x", FailedWithMessage("Invalid mapping key. Only string scalar keys are allowed. At line: 1 col: 1")},
        {"a:\n  !!float 1: x", FailedWithMessage("Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 3")},
        {"a: !!int abc", FailedWithMessage("Value abc for 'yaml' of type uint64_t is in an incorrect format")},
        {"- !!timestamp 2001-12-14", FailedWithMessage("Unsupported YAML tag 'tag:yaml.org,2002:timestamp'.")},
        {"a: [1, 2", FailedWithMessage(HasSubstr("YAML parser error: "))},
    };
    for (const DocumentCase& c : cases) EXPECT_THAT(ReadYaml(c.text), c.expected) << "text: " << c.text;
}

// What a bare libyaml event loop says about text: empty when it parses to
// the end, else the reader's parser-error message.
std::string LibyamlVerdict(const std::string& text) {
    yaml_parser_t parser;
    yaml_parser_initialize(&parser);
    yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
    yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    std::string verdict;
    for (;;) {
        yaml_event_t event;
        if (yaml_parser_parse(&parser, &event) == 0) {
            verdict = "YAML parser error: " + std::string(parser.problem) + ". At line: " +
                      std::to_string(parser.problem_mark.line) + " col: " + std::to_string(parser.problem_mark.column);
            break;
        }
        bool end = event.type == YAML_STREAM_END_EVENT;
        yaml_event_delete(&event);
        if (end) break;
    }
    yaml_parser_delete(&parser);
    return verdict;
}

TEST(YamlReaderTest, FailsWhereverLibyamlDoes) {
    const std::vector<std::string> texts = {
        "a: 1", "a: [1, 2", "a: {b: 1", "a: 'x", "a: \"x", "a: \"\\q\"", "- a\nb: c", "a: b: c", "a:\n- 1\n b: 2",
        "[1, 2]]", "{a: 1}}", "? a\n? b", "a: *", "a: &", "a: !<> x", "%YAML 1.1\n%YAML 1.1\n--- 1", "%FOO bar\n--- 1",
        "%YAML 2.0\n--- 1", "a: |\n x\n  y\n z", "\t- a", "a:\n\tb", "key: @value", "key: `value",
        "a: 1\n...\nb", "'unterminated", "[a, b", "{a", "- - - - x", "a: - b", "- a\n  - b", std::string("a: 1\0", 5),
        "a: \xFF", "a: \xC3", "\xEF\xBB\xBF" "a: 1", "a: \x01", "a: \"\\uD800\"",
        "a: !!str\n", "x: >\n a\n  b\n c\n", std::string(1025, 'k') + ": v", "{" + std::string(1025, 'k') + ": v}",
    };
    for (const std::string& text : texts) {
        std::string expected = LibyamlVerdict(text);
        BindingResult result = ReadYaml(text);
        if (expected.empty()) {
            EXPECT_THAT(result, Succeeded()) << "text: " << text;
        } else {
            EXPECT_THAT(result, FailedWithMessage(expected)) << "text: " << text;
        }
    }
    // Where the reader's own rules stop it first, it fails with its own
    // message before libyaml reaches the error.
    ASSERT_FALSE(LibyamlVerdict("&a [*a] x").empty());
    EXPECT_THAT(ReadYaml("&a [*a] x"), FailedWithMessage("Cannot deserialize cyclic aliases. Alias \"a\". At line: 1 col: 5"));
    ASSERT_FALSE(LibyamlVerdict("a: 1\n--- b: [").empty());
    EXPECT_THAT(ReadYaml("a: 1\n--- b: ["), FailedWithMessage("Multi-document YAML is not supported."));
}

std::string Nested(uint32_t levels) { return std::string(levels, '[') + std::string(levels, ']'); }

// A block sequence nested levels deep whose innermost entry is leaf.
std::string BlockNest(uint32_t levels, const std::string& leaf) {
    std::string text;
    for (uint32_t i = 0; i < levels; ++i) text += std::string(i, ' ') + "-\n";
    return text + std::string(levels, ' ') + leaf + "\n";
}

TEST(YamlReaderTest, NestingIsBounded) {
    // Block sequences to the bound, then a flow one inside: 512 in all.
    BindingResult deepest = ReadYaml(BlockNest(kMaxNestingDepth - 1, "[]"));
    ASSERT_THAT(deepest, Succeeded());
    const BindingProperty* level = &deepest.Value();
    for (uint32_t i = 1; i < kMaxNestingDepth; ++i) level = &level->At(0);
    EXPECT_THAT(*level, IsCollection(IsEmpty()));
    EXPECT_THAT(ReadYaml(BlockNest(kMaxNestingDepth, "[]")),
                FailedWithMessage("The document is nested deeper than 512 levels. At line: 513 col: 513"));
    EXPECT_THAT(ReadYaml(std::string(200000, '[')), FailedWithMessage(HasSubstr("nested deeper than 64")));
    std::string blocks;
    for (uint32_t i = 0; i <= kMaxNestingDepth; ++i) blocks += std::string(i, ' ') + "k:\n";
    EXPECT_THAT(ReadYaml(blocks), FailedWithMessage("The document is nested deeper than 512 levels. At line: 513 col: 513"));
}

TEST(YamlReaderTest, FlowCollectionsNestLessDeeply) {
    // libyaml's cost per token grows with the flow nesting.
    EXPECT_THAT(ReadYaml(Nested(kMaxYamlFlowDepth)), Succeeded());
    std::string mappings;
    for (uint32_t i = 0; i < kMaxYamlFlowDepth; ++i) mappings += "{k: ";
    EXPECT_THAT(ReadYaml(mappings + "v" + std::string(kMaxYamlFlowDepth, '}')), Succeeded());
    EXPECT_THAT(ReadYaml(Nested(kMaxYamlFlowDepth + 1)),
                FailedWithMessage("Flow collections are nested deeper than 64 levels. At line: 1 col: 65"));
    EXPECT_THAT(ReadYaml("- a: " + std::string(kMaxYamlFlowDepth, '[') + "{k: 1}"),
                FailedWithMessage("Flow collections are nested deeper than 64 levels. At line: 1 col: 70"));
    // Block collections count only towards the common bound; flow ones inside
    // them start afresh after they close.
    std::string blocks;
    for (uint32_t i = 0; i < 100; ++i) blocks += std::string(i, ' ') + "k:\n";
    blocks += std::string(100, ' ') + "- " + Nested(60) + "\n" + std::string(100, ' ') + "- " + Nested(60) + "\n";
    EXPECT_THAT(ReadYaml(blocks), Succeeded());
}

TEST(YamlReaderTest, TagDirectivesAreBoundedBeforeLibyamlSeesThem) {
    auto directives = [](uint32_t count, const std::string& lineBreak) {
        std::string text;
        for (uint32_t i = 0; i < count; ++i) text += "%TAG !t" + std::to_string(i) + "! tag:example.com,2000:" + lineBreak;
        return text + "--- !t0!x 1" + lineBreak;
    };
    EXPECT_THAT(ReadYaml(directives(kMaxYamlTagDirectives, "\n")),
                FailedWithMessage("Unsupported YAML tag 'tag:example.com,2000:x'."));
    EXPECT_THAT(ReadYaml(directives(kMaxYamlTagDirectives + 1, "\n")),
                FailedWithMessage("More than 64 tag directives. At line: 65 col: 1"));
    EXPECT_THAT(ReadYaml(directives(kMaxYamlTagDirectives + 1, "\r\n")),
                FailedWithMessage("More than 64 tag directives. At line: 65 col: 1"));
    EXPECT_THAT(ReadYaml(directives(kMaxYamlTagDirectives + 1, "\r")),
                FailedWithMessage("More than 64 tag directives. At line: 65 col: 1"));
    EXPECT_THAT(ReadYaml(directives(kMaxYamlTagDirectives + 1, "\xE2\x80\xA8")),
                FailedWithMessage("More than 64 tag directives. At line: 65 col: 1"));
    EXPECT_THAT(ReadYaml(directives(20000, "\n")), FailedWithMessage(HasSubstr("More than 64 tag directives.")));
    // Not at the start of a line: not a directive.
    std::string inText = "- x";
    for (uint32_t i = 0; i < 100; ++i) inText += " %TAG";
    EXPECT_THAT(ReadYaml(inText), HasValue(IsCollection(ElementsAre(IsString(inText.substr(2))))));
}

TEST(YamlReaderTest, AliasCopiesCountTowardsTheNestingBound) {
    // Anchored 300 levels deep, copied in 300 levels deep: 600 in all.
    std::string anchored = "a: &deep\n" + BlockNest(300, "x");
    EXPECT_THAT(ReadYaml(anchored + "b:\n" + BlockNest(300, "*deep")),
                FailedWithMessage("The document is nested deeper than 512 levels. At line: 604 col: 301"));
    EXPECT_THAT(ReadYaml(anchored + "b:\n" + BlockNest(200, "*deep")), Succeeded());
}

TEST(YamlReaderTest, AliasExpansionIsBoundedByTheInputSize) {
    // Each level holds nine aliases of the one before: 9^9 nodes from 400 bytes.
    std::string laughs = "a: &a [lol, lol, lol, lol, lol, lol, lol, lol, lol]\n";
    for (char level = 'b'; level <= 'i'; ++level) {
        std::string previous(1, static_cast<char>(level - 1));
        laughs += std::string(1, level) + ": &" + level + " [";
        for (int i = 0; i < 9; ++i) laughs += (i ? ", *" : "*") + previous;
        laughs += "]\n";
    }
    EXPECT_THAT(ReadYaml(laughs),
                FailedWithMessage(testing::StartsWith("Cannot deserialize aliases that expand the document too much. Alias ")));

    // Ordinary reuse of an anchored block stays well inside the budget.
    std::string reuse = "defaults: &d {timeout: 30, retries: 3, hosts: [a, b, c], flags: {x: 1, y: 2}}\n";
    for (int i = 0; i < 200; ++i) reuse += "s" + std::to_string(i) + ": *d\n";
    BindingResult result = ReadYaml(reuse);
    ASSERT_THAT(result, Succeeded());
    EXPECT_EQ(result.Value().Size(), 201u);
    EXPECT_THAT(result.Value().Get("s199"), HasMember("hosts", IsCollection(ElementsAre(IsString("a"), IsString("b"), IsString("c")))));
}

TEST(YamlReaderTest, LooksLikeYamlSkipsOnlySpaces) {
    const std::pair<std::string_view, bool> cases[] = {
        {"---", true},   {"---\na: 1", true}, {"   --- x", true}, {"--", false}, {"", false},
        {"  ", false},   {"\t---", false},    {"\n---", false},   {"a: 1", false}, {"- --- ", false},
        {"-- -", false}, {"{}", false},
    };
    for (auto [text, expected] : cases) EXPECT_EQ(LooksLikeYaml(text), expected) << "text: " << text;
}

}  // namespace
}  // namespace Korvo
