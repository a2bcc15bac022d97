// sdk/binding/native_kinds.h - the native type behind each scalar kind, for
// the field-level dispatch of the conversions (internal to korvo_binding).
//
// A field of kind bool ... blob whose native type is the kind's own type
// below is converted by the built-in routines; a field of another native
// type (a long where int32 is meant, a vector with its own allocator) goes
// through its converter, which knows the real type.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "sdk/binding/registry.h"
#include "sdk/binding/type_identity.h"
#include "sdk/values/property.h"

namespace Korvo {

template <typename T>
struct NativeKindTag {
    using Type = T;
};

// Calls visit(NativeKindTag<T>{}) with the native type T of kind when kind
// is bool (1) to blob (14); returns false, without calling it, otherwise.
template <typename Visit>
bool VisitScalarKind(BindingTypeKind kind, Visit&& visit) {
    switch (kind) {
        case BindingTypeKind::Bool: visit(NativeKindTag<bool>{}); return true;
        case BindingTypeKind::Int8: visit(NativeKindTag<int8_t>{}); return true;
        case BindingTypeKind::UInt8: visit(NativeKindTag<uint8_t>{}); return true;
        case BindingTypeKind::Int16: visit(NativeKindTag<int16_t>{}); return true;
        case BindingTypeKind::UInt16: visit(NativeKindTag<uint16_t>{}); return true;
        case BindingTypeKind::Int32: visit(NativeKindTag<int32_t>{}); return true;
        case BindingTypeKind::UInt32: visit(NativeKindTag<uint32_t>{}); return true;
        case BindingTypeKind::Int64: visit(NativeKindTag<int64_t>{}); return true;
        case BindingTypeKind::UInt64: visit(NativeKindTag<uint64_t>{}); return true;
        case BindingTypeKind::Float: visit(NativeKindTag<float>{}); return true;
        case BindingTypeKind::Double: visit(NativeKindTag<double>{}); return true;
        case BindingTypeKind::String: visit(NativeKindTag<std::string>{}); return true;
        case BindingTypeKind::Object: visit(NativeKindTag<BindingProperty>{}); return true;
        case BindingTypeKind::Blob: visit(NativeKindTag<BindingProperty::Blob>{}); return true;
        default: return false;
    }
}

// Whether the built-in routine for T may handle field: its native type is T,
// or it has no converter to hand the work to (nor an identity to tell).
template <typename T>
bool BuiltInHandles(const BindingFieldDescriptor& field) noexcept {
    return field.converter == nullptr || field.identity == nullptr ||
           field.identity->hash == StaticType::HashCode<T>().hash;
}

// Calls visit(NativeKindTag<N>{}) once with the native type N that the
// built-in routines convert for field - its scalar kind's own type, or a
// std::vector or string-keyed std::unordered_map of one - when field is not
// optional and N is its native type (BuiltInHandles); returns whether visit
// was called. Every conversion of a field dispatches through here, so they
// agree on which fields the built-in routines take.
template <typename Visit>
bool VisitBuiltInField(const BindingFieldDescriptor& field, Visit&& visit) {
    if (field.optional) return false;
    bool visited = false;
    auto take = [&]<typename N>(NativeKindTag<N> tag) {
        if (!BuiltInHandles<N>(field)) return;
        visit(tag);
        visited = true;
    };
    switch (field.type.kind) {
        case BindingTypeKind::Vector:
            VisitScalarKind(field.type.elementKind,
                            [&]<typename E>(NativeKindTag<E>) { take(NativeKindTag<std::vector<E>>{}); });
            break;
        case BindingTypeKind::Map:
            VisitScalarKind(field.type.elementKind, [&]<typename E>(NativeKindTag<E>) {
                take(NativeKindTag<std::unordered_map<std::string, E>>{});
            });
            break;
        default:
            VisitScalarKind(field.type.kind, take);
            break;
    }
    return visited;
}

}  // namespace Korvo
