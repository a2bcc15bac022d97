// sdk/binding/host_value_conversion.h - between BindingProperty and the
// HostValue records that cross the boundary with the host.
//
// Every payload the plug-in sends is built by ToHostValue; every payload it
// receives is read by ToProperty. Both walk the tree with an explicit stack,
// never recursion, so a value nested a million levels deep costs heap in
// proportion to its size and no stack. Neither throws.
#pragma once

#include <string_view>

#include "sdk/binding/property.h"
#include "sdk/host/host_value.h"

namespace Korvo {

class BindingRegistry;

// Reads what the host sent into property (which is replaced). Type codes:
// Null, Bool, Int64, UInt64, Double; String and BorrowedString (the text up
// to its NUL; a null text reads as empty); Binary and BorrowedBinary (a copy
// of the bytes); Array (a Collection) and Object (a Structure; a null key
// reads as the empty name, a later duplicate key replaces the earlier
// member).
//
// Fails on an unknown type code, and on an Array, Object or Binary whose
// count is not 0 but whose pointer is null, or whose count could not fit in
// the address space. A failure leaves property Empty, frees error.value and
// error.message (a message this layer allocated, or null) and fills error:
// message "Couldn't assign value to '<rootName>' of type object because the
// input is of an incompatible type '<name>'." (name of the offending host
// type: "bool", "signed", "unsigned", "float", "string", "blob",
// "collection", "structure", or empty for an unknown code), flag 1. Running
// out of memory fails the same way with "Out of memory while reading
// '<rootName>'.". On success error is not touched.
//
// registry is accepted for symmetry with ToHostValue and may be null.
[[nodiscard]] bool ToProperty(HostValueResult& error, BindingProperty& property, const HostValue& value,
                              std::string_view rootName, const BindingRegistry* registry) noexcept;

// Builds value from property. value is freed first (it must be Null or a
// record this layer built) and then owns every heap part it receives
// (blocks of the allocation layer, released by FreeHostValue). Kinds: Empty
// Null, Bool, Signed Int64, Unsigned UInt64, Float Double, String String
// (copy and length), Blob Binary (copy and count), Enum the enumerator's
// name as a String when registry (may be null) knows one for the number and
// the enum's hash, else Int64; Collection Array; Structure Object with
// owned key copies, in member order. A kind above 9 gives Null.
//
// Returns false, with value Null, when memory runs out or a container has
// more elements than a 32-bit count holds.
[[nodiscard]] bool ToHostValue(HostValue& value, const BindingProperty& property,
                               const BindingRegistry* registry) noexcept;

}  // namespace Korvo
