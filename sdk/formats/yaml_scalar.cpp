// sdk/formats/yaml_scalar.cpp - what a YAML scalar's text stands for: null,
// a number, a boolean or text, by its tag or, untagged, by its spelling.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <charconv>
#include <limits>
#include <string_view>

#include "sdk/diagnostics/format.h"
#include "sdk/formats/yaml_messages.h"
#include "sdk/formats/yaml_reader.h"
#include "sdk/values/scalar_conversion.h"

namespace Korvo {
namespace {

constexpr char kStrTag[] = "tag:yaml.org,2002:str";
constexpr char kIntTag[] = "tag:yaml.org,2002:int";
constexpr char kFloatTag[] = "tag:yaml.org,2002:float";
constexpr char kBoolTag[] = "tag:yaml.org,2002:bool";

// The name and type names that conversion messages of tagged scalars show.
constexpr std::string_view kConversionName = "yaml";
constexpr std::string_view kSignedTypeName = "int64_t";
constexpr std::string_view kUnsignedTypeName = "uint64_t";
constexpr std::string_view kDoubleTypeName = "double";
constexpr double kDoubleMax = 1.7976931348623157e308;

// 2^63 and 2^64 as doubles (both exact): the ends of the 64-bit ranges.
constexpr double kTwoTo63 = 9223372036854775808.0;
constexpr double kTwoTo64 = 18446744073709551616.0;

constexpr std::string_view kNullWords[] = {"", "~", "null", "Null", "NULL"};
constexpr std::string_view kTrueWords[] = {"true", "True", "TRUE", "y", "Y", "yes", "Yes", "YES", "on", "On", "ON"};
constexpr std::string_view kFalseWords[] = {"false", "False", "FALSE", "n", "N", "no", "No", "NO", "off", "Off", "OFF"};

template <size_t N>
bool IsOneOf(std::string_view text, const std::string_view (&words)[N]) noexcept {
    for (std::string_view word : words) {
        if (text == word) return true;
    }
    return false;
}


// Only these characters can start a text that strtod consumes (leading
// white space, sign, digit, point, "inf", "nan"); other scalars skip the
// conversion.
bool MayStartNumber(char c) noexcept {
    switch (c) {
        case ' ': case '\t': case '\n': case '\v': case '\f': case '\r':
        case '+': case '-': case '.':
        case '0': case '1': case '2': case '3': case '4':
        case '5': case '6': case '7': case '8': case '9':
        case 'i': case 'I': case 'n': case 'N':
            return true;
        default:
            return false;
    }
}

// Digits a plain whole number may have for ParseNumber to read it itself:
// every such number is exact in a double, as strtod would give it.
constexpr size_t kExactDigits = 15;

// The number test of plain scalars: strtod must consume the whole text and
// the value must be finite (NaN passes).
bool ParseNumber(const char* text, size_t length, double* value) noexcept {
    if (length == 0 || !MayStartNumber(text[0])) return false;
    // Whole numbers of a few digits, the most common, without strtod.
    const size_t sign = text[0] == '-' ? 1 : 0;
    if (length > sign && length - sign <= kExactDigits) {
        uint64_t whole = 0;
        size_t i = sign;
        while (i < length && text[i] >= '0' && text[i] <= '9') {
            whole = whole * 10 + static_cast<uint64_t>(text[i++] - '0');
        }
        if (i == length) {
            *value = sign != 0 ? -static_cast<double>(whole) : static_cast<double>(whole);
            return true;
        }
    }
    // Plain decimals (a digit first, no sign but '-', no blanks or hex)
    // through from_chars, which rounds as strtod does at a fraction of its
    // cost; anything else, and anything it cannot represent, through strtod.
    if (length > sign && text[sign] >= '0' && text[sign] <= '9') {
        double parsed = 0;
        const auto [end, error] = std::from_chars(text, text + length, parsed);
        if (error == std::errc() && end == text + length) {
            if (std::isinf(parsed)) return false;
            *value = parsed;
            return true;
        }
    }
    char* end = nullptr;
    double parsed = std::strtod(text, &end);
    if (end != text + length || std::isinf(parsed)) return false;
    *value = parsed;
    return true;
}

void SetNumber(BindingProperty& target, double value) noexcept {
    if (std::isnan(value) || value != std::trunc(value)) {
        target.SetFloat(value);
    } else if (value < 0) {
        // Whole numbers below the signed range have no integer value: they
        // stay float rather than fail, as in the JSON reader.
        if (value >= -kTwoTo63) {
            target.SetSigned(static_cast<int64_t>(value));
        } else {
            target.SetFloat(value);
        }
    } else if (value < kTwoTo64) {
        // Zero (negative zero too) and up; from 2^63 the conversion sets the
        // top bit, as value - 2^63 with the top bit set would.
        target.SetUnsigned(static_cast<uint64_t>(value));
    } else {
        target.SetFloat(value);
    }
}

void ResolveTagged(BindingResult& result, BindingProperty& target, const char* tag, std::string_view text) {
    if (std::strcmp(tag, kStrTag) == 0) {
        target.SetString(text);
        return;
    }
    if (std::strcmp(tag, kBoolTag) == 0) {
        if (IsOneOf(text, kTrueWords)) {
            target.SetBool(true);
        } else if (IsOneOf(text, kFalseWords)) {
            target.SetBool(false);
        }
        return;
    }
    bool isInt = std::strcmp(tag, kIntTag) == 0;
    if (!isInt && std::strcmp(tag, kFloatTag) != 0) {
        result.Fail(FormatToString(YamlMessage::kUnsupportedTag, tag));
        return;
    }
    // The conversions read a String property: the target holds the text
    // while they run, and its number afterwards. They report into their own
    // result, because failing the reader's result clears the tree that holds
    // the target.
    target.SetString(text);
    BindingResult conversion;
    if (!isInt) {
        double value = 0;
        ToNativeDouble(conversion, value, target, kConversionName, kDoubleTypeName, -kDoubleMax, kDoubleMax);
        if (conversion.Succeeded()) target.SetFloat(value);
    } else if (!text.empty() && text.front() == '-') {
        int64_t value = 0;
        ToNativeSigned(conversion, value, target, kConversionName, kSignedTypeName,
                       std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
        if (conversion.Succeeded()) target.SetSigned(value);
    } else {
        uint64_t value = 0;
        ToNativeUnsigned(conversion, value, target, kConversionName, kUnsignedTypeName,
                         std::numeric_limits<uint64_t>::max());
        if (conversion.Succeeded()) target.SetUnsigned(value);
    }
    if (conversion.Failed()) result.Fail(conversion.ErrorMessage());
}

}  // namespace

void ResolveYamlScalar(BindingResult& result, BindingProperty& target, const char* tag, const char* text,
                       size_t length, bool quoted) {
    std::string_view view(text, length);
    if (tag != nullptr) {
        ResolveTagged(result, target, tag, view);
        return;
    }
    if (quoted) {
        target.SetString(view);
        return;
    }
    double number = 0;
    if (IsOneOf(view, kNullWords)) {
        target.Clear();
    } else if (ParseNumber(text, length, &number)) {
        SetNumber(target, number);
    } else if (IsOneOf(view, kTrueWords)) {
        target.SetBool(true);
    } else if (IsOneOf(view, kFalseWords)) {
        target.SetBool(false);
    } else {
        target.SetString(view);
    }
}

}  // namespace Korvo
