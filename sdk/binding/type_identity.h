// sdk/binding/type_identity.h - one process-wide identity per native type.
//
// The binding layer tells native types apart by a 32-bit identity hash: the
// registry finds a struct or enum descriptor by it, an Enum value carries its
// enum's hash, the transport compares handler context types by it. The hash
// is FNV-1a over the compiler's full signature text of
// StaticType::HashCode<T>, which names T completely (namespace and template
// arguments), so distinct types give distinct texts. Identities are only ever
// compared inside one process, so the compiler's spelling is canonical enough.
// (The compiler spells every anonymous namespace alike: two registered types
// of the same name in anonymous namespaces of different files would share an
// identity, so registered types live in named namespaces.)
//
// The records are constant data computed at compile time: there is no lazy
// initialisation, and any thread may ask for any identity at any time.
#pragma once

#include <cstdint>
#include <string_view>

#include "sdk/values/property.h"

namespace Korvo {

// The identity record of one native type. Lives for the whole process; the
// registry and field descriptors keep pointers to it.
struct TypeIdentity {
    uint32_t hash;    // FNV-1a of the signature text
    char text[10];    // the hash as "#%08X", NUL-terminated
};

namespace detail {

constexpr TypeIdentity MakeTypeIdentity(const char* signature) noexcept {
    constexpr char kHexDigits[] = "0123456789ABCDEF";
    constexpr int kHexDigitCount = 8;
    TypeIdentity identity{Fnv1a(std::string_view(signature)), {}};
    identity.text[0] = '#';
    for (int digit = 0; digit < kHexDigitCount; ++digit) {
        const int shift = 4 * (kHexDigitCount - 1 - digit);
        identity.text[1 + digit] = kHexDigits[(identity.hash >> shift) & 0xFu];
    }
    identity.text[1 + kHexDigitCount] = '\0';
    return identity;
}

}  // namespace detail

namespace StaticType {

// The identity of T. The same record (same address) on every call.
template <typename T>
const TypeIdentity& HashCode() noexcept {
    static constexpr TypeIdentity kIdentity = detail::MakeTypeIdentity(__PRETTY_FUNCTION__);
    return kIdentity;
}

// A readable text naming T, for log messages: the full signature of this
// function.
template <typename T>
const char* Name() noexcept {
    return __PRETTY_FUNCTION__;
}

// The identity of "no type": a type registered with it is found by name only.
inline const TypeIdentity& None() noexcept { return HashCode<void>(); }

}  // namespace StaticType

}  // namespace Korvo
