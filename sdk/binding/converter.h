// sdk/binding/converter.h - conversions of whole native types, and the
// converter objects that registered fields own.
//
// BindingNative<T> describes how the native type T is bound: its kind (and
// element kind, for containers), whether it is an optional value, and the
// two conversions, which forward to the routines of to_native.h and
// from_native.h. It is defined for bool, every integer type, float, double,
// std::string, BindingProperty (object), BindingProperty::Blob (blob),
// enums, registered structs, std::vector, std::map and std::unordered_map
// with string keys, std::optional, and std::shared_ptr (bound as the type it
// points to, so a record shared with a store is converted without a copy).
//
// Bindable<T> says which types those are, through the containers. A class
// is taken for a registered struct only when it is the author's own record:
// a class of the standard library other than those above, and any class
// that looks like a container (begin() and end()) or a tuple, is refused.
// Every entry point goes through BindingNative<T>, whose general case is a
// static_assert naming T, so a field, argument, result or event payload of
// such a type fails to compile where it is written rather than answering
// "unregistered structure" to every request.
//
// A struct or enum is converted with the descriptor that the registry holds
// for it; containers carry the descriptor of their innermost struct or enum
// elements (BindingTypeRef::descriptor).
//
// The typed entry points ToNative<T> and FromNative<T> are what callers
// outside a registered struct use (handler arguments and results, event
// payloads); BindingNativeConverter<T> is the converter object a registered
// field of type T owns. Beside the two conversions, each BindingNative<T>
// writes a native value straight into HostValue records (ToHostValue, with
// a HostValueWriter: host_value_conversion.h), giving what FromNative
// followed by ToHostValue gives without building the property between.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "sdk/binding/from_native.h"
#include "sdk/binding/host_value_conversion.h"
#include "sdk/binding/registry.h"
#include "sdk/binding/to_native.h"
#include "sdk/binding/type_identity.h"
#include "sdk/diagnostics/format.h"
#include "sdk/values/conversion_messages.h"
#include "sdk/values/property.h"

