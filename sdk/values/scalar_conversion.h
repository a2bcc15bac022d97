// sdk/values/scalar_conversion.h - scalar native destinations (numbers,
// bool, blob) from a BindingProperty.
//
// These need no type registry, so the document readers, which sit on the
// value layer alone, use them too (YAML's tagged scalars). The rules are
// those of sdk/binding/to_native.h: every routine reports into a
// BindingResult, does nothing once it has failed, records the first
// failure's message naming the destination, and sets its destination to 0
// (false, empty) before anything else.
//
// Threads: the routines keep no state.
#pragma once

#include <cstdint>
#include <string_view>

#include "sdk/values/property.h"

namespace Korvo {

// Integer destinations of the bounds [min, max]. The input may be Signed,
// Unsigned, Float (range-checked, then truncated toward zero), String
// (parsed as a whole with strtoll, base 0: 0x is hexadecimal, a leading 0
// octal, an empty text is 0) or Enum (its number). typeName is what
// messages print ("int8" ... "uint64"). Callers narrow out to their width.
void ToNativeSigned(BindingResult& result, int64_t& out, const BindingProperty& input,
                    std::string_view name, std::string_view typeName, int64_t min, int64_t max);
// As ToNativeSigned for [0, max]; a negative number, or a text whose first
// non-blank character is '-', is out of range.
void ToNativeUnsigned(BindingResult& result, uint64_t& out, const BindingProperty& input,
                      std::string_view name, std::string_view typeName, uint64_t max);
// Float destinations ("float" or "double"), computed in double precision; a
// Float NaN passes, a text is parsed with strtod.
void ToNativeDouble(BindingResult& result, double& out, const BindingProperty& input,
                    std::string_view name, std::string_view typeName, double min, double max);

// Bool from Bool, or from exactly "1", "true", "0", "false".
void ToNativeBool(BindingResult& result, bool& out, const BindingProperty& input,
                  std::string_view name);
// Blob from Blob, or from standard Base64 text.
void ToNativeBlob(BindingResult& result, BindingProperty::Blob& out, const BindingProperty& input,
                  std::string_view name);

// How a text read as a number ended, for callers that report it their way.
enum class ParseOutcome { Parsed, IncorrectFormat, OutOfRange };

// The whole of text as an integer in [min, max], as strtoll reads it in
// base 0 (0x hexadecimal, a leading 0 octal, an empty text is 0).
ParseOutcome ParseSigned(std::string_view text, int64_t min, int64_t max, int64_t& out) noexcept;

}  // namespace Korvo
