#include "sdk/formats/json_reader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "sdk/formats/rapidjson_reader.h"
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
using ::testing::DoubleEq;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Matcher;
using ::testing::Pair;

struct ValueCase {
    std::string text;
    Matcher<const BindingResult&> expected;
};

TEST(JsonReaderTest, ReadsEveryKind) {
    const ValueCase cases[] = {
        {"", HasValue(IsEmptyValue())},
        {" \t\r\n ", HasValue(IsEmptyValue())},
        {"null", HasValue(IsEmptyValue())},
        {"true", HasValue(IsBool(true))},
        {"false", HasValue(IsBool(false))},
        {"5", HasValue(IsUnsigned(5u))},
        {" 5 ", HasValue(IsUnsigned(5u))},
        {"0", HasValue(IsUnsigned(0u))},
        {"-0", HasValue(IsSigned(0))},
        {"4294967295", HasValue(IsUnsigned(4294967295u))},
        {"4294967296", HasValue(IsUnsigned(4294967296u))},
        {"18446744073709551615", HasValue(IsUnsigned(18446744073709551615u))},
        {"18446744073709551616", HasValue(IsFloat(DoubleEq(18446744073709551616.0)))},
        {"-1", HasValue(IsSigned(-1))},
        {"-2147483648", HasValue(IsSigned(-2147483648LL))},
        {"-2147483649", HasValue(IsSigned(-2147483649LL))},
        {"-9223372036854775808", HasValue(IsSigned(INT64_MIN))},
        {"-9223372036854775809", HasValue(IsFloat(DoubleEq(-9223372036854775808.0)))},
        {"1.0", HasValue(IsFloat(1.0))},
        {"1e2", HasValue(IsFloat(100.0))},
        {"-1.5E-2", HasValue(IsFloat(DoubleEq(-0.015)))},
        {"\"abc\"", HasValue(IsString("abc"))},
        {"\"\"", HasValue(IsString(""))},
        {R"("\u00e9\ud83d\ude00\n\"\\\/")", HasValue(IsString("\xC3\xA9\xF0\x9F\x98\x80\n\"\\/"))},
        {R"("ab\u0000cd")", HasValue(IsString("ab"))},
        // An escaped backslash before "u0000" is text, not a NUL; a NUL
        // escaped late in a document still cuts the text it is in.
        {R"("a\\u0000b")", HasValue(IsString("a\\u0000b"))},
        {R"(["\u00e9", "x", {"k": "v\u0000w"}])",
         HasValue(IsCollection(ElementsAre(IsString("\xC3\xA9"), IsString("x"), HasMember("k", IsString("v")))))},
        {"[]", HasValue(IsCollection(IsEmpty()))},
        {"{}", HasValue(IsStructure(IsEmpty()))},
        {"[null]", HasValue(IsCollection(ElementsAre(IsEmptyValue())))},
        {R"({"a":null})", HasValue(IsStructure(ElementsAre(Pair("a", IsEmptyValue()))))},
        {"[1,[2,3],{}]", HasValue(IsCollection(ElementsAre(IsUnsigned(1u), IsCollection(ElementsAre(IsUnsigned(2u), IsUnsigned(3u))),
                                                          IsStructure(IsEmpty()))))},
        // Members come out in name order, bytewise.
        {R"({"b":1,"a":2,"B":3})",
         HasValue(IsStructure(ElementsAre(Pair("B", IsUnsigned(3u)), Pair("a", IsUnsigned(2u)), Pair("b", IsUnsigned(1u)))))},
        {R"({"k\u0000x":1})", HasValue(IsStructure(ElementsAre(Pair("k", IsUnsigned(1u)))))},
        {R"({"":{"":[true]}})", HasValue(HasMember("", HasMember("", IsCollection(ElementsAre(IsBool(true))))))},
    };
    for (const ValueCase& c : cases) EXPECT_THAT(ReadJson(c.text), c.expected) << "text: " << c.text;
}