namespace Korvo {

// What a conversion of one native type needs besides its arguments.
struct BindingNativeContext {
    const BindingRegistry* registry = nullptr;
    // The registered descriptor of the innermost struct or enum type, if any.
    const BindingTypeDescriptor* descriptor = nullptr;
};

// How the native type T is bound; see the file comment. The general case,
// left for types that cannot be bound, is defined at the end of this file.
template <typename T, typename Enable = void>
struct BindingNative;

namespace detail {

template <typename T>
struct IsStdVector : std::false_type {};
template <typename E, typename A>
struct IsStdVector<std::vector<E, A>> : std::true_type {};

template <typename T>
struct IsStringMap : std::false_type {};
template <typename E, typename C, typename A>
struct IsStringMap<std::map<std::string, E, C, A>> : std::true_type {};
template <typename E, typename H, typename Q, typename A>
struct IsStringMap<std::unordered_map<std::string, E, H, Q, A>> : std::true_type {};

template <typename T>
struct IsStdOptional : std::false_type {};
template <typename T>
struct IsStdOptional<std::optional<T>> : std::true_type {};

template <typename T>
struct IsSharedPointer : std::false_type {};
template <typename T>
struct IsSharedPointer<std::shared_ptr<T>> : std::true_type {};

// Maps whose iteration order is the bytewise order of their keys, which is
// the member order of a Structure.
template <typename T>
struct IsBytewiseOrderedMap : std::false_type {};
template <typename E, typename A>
struct IsBytewiseOrderedMap<std::map<std::string, E, std::less<std::string>, A>> : std::true_type {};
template <typename E, typename A>
struct IsBytewiseOrderedMap<std::map<std::string, E, std::less<>, A>> : std::true_type {};

// Whether T is declared in namespace std, read from the compiler's
// signature text (as type_identity.h names types): "T = std::...".
template <typename T>
constexpr bool InStandardNamespace() noexcept {
    constexpr std::string_view kSignature = __PRETTY_FUNCTION__;
    constexpr std::string_view kMarker = "T = ";
    constexpr size_t kAt = kSignature.find(kMarker);
    return kAt != std::string_view::npos && kSignature.substr(kAt + kMarker.size()).starts_with("std::");
}

// A class that iterates, or splits like a pair or tuple, is a value of
// several parts the converters do not know, not a record of named fields.
template <typename T>
concept LooksLikeContainer = requires(const T& value) {
    value.begin();
    value.end();
};
template <typename T>
concept LooksLikeTuple = requires { std::tuple_size<T>::value; };

// A class bound as a registered struct: the author's own class, neither one
// of the natively bound library types nor any other class of the standard
// library or shaped like a container.
template <typename T>
inline constexpr bool kIsBindingStruct =
    std::is_class_v<T> && !IsStdVector<T>::value && !IsStringMap<T>::value &&
    !IsStdOptional<T>::value && !IsSharedPointer<T>::value && !std::is_same_v<T, std::string> &&
    !std::is_same_v<T, BindingProperty> && !InStandardNamespace<T>() && !LooksLikeContainer<T> &&
    !LooksLikeTuple<T>;

// What binds, through the containers; see the file comment.
template <typename T>
struct IsBindable
    : std::bool_constant<std::is_arithmetic_v<T> || std::is_enum_v<T> || std::is_same_v<T, std::string> ||
                         std::is_same_v<T, BindingProperty> || kIsBindingStruct<T>> {};
template <typename E, typename A>
struct IsBindable<std::vector<E, A>> : IsBindable<E> {};
template <typename E, typename C, typename A>
struct IsBindable<std::map<std::string, E, C, A>> : IsBindable<E> {};
template <typename E, typename H, typename Q, typename A>
struct IsBindable<std::unordered_map<std::string, E, H, Q, A>> : IsBindable<E> {};
template <typename T>
struct IsBindable<std::optional<T>> : IsBindable<T> {};
template <typename T>
struct IsBindable<std::shared_ptr<T>> : IsBindable<std::remove_const_t<T>> {};

template <typename T>
inline constexpr bool kIsBindingInteger = std::is_integral_v<T> && !std::is_same_v<T, bool>;

constexpr BindingTypeKind IntegerKind(size_t size, bool isSigned) noexcept {
    switch (size) {
        case 1: return isSigned ? BindingTypeKind::Int8 : BindingTypeKind::UInt8;
        case 2: return isSigned ? BindingTypeKind::Int16 : BindingTypeKind::UInt16;
        case 4: return isSigned ? BindingTypeKind::Int32 : BindingTypeKind::UInt32;
        default: return isSigned ? BindingTypeKind::Int64 : BindingTypeKind::UInt64;
    }
}

template <BindingTypeKind kKindValue, BindingTypeKind kElementKindValue = BindingTypeKind::None,
          typename InnerType = void>
struct BindingNativeBase {
    static constexpr BindingTypeKind kKind = kKindValue;
    static constexpr BindingTypeKind kElementKind = kElementKindValue;
    static constexpr bool kOptional = false;
    // The innermost type that needs a registered descriptor, or void.
    using Inner = InnerType;
};

}  // namespace detail

// A type the converters know: a field, argument, result or event payload of
// it binds (records and enums once registered).
template <typename T>
concept Bindable = detail::IsBindable<T>::value;

namespace detail {

// The assertion of BindingNative's general case, in a function of its own:
// a class whose own assertion fails is left incomplete by some compilers,
// which then report every use of its members besides the assertion.
template <typename T>
constexpr bool RequireBindable() noexcept {
    static_assert(Bindable<T>,
                  "this type cannot be bound: a field, argument, result or event payload must be bool, a "
                  "number, std::string, a blob (std::vector<uint8_t>), BindingProperty, a registered record "
                  "or enum, or a std::vector, std::optional, std::shared_ptr or string-keyed std::map / "
                  "std::unordered_map of those; no other standard library class is a record");
    return true;
}

}  // namespace detail

// ---------------------------------------------------------------- scalars

template <>
struct BindingNative<bool> : detail::BindingNativeBase<BindingTypeKind::Bool> {
    static void ToNative(BindingResult& result, bool& out, const BindingProperty& input,
                         std::string_view name, const BindingNativeContext&) {
        ToNativeBool(result, out, input, name);
    }
    static void FromNative(BindingResult&, BindingProperty& out, const bool& source,
                           const BindingNativeContext&) {
        out.SetBool(source);
    }
    static bool ToHostValue(HostValueWriter&, HostValue& out, const bool& source, const BindingNativeContext&) {
        HostValueWriter::WriteBool(out, source);
        return true;
    }
};

template <typename T>
struct BindingNative<T, std::enable_if_t<detail::kIsBindingInteger<T>>>
    : detail::BindingNativeBase<detail::IntegerKind(sizeof(T), std::is_signed_v<T>)> {
    using Base = detail::BindingNativeBase<detail::IntegerKind(sizeof(T), std::is_signed_v<T>)>;

    static void ToNative(BindingResult& result, T& out, const BindingProperty& input,
                         std::string_view name, const BindingNativeContext&) {
        if constexpr (std::is_signed_v<T>) {
            int64_t value = 0;
            ToNativeSigned(result, value, input, name, BindingTypeKindName(Base::kKind),
                           std::numeric_limits<T>::min(), std::numeric_limits<T>::max());
            out = static_cast<T>(value);
        } else {
            uint64_t value = 0;
            ToNativeUnsigned(result, value, input, name, BindingTypeKindName(Base::kKind),
                             std::numeric_limits<T>::max());
            out = static_cast<T>(value);
        }
    }
    static void FromNative(BindingResult&, BindingProperty& out, const T& source,
                           const BindingNativeContext&) {
        if constexpr (std::is_signed_v<T>) {
            out.SetSigned(static_cast<int64_t>(source));
        } else {
            out.SetUnsigned(static_cast<uint64_t>(source));
        }
    }
    static bool ToHostValue(HostValueWriter&, HostValue& out, const T& source, const BindingNativeContext&) {
        if constexpr (std::is_signed_v<T>) {
            HostValueWriter::WriteSigned(out, static_cast<int64_t>(source));
        } else {
            HostValueWriter::WriteUnsigned(out, static_cast<uint64_t>(source));
        }
        return true;
    }
};

template <typename T>
struct BindingNative<T, std::enable_if_t<std::is_floating_point_v<T>>>
    : detail::BindingNativeBase<sizeof(T) == sizeof(float) ? BindingTypeKind::Float
                                                           : BindingTypeKind::Double> {
    static void ToNative(BindingResult& result, T& out, const BindingProperty& input,
                         std::string_view name, const BindingNativeContext&) {
        constexpr bool kSingle = sizeof(T) == sizeof(float);
        constexpr double kMax = kSingle ? std::numeric_limits<float>::max()
                                        : std::numeric_limits<double>::max();
        double value = 0.0;
        ToNativeDouble(result, value, input, name, kSingle ? "float" : "double", -kMax, kMax);
        out = static_cast<T>(value);
    }
    static void FromNative(BindingResult&, BindingProperty& out, const T& source,
                           const BindingNativeContext&) {
        out.SetFloat(static_cast<double>(source));
    }
    static bool ToHostValue(HostValueWriter&, HostValue& out, const T& source, const BindingNativeContext&) {
        HostValueWriter::WriteDouble(out, static_cast<double>(source));
        return true;
    }
};

template <>
struct BindingNative<std::string> : detail::BindingNativeBase<BindingTypeKind::String> {
    static void ToNative(BindingResult& result, std::string& out, const BindingProperty& input,
                         std::string_view name, const BindingNativeContext& context) {
        ToNativeString(result, out, input, name, context.registry);
    }
    static void FromNative(BindingResult&, BindingProperty& out, const std::string& source,
                           const BindingNativeContext&) {
        out.SetString(std::string_view(source));
    }
    static bool ToHostValue(HostValueWriter& writer, HostValue& out, const std::string& source,
                            const BindingNativeContext&) {
        return writer.WriteString(out, source);
    }
};

template <>
struct BindingNative<BindingProperty> : detail::BindingNativeBase<BindingTypeKind::Object> {
    static void ToNative(BindingResult& result, BindingProperty& out, const BindingProperty& input,
                         std::string_view, const BindingNativeContext&) {
        ToNativeObject(result, out, input);
    }
    static void FromNative(BindingResult&, BindingProperty& out, const BindingProperty& source,
                           const BindingNativeContext&) {
        out = source;
    }
    static bool ToHostValue(HostValueWriter& writer, HostValue& out, const BindingProperty& source,
                            const BindingNativeContext&) {
        return writer.WriteProperty(out, source);
    }
};

template <>
struct BindingNative<BindingProperty::Blob> : detail::BindingNativeBase<BindingTypeKind::Blob> {
    static void ToNative(BindingResult& result, BindingProperty::Blob& out,
                         const BindingProperty& input, std::string_view name,
                         const BindingNativeContext&) {
        ToNativeBlob(result, out, input, name);
    }
    static void FromNative(BindingResult&, BindingProperty& out, const BindingProperty::Blob& source,
                           const BindingNativeContext&) {
        out.SetBlob(std::span<const uint8_t>(source));
    }
    static bool ToHostValue(HostValueWriter& writer, HostValue& out, const BindingProperty::Blob& source,
                            const BindingNativeContext&) {
        return writer.WriteBlob(out, std::span<const uint8_t>(source));
    }
};

// ------------------------------------------------------ enums and structs

template <typename T>
struct BindingNative<T, std::enable_if_t<std::is_enum_v<T>>>
    : detail::BindingNativeBase<BindingTypeKind::Enum, BindingTypeKind::None, T> {
    static void ToNative(BindingResult& result, T& out, const BindingProperty& input,
                         std::string_view name, const BindingNativeContext& context) {
        ToNativeEnum(result, &out, sizeof(T), input, name, context.descriptor);
    }
    static void FromNative(BindingResult&, BindingProperty& out, const T& source,
                           const BindingNativeContext&) {
        FromNativeEnum(out, &source, sizeof(T), StaticType::HashCode<T>().hash);
    }
    static bool ToHostValue(HostValueWriter& writer, HostValue& out, const T& source, const BindingNativeContext&) {
        return writer.WriteEnum(out, &source, sizeof(T), StaticType::HashCode<T>().hash);
    }
};

template <typename T>
struct BindingNative<T, std::enable_if_t<detail::kIsBindingStruct<T>>>
    : detail::BindingNativeBase<BindingTypeKind::Struct, BindingTypeKind::None, T> {
    // Outside a struct walk an Empty value for a whole struct is a missing
    // value, not an empty record.
    static void ToNative(BindingResult& result, T& out, const BindingProperty& input,
                         std::string_view name, const BindingNativeContext& context) {
        if (result.Failed()) return;
        if (input.Is(BindingPropertyKind::Empty)) {
            result.Fail(FormatToString(ConversionMessage::kRequired, name));
            return;
        }
        ToNativeStruct(result, &out, input, name, context.descriptor);
    }
    static void FromNative(BindingResult& result, BindingProperty& out, const T& source,
                           const BindingNativeContext& context) {
        FromNativeStruct(result, out, &source, context.descriptor);
    }
    static bool ToHostValue(HostValueWriter& writer, HostValue& out, const T& source,
                            const BindingNativeContext& context) {
        return writer.WriteStruct(out, &source, context.descriptor);
    }
};

// ------------------------------------------------------------- containers

template <typename E, typename A>
struct BindingNative<std::vector<E, A>>
    : detail::BindingNativeBase<BindingTypeKind::Vector, BindingNative<E>::kKind,
                                typename BindingNative<E>::Inner> {
    // Elements are converted under the vector's own name; Empty elements keep
    // their default value.
    static void ToNative(BindingResult& result, std::vector<E, A>& out,
                         const BindingProperty& input, std::string_view name,
                         const BindingNativeContext& context) {
        out.clear();
        if (result.Failed()) return;
        if (!input.Is(BindingPropertyKind::Collection)) {
            const bool missing = std::is_same_v<E, bool> && input.Is(BindingPropertyKind::Empty);
            result.Fail(FormatToString(missing ? ConversionMessage::kRequired
                                               : ConversionMessage::kNotACollection,
                                       name));
            return;
        }
        const auto elements = input.Elements();
        out.resize(elements.size());
        for (size_t index = 0; index < elements.size(); ++index) {
            const BindingProperty& element = elements[index];
            if (element.Is(BindingPropertyKind::Empty)) continue;
            if constexpr (std::is_same_v<E, bool>) {
                bool value = false;
                BindingNative<bool>::ToNative(result, value, element, name, context);
                out[index] = value;
            } else {
                BindingNative<E>::ToNative(result, out[index], element, name, context);
            }
            if (result.Failed()) return;
        }
    }
    static void FromNative(BindingResult& result, BindingProperty& out,
                           const std::vector<E, A>& source, const BindingNativeContext& context) {
        out.SetCollection();
        out.Reserve(source.size());
        for (size_t index = 0; index < source.size(); ++index) {
            BindingProperty& element = out.Append();
            if constexpr (std::is_same_v<E, bool>) {
                element.SetBool(source[index]);
            } else {
                BindingNative<E>::FromNative(result, element, source[index], context);
                if (result.Failed()) return;
            }
        }
    }
    static bool ToHostValue(HostValueWriter& writer, HostValue& out, const std::vector<E, A>& source,
                            const BindingNativeContext& context) {
        HostValue* items = nullptr;
        if (!writer.BeginArray(out, source.size(), items)) return false;
        for (size_t index = 0; index < source.size(); ++index) {
            if constexpr (std::is_same_v<E, bool>) {
                HostValueWriter::WriteBool(items[index], source[index]);
            } else if (!BindingNative<E>::ToHostValue(writer, items[index], source[index], context)) {
                return false;
            }
        }
        return true;
    }
};

template <typename M>
struct BindingNative<M, std::enable_if_t<detail::IsStringMap<M>::value>>
    : detail::BindingNativeBase<BindingTypeKind::Map,
                                BindingNative<typename M::mapped_type>::kKind,
                                typename BindingNative<typename M::mapped_type>::Inner> {
    using Element = typename M::mapped_type;

    // Members are converted in name order under the map's own name; Empty
    // members are skipped.
    static void ToNative(BindingResult& result, M& out, const BindingProperty& input,
                         std::string_view name, const BindingNativeContext& context) {
        out.clear();
        if (result.Failed()) return;
        if (!input.Is(BindingPropertyKind::Structure)) {
            result.Fail(FormatToString(ConversionMessage::kMapNotAStructure, name));
            return;
        }
        const auto members = input.Members();
        if constexpr (requires { out.reserve(members.size()); }) out.reserve(members.size());
        for (const auto [key, member] : members) {
            if (member.Is(BindingPropertyKind::Empty)) continue;
            BindingNative<Element>::ToNative(result, out[std::string(key)], member, name, context);
            if (result.Failed()) return;
        }
    }
    static void FromNative(BindingResult& result, BindingProperty& out, const M& source,
                           const BindingNativeContext& context) {
        out.SetStructure();
        for (const auto& [key, value] : source) {
            BindingNative<Element>::FromNative(result, out.Member(key), value, context);
            if (result.Failed()) return;
        }
    }
    // Members in key order; entries converted in the map's own order, so
    // the first failure is the one FromNative meets first.
    static bool ToHostValue(HostValueWriter& writer, HostValue& out, const M& source,
                            const BindingNativeContext& context) {
        HostValueMember* members = nullptr;
        if (!writer.BeginObject(out, source.size(), members)) return false;
        if constexpr (detail::IsBytewiseOrderedMap<M>::value) {
            size_t index = 0;
            for (const auto& [key, value] : source) {
                HostValueMember& member = members[index++];
                if (!writer.SetKey(member, key)) return false;
                if (!BindingNative<Element>::ToHostValue(writer, member.value, value, context)) return false;
            }
        } else {
            std::vector<const typename M::value_type*> entries;
            entries.reserve(source.size());
            for (const auto& entry : source) entries.push_back(&entry);
            std::vector<size_t> rank(entries.size());
            std::vector<size_t> order(entries.size());
            for (size_t index = 0; index < order.size(); ++index) order[index] = index;
            std::sort(order.begin(), order.end(),
                      [&](size_t a, size_t b) { return entries[a]->first < entries[b]->first; });
            for (size_t position = 0; position < order.size(); ++position) rank[order[position]] = position;
            for (size_t index = 0; index < entries.size(); ++index) {
                HostValueMember& member = members[rank[index]];
                if (!writer.SetKey(member, entries[index]->first)) return false;
                if (!BindingNative<Element>::ToHostValue(writer, member.value, entries[index]->second, context)) {
                    return false;
                }
            }
        }
        return true;
    }
};

// An optional value: absent converts to Empty, and an Empty input leaves it
// absent.
template <typename T>
struct BindingNative<std::optional<T>>
    : detail::BindingNativeBase<BindingNative<T>::kKind, BindingNative<T>::kElementKind,
                                typename BindingNative<T>::Inner> {
    static constexpr bool kOptional = true;

    static void ToNative(BindingResult& result, std::optional<T>& out, const BindingProperty& input,
                         std::string_view name, const BindingNativeContext& context) {
        if (result.Failed()) return;
        if (input.Is(BindingPropertyKind::Empty)) {
            out.reset();
            return;
        }
        BindingNative<T>::ToNative(result, out.emplace(), input, name, context);
    }
    static void FromNative(BindingResult& result, BindingProperty& out,
                           const std::optional<T>& source, const BindingNativeContext& context) {
        if (!source.has_value()) {
            out.Clear();
            return;
        }
        BindingNative<T>::FromNative(result, out, *source, context);
    }
    static bool ToHostValue(HostValueWriter& writer, HostValue& out, const std::optional<T>& source,
                            const BindingNativeContext& context) {
        if (!source.has_value()) return true;
        return BindingNative<T>::ToHostValue(writer, out, *source, context);
    }
};

// A shared value: bound as std::optional of the type it points to (and
// described as that type, optional), so a record kept in a store is
// converted without a copy. A null pointer converts to Empty, an Empty input
// leaves it null, any other input lands in a new object.
template <typename T>
struct BindingNative<std::shared_ptr<T>>
    : detail::BindingNativeBase<BindingNative<std::remove_const_t<T>>::kKind,
                                BindingNative<std::remove_const_t<T>>::kElementKind,
                                typename BindingNative<std::remove_const_t<T>>::Inner> {
    using Target = std::remove_const_t<T>;
    static constexpr bool kOptional = true;

    static void ToNative(BindingResult& result, std::shared_ptr<T>& out, const BindingProperty& input,
                         std::string_view name, const BindingNativeContext& context) {
        if (result.Failed()) return;
        if (input.Is(BindingPropertyKind::Empty)) {
            out.reset();
            return;
        }
        auto value = std::make_shared<Target>();
        BindingNative<Target>::ToNative(result, *value, input, name, context);
        out = std::move(value);
    }
    static void FromNative(BindingResult& result, BindingProperty& out, const std::shared_ptr<T>& source,
                           const BindingNativeContext& context) {
        if (source == nullptr) {
            out.Clear();
            return;
        }
        BindingNative<Target>::FromNative(result, out, *source, context);
    }
    static bool ToHostValue(HostValueWriter& writer, HostValue& out, const std::shared_ptr<T>& source,
                            const BindingNativeContext& context) {
        if (source == nullptr) return true;
        return BindingNative<Target>::ToHostValue(writer, out, *source, context);
    }
};

// ---------------------------------------------------------- what does not

// Any other type. The assertion's context names T; the members are there
// so that the assertion is the only error the compiler reports.
template <typename T, typename Enable>
struct BindingNative : detail::BindingNativeBase<BindingTypeKind::None> {
    static_assert(detail::RequireBindable<T>());
    static void ToNative(BindingResult&, T&, const BindingProperty&, std::string_view, const BindingNativeContext&) {}
    static void FromNative(BindingResult&, BindingProperty&, const T&, const BindingNativeContext&) {}
    static bool ToHostValue(HostValueWriter&, HostValue&, const T&, const BindingNativeContext&) { return false; }
};

// --------------------------------------------------------- type references

// The type reference of T, with the descriptor of its innermost struct or
// enum as registry knows it (null when it is not registered).
template <typename T>
BindingTypeRef BindingTypeRefOf(const BindingRegistry* registry) {
    BindingTypeRef type;
    type.kind = BindingNative<T>::kKind;
    type.elementKind = BindingNative<T>::kElementKind;
    using Inner = typename BindingNative<T>::Inner;
    if constexpr (!std::is_void_v<Inner>) {
        if (registry != nullptr) type.descriptor = registry->FindType(StaticType::HashCode<Inner>());
    }
    return type;
}

template <typename T>
BindingNativeContext BindingNativeContextOf(const BindingRegistry* registry) {
    return BindingNativeContext{registry, BindingTypeRefOf<T>(registry).descriptor};
}

// ------------------------------------------------------- typed entry points

// Converts input into the native destination, whose messages call it name.
// Structs and enums use the descriptors registry holds (null: none known).
// An Empty input is a missing value ("A value for '...' is required.")
// except for std::optional, which it leaves absent, and BindingProperty.
template <typename T>
void ToNative(BindingResult& result, T& destination, const BindingProperty& input,
              std::string_view name, const BindingRegistry* registry) {
    BindingNative<T>::ToNative(result, destination, input, name,
                               BindingNativeContextOf<T>(registry));
}

// Converts the native source into result's property (which it replaces).
template <typename T>
void FromNative(BindingResult& result, const T& source, const BindingRegistry* registry) {
    if (result.Failed()) return;
    BindingNative<T>::FromNative(result, result.Value(), source,
                                 BindingNativeContextOf<T>(registry));
}

// Writes the native source into target (Null on entry) as FromNative<T>
// with writer's registry followed by ToHostValue would build it. False when
// writer has failed (see HostValueWriter); target then holds what was
// written so far, for the caller to free.
template <typename T>
bool WriteHostValue(HostValueWriter& writer, HostValue& target, const T& source) {
    return BindingNative<T>::ToHostValue(writer, target, source, BindingNativeContextOf<T>(writer.Registry()));
}

// ----------------------------------------------------------- the converter

// The converter object of a registered field whose native type is T.
template <typename T>
class BindingNativeConverter final : public BindingConverter, public HostValueFieldWriter {
public:
    void ToNative(BindingResult& result, void* destination, const BindingProperty& input,
                  std::string_view name, const BindingFieldDescriptor& field) const override {
        BindingNative<T>::ToNative(result, *static_cast<T*>(destination), input, name,
                                   ContextOf(field));
    }
    void FromNative(BindingResult& result, const void* source,
                    const BindingFieldDescriptor& field) const override {
        if (result.Failed()) return;
        BindingNative<T>::FromNative(result, result.Value(), *static_cast<const T*>(source),
                                     ContextOf(field));
    }
    bool ToHostValue(HostValueWriter& writer, HostValue& target, const void* source,
                     const BindingFieldDescriptor& field) const override {
        return BindingNative<T>::ToHostValue(writer, target, *static_cast<const T*>(source), ContextOf(field));
    }

private:
    static BindingNativeContext ContextOf(const BindingFieldDescriptor& field) noexcept {
        return BindingNativeContext{field.registry, field.type.descriptor};
    }
};

template <typename T>
std::unique_ptr<BindingConverter> MakeBindingConverter() {
    return std::make_unique<BindingNativeConverter<T>>();
}

}  // namespace Korvo
