// sdk/diagnostics/format.h - the message formatter behind every SDK message.
//
// \file
// A template holds numbered placeholders ("Index %1 is out of range") or
// printf-style conversions ("Error: %s at offset %u."), and typed arguments
// fill them. Because the formatter knows each argument's type, a conversion
// that does not fit the type is corrected rather than trusted: "%s" with an
// unsigned prints the number, "%d" with a string prints the string, and a
// length modifier never makes the C runtime read more than was passed.
//
// Placeholder forms:
//   %N          argument N (1-based) in its type's default conversion;
//               64-bit integers print all 64 bits;
//   %N$...      printf's positional form: argument N with the flags, width,
//               precision and conversion that follow;
//   %...        printf's sequential form; '*' widths and precisions take
//               integer arguments (named with *N$ or in sequence);
//   %%          one '%'.
// A placeholder that names a missing argument, breaks off, is longer than
// kMaxFormatSpecification characters or takes '*' from a non-integer ends the
// text at that point. The conversion 'n' never writes anything.
//
// One non-template core, FormatToBuffer, takes the template and an array of
// tagged arguments; FormatToString packs typed arguments and forwards. Both
// are re-entrant and may be called from any thread. FormatToBuffer allocates
// nothing; FormatToString allocates only the string it returns.
//
// Adding a type: define a FormatArgument (its format function usually calls
// one of the Format...Argument helpers below) and specialise
// FormatArgumentOf<T> for it, as the built-in types are at the end of this
// file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace Korvo {

// FormatToString's buffer: messages hold at most kFormatBufferSize - 1
// characters.
inline constexpr size_t kFormatBufferSize = 4096;
// Characters one placeholder may spell out (the '%', flags, width,
// precision, length and conversion, not the digits of a positional N$).
inline constexpr size_t kMaxFormatSpecification = 60;

// One parsed placeholder, as a type's format function receives it. '*'
// values are already resolved into width and precision.
struct FormatSpecification {
    char flags[6];     // distinct characters of "-+ #0" as written, NUL-terminated
    int width;         // 0 when none; never negative (a negative '*' sets '-')
    int precision;     // -1 when none
    char length[3];    // the length modifier as written ("", "h", "ll", ...)
    char conversion;   // the conversion as written; '\0' for a bare %N

    bool IsBare() const noexcept { return conversion == '\0'; }
};

// Writes one argument for spec into out, which has room for space
// characters including the terminating NUL (space >= 1). Returns the number
// of characters written, at most space - 1; the text is NUL-terminated.
using FormatFunction = size_t (*)(char* out, size_t space, const FormatSpecification& spec,
                                  const void* value);
// The argument as an int, for use as a '*' width or precision.
using FormatIntegerFunction = int (*)(const void* value);

// The description of one argument type.
struct FormatArgument {
    FormatFunction format;
    FormatIntegerFunction integerValue;  // null when integerFlag is false
    bool integerFlag;                    // may serve as a '*' width or precision
};

// Fills out (size bytes) from tmpl and count arguments: types[i] describes
// the value that values[i] points to. Returns the length written, at most
// size - 1; the text is always NUL-terminated (nothing is written when size
// is 0). A null template gives an empty text.
size_t FormatToBuffer(char* out, size_t size, const char* tmpl, const FormatArgument* const* types,
                      const void* const* values, size_t count) noexcept;

// Helpers for format functions. allowed lists the conversions the type
// accepts, its default first; any other conversion is replaced by the
// default. wide marks a 64-bit type: a bare placeholder, or any length but
// "h"/"hh", prints all 64 bits.
size_t FormatSignedArgument(char* out, size_t space, const FormatSpecification& spec,
                            const char* allowed, bool wide, int64_t value) noexcept;
size_t FormatUnsignedArgument(char* out, size_t space, const FormatSpecification& spec,
                              const char* allowed, bool wide, uint64_t value) noexcept;
// Conversions "gaefGAEF", default 'g'.
size_t FormatDoubleArgument(char* out, size_t space, const FormatSpecification& spec,
                            double value) noexcept;
// Prints text as "%s" does (width, precision and '-' apply), never reading
// past text's end, so the characters need not be NUL-terminated.
size_t FormatTextArgument(char* out, size_t space, const FormatSpecification& spec,
                          std::string_view text) noexcept;

// The built-in argument types. Each value pointer points to the named type.
extern const FormatArgument kFormatInt;          // int
extern const FormatArgument kFormatUnsignedInt;  // unsigned int
extern const FormatArgument kFormatChar;         // char, sign-extended
extern const FormatArgument kFormatInt64;        // int64_t
extern const FormatArgument kFormatUInt64;       // uint64_t
extern const FormatArgument kFormatDouble;       // double
extern const FormatArgument kFormatCString;      // const char* (null prints "(null)")
extern const FormatArgument kFormatStdString;    // std::string
extern const FormatArgument kFormatStringView;   // std::string_view
// The value is a pointer to a const std::string (no copy of the text is made
// when FormatToString packs a std::string).
extern const FormatArgument kFormatStdStringPointer;

