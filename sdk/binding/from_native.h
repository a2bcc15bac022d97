// sdk/binding/from_native.h - turning native records, scalars and
// containers into a BindingProperty.
//
// Response bodies and events on their way out pass through here. The routines
// write into a target property and report failures into a BindingResult;
// native to value fails only on a struct that was never registered (at any
// depth) and on what a custom converter reports, and the first failure's
// message is the one kept. When the target lies inside the result's own
// property, a failure replaces that property by {"error": message}: callers
// check the result after each call and stop touching the target once it has
// failed.
//
// Typed conversions of whole native types (FromNative<T>) are in converter.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sdk/binding/registry.h"
#include "sdk/values/property.h"

namespace Korvo {

// The number of an enum stored in storageSize bytes (1, 2, 4 or 8), read
// sign-extended and cut to 32 bits; 0 for any other size.
int32_t ReadNativeEnum(const void* source, size_t storageSize) noexcept;
// An enum stored in storageSize bytes (1, 2, 4 or 8), read sign-extended and
// kept as a signed 32-bit number with the enum's identity hash.
void FromNativeEnum(BindingProperty& out, const void* source, size_t storageSize,
                    uint32_t typeHash);
// A registered struct: a Structure with one member per field, in
// registration order, except fields flagged omit-when-empty whose value is
// empty. A null descriptor (an unregistered struct) fails.
void FromNativeStruct(BindingResult& result, BindingProperty& out, const void* source,
                      const BindingTypeDescriptor* descriptor);

// The field-level dispatch: converts the native member of field's type at
// source into out, by the field's kind. Blob, callback and optional fields,
// and containers whose elements are not of a scalar kind, go through the
// field's converter.
void FromNativeField(BindingResult& result, BindingProperty& out, const void* source,
                     const BindingFieldDescriptor& field);

// As FromNativeField, into result's own property.
void FromNative(BindingResult& result, const void* source, const BindingFieldDescriptor& field);

}  // namespace Korvo
