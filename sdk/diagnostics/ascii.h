// sdk/diagnostics/ascii.h - ASCII character helpers for protocol text: the
// formatter's directives here, and the transport's methods, content types,
// header names and escapes above it.
//
// Method names, content types, escapes and format directives are ASCII by
// definition; these never consult the C locale, whose idea of a letter or a
// case may differ, and they leave every other byte alone.
#pragma once

#include <string_view>

namespace Korvo::Ascii {

constexpr bool IsLetter(char c) noexcept { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr char Lower(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char Upper(char c) noexcept { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// The value of a hexadecimal digit of either case, or -1.
constexpr int HexValue(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Whether the NUL-terminated text starts with lowerPrefix (given in lower
// case), ignoring the text's case. Stops at the text's NUL, so it never
// reads past a short text.
constexpr bool StartsWithIgnoringCase(const char* text, std::string_view lowerPrefix) noexcept {
    for (char expected : lowerPrefix) {
        if (*text == '\0' || Lower(*text) != expected) return false;
        ++text;
    }
    return true;
}

// Whether text, lowered, equals the NUL-terminated lowerText.
constexpr bool EqualsIgnoringCase(std::string_view text, const char* lowerText) noexcept {
    for (char c : text) {
        if (*lowerText == '\0' || *lowerText != Lower(c)) return false;
        ++lowerText;
    }
    return *lowerText == '\0';
}

}  // namespace Korvo::Ascii
