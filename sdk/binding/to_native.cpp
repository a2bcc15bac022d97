// sdk/binding/to_native.cpp - filling native destinations from values.
#include "sdk/binding/to_native.h"

#include <cstdint>
#include <cstring>

#include "sdk/binding/converter.h"
#include "sdk/binding/native_kinds.h"
#include "sdk/diagnostics/format.h"
#include "sdk/values/conversion_messages.h"

namespace Korvo {

namespace {

using Kind = BindingPropertyKind;
namespace Message = ConversionMessage;

const char* KindName(const BindingProperty& input) noexcept {
    return BindingPropertyKindName(input.Kind());
}

void FailRequired(BindingResult& result, std::string_view name) {
    result.Fail(FormatToString(Message::kRequired, name));
}

// ---- enums

void StoreEnum(void* out, size_t storageSize, int64_t value) noexcept {
    switch (storageSize) {
        case 1: {
            const auto narrow = static_cast<int8_t>(value);
            std::memcpy(out, &narrow, sizeof(narrow));
            break;
        }
        case 2: {
            const auto narrow = static_cast<int16_t>(value);
            std::memcpy(out, &narrow, sizeof(narrow));
            break;
        }
        case 4: {
            const auto narrow = static_cast<int32_t>(value);
            std::memcpy(out, &narrow, sizeof(narrow));
            break;
        }
        case 8: {
            // Sign-extended from the enumerator's 32 bits.
            const int64_t wide = static_cast<int32_t>(value);
            std::memcpy(out, &wide, sizeof(wide));
            break;
        }
        default:
            break;
    }
}

const BindingEnumerator* EnumeratorWithValue(const BindingTypeDescriptor* descriptor,
                                             int64_t value) noexcept {
    return descriptor == nullptr ? nullptr : descriptor->FindEnumeratorByValue(value);
}

const char* EnumName(const BindingTypeDescriptor* descriptor) noexcept {
    return descriptor == nullptr ? "enum" : descriptor->name.c_str();
}

// ---- a destination of a known native type

template <typename T>
void TypedToNative(BindingResult& result, void* destination, const BindingProperty& input,
                   std::string_view name, const BindingNativeContext& context) {
    BindingNative<T>::ToNative(result, *static_cast<T*>(destination), input, name, context);
}

}  // namespace

// ------------------------------------------------------------- scalars
void ToNativeString(BindingResult& result, std::string& out, const BindingProperty& input,
                    std::string_view name, const BindingRegistry* registry) {
    out.clear();
    if (result.Failed()) return;
    switch (input.Kind()) {
        case Kind::String:
            out.assign(input.AsString());
            return;
        case Kind::Enum: {
            const BindingEnumValue value = input.AsEnum();
            const char* const enumerator =
                registry == nullptr ? nullptr : registry->FindEnumeratorName(value.typeHash, value.number);
            if (enumerator == nullptr) {
                result.Fail(FormatToString(Message::kNoEnumeratorName, value.number, name));
                return;
            }
            out.assign(enumerator);
            return;
        }
        case Kind::Empty:
            FailRequired(result, name);
            return;
        default:
            result.Fail(FormatToString(Message::kNotAString, name));
            return;
    }
}


void ToNativeObject(BindingResult& result, BindingProperty& out, const BindingProperty& input) {
    out.Clear();
    if (result.Failed()) return;
    out = input;
}

void ToNativeEnum(BindingResult& result, void* out, size_t storageSize, const BindingProperty& input,
                  std::string_view name, const BindingTypeDescriptor* descriptor) {
    StoreEnum(out, storageSize, 0);
    if (result.Failed()) return;
    const auto notAnEnumerator = [&](auto shown) {
        result.Fail(FormatToString(Message::kNotAnEnumerator, shown, EnumName(descriptor), name));
    };
    const auto store = [&](int64_t number) {
        if (EnumeratorWithValue(descriptor, number) == nullptr) return false;
        StoreEnum(out, storageSize, number);
        return true;
    };
    switch (input.Kind()) {
        case Kind::Signed:
            if (!store(input.AsSigned())) notAnEnumerator(input.AsSigned());
            return;
        case Kind::Unsigned: {
            const uint64_t number = input.AsUnsigned();
            // Above every int32 enumerator value, and not to be wrapped into one.
            const bool stored = number <= static_cast<uint64_t>(INT64_MAX) &&
                                store(static_cast<int64_t>(number));
            if (!stored) notAnEnumerator(number);
            return;
        }
        case Kind::Enum:
            if (!store(input.AsEnum().number)) notAnEnumerator(input.AsEnum().number);
            return;
        case Kind::String: {
            const std::string_view text = input.AsString();
            if (descriptor != nullptr) {
                if (const BindingEnumerator* named = descriptor->FindEnumerator(text)) {
                    StoreEnum(out, storageSize, named->value);
                    return;
                }
            }
            int64_t number = 0;
            const ParseOutcome outcome = ParseSigned(text, INT32_MIN, INT32_MAX, number);
            if (outcome != ParseOutcome::Parsed || !store(number)) notAnEnumerator(text);
            return;
        }
        case Kind::Empty:
            FailRequired(result, name);
            return;
        default:
            result.Fail(FormatToString(Message::kEnumInvalidType, name, KindName(input)));
            return;
    }
}

void ToNativeStruct(BindingResult& result, void* out, const BindingProperty& input,
                    std::string_view name, const BindingTypeDescriptor* descriptor) {
    if (result.Failed()) return;
    if (descriptor == nullptr) {
        result.Fail(FormatToString(Message::kUnregisteredStructure, name));
        return;
    }
    if (!input.Is(Kind::Structure)) {
        result.Fail(FormatToString(Message::kNotAStructure, name, descriptor->name));
        return;
    }
    auto* const base = static_cast<unsigned char*>(out);
    for (const BindingFieldDescriptor& field : descriptor->fields) {
        const BindingProperty& member = input.Get(field.name);
        if (!member.Is(Kind::Empty)) {
            ToNative(result, base + field.offset, member, field.name, field);
        } else if ((field.flags & BindingFieldFlag::kRequired) != 0) {
            result.Fail(FormatToString(Message::kMissingRequiredField, name, descriptor->name,
                                       field.name));
        }
        if (result.Failed()) return;
    }
}

// -------------------------------------------------------------- dispatch

void ToNative(BindingResult& result, void* destination, const BindingProperty& input,
              std::string_view name, const BindingFieldDescriptor& field) {
    const BindingTypeKind kind = field.type.kind;
    const BindingNativeContext context{field.registry, field.type.descriptor};
    bool handled = false;
    switch (kind) {
        case BindingTypeKind::Enum:
            // Without a descriptor the storage size is unknown; the typed
            // converter knows it.
            if (field.optional || field.type.descriptor == nullptr) break;
            ToNativeEnum(result, destination, field.type.descriptor->size, input, name,
                         field.type.descriptor);
            handled = true;
            break;
        case BindingTypeKind::Struct:
            if (field.optional) break;
            ToNativeStruct(result, destination, input, name, field.type.descriptor);
            handled = true;
            break;
        default:
            handled = VisitBuiltInField(field, [&]<typename T>(NativeKindTag<T>) {
                TypedToNative<T>(result, destination, input, name, context);
            });
            break;
    }
    // Optional members, callbacks, containers of structs, enums or
    // containers, and members of another native type than their kind's own.
    if (!handled && field.converter != nullptr) {
        field.converter->ToNative(result, destination, input, name, field);
    }
}

}  // namespace Korvo