// FormatArgumentOf<T> maps a C++ type to its FormatArgument: StoredType is
// what is kept while formatting, Store converts an argument to it and Type
// names the description of StoredType.
template <class T, class Enable = void>
struct FormatArgumentOf;  // no definition: the type cannot be formatted

namespace detail {

template <class Stored, const FormatArgument& kType>
struct FormatArgumentAs {
    using StoredType = Stored;
    template <class T>
    static Stored Store(const T& value) noexcept { return static_cast<Stored>(value); }
    static const FormatArgument& Type() noexcept { return kType; }
};

template <class T>
using FormatPlain = std::remove_cv_t<T>;

std::string FormatToStringPacked(const char* tmpl, const FormatArgument* const* types,
                                 const void* const* values, size_t count);

template <class... Stored>
std::string FormatStored(const char* tmpl, const FormatArgument* const* types,
                         const Stored&... stored) {
    const void* values[] = {static_cast<const void*>(&stored)...};
    return FormatToStringPacked(tmpl, types, values, sizeof...(Stored));
}

}  // namespace detail

// Formats into a kFormatBufferSize buffer and returns the text (at most
// kFormatBufferSize - 1 characters). Throws only std::bad_alloc.
std::string FormatToString(const char* tmpl);

template <class... A>
std::string FormatToString(const char* tmpl, const A&... args) {
    const FormatArgument* types[] = {&FormatArgumentOf<detail::FormatPlain<A>>::Type()...};
    return detail::FormatStored(tmpl, types, FormatArgumentOf<detail::FormatPlain<A>>::Store(args)...);
}

// The built-in mappings. int64_t is long on LP64 and long long elsewhere, so
// both are mapped (and long is 32 bits on Windows: it is widened on store).
template <> struct FormatArgumentOf<int> : detail::FormatArgumentAs<int, kFormatInt> {};
template <> struct FormatArgumentOf<short> : detail::FormatArgumentAs<int, kFormatInt> {};
template <> struct FormatArgumentOf<signed char> : detail::FormatArgumentAs<int, kFormatInt> {};
template <> struct FormatArgumentOf<unsigned int> : detail::FormatArgumentAs<unsigned int, kFormatUnsignedInt> {};
template <> struct FormatArgumentOf<unsigned short> : detail::FormatArgumentAs<unsigned int, kFormatUnsignedInt> {};
template <> struct FormatArgumentOf<unsigned char> : detail::FormatArgumentAs<unsigned int, kFormatUnsignedInt> {};
template <> struct FormatArgumentOf<char> : detail::FormatArgumentAs<char, kFormatChar> {};
template <> struct FormatArgumentOf<long> : detail::FormatArgumentAs<int64_t, kFormatInt64> {};
template <> struct FormatArgumentOf<long long> : detail::FormatArgumentAs<int64_t, kFormatInt64> {};
template <> struct FormatArgumentOf<unsigned long> : detail::FormatArgumentAs<uint64_t, kFormatUInt64> {};
template <> struct FormatArgumentOf<unsigned long long> : detail::FormatArgumentAs<uint64_t, kFormatUInt64> {};
template <> struct FormatArgumentOf<double> : detail::FormatArgumentAs<double, kFormatDouble> {};
template <> struct FormatArgumentOf<float> : detail::FormatArgumentAs<double, kFormatDouble> {};
template <> struct FormatArgumentOf<const char*> : detail::FormatArgumentAs<const char*, kFormatCString> {};
template <> struct FormatArgumentOf<char*> : detail::FormatArgumentAs<const char*, kFormatCString> {};
template <> struct FormatArgumentOf<std::string_view> : detail::FormatArgumentAs<std::string_view, kFormatStringView> {};

template <>
struct FormatArgumentOf<std::string> {
    using StoredType = const std::string*;
    static StoredType Store(const std::string& value) noexcept { return &value; }
    static const FormatArgument& Type() noexcept { return kFormatStdStringPointer; }
};

// A character array prints up to its first NUL and never past its end.
template <size_t N>
struct FormatArgumentOf<char[N]> {
    using StoredType = std::string_view;
    static StoredType Store(const char (&value)[N]) noexcept {
        const char* end = std::char_traits<char>::find(value, N, '\0');
        return StoredType(value, end != nullptr ? static_cast<size_t>(end - value) : N);
    }
    static const FormatArgument& Type() noexcept { return kFormatStringView; }
};

}  // namespace Korvo
