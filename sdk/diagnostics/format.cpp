// sdk/diagnostics/format.cpp - the message formatter.
#include "sdk/diagnostics/format.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "sdk/diagnostics/ascii.h"

namespace Korvo {

namespace {

constexpr char kFlagCharacters[] = "-+ #0";
// A width or precision beyond the space left plus this slack cannot change
// the visible text (the longest exact double, %f of 1e308 with every
// fractional digit, is under 1100 characters), so larger ones are lowered to
// it and a hostile "%999999999d" costs no more than its output.
constexpr size_t kFieldSlack = 2048;

bool IsDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// Reads a run of digits, saturating at INT_MAX.
int ReadNumber(const char*& cursor) noexcept {
    long long number = 0;
    while (IsDigit(*cursor)) {
        number = number * 10 + (*cursor - '0');
        if (number > INT_MAX) number = INT_MAX;
        ++cursor;
    }
    return static_cast<int>(number);
}

// A placeholder as parsed: the specification, where its value and its '*'
// values come from.
struct Placeholder {
    FormatSpecification spec{};
    size_t argument = 0;   // 0-based
    int starCount = 0;
    size_t starArguments[2] = {0, 0};
    bool widthIsStar = false;
    bool precisionIsStar = false;
};

class SpecificationParser {
public:
    SpecificationParser(const char* cursor, size_t count, size_t* nextArgument) noexcept
        : cursor_(cursor), count_(count), next_(nextArgument) {}

    // Parses from the '%'; false when the template breaks off, names a
    // missing argument or spells out too long a specification.
    bool Parse(Placeholder& out) noexcept {
        ++cursor_;  // the '%'
        out.spec.precision = -1;
        if (!Count()) return false;
        bool named = false;
        bool numberReadAsWidth = false;
        if (*cursor_ >= '1' && *cursor_ <= '9') {
            const char* digits = cursor_;
            const int number = ReadNumber(cursor_);
            if (static_cast<size_t>(number) <= count_) {
                out.argument = static_cast<size_t>(number) - 1;
                if (*cursor_ != '$') return true;  // bare %N
                ++cursor_;
                named = true;
            } else {
                cursor_ = digits;  // read again as a width
                numberReadAsWidth = true;
            }
        }
        if (!ParseFlags(out.spec)) return false;
        if (!ParseField(out, false)) return false;
        if (*cursor_ == '.') {
            ++cursor_;
            if (!Count()) return false;
            if (!ParseField(out, true)) return false;
            if (!out.precisionIsStar && out.spec.precision < 0) out.spec.precision = 0;
        }
        if (!ParseLength(out.spec)) return false;
        if (*cursor_ == '\0') return false;
        // "%3 " with fewer than three arguments names a missing argument
        // rather than a width with the conversion ' '.
        if (numberReadAsWidth && !Ascii::IsLetter(*cursor_)) return false;
        out.spec.conversion = *cursor_++;
        if (!Count()) return false;
        if (!named) {
            if (!TakeNext(&out.argument)) return false;
        }
        return true;
    }

    const char* Cursor() const noexcept { return cursor_; }

private:
    // Counts one more character of the specification.
    bool Count() noexcept { return ++copied_ < kMaxFormatSpecification; }

    bool TakeNext(size_t* argument) noexcept {
        if (*next_ >= count_) return false;
        *argument = (*next_)++;
        return true;
    }

    bool ParseFlags(FormatSpecification& spec) noexcept {
        size_t flagCount = 0;
        while (*cursor_ != '\0' && std::strchr(kFlagCharacters, *cursor_) != nullptr) {
            if (std::memchr(spec.flags, *cursor_, flagCount) == nullptr) spec.flags[flagCount++] = *cursor_;
            ++cursor_;
            if (!Count()) return false;
        }
        spec.flags[flagCount] = '\0';
        return true;
    }

