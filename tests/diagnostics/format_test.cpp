// Tests of the message formatter: placeholders, typed corrections, cuts.
#include "sdk/diagnostics/format.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace Korvo {
namespace {

TEST(FormatToStringTest, FillsNumberedPlaceholders) {
    EXPECT_EQ(FormatToString("Index %1 is out of range", 7u), "Index 7 is out of range");
    EXPECT_EQ(FormatToString("Couldn't assign value to '%1' of type %2 because the input is of an invalid type %3.",
                             "name", "String", "Bool"),
              "Couldn't assign value to 'name' of type String because the input is of an invalid type Bool.");
    EXPECT_EQ(FormatToString("%2 %1", "first", 2), "2 first");
    EXPECT_EQ(FormatToString("%1%1%1", 'x'), "xxx");
    EXPECT_EQ(FormatToString("[%1]", ""), "[]");
}

TEST(FormatToStringTest, FillsPrintfConversions) {
    EXPECT_EQ(FormatToString("Error: %s at offset %u.", "Invalid value.", 4u), "Error: Invalid value. at offset 4.");
    EXPECT_EQ(FormatToString("%d|%5d|%-5d", -3, 42, 42), "-3|   42|42   ");
    EXPECT_EQ(FormatToString("%05d|%+d|% d", 42, 42, 42), "00042|+42| 42");
    EXPECT_EQ(FormatToString("%x %X %o %#x %#o", 255, 255, 8, 255, 8), "ff FF 10 0xff 010");
    EXPECT_EQ(FormatToString("%c%c", 'o', 'k'), "ok");
    EXPECT_EQ(FormatToString("%.3s|%6s|%-6s|", "abcdef", "ab", "ab"), "abc|    ab|ab    |");
}

TEST(FormatToStringTest, TwoPercentSignsPrintOne) {
    EXPECT_EQ(FormatToString("100%%"), "100%");
    EXPECT_EQ(FormatToString("%1%%", 5), "5%");
}

TEST(FormatToStringTest, CorrectsConversionsThatDoNotFitTheType) {
    EXPECT_EQ(FormatToString("%s", 42u), "42");
    EXPECT_EQ(FormatToString("%d", "text"), "text");
    EXPECT_EQ(FormatToString("%s", 2.5), "2.5");
    EXPECT_EQ(FormatToString("%f", 7), "7");
    EXPECT_EQ(FormatToString("%d", 'A'), "65");
    EXPECT_EQ(FormatToString("%c", 65), "A");
    EXPECT_EQ(FormatToString("%u", -1), "4294967295");
    EXPECT_EQ(FormatToString("%d", 4294967295u), "-1");
    EXPECT_EQ(FormatToString("%q", 3), "3");
}

TEST(FormatToStringTest, LengthModifiersNeverOutgrowTheArgument) {
    // A 32-bit argument under "ll", a string under "l" (a wide string) or a
    // double under "L" would make the C runtime read what was never passed.
    EXPECT_EQ(FormatToString("%lld", 5), "5");
    EXPECT_EQ(FormatToString("%ls", "narrow"), "narrow");
    EXPECT_EQ(FormatToString("%Lf", 1.5), "1.500000");
    EXPECT_EQ(FormatToString("%zu|%jd|%td", 1u, 2, 3), "1|2|3");
    EXPECT_EQ(FormatToString("%hd|%hhx", 65537, 0x1ff), "1|ff");
}

TEST(FormatToStringTest, BarePlaceholderPrintsAll64Bits) {
    EXPECT_EQ(FormatToString("%1", INT64_MIN), "-9223372036854775808");
    EXPECT_EQ(FormatToString("%1", UINT64_MAX), "18446744073709551615");
    EXPECT_EQ(FormatToString("%1", 1LL << 40), "1099511627776");
    EXPECT_EQ(FormatToString("%1", 3000000000ULL), "3000000000");
    EXPECT_EQ(FormatToString("%1", static_cast<long>(-2)), "-2");
    EXPECT_EQ(FormatToString("%1", static_cast<unsigned long>(2)), "2");
}

TEST(FormatToStringTest, ExplicitConversionOf64BitValuePrintsAll64Bits) {
    EXPECT_EQ(FormatToString("%d", int64_t{1} << 40), "1099511627776");
    EXPECT_EQ(FormatToString("%llu", UINT64_MAX), "18446744073709551615");
    EXPECT_EQ(FormatToString("%lx", uint64_t{0xABCDEF0123}), "abcdef0123");
    EXPECT_EQ(FormatToString("%u", int64_t{-1}), "18446744073709551615");
    EXPECT_EQ(FormatToString("%hd", int64_t{65537}), "1");
    EXPECT_EQ(FormatToString("%c", int64_t{0x141}), "A");
}

TEST(FormatToStringTest, DigitsAfterPercentNameAnArgumentOnlyWhenOneExists) {
    EXPECT_EQ(FormatToString("%2d", 1, 2), "2d");
    EXPECT_EQ(FormatToString("%2d", 1), " 1");
    EXPECT_EQ(FormatToString("%10d|", 1), "         1|");
    EXPECT_EQ(FormatToString("%12.3f|", 2.0, 1), "       2.000|");
    // With fewer arguments than the number, only a conversion letter makes
    // it a width; otherwise it names a missing argument.
    EXPECT_EQ(FormatToString("%2!", 1), "");
    EXPECT_EQ(FormatToString("%2", 1), "");
}

TEST(FormatToStringTest, PositionalArguments) {
    EXPECT_EQ(FormatToString("%2$s %1$s", "world", "hello"), "hello world");
    EXPECT_EQ(FormatToString("%1$05d %1$x", 26), "00026 1a");
    EXPECT_EQ(FormatToString("%2$d %d", 1, 2), "2 1");
}

TEST(FormatToStringTest, StarWidthAndPrecision) {
    EXPECT_EQ(FormatToString("[%*d]", 5, 42), "[   42]");
    EXPECT_EQ(FormatToString("[%*d]", -5, 42), "[42   ]");
    EXPECT_EQ(FormatToString("[%.*s]", 2, "abcdef"), "[ab]");
    EXPECT_EQ(FormatToString("[%*.*f]", 8, 2, 3.14159), "[    3.14]");
    EXPECT_EQ(FormatToString("[%3$*1$.*2$f]", 7, 1, 2.25), "[    2.2]");
    EXPECT_EQ(FormatToString("[%.*d]", -1, 7), "[7]");
    EXPECT_EQ(FormatToString("[%*d]", int64_t{4}, 1), "[   1]");
    EXPECT_EQ(FormatToString("[%*d]", 'a' - 'a' + 3, 1), "[  1]");
}

TEST(FormatToStringTest, CutsAtTheFirstPlaceholderThatCannotBeFilled) {
    EXPECT_EQ(FormatToString("before %3 after", 1), "before ");
    EXPECT_EQ(FormatToString("a %d b %d c", 1), "a 1 b ");
    EXPECT_EQ(FormatToString("one %1 two %2", 1), "one 1 two ");
    EXPECT_EQ(FormatToString("no arguments %d here"), "no arguments ");
    EXPECT_EQ(FormatToString("star from text %*d", "x", 1), "star from text ");
    EXPECT_EQ(FormatToString("star named past the end %*3$d", 1, 2), "star named past the end ");
    EXPECT_EQ(FormatToString("breaks off %5", 1), "breaks off ");
    EXPECT_EQ(FormatToString("breaks off %-"), "breaks off ");
}

TEST(FormatToStringTest, SpecificationLongerThanTheLimitEndsTheText) {
    const std::string flags58(57, '-');
    EXPECT_EQ(FormatToString(("<%" + flags58 + "d>").c_str(), 1), "<1>");  // 59 characters
    EXPECT_EQ(FormatToString(("<%" + flags58 + "-d>").c_str(), 1), "<");   // 60 characters
    // Digits of a positional argument do not count.
    EXPECT_EQ(FormatToString(("<%1$" + flags58 + "d>").c_str(), 1), "<1>");
}

TEST(FormatToStringTest, ConversionNPrintsAndStoresNothing) {
    EXPECT_EQ(FormatToString("a%nb", 5), "ab");
    EXPECT_EQ(FormatToString("a%nb%d", 5, 6), "ab6");
    EXPECT_EQ(FormatToString("a%nb", "text"), "ab");
    EXPECT_EQ(FormatToString("a%nb", 1.0), "ab");
}

TEST(FormatToStringTest, CutsAt4095Characters) {
    const std::string longText(5000, 'x');
    EXPECT_EQ(FormatToString(longText.c_str()), std::string(4095, 'x'));
    EXPECT_EQ(FormatToString("%1", longText), std::string(4095, 'x'));
    const std::string prefix(4090, 'p');
    EXPECT_EQ(FormatToString((prefix + "%1").c_str(), 1234567890), prefix + "12345");
}

TEST(FormatToStringTest, HugeWidthCostsOnlyItsOutput) {
    EXPECT_EQ(FormatToString("%999999999d", 1), std::string(4095, ' '));
    EXPECT_EQ(FormatToString("%-2147483647d|", 1), "1" + std::string(4094, ' '));
    EXPECT_EQ(FormatToString("%.999999999d", 1), std::string(4095, '0'));
    EXPECT_EQ(FormatToString("%*d", INT_MIN, 1), "1" + std::string(4094, ' '));
}

TEST(FormatToStringTest, StringArgumentTypes) {
    const std::string owned = "owned";
    const std::string_view full = "viewed text";
    const std::string_view view = full.substr(0, 6);  // not terminated after "viewed"
    char buffer[8] = {'a', 'r', 'r', 'a', 'y', '\0', 'z', 'z'};
    const char unterminated[3] = {'a', 'b', 'c'};
    const char* null = nullptr;
    EXPECT_EQ(FormatToString("%1|%2|%3", owned, view, buffer), "owned|viewed|array");
    EXPECT_EQ(FormatToString("%1", unterminated), "abc");
    EXPECT_EQ(FormatToString("[%1]", null), "[(null)]");
    EXPECT_EQ(FormatToString("[%8s]", view), "[  viewed]");
    EXPECT_EQ(FormatToString("[%.2s]", unterminated), "[ab]");
}

TEST(FormatToStringTest, DoubleConversionsReadTheSameOnEveryTarget) {
    EXPECT_EQ(FormatToString("%1", 0.1), "0.1");
    EXPECT_EQ(FormatToString("%1", 1e100), "1e+100");
    EXPECT_EQ(FormatToString("%1", 1e-5), "1e-05");
    EXPECT_EQ(FormatToString("%1", 123456789.0), "1.23457e+08");
    EXPECT_EQ(FormatToString("%e", 1.5), "1.500000e+00");
    EXPECT_EQ(FormatToString("%E", 1.5), "1.500000E+00");
    EXPECT_EQ(FormatToString("%.2f", 2.675), "2.67");
    EXPECT_EQ(FormatToString("%.0f", 0.5), "0");
    EXPECT_EQ(FormatToString("%.0f", 2.5), "2");
    EXPECT_EQ(FormatToString("%G", 1e-10), "1E-10");
    EXPECT_EQ(FormatToString("%#g", 1.0), "1.00000");
    EXPECT_EQ(FormatToString("%.3F", 1.0), "1.000");
    EXPECT_EQ(FormatToString("%f", 1e20), "100000000000000000000.000000");
    EXPECT_EQ(FormatToString("%.20g", 0.1), "0.10000000000000000555");
    EXPECT_EQ(FormatToString("%g", -0.0), "-0");
    EXPECT_EQ(FormatToString("%a", 1.0), "0x1p+0");
    EXPECT_EQ(FormatToString("%A", 0.5), "0X1P-1");
    EXPECT_EQ(FormatToString("%.2a", 1.0), "0x1.00p+0");
    const double infinity = std::numeric_limits<double>::infinity();
    EXPECT_EQ(FormatToString("%g|%f", infinity, -infinity), "inf|-inf");
    EXPECT_EQ(FormatToString("%G", infinity), "INF");
    EXPECT_EQ(FormatToString("%g", std::numeric_limits<double>::quiet_NaN()), "nan");
}

TEST(FormatToStringTest, NarrowArgumentTypes) {
    EXPECT_EQ(FormatToString("%1 %2 %3", short{-5}, static_cast<unsigned short>(65535), static_cast<signed char>(-1)),
              "-5 65535 -1");
    EXPECT_EQ(FormatToString("%1", static_cast<unsigned char>(200)), "200");
    EXPECT_EQ(FormatToString("%1", 1.5f), "1.5");
    EXPECT_EQ(FormatToString("%d", static_cast<char>(-1)), "-1");
    EXPECT_EQ(FormatToString("%1", 'q'), "q");
}

TEST(FormatToBufferTest, StopsAtTheBufferAndTerminates) {
    const int value = 123456;
    const FormatArgument* types[] = {&kFormatInt};
    const void* values[] = {&value};
    char buffer[8];
    EXPECT_EQ(FormatToBuffer(buffer, sizeof buffer, "n=%1!", types, values, 1), 7u);
    EXPECT_STREQ(buffer, "n=12345");
    EXPECT_EQ(FormatToBuffer(buffer, 3, "abc", nullptr, nullptr, 0), 2u);
    EXPECT_STREQ(buffer, "ab");
    EXPECT_EQ(FormatToBuffer(buffer, 1, "abc", nullptr, nullptr, 0), 0u);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(FormatToBuffer(buffer, 0, "abc", nullptr, nullptr, 0), 0u);
    EXPECT_EQ(FormatToBuffer(buffer, sizeof buffer, nullptr, nullptr, nullptr, 0), 0u);
    EXPECT_STREQ(buffer, "");
}

// Plain decimal and text placeholders are written without the C runtime;
// at every buffer size they must read exactly as snprintf's would.
TEST(FormatToBufferTest, PlainNumbersAndTextMatchSnprintfAtEverySize) {
    const int64_t wide[] = {0, 7, -1, 1234567890123LL, std::numeric_limits<int64_t>::min(),
                            std::numeric_limits<int64_t>::max()};
    const int narrow[] = {0, -5, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()};
    const std::string_view withNul("ab\0cd", 5);
    struct Case {
        std::string name;
        const char* tmpl;
        const FormatArgument* type;
        const void* value;
        std::string expected;
    };
    std::vector<Case> cases;
    char text[64];
    for (const int64_t& v : wide) {
        std::snprintf(text, sizeof text, "<%lld>", static_cast<long long>(v));
        cases.push_back({"wide " + std::string(text), "<%1>", &kFormatInt64, &v, text});
        cases.push_back({"wide %d " + std::string(text), "<%d>", &kFormatInt64, &v, text});
        std::snprintf(text, sizeof text, "<%llu>", static_cast<unsigned long long>(v));
        cases.push_back({"wide %u " + std::string(text), "<%u>", &kFormatInt64, &v, text});
    }
    for (const int& v : narrow) {
        std::snprintf(text, sizeof text, "<%d>", v);
        cases.push_back({"int " + std::string(text), "<%1>", &kFormatInt, &v, text});
        cases.push_back({"int %ld " + std::string(text), "<%ld>", &kFormatInt, &v, text});
        std::snprintf(text, sizeof text, "<%u>", static_cast<unsigned>(v));
        cases.push_back({"int %u " + std::string(text), "<%u>", &kFormatInt, &v, text});
        cases.push_back({"unsigned " + std::string(text), "<%1>", &kFormatUnsignedInt, &v, text});
    }
    cases.push_back({"text with a NUL", "<%1>", &kFormatStringView, &withNul, "<ab>"});
    cases.push_back({"text with precision", "<%.3s>", &kFormatStringView, &withNul, "<ab>"});
    for (const Case& c : cases) {
        const FormatArgument* types[] = {c.type};
        const void* values[] = {c.value};
        for (size_t size = 1; size <= c.expected.size() + 1; ++size) {
            char buffer[64];
            const size_t written = FormatToBuffer(buffer, size, c.tmpl, types, values, 1);
            const std::string expected = c.expected.substr(0, size - 1);
            EXPECT_EQ(written, expected.size()) << c.name << " in " << size;
            EXPECT_EQ(std::string(buffer), expected) << c.name << " in " << size;
        }
    }
}

TEST(FormatToBufferTest, TakesTaggedArgumentsOfEveryType) {
    const int i = -1;
    const unsigned int u = 2;
    const char c = 'c';
    const int64_t s64 = -4;
    const uint64_t u64 = 5;
    const double d = 6.5;
    const char* text = "seven";
    const std::string owned = "eight";
    const std::string_view view = "nine";
    const FormatArgument* types[] = {&kFormatInt,    &kFormatUnsignedInt, &kFormatChar,
                                     &kFormatInt64,  &kFormatUInt64,      &kFormatDouble,
                                     &kFormatCString, &kFormatStdString,  &kFormatStringView};
    const void* values[] = {&i, &u, &c, &s64, &u64, &d, &text, &owned, &view};
    char buffer[128];
    const size_t length = FormatToBuffer(buffer, sizeof buffer, "%1 %2 %3 %4 %5 %6 %7 %8 %9", types, values, 9);
    EXPECT_EQ(std::string(buffer, length), "-1 2 c -4 5 6.5 seven eight nine");
}

// A type added by the same scheme as the built-in ones.
struct Outcome {
    const char* error;
};

size_t FormatOutcome(char* out, size_t space, const FormatSpecification& spec, const void* value) {
    const Outcome& outcome = *static_cast<const Outcome*>(value);
    return FormatTextArgument(out, space, spec, outcome.error != nullptr ? outcome.error : "Success");
}

const FormatArgument kFormatOutcome{&FormatOutcome, nullptr, false};

}  // namespace

template <>
struct FormatArgumentOf<Outcome> {
    using StoredType = Outcome;
    static Outcome Store(const Outcome& value) noexcept { return value; }
    static const FormatArgument& Type() noexcept { return kFormatOutcome; }
};

namespace {

TEST(FormatToStringTest, OtherSubsystemsAddTypes) {
    EXPECT_EQ(FormatToString("result: %1", Outcome{nullptr}), "result: Success");
    EXPECT_EQ(FormatToString("result: %1 (%2)", Outcome{"Timed out"}, 3), "result: Timed out (3)");
    EXPECT_EQ(FormatToString("%*d", Outcome{nullptr}, 3), "");
}

}  // namespace
}  // namespace Korvo
