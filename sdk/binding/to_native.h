// sdk/binding/to_native.h - filling native records, scalars and containers
// from a BindingProperty.
//
// Request bodies, function arguments, responses and events received from the
// host pass through here on their way into native code. Every routine
// reports into a BindingResult: it does nothing once the result has failed,
// and records the first failure's message, which names the destination
// (name) and, where it helps, its type and the offending input. A scalar
// destination is set to 0 (false) and a string or blob destination emptied
// before anything else, so a failed conversion leaves no stale value there;
// a struct or container destination may be partly filled after a failure,
// and callers discard it.
//
// name is what messages call the destination: a field's name, a vector's or
// map's own name for its elements, an argument name at the top level.
//
// Typed conversions of whole native types (ToNative<T>) are in converter.h;
// the scalar destinations, which need no registry, in
// sdk/values/scalar_conversion.h.
//
// Threads: the routines keep no state; a registry is only read (under its
// lock, for enumerator names).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "sdk/binding/registry.h"
#include "sdk/values/property.h"
#include "sdk/values/scalar_conversion.h"

namespace Korvo {

// String from String, or from Enum by its enumerator name as registry knows
// it (registry may be null: every Enum then fails).
void ToNativeString(BindingResult& result, std::string& out, const BindingProperty& input,
                    std::string_view name, const BindingRegistry* registry);
// A native BindingProperty: cleared, then a deep copy of input (any kind).
void ToNativeObject(BindingResult& result, BindingProperty& out, const BindingProperty& input);
// An enum stored in storageSize bytes (1, 2, 4 or 8; another size writes
// nothing). The input must name or number one of descriptor's enumerators;
// a null descriptor (unregistered enum) accepts nothing.
void ToNativeEnum(BindingResult& result, void* out, size_t storageSize, const BindingProperty& input,
                  std::string_view name, const BindingTypeDescriptor* descriptor);
// A registered struct: each field, in registration order, from the input
// structure's member of the field's name. A missing or Empty member leaves
// the native member as it was, or fails when the field is required. Members
// that match no field are ignored. Recurses once per nested native struct
// type, never on the depth of the input alone.
void ToNativeStruct(BindingResult& result, void* out, const BindingProperty& input,
                    std::string_view name, const BindingTypeDescriptor* descriptor);

// The field-level dispatch: converts input into the native member of
// field's type at destination, by the field's kind. Blob, callback and
// optional fields, and containers whose elements are not of a scalar kind,
// go through the field's converter.
void ToNative(BindingResult& result, void* destination, const BindingProperty& input,
              std::string_view name, const BindingFieldDescriptor& field);

}  // namespace Korvo
