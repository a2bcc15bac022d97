// sdk/binding/from_native.cpp - turning native values into properties.
#include "sdk/binding/from_native.h"

#include <cstring>
#include <string>

#include "sdk/binding/converter.h"
#include "sdk/binding/native_kinds.h"
#include "sdk/values/conversion_messages.h"

namespace Korvo {

namespace {

template <typename T>
void TypedFromNative(BindingResult& result, BindingProperty& out, const void* source,
                     const BindingNativeContext& context) {
    BindingNative<T>::FromNative(result, out, *static_cast<const T*>(source), context);
}

// A converter fills a result of its own; its value is moved into out, its
// failure copied into result.
void FromNativeViaConverter(BindingResult& result, BindingProperty& out, const void* source,
                            const BindingFieldDescriptor& field) {
    BindingResult converted;
    field.converter->FromNative(converted, source, field);
    if (converted.Failed()) {
        result.Fail(std::string(converted.ErrorMessage()));
        return;
    }
    out = std::move(converted.Value());
}

}  // namespace

int32_t ReadNativeEnum(const void* source, size_t storageSize) noexcept {
    int64_t number = 0;
    switch (storageSize) {
        case 1: {
            int8_t value;
            std::memcpy(&value, source, sizeof(value));
            number = value;
            break;
        }
        case 2: {
            int16_t value;
            std::memcpy(&value, source, sizeof(value));
            number = value;
            break;
        }
        case 4: {
            int32_t value;
            std::memcpy(&value, source, sizeof(value));
            number = value;
            break;
        }
        case 8: {
            std::memcpy(&number, source, sizeof(number));
            break;
        }
        default:
            break;
    }
    return static_cast<int32_t>(number);
}

void FromNativeEnum(BindingProperty& out, const void* source, size_t storageSize,
                    uint32_t typeHash) {
    out.SetEnum(ReadNativeEnum(source, storageSize), typeHash);
}

void FromNativeStruct(BindingResult& result, BindingProperty& out, const void* source,
                      const BindingTypeDescriptor* descriptor) {
    if (result.Failed()) return;
    if (descriptor == nullptr) {
        result.Fail(ConversionMessage::kUnregisteredNativeStructure);
        return;
    }
    out.SetStructure();
    const auto* const base = static_cast<const unsigned char*>(source);
    for (const BindingFieldDescriptor& field : descriptor->fields) {
        const void* const member = base + field.offset;
        if ((field.flags & BindingFieldFlag::kOmitWhenEmpty) == 0) {
            FromNativeField(result, out.Member(field.name), member, field);
            if (result.Failed()) return;
            continue;
        }
        BindingResult converted;
        FromNativeField(converted, converted.Value(), member, field);
        if (converted.Failed()) {
            result.Fail(std::string(converted.ErrorMessage()));
            return;
        }
        if (!converted.Value().IsEmpty()) out.Member(field.name) = std::move(converted.Value());
    }
}

void FromNativeField(BindingResult& result, BindingProperty& out, const void* source,
                     const BindingFieldDescriptor& field) {
    if (result.Failed()) return;
    const BindingTypeKind kind = field.type.kind;
    const BindingNativeContext context{field.registry, field.type.descriptor};
    bool handled = false;
    switch (kind) {
        case BindingTypeKind::Enum:
            // Without a descriptor the storage size is unknown; the typed
            // converter knows it.
            if (field.optional || field.type.descriptor == nullptr) break;
            FromNativeEnum(out, source, field.type.descriptor->size, field.type.descriptor->hash);
            handled = true;
            break;
        case BindingTypeKind::Struct:
            if (field.optional) break;
            FromNativeStruct(result, out, source, field.type.descriptor);
            handled = true;
            break;
        default:
            handled = VisitBuiltInField(field, [&]<typename T>(NativeKindTag<T>) {
                TypedFromNative<T>(result, out, source, context);
            });
            break;
    }
    // Optional members, callbacks, containers of structs, enums or
    // containers, and members of another native type than their kind's own.
    if (!handled && field.converter != nullptr) FromNativeViaConverter(result, out, source, field);
}

void FromNative(BindingResult& result, const void* source, const BindingFieldDescriptor& field) {
    if (result.Failed()) return;
    FromNativeField(result, result.Value(), source, field);
}

}  // namespace Korvo