TEST(JsonReaderTest, RepeatedMemberAddressesTheSameField) {
    const ValueCase cases[] = {
        {R"({"a":1,"a":2})", HasValue(IsStructure(ElementsAre(Pair("a", IsUnsigned(2u)))))},
        {R"({"a":1,"a":null})", HasValue(IsStructure(ElementsAre(Pair("a", IsUnsigned(1u)))))},
        {R"({"a":[1],"a":[2]})", HasValue(HasMember("a", IsCollection(ElementsAre(IsUnsigned(1u), IsUnsigned(2u)))))},
        {R"({"a":{"x":1},"a":{"y":2}})",
         HasValue(HasMember("a", IsStructure(ElementsAre(Pair("x", IsUnsigned(1u)), Pair("y", IsUnsigned(2u))))))},
        {R"({"a":[1],"a":{"y":2}})", HasValue(HasMember("a", IsStructure(ElementsAre(Pair("y", IsUnsigned(2u))))))},
        {R"({"a":{"x":1},"a":"s"})", HasValue(HasMember("a", IsString("s")))},
    };
    for (const ValueCase& c : cases) EXPECT_THAT(ReadJson(c.text), c.expected) << "text: " << c.text;
}

TEST(JsonReaderTest, StopsAtTheFirstNulByte) {
    EXPECT_THAT(ReadJson(std::string("[1]\0garbage", 11)), HasValue(IsCollection(ElementsAre(IsUnsigned(1u)))));
    EXPECT_THAT(ReadJson(std::string("\0[1]", 4)), HasValue(IsEmptyValue()));
    EXPECT_THAT(ReadJson(std::string("[1,\0]", 5)),
                FailedWithMessage("Error: Invalid value. at offset 3."));
}

struct MessageCase {
    std::string text;
    std::string message;
};

TEST(JsonReaderTest, SyntaxErrorsGiveTextAndOffset) {
    const MessageCase cases[] = {
        {"[1] x", "Error: The document root must not follow by other values. at offset 4."},
        {"1 2", "Error: The document root must not follow by other values. at offset 2."},
        {"nul", "Error: Invalid value. at offset 3."},
        {"[1,]", "Error: Invalid value. at offset 3."},
        {"{1:2}", "Error: Missing a name for object member. at offset 1."},
        {R"({"a" 1})", "Error: Missing a colon after a name of object member. at offset 5."},
        {R"({"a":1 "b":2})", "Error: Missing a comma or '}' after an object member. at offset 7."},
        {"[1 2]", "Error: Missing a comma or ']' after an array element. at offset 3."},
        {R"("\u12G4")", "Error: Incorrect hex digit after \\u escape in string. at offset 1."},
        {R"("\ud800x")", "Error: The surrogate pair in string is invalid. at offset 1."},
        {R"("\x")", "Error: Invalid escape character in string. at offset 1."},
        {"\"abc", "Error: Missing a closing quotation mark in string. at offset 4."},
        {"\"a\x01\"", "Error: Invalid escape character in string. at offset 2."},
        {"1e400", "Error: Number too big to be stored in double. at offset 0."},
        {"1.", "Error: Miss fraction part in number. at offset 2."},
        {"1e", "Error: Miss exponent in number. at offset 2."},
        {"// comment\n1", "Error: Invalid value. at offset 0."},
        {"NaN", "Error: Invalid value. at offset 0."},
    };
    for (const MessageCase& c : cases) EXPECT_THAT(ReadJson(c.text), FailedWithMessage(c.message)) << "text: " << c.text;
}

// What a plain RapidJSON Reader with default flags says about text, in the
// reader's message shape; empty when it accepts the text.
std::string RapidJsonVerdict(const std::string& text) {
    rapidjson::BaseReaderHandler<> handler;
    rapidjson::Reader reader;
    rapidjson::StringStream stream(text.c_str());
    rapidjson::ParseResult parsed = reader.Parse<rapidjson::kParseDefaultFlags>(stream, handler);
    if (!parsed.IsError() || parsed.Code() == rapidjson::kParseErrorDocumentEmpty) return {};
    std::string description = parsed.Code() == rapidjson::kParseErrorDocumentRootNotSingular
                                  ? "The document root must not follow by other values."
                                  : rapidjson::GetParseError_En(parsed.Code());
    return "Error: " + description + " at offset " + std::to_string(parsed.Offset()) + ".";
}