    // A width (precision false) or precision: '*', '*N$' or digits.
    bool ParseField(Placeholder& out, bool precision) noexcept {
        int& field = precision ? out.spec.precision : out.spec.width;
        if (precision) field = -1;
        if (*cursor_ == '*') {
            ++cursor_;
            if (!Count()) return false;
            size_t argument = 0;
            const char* digits = cursor_;
            if (*cursor_ >= '1' && *cursor_ <= '9') {
                const int number = ReadNumber(cursor_);
                if (*cursor_ == '$') {
                    if (static_cast<size_t>(number) > count_) return false;
                    argument = static_cast<size_t>(number) - 1;
                    ++cursor_;
                } else {
                    cursor_ = digits;
                    if (!TakeNext(&argument)) return false;
                }
            } else if (!TakeNext(&argument)) {
                return false;
            }
            (precision ? out.precisionIsStar : out.widthIsStar) = true;
            out.starArguments[out.starCount++] = argument;
            return true;
        }
        if (IsDigit(*cursor_)) {
            const char* start = cursor_;
            field = ReadNumber(cursor_);
            for (const char* c = start; c != cursor_; ++c) {
                if (!Count()) return false;
            }
        }
        return true;
    }

    bool ParseLength(FormatSpecification& spec) noexcept {
        size_t length = 0;
        const char c = *cursor_;
        if (c == 'L' || c == 'j' || c == 't' || c == 'z') {
            spec.length[length++] = c;
            ++cursor_;
            if (!Count()) return false;
        } else if (c == 'h' || c == 'l') {
            spec.length[length++] = c;
            ++cursor_;
            if (!Count()) return false;
            if (*cursor_ == c) {
                spec.length[length++] = c;
                ++cursor_;
                if (!Count()) return false;
            }
        }
        spec.length[length] = '\0';
        return true;
    }

