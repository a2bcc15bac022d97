// sdk/values/scalar_conversion.cpp - scalar native destinations from values.
#include "sdk/values/scalar_conversion.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "sdk/diagnostics/format.h"
#include "sdk/values/conversion_messages.h"

namespace Korvo {

namespace {

using Kind = BindingPropertyKind;
namespace Message = ConversionMessage;

// 2^63 and 2^64 as doubles: every double at or above them is out of the
// 64-bit ranges, and every double below 2^53 is exact.
constexpr double kTwoPow63 = 9223372036854775808.0;
constexpr double kTwoPow64 = 18446744073709551616.0;

const char* KindName(const BindingProperty& input) noexcept {
    return BindingPropertyKindName(input.Kind());
}

// ---- text to number

// The characters strtoll and friends skip before a number.
bool IsBlank(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A String's text is NUL-terminated at its end, but may hold a NUL before
// it: the number must then end at the text's end, not at that NUL.
bool EndsAtTextEnd(std::string_view text, const char* end) noexcept {
    return end == text.data() + text.size();
}

}  // namespace

ParseOutcome ParseSigned(std::string_view text, int64_t min, int64_t max, int64_t& out) noexcept {
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.data(), &end, 0);
    const bool overflow = errno == ERANGE;
    if (!EndsAtTextEnd(text, end)) return ParseOutcome::IncorrectFormat;
    if (overflow || value < min || value > max) return ParseOutcome::OutOfRange;
    out = value;
    return ParseOutcome::Parsed;
}

namespace {

ParseOutcome ParseUnsigned(std::string_view text, uint64_t max, uint64_t& out) noexcept {
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text.data(), &end, 0);
    const bool overflow = errno == ERANGE;
    if (!EndsAtTextEnd(text, end)) return ParseOutcome::IncorrectFormat;
    // strtoull negates a leading minus in unsigned arithmetic, so "-1" would
    // read as the largest value: a minus is out of range, blanks before it
    // included.
    size_t first = 0;
    while (first < text.size() && IsBlank(text[first])) ++first;
    const bool negative = first < text.size() && text[first] == '-';
    if (overflow || negative || value > max) return ParseOutcome::OutOfRange;
    out = value;
    return ParseOutcome::Parsed;
}

ParseOutcome ParseDouble(std::string_view text, double min, double max, double& out) noexcept {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.data(), &end);
    const bool overflow = errno == ERANGE;
    if (!EndsAtTextEnd(text, end)) return ParseOutcome::IncorrectFormat;
    if (overflow || value < min || value > max) return ParseOutcome::OutOfRange;
    out = value;
    return ParseOutcome::Parsed;
}

// ---- float to integer

// Whether value lies within [min, max] exactly (not after rounding the
// bounds to double: 2^63 - 1 rounds up to 2^63, which no int64 can hold).
bool FloatWithinSigned(double value, int64_t min, int64_t max) noexcept {
    if (!(value >= -kTwoPow63 && value < kTwoPow63)) return false;  // NaN too
    return static_cast<int64_t>(std::floor(value)) >= min &&
           static_cast<int64_t>(std::ceil(value)) <= max;
}

bool FloatWithinUnsigned(double value, uint64_t max) noexcept {
    if (!(value >= 0.0 && value < kTwoPow64)) return false;  // NaN too
    return static_cast<uint64_t>(std::ceil(value)) <= max;
}

void FailOutOfRange(BindingResult& result, auto number, std::string_view name,
                    std::string_view typeName) {
    result.Fail(FormatToString(Message::kOutOfRange, number, name, typeName));
}

void FailParse(BindingResult& result, ParseOutcome outcome, std::string_view text,
               std::string_view name, std::string_view typeName) {
    result.Fail(FormatToString(outcome == ParseOutcome::IncorrectFormat ? Message::kIncorrectFormat
                                                                        : Message::kOutOfRange,
                               text, name, typeName));
}

void FailInvalidType(BindingResult& result, const BindingProperty& input, std::string_view name,
                     std::string_view typeName) {
    result.Fail(FormatToString(Message::kNumberInvalidType, name, typeName, KindName(input)));
}

void FailRequired(BindingResult& result, std::string_view name) {
    result.Fail(FormatToString(Message::kRequired, name));
}

// ---- Base64

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kNotBase64 = 0xFF;
constexpr uint8_t kBase64Padding = 0xFE;

struct Base64Table {
    uint8_t values[256];
    constexpr Base64Table() : values() {
        for (uint8_t& value : values) value = kNotBase64;
        for (int index = 0; index < 64; ++index) {
            values[static_cast<unsigned char>(kBase64Alphabet[index])] = static_cast<uint8_t>(index);
        }
        values[static_cast<unsigned char>('=')] = kBase64Padding;
    }
};

constexpr Base64Table kBase64Table;

bool IsBase64Text(std::string_view text) noexcept {
    for (const char c : text) {
        if (kBase64Table.values[static_cast<unsigned char>(c)] == kNotBase64) return false;
    }
    return true;
}

// Groups of four characters give three bytes; decoding stops at the first
// '='; a final group of two or three characters gives one or two bytes.
void DecodeBase64(std::string_view text, BindingProperty::Blob& out) {
    constexpr int kBitsPerCharacter = 6;
    constexpr int kBitsPerByte = 8;
    out.reserve(text.size() / 4 * 3 + 2);
    uint32_t bits = 0;
    int bitCount = 0;
    for (const char c : text) {
        const uint8_t value = kBase64Table.values[static_cast<unsigned char>(c)];
        if (value == kBase64Padding) break;
        bits = (bits << kBitsPerCharacter) | value;
        bitCount += kBitsPerCharacter;
        if (bitCount >= kBitsPerByte) {
            bitCount -= kBitsPerByte;
            out.push_back(static_cast<uint8_t>(bits >> bitCount));
            bits &= (1u << bitCount) - 1u;
        }
    }
}