TEST(JsonReaderTest, AgreesWithRapidJsonOnVerdictMessageAndOffset) {
    const std::vector<std::string> texts = {
        // documents and white space
        "", " ", "\t\r\n", "\v1", "\f1", "null", "true", "false", "nulls", "tru", "True", "FALSE", "n", "[", "]", "{", "}",
        "[]", "{}", "[[]]", "[{}]", "{\"a\":[]}", "[1,2,3]", "[1,,2]", "[,1]", "[1,]", "{,}", "{\"a\":1,}", "{\"a\"}",
        "{\"a\":}", "{\"a\" : 1 , \"b\" : [ ] }", "{'a':1}", "{a:1}", "[1]]", "[1]}", "{}}", "[1] [2]", "1 ", " 1",
        "1\n", "1 x", "[1]\t\n", "[1] /", "\xEF\xBB\xBF" "1", "[\"a\"\"b\"]",
        // strings and escapes
        "\"\"", "\"a\"", "\"\\\"\"", "\"\\\\\"", "\"\\/\"", "\"\\b\\f\\n\\r\\t\"", "\"\\a\"", "\"\\'\"", "\"\\u0041\"",
        "\"\\u004\"", "\"\\u00G1\"", "\"\\uFFFF\"", "\"\\u0000\"", "\"a\\u0000b\"", "\"\\U0041\"", "\"\\", "\"\\u",
        "\"\x1F\"", "\"\x7F\"", "\"\t\"", "\"\n\"", "\"abc", "\"abc\\\"", "[\"a]", "{\"a:1}",
        // surrogates
        "\"\\ud83d\\ude00\"", "\"\\uD83D\\uDE00\"", "\"\\ud83d\"", "\"\\ud83dx\"", "\"\\ud83d\\u0041\"", "\"\\ud83d\\ud83d\"",
        "\"\\ude00\"", "\"\\ude00\\ud83d\"", "\"\\udbff\\udfff\"", "\"\\ud800\\udc00\"", "\"\\ud83d\\", "\"\\ud83d\\u",
        "\"\\ud83d\\uZZZZ\"", "\"\\ud83d\\n\"",
        // UTF-8, valid and not (default flags do not validate encoding)
        "\"\xC3\xA9\"", "\"\xE2\x82\xAC\"", "\"\xF0\x9F\x98\x80\"", "\"\xC3\"", "\"\xFF\"", "\"\xC0\xAF\"",
        "\"\xED\xA0\x80\"", "\"\xF4\x90\x80\x80\"", "\"\x80\"", "\xC3\xA9", "[\xFF]",
        // numbers at every boundary
        "0", "-0", "00", "01", "-01", "0.0", "-0.0", "+1", "-", "--1", "1.", ".5", "-.5", "1.e1", "1e", "1e+", "1e-",
        "1E5", "1e+5", "1e-5", "1e05", "0e0", "1x", "0x10", "2147483647", "2147483648", "-2147483648", "-2147483649",
        "4294967295", "4294967296", "-4294967296", "9223372036854775807", "9223372036854775808", "-9223372036854775808",
        "-9223372036854775809", "18446744073709551615", "18446744073709551616", "-18446744073709551616",
        "99999999999999999999999999999", "1.7976931348623157e308", "1.7976931348623158e308", "1.7976931348623159e308",
        "1e308", "1e309", "-1e309", "1e-400", "4.9e-324", "2.2250738585072014e-308", "123456789012345678901234567890e-20",
        "0.000000000000000000000000000000000000000001", "1e2147483647", "1e-2147483648", "1e99999999999999999999",
        "[1e309]", "[-]", "[1.]", "{\"a\":1e}", "Infinity", "-Infinity", "NaN", "inf",
        // trailing data
        "[1] x", "{} {}", "\"a\" \"b\"", "null null", "1 2", "[1]\x01", "[1] \x7F",
    };
    for (const std::string& text : texts) {
        std::string expected = RapidJsonVerdict(text);
        BindingResult result = ReadJson(text);
        if (expected.empty()) {
            EXPECT_THAT(result, Succeeded()) << "text: " << text;
        } else {
            EXPECT_THAT(result, FailedWithMessage(expected)) << "text: " << text;
        }
    }
    // NUL bytes: both stop at the first one.
    for (const std::string& text : {std::string("[1]\0x", 5), std::string("\"a\0b\"", 5), std::string("[\0]", 3),
                                   std::string("1\0 2", 4), std::string("\0", 1)}) {
        std::string expected = RapidJsonVerdict(text);
        BindingResult result = ReadJson(text);
        if (expected.empty()) {
            EXPECT_THAT(result, Succeeded());
        } else {
            EXPECT_THAT(result, FailedWithMessage(expected));
        }
    }
}