    const char* cursor_;
    size_t count_;
    size_t* next_;
    size_t copied_ = 0;
};

int LimitField(long long value, size_t space) noexcept {
    const size_t limit = space > SIZE_MAX - kFieldSlack ? SIZE_MAX : space + kFieldSlack;
    if (value < 0) return static_cast<int>(value);
    if (static_cast<unsigned long long>(value) > limit) value = static_cast<long long>(limit);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

// The conversion a type prints for spec: the default for a bare
// placeholder or a conversion the type does not accept.
// 'n' stays 'n' for every type, so that it is never printed nor stored.
char ChooseConversion(const FormatSpecification& spec, const char* allowed) noexcept {
    if (spec.conversion == 'n') return 'n';
    if (!spec.IsBare() && std::strchr(allowed, spec.conversion) != nullptr) return spec.conversion;
    return allowed[0];
}

// Flags the C standard defines for each conversion; the others are dropped
// so that no runtime is asked for undefined behaviour and both of ours
// print the same text.
const char* FlagsFor(char conversion) noexcept {
    switch (conversion) {
        case 'd': case 'i': return "-+ 0";
        case 'o': case 'x': case 'X': return "-#0";
        case 'u': return "-0";
        case 'c': case 's': return "-";
        default: return "-+ #0";
    }
}

// Builds "%<flags>*.*<length><conversion>" into out.
void BuildCFormat(char* out, const FormatSpecification& spec, char conversion, const char* length) noexcept {
    const char* allowedFlags = FlagsFor(conversion);
    size_t n = 0;
    out[n++] = '%';
    for (const char* f = spec.flags; *f != '\0'; ++f) {
        if (std::strchr(allowedFlags, *f) != nullptr) out[n++] = *f;
    }
    out[n++] = '*';
    out[n++] = '.';
    out[n++] = '*';
    for (const char* l = length; *l != '\0'; ++l) out[n++] = *l;
    out[n++] = conversion;
    out[n] = '\0';
}

// Turns snprintf's result into the count written. A negative result, or a
// text that did not fit, counts as filling all the space left.
size_t Written(int result, size_t space) noexcept {
    if (result < 0 || static_cast<size_t>(result) >= space) return space - 1;
    return static_cast<size_t>(result);
}

template <class T>
size_t Print(char* out, size_t space, const FormatSpecification& spec, char conversion,
             const char* length, T value) noexcept {
    char format[16];
    BuildCFormat(format, spec, conversion, length);
    const int precision = conversion == 'c' ? -1 : spec.precision;
    return Written(std::snprintf(out, space, format, spec.width, precision, value), space);
}

// Copies length characters of text (which stops at a NUL, as "%.*s" does)
// into out, which has room for space characters including the NUL; the
// count written, as Written counts it.
size_t CopyText(char* out, size_t space, const char* text, size_t length) noexcept {
    const void* nul = std::memchr(text, '\0', length);
    if (nul != nullptr) length = static_cast<size_t>(static_cast<const char*>(nul) - text);
    if (length > space - 1) length = space - 1;
    std::memcpy(out, text, length);
    out[length] = '\0';
    return length;
}

// What "%lld" or "%llu" prints for a plain placeholder (no flags, width or
// precision), without a trip through snprintf.
size_t PrintDecimal(char* out, size_t space, bool isSigned, uint64_t bits) noexcept {
    char digits[24];
    size_t n = sizeof digits;
    const bool negative = isSigned && static_cast<int64_t>(bits) < 0;
    uint64_t magnitude = negative ? ~bits + 1 : bits;
    do {
        digits[--n] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) digits[--n] = '-';
    return CopyText(out, space, digits + n, sizeof digits - n);
}

enum class LengthClass { None, Short, Char, Long };

LengthClass Classify(const FormatSpecification& spec) noexcept {
    if (spec.length[0] == '\0') return LengthClass::None;
    if (spec.length[0] == 'h') return spec.length[1] == 'h' ? LengthClass::Char : LengthClass::Short;
    return LengthClass::Long;
}

// Prints an integer given as its 64-bit two's-complement bits.
size_t PrintInteger(char* out, size_t space, const FormatSpecification& spec, const char* allowed,
                    bool wide, uint64_t bits) noexcept {
    const char conversion = ChooseConversion(spec, allowed);
    if (conversion == 'n') return 0;
    if (conversion == 'c') return Print(out, space, spec, 'c', "", static_cast<int>(static_cast<uint32_t>(bits)));
    const bool isSigned = conversion == 'd' || conversion == 'i';
    const LengthClass length = spec.IsBare() ? LengthClass::None : Classify(spec);
    const bool plain = spec.flags[0] == '\0' && spec.width == 0 && spec.precision < 0 &&
                       (isSigned || conversion == 'u') && length != LengthClass::Short && length != LengthClass::Char;
    if (plain) {
        if (wide && (length == LengthClass::None || length == LengthClass::Long)) {
            return PrintDecimal(out, space, isSigned, bits);
        }
        const uint32_t low = static_cast<uint32_t>(bits);
        return PrintDecimal(out, space, isSigned,
                            isSigned ? static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(low))) : low);
    }
    if (wide && (length == LengthClass::None || length == LengthClass::Long)) {
        if (isSigned) return Print(out, space, spec, conversion, "ll", static_cast<long long>(bits));
        return Print(out, space, spec, conversion, "ll", static_cast<unsigned long long>(bits));
    }
    const char* prefix = length == LengthClass::Short ? "h" : length == LengthClass::Char ? "hh" : "";
    const uint32_t low = static_cast<uint32_t>(bits);
    if (isSigned) return Print(out, space, spec, conversion, prefix, static_cast<int>(low));
    return Print(out, space, spec, conversion, prefix, static_cast<unsigned int>(low));
}

// Built-in format and integer functions.
size_t FormatIntValue(char* out, size_t space, const FormatSpecification& spec, const void* value) {
    return FormatSignedArgument(out, space, spec, "dciouxX", false, *static_cast<const int*>(value));
}
size_t FormatUnsignedValue(char* out, size_t space, const FormatSpecification& spec, const void* value) {
    return FormatUnsignedArgument(out, space, spec, "ucdioxX", false, *static_cast<const unsigned int*>(value));
}
size_t FormatCharValue(char* out, size_t space, const FormatSpecification& spec, const void* value) {
    const int sign = static_cast<signed char>(*static_cast<const char*>(value));
    return FormatSignedArgument(out, space, spec, "cdiouxX", false, sign);
}
size_t FormatInt64Value(char* out, size_t space, const FormatSpecification& spec, const void* value) {
    return FormatSignedArgument(out, space, spec, "dciouxX", true, *static_cast<const int64_t*>(value));
}
size_t FormatUInt64Value(char* out, size_t space, const FormatSpecification& spec, const void* value) {
    return FormatUnsignedArgument(out, space, spec, "ucdioxX", true, *static_cast<const uint64_t*>(value));
}
size_t FormatDoubleValue(char* out, size_t space, const FormatSpecification& spec, const void* value) {
    return FormatDoubleArgument(out, space, spec, *static_cast<const double*>(value));
}
size_t FormatCStringValue(char* out, size_t space, const FormatSpecification& spec, const void* value) {
    const char* text = *static_cast<const char* const*>(value);
    if (text == nullptr) return FormatTextArgument(out, space, spec, "(null)");
    // With a precision the text need not be terminated within it.
    if (spec.precision >= 0) {
        const void* end = std::memchr(text, '\0', static_cast<size_t>(spec.precision));
        const size_t length = end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - text)
                                             : static_cast<size_t>(spec.precision);
        return FormatTextArgument(out, space, spec, std::string_view(text, length));
    }
    return FormatTextArgument(out, space, spec, std::string_view(text));
}
size_t FormatStdStringValue(char* out, size_t space, const FormatSpecification& spec, const void* value) {
    return FormatTextArgument(out, space, spec, *static_cast<const std::string*>(value));
}
size_t FormatStdStringPointerValue(char* out, size_t space, const FormatSpecification& spec, const void* value) {
    return FormatTextArgument(out, space, spec, **static_cast<const std::string* const*>(value));
}
size_t FormatStringViewValue(char* out, size_t space, const FormatSpecification& spec, const void* value) {
    return FormatTextArgument(out, space, spec, *static_cast<const std::string_view*>(value));
}

