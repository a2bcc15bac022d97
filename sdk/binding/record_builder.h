// sdk/binding/record_builder.h - registering native records and enums by
// their C++ types.
//
//   RegisterRecord<Resource>(registry, "PluginResourceEvent")
//       .Field("uri", &Resource::uri)
//       .Field("eventType", &Resource::eventType)
//       .Field("data", &Resource::data)
//       .Tag("kclient");
//
// Each Field measures the member's offset from the type itself, takes the
// identity, kind and converter from the member's C++ type (converter.h) and
// resolves the descriptor of a struct or enum member type (or of the
// innermost elements of a container) by identity, so member types are
// registered before the records that contain them (a field whose type is not
// registered yet is reported as a registration problem). When the name was
// already registered, the fields go into a copy that the registry compares
// with the first definition; the registered type does not change.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "sdk/binding/converter.h"
#include "sdk/binding/registry.h"
#include "sdk/binding/type_identity.h"

namespace Korvo {

namespace detail {

// The byte offset of member inside R, measured on suitably aligned storage
// without constructing an R (nothing is read or written there).
template <typename R, typename M>
uint32_t MemberOffset(M R::*member) noexcept {
    alignas(R) static const unsigned char storage[sizeof(R)] = {};
    const R* const record = reinterpret_cast<const R*>(storage);
    const auto* const field = reinterpret_cast<const unsigned char*>(&(record->*member));
    return static_cast<uint32_t>(field - storage);
}

}  // namespace detail

// Builds a registered struct R.
template <typename R>
class BindingRecordBuilder {
public:
    explicit BindingRecordBuilder(BindingTypeBuilder builder) noexcept : builder_(builder) {}

    BindingTypeBuilder& Builder() noexcept { return builder_; }
    bool AlreadyRegistered() const noexcept { return builder_.AlreadyRegistered(); }

    // Adds the member as a field; flags are BindingFieldFlag bits.
    template <typename M>
    BindingRecordBuilder& Field(std::string_view name, M R::*member, uint32_t flags = 0,
                                std::string_view description = {}) {
        const BindingTypeRef type = BindingTypeRefOf<M>(builder_.Registry());
        std::string missingType;
        using Inner = typename BindingNative<M>::Inner;
        if constexpr (!std::is_void_v<Inner>) {
            if (type.descriptor == nullptr) missingType = NativeTypeName(StaticType::Name<Inner>());
        }
        // A repeated registration is still built, aside, to be compared with
        // the first.
        builder_.AddField(name, description, detail::MemberOffset(member), StaticType::HashCode<M>(), type, flags,
                          MakeBindingConverter<M>(), BindingNative<M>::kOptional, missingType);
        return *this;
    }
    BindingRecordBuilder& Description(std::string_view description) {
        builder_.SetDescription(description);
        return *this;
    }
    BindingRecordBuilder& Namespace(std::string_view nameSpace) {
        builder_.SetNamespace(nameSpace);
        return *this;
    }
    BindingRecordBuilder& Tag(std::string_view tag) {
        builder_.AddTag(tag);
        return *this;
    }

private:
    BindingTypeBuilder builder_;
};

// Builds a registered enum E.
template <typename E>
class BindingEnumBuilder {
public:
    explicit BindingEnumBuilder(BindingTypeBuilder builder) noexcept : builder_(builder) {}

    BindingTypeBuilder& Builder() noexcept { return builder_; }
    bool AlreadyRegistered() const noexcept { return builder_.AlreadyRegistered(); }

    BindingEnumBuilder& Enumerator(std::string_view name, E value,
                                   std::string_view description = {}) {
        builder_.AddEnumerator(name, static_cast<int32_t>(value), description);
        return *this;
    }
    BindingEnumBuilder& Description(std::string_view description) {
        builder_.SetDescription(description);
        return *this;
    }
    BindingEnumBuilder& Namespace(std::string_view nameSpace) {
        builder_.SetNamespace(nameSpace);
        return *this;
    }
    BindingEnumBuilder& Tag(std::string_view tag) {
        builder_.AddTag(tag);
        return *this;
    }

private:
    BindingTypeBuilder builder_;
};

// Registers the struct R under name with its native size and identity.
template <typename R>
BindingRecordBuilder<R> RegisterRecord(BindingRegistry& registry, std::string_view name) {
    static_assert(std::is_class_v<R>, "a record is a struct or class");
    static_assert(detail::kIsBindingStruct<R>,
                  "a record is a struct or class of the plug-in's own: not a class of the standard library, "
                  "nor one with begin() and end(), nor a tuple");
    return BindingRecordBuilder<R>(
        registry.RegisterType(name, sizeof(R), StaticType::HashCode<R>(), false));
}

// Registers the enum E under name with its storage size and identity.
template <typename E>
BindingEnumBuilder<E> RegisterEnum(BindingRegistry& registry, std::string_view name) {
    static_assert(std::is_enum_v<E>, "RegisterEnum takes an enum type");
    static_assert(sizeof(E) == 1 || sizeof(E) == 2 || sizeof(E) == 4 || sizeof(E) == 8);
    return BindingEnumBuilder<E>(
        registry.RegisterType(name, sizeof(E), StaticType::HashCode<E>(), true));
}

}  // namespace Korvo