std::string Nested(uint32_t levels, const std::string& open, const std::string& inner, const std::string& close) {
    std::string text;
    for (uint32_t i = 0; i < levels; ++i) text += open;
    text += inner;
    for (uint32_t i = 0; i < levels; ++i) text += close;
    return text;
}

TEST(JsonReaderTest, NestingUpToTheBoundIsRead) {
    BindingResult result = ReadJson(Nested(kMaxNestingDepth, "[", "1", "]"));
    ASSERT_THAT(result, Succeeded());
    const BindingProperty* level = &result.Value();
    for (uint32_t i = 0; i < kMaxNestingDepth; ++i) {
        ASSERT_EQ(level->Kind(), BindingPropertyKind::Collection);
        level = &level->At(0);
    }
    EXPECT_THAT(*level, IsUnsigned(1u));
    EXPECT_THAT(ReadJson(Nested(kMaxNestingDepth, "{\"a\":", "1", "}")), Succeeded());
}

TEST(JsonReaderTest, NestingPastTheBoundFailsJustAfterTheOpeningBracket) {
    EXPECT_THAT(ReadJson(Nested(kMaxNestingDepth + 1, "[", "", "]")),
                FailedWithMessage("Error: The document is nested deeper than 512 levels. at offset 513."));
    EXPECT_THAT(ReadJson(Nested(kMaxNestingDepth, "[", "{}", "]")),
                FailedWithMessage("Error: The document is nested deeper than 512 levels. at offset 513."));
    // {"a": is five bytes a level.
    EXPECT_THAT(ReadJson(Nested(kMaxNestingDepth + 1, "{\"a\":", "1", "}")),
                FailedWithMessage("Error: The document is nested deeper than 512 levels. at offset 2561."));
    // Far deeper input, well formed or cut off, fails the same way without
    // the tokenizer going deeper on the stack.
    EXPECT_THAT(ReadJson(std::string(1000000, '[')),
                FailedWithMessage("Error: The document is nested deeper than 512 levels. at offset 513."));
    EXPECT_THAT(ReadJson(Nested(200000, "[{\"x\":", "0", "}]")), FailedWithMessage(testing::HasSubstr("deeper than 512")));
}

TEST(JsonReaderTest, LooksLikeJsonSkipsOnlySpaces) {
    const std::pair<std::string_view, bool> cases[] = {
        {"{", true},      {"[", true},          {"   {\"a\":1}", true}, {"  [", true},  {"", false},
        {"   ", false},   {"\t{", false},       {"\n[", false},        {"5", false},   {"\"a\"", false},
        {"null", false},  {" x{", false},       {"---", false},        {"}", false},
    };
    for (auto [text, expected] : cases) EXPECT_EQ(LooksLikeJson(text), expected) << "text: " << text;
}

}  // namespace
}  // namespace Korvo