int IntOfInt(const void* value) { return *static_cast<const int*>(value); }
int IntOfUnsigned(const void* value) { return static_cast<int>(*static_cast<const unsigned int*>(value)); }
int IntOfChar(const void* value) { return static_cast<signed char>(*static_cast<const char*>(value)); }
int IntOfInt64(const void* value) {
    return static_cast<int>(static_cast<uint32_t>(*static_cast<const int64_t*>(value)));
}
int IntOfUInt64(const void* value) {
    return static_cast<int>(static_cast<uint32_t>(*static_cast<const uint64_t*>(value)));
}

}  // namespace

const FormatArgument kFormatInt{&FormatIntValue, &IntOfInt, true};
const FormatArgument kFormatUnsignedInt{&FormatUnsignedValue, &IntOfUnsigned, true};
const FormatArgument kFormatChar{&FormatCharValue, &IntOfChar, true};
const FormatArgument kFormatInt64{&FormatInt64Value, &IntOfInt64, true};
const FormatArgument kFormatUInt64{&FormatUInt64Value, &IntOfUInt64, true};
const FormatArgument kFormatDouble{&FormatDoubleValue, nullptr, false};
const FormatArgument kFormatCString{&FormatCStringValue, nullptr, false};
const FormatArgument kFormatStdString{&FormatStdStringValue, nullptr, false};
const FormatArgument kFormatStringView{&FormatStringViewValue, nullptr, false};
const FormatArgument kFormatStdStringPointer{&FormatStdStringPointerValue, nullptr, false};

size_t FormatSignedArgument(char* out, size_t space, const FormatSpecification& spec, const char* allowed,
                            bool wide, int64_t value) noexcept {
    return PrintInteger(out, space, spec, allowed, wide, static_cast<uint64_t>(value));
}

size_t FormatUnsignedArgument(char* out, size_t space, const FormatSpecification& spec, const char* allowed,
                              bool wide, uint64_t value) noexcept {
    return PrintInteger(out, space, spec, allowed, wide, value);
}