// The three numeric targets differ only in which numbers fit them and in how
// a text is parsed for them; a range says both. A number that does not fit is
// reported as it arrived (integer or float), not as converted.
struct SignedRange {
    int64_t min;
    int64_t max;
    bool Fits(int64_t value) const noexcept { return value >= min && value <= max; }
    bool Fits(uint64_t value) const noexcept { return max >= 0 && value <= static_cast<uint64_t>(max); }
    bool Fits(double value) const noexcept { return FloatWithinSigned(value, min, max); }
    ParseOutcome Parse(std::string_view text, int64_t& out) const noexcept { return ParseSigned(text, min, max, out); }
};

struct UnsignedRange {
    uint64_t max;
    bool Fits(int64_t value) const noexcept { return value >= 0 && static_cast<uint64_t>(value) <= max; }
    bool Fits(uint64_t value) const noexcept { return value <= max; }
    bool Fits(double value) const noexcept { return FloatWithinUnsigned(value, max); }
    ParseOutcome Parse(std::string_view text, uint64_t& out) const noexcept { return ParseUnsigned(text, max, out); }
};

struct DoubleRange {
    double min;
    double max;
    // NaN fits: it compares below nothing and above nothing.
    bool Fits(double value) const noexcept { return !(value < min || value > max); }
    bool Fits(int64_t value) const noexcept { return Fits(static_cast<double>(value)); }
    bool Fits(uint64_t value) const noexcept { return Fits(static_cast<double>(value)); }
    ParseOutcome Parse(std::string_view text, double& out) const noexcept { return ParseDouble(text, min, max, out); }
};

template <typename Number, typename Range>
void ToNativeNumber(BindingResult& result, Number& out, const BindingProperty& input, std::string_view name,
                    std::string_view typeName, const Range& range) {
    out = Number{};
    if (result.Failed()) return;
    const auto take = [&](auto value) {
        if (!range.Fits(value)) return FailOutOfRange(result, value, name, typeName);
        out = static_cast<Number>(value);
    };
    switch (input.Kind()) {
        case Kind::Empty:
            return FailRequired(result, name);
        case Kind::Signed:
            return take(input.AsSigned());
        case Kind::Enum:
            return take(static_cast<int64_t>(input.AsEnum().number));
        case Kind::Unsigned:
            return take(input.AsUnsigned());
        case Kind::Float:
            return take(input.AsFloat());
        case Kind::String: {
            const std::string_view text = input.AsString();
            Number value{};
            const ParseOutcome outcome = range.Parse(text, value);
            if (outcome != ParseOutcome::Parsed) return FailParse(result, outcome, text, name, typeName);
            out = value;
            return;
        }
        default:
            return FailInvalidType(result, input, name, typeName);
    }
}

}  // namespace

void ToNativeSigned(BindingResult& result, int64_t& out, const BindingProperty& input,
                    std::string_view name, std::string_view typeName, int64_t min, int64_t max) {
    ToNativeNumber(result, out, input, name, typeName, SignedRange{min, max});
}

void ToNativeUnsigned(BindingResult& result, uint64_t& out, const BindingProperty& input,
                      std::string_view name, std::string_view typeName, uint64_t max) {
    ToNativeNumber(result, out, input, name, typeName, UnsignedRange{max});
}

void ToNativeDouble(BindingResult& result, double& out, const BindingProperty& input,
                    std::string_view name, std::string_view typeName, double min, double max) {
    ToNativeNumber(result, out, input, name, typeName, DoubleRange{min, max});
}

void ToNativeBool(BindingResult& result, bool& out, const BindingProperty& input,
                  std::string_view name) {
    out = false;
    if (result.Failed()) return;
    switch (input.Kind()) {
        case Kind::Bool:
            out = input.AsBool();
            return;
        case Kind::String: {
            const std::string_view text = input.AsString();
            if (text == "1" || text == "true") {
                out = true;
            } else if (text != "0" && text != "false") {
                result.Fail(FormatToString(Message::kBoolIncorrectFormat, text, name));
            }
            return;
        }
        case Kind::Empty:
            FailRequired(result, name);
            return;
        default:
            result.Fail(FormatToString(Message::kBoolInvalidType, name, KindName(input)));
            return;
    }
}

void ToNativeBlob(BindingResult& result, BindingProperty::Blob& out, const BindingProperty& input,
                  std::string_view name) {
    out.clear();
    if (result.Failed()) return;
    switch (input.Kind()) {
        case Kind::Blob: {
            const auto bytes = input.AsBlob();
            out.assign(bytes.begin(), bytes.end());
            return;
        }
        case Kind::String: {
            const std::string_view text = input.AsString();
            if (!IsBase64Text(text)) {
                result.Fail(FormatToString(Message::kBlobInvalidBase64, name));
                return;
            }
            DecodeBase64(text, out);
            return;
        }
        case Kind::Empty:
            FailRequired(result, name);
            return;
        default:
            result.Fail(FormatToString(Message::kNotABlob, name));
            return;
    }
}

}  // namespace Korvo