size_t FormatDoubleArgument(char* out, size_t space, const FormatSpecification& spec, double value) noexcept {
    const char conversion = ChooseConversion(spec, "gaefGAEF");
    if (conversion == 'n') return 0;
    return Print(out, space, spec, conversion, "", value);
}

size_t FormatTextArgument(char* out, size_t space, const FormatSpecification& spec,
                          std::string_view text) noexcept {
    if (ChooseConversion(spec, "s") == 'n') return 0;
    FormatSpecification bounded = spec;
    const size_t length = text.size() > INT_MAX ? INT_MAX : text.size();
    if (bounded.precision < 0 || static_cast<size_t>(bounded.precision) > length) {
        bounded.precision = static_cast<int>(length);
    }
    const char* data = text.data() != nullptr ? text.data() : "";
    // Without a width the text is copied as it stands (up to a NUL).
    if (bounded.width == 0) return CopyText(out, space, data, static_cast<size_t>(bounded.precision));
    return Print(out, space, bounded, 's', "", data);
}

size_t FormatToBuffer(char* out, size_t size, const char* tmpl, const FormatArgument* const* types,
                      const void* const* values, size_t count) noexcept {
    if (size == 0) return 0;
    size_t position = 0;
    size_t nextArgument = 0;
    const char* cursor = tmpl != nullptr ? tmpl : "";
    while (*cursor != '\0' && position < size - 1) {
        if (*cursor != '%') {
            out[position++] = *cursor++;
            continue;
        }
        if (cursor[1] == '%') {
            out[position++] = '%';
            cursor += 2;
            continue;
        }
        Placeholder placeholder;
        SpecificationParser parser(cursor, count, &nextArgument);
        if (!parser.Parse(placeholder)) break;
        cursor = parser.Cursor();

        const size_t space = size - position;
        FormatSpecification& spec = placeholder.spec;
        bool usable = true;
        for (int i = 0; i < placeholder.starCount; ++i) {
            const FormatArgument* type = types[placeholder.starArguments[i]];
            if (type == nullptr || !type->integerFlag || type->integerValue == nullptr) {
                usable = false;
                break;
            }
            const int starValue = type->integerValue(values[placeholder.starArguments[i]]);
            const bool isWidth = i == 0 && placeholder.widthIsStar;
            if (isWidth) {
                if (starValue < 0) {
                    // A negative '*' width is a '-' flag and the magnitude.
                    const size_t flags = std::strlen(spec.flags);
                    if (std::memchr(spec.flags, '-', flags) == nullptr && flags + 1 < sizeof spec.flags) {
                        spec.flags[flags] = '-';
                        spec.flags[flags + 1] = '\0';
                    }
                    spec.width = LimitField(-static_cast<long long>(starValue), space);
                } else {
                    spec.width = LimitField(starValue, space);
                }
            } else {
                spec.precision = starValue < 0 ? -1 : LimitField(starValue, space);
            }
        }
        if (!usable) break;
        spec.width = LimitField(spec.width, space);
        if (spec.precision >= 0) spec.precision = LimitField(spec.precision, space);

        const FormatArgument* type = types[placeholder.argument];
        if (type == nullptr || type->format == nullptr) break;
        const size_t written = type->format(out + position, space, spec, values[placeholder.argument]);
        position += written < space ? written : space - 1;
    }
    if (position > size - 1) position = size - 1;
    out[position] = '\0';
    return position;
}

std::string FormatToString(const char* tmpl) {
    return detail::FormatToStringPacked(tmpl, nullptr, nullptr, 0);
}

namespace detail {

std::string FormatToStringPacked(const char* tmpl, const FormatArgument* const* types, const void* const* values,
                                 size_t count) {
    char buffer[kFormatBufferSize];
    const size_t length = FormatToBuffer(buffer, sizeof buffer, tmpl, types, values, count);
    return std::string(buffer, length);
}

}  // namespace detail

}  // namespace Korvo
