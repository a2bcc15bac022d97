// sdk/values/property.h - BindingProperty, the one dynamic value of the SDK,
// and BindingResult, the value-or-failure that every conversion, reader and
// exposed call yields.
//
// A BindingProperty is a small tagged value of ten kinds. Scalars live in the
// property itself; strings, blobs, enums, collections and structures keep a
// header in the tree's PropertyArena (one per root, created on first need and
// shared by every descendant) and strings are interned per arena.
//
// Threads: a property tree belongs to one thread at a time; nothing here is
// locked except the process-wide page pool behind the arena. The shared null
// property and the shared empty string are read only and may be read from
// any thread.
//
// Depth: clearing, copying, comparing and destroying never recurse on the
// depth of a tree, so a tree nested a million levels deep is handled in
// bounded stack.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace Korvo {

// ------------------------------------------------------------------ hashing

inline constexpr uint32_t kFnvOffsetBasis = 0x811C9DC5u;
inline constexpr uint32_t kFnvPrime = 0x01000193u;

// 32-bit FNV-1a over every byte of text. Used for type identities and field
// and argument names.
constexpr uint32_t Fnv1a(std::string_view text) noexcept {
    uint32_t hash = kFnvOffsetBasis;
    for (char c : text) {
        hash ^= static_cast<uint8_t>(c);
        hash *= kFnvPrime;
    }
    return hash;
}

// The hash of the interning table: eight bytes a step instead of FNV-1a's
// one. Nothing outside an arena sees it (type identities and field names
// keep FNV-1a), so it may change for speed; every arena of a process uses
// the same function, as trees copy entries with their hash.
inline uint32_t InternHash(std::string_view text) noexcept {
    constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15u;
    const char* data = text.data();
    size_t left = text.size();
    uint64_t hash = 0x243F6A8885A308D3u ^ left;
    while (left >= 8) {
        uint64_t word;
        std::memcpy(&word, data, 8);
        hash = (hash ^ word) * kMultiplier;
        hash ^= hash >> 29;
        data += 8;
        left -= 8;
    }
    // The last 1 to 7 bytes in fixed-size loads (two that may overlap, or
    // three single bytes): a copy of a variable length would be a call.
    if (left >= 4) {
        uint32_t low;
        uint32_t high;
        std::memcpy(&low, data, 4);
        std::memcpy(&high, data + left - 4, 4);
        hash = (hash ^ ((uint64_t{high} << 32) | low)) * kMultiplier;
    } else if (left != 0) {
        const auto byte = [data](size_t at) { return uint64_t{static_cast<uint8_t>(data[at])}; };
        hash = (hash ^ ((byte(0) << 16) | (byte(left / 2) << 8) | byte(left - 1))) * kMultiplier;
    }
    // The table takes the low bits: fold the well-mixed high half into them.
    hash ^= hash >> 32;
    hash *= kMultiplier;
    return static_cast<uint32_t>(hash >> 32);
}

// -------------------------------------------------------------------- kinds

enum class BindingPropertyKind : uint8_t {
    Empty = 0,
    Bool = 1,
    Signed = 2,      // int64_t
    Unsigned = 3,    // uint64_t
    Float = 4,       // double
    String = 5,      // interned text
    Blob = 6,        // byte vector
    Enum = 7,        // (number, enum type hash)
    Collection = 8,  // ordered elements
    Structure = 9,   // members ordered by name (bytewise, unsigned)
};

inline constexpr uint8_t kBindingPropertyKindCount = 10;

// The name that messages print for a kind ("empty", "bool", "signed",
// "unsigned", "float", "string", "blob", "enum", "collection", "structure");
// the empty string for a number outside 0..9. Never null.
const char* BindingPropertyKindName(BindingPropertyKind kind) noexcept;

// The payload of an Enum: the enumerator's number and the 32-bit identity
// hash of its enum type.
struct BindingEnumValue {
    int32_t number = 0;
    uint32_t typeHash = 0;

    friend bool operator==(const BindingEnumValue&, const BindingEnumValue&) = default;
};

class BindingProperty;
class PropertyArena;

namespace detail {

// An interned string of an arena: the header, then the text and a NUL. The
// shared empty entry has refCount 0 and is never counted or freed.
struct InternedString {
    InternedString* next;  // chain in the arena's table
    uint32_t hash;         // InternHash(text)
    uint32_t refCount;
    uint32_t length;       // bytes, without the NUL

    const char* Text() const noexcept { return reinterpret_cast<const char*>(this + 1); }
    std::string_view View() const noexcept { return {Text(), length}; }
};

// The process-wide empty string entry (text "").
const InternedString* EmptyInternedString() noexcept;

inline constexpr size_t kMaxCellSize = 72;
inline constexpr size_t kMaxCellAlignment = 8;

struct StructureHeader;
struct MemberCell;

// Tag for the constructor of a child property (see BindingProperty).
struct ChildTag {};

template <bool kConst>
class MemberIterator;

}  // namespace detail

template <bool kConst>
class BindingMemberRange;

// ---------------------------------------------------------- BindingProperty

class BindingProperty {
public:
    using Blob = std::vector<uint8_t>;

    // ---- construction: a new free-standing property is a root (it owns the
    // arena it creates on first need).
    constexpr BindingProperty() noexcept = default;

    template <typename T>
        requires std::same_as<T, bool>
    BindingProperty(T value) noexcept {
        SetBool(value);
    }
    // Every standard integer type by its signedness (so a uint8_t is
    // Unsigned, not promoted to a Signed int); plain char promotes to int.
    BindingProperty(signed char value) noexcept { SetSigned(value); }
    BindingProperty(short value) noexcept { SetSigned(value); }
    BindingProperty(int value) noexcept { SetSigned(value); }
    BindingProperty(long value) noexcept { SetSigned(value); }
    BindingProperty(long long value) noexcept { SetSigned(value); }
    BindingProperty(unsigned char value) noexcept { SetUnsigned(value); }
    BindingProperty(unsigned short value) noexcept { SetUnsigned(value); }
    BindingProperty(unsigned value) noexcept { SetUnsigned(value); }
    BindingProperty(unsigned long value) noexcept { SetUnsigned(value); }
    BindingProperty(unsigned long long value) noexcept { SetUnsigned(value); }
    BindingProperty(double value) noexcept { SetFloat(value); }
    // Text: a null or empty text gives the shared empty string.
    BindingProperty(const char* text) { SetString(text); }
    BindingProperty(const char* text, size_t length) { SetString(std::string_view(text, length)); }
    BindingProperty(std::string_view text) { SetString(text); }
    // Bytes: copied, or moved in (the source vector is left empty).
    BindingProperty(std::span<const uint8_t> bytes) { SetBlob(bytes); }
    BindingProperty(const Blob& bytes) { SetBlob(std::span<const uint8_t>(bytes)); }
    BindingProperty(Blob&& bytes) { SetBlob(std::move(bytes)); }

    // Deep copy into a new root.
    BindingProperty(const BindingProperty& other);
    // From a root: takes its payload and arena, the source ends an Empty root
    // without an arena. From a child: deep copy, then the source is cleared.
    BindingProperty(BindingProperty&& other) noexcept;

    // Deep copy into this property's arena; the old payload is released only
    // after the copy is built, so assigning a descendant of this property (or
    // this property itself) is safe.
    BindingProperty& operator=(const BindingProperty& other);
    // Both roots: swap everything, then clear the source (which then holds
    // this property's old contents and keeps its old arena). Otherwise a deep
    // copy, then the source is cleared - except when this property lies
    // inside the source, where clearing the source would destroy the copy:
    // then the source keeps its contents and the move is a copy.
    BindingProperty& operator=(BindingProperty&& other) noexcept;

    ~BindingProperty() {
        if (ownsArena_ != 0 && arena_ != nullptr) {
            ReleaseWithArena();
        } else if (HasHeapPayload()) {
            ReleasePayload();
        }
    }

    // Typed assignments; each releases the old payload first.
    template <typename T>
        requires std::same_as<T, bool>
    BindingProperty& operator=(T value) noexcept {
        SetBool(value);
        return *this;
    }
    BindingProperty& operator=(signed char value) noexcept { SetSigned(value); return *this; }
    BindingProperty& operator=(short value) noexcept { SetSigned(value); return *this; }
    BindingProperty& operator=(int value) noexcept { SetSigned(value); return *this; }
    BindingProperty& operator=(long value) noexcept { SetSigned(value); return *this; }
    BindingProperty& operator=(long long value) noexcept { SetSigned(value); return *this; }
    BindingProperty& operator=(unsigned char value) noexcept { SetUnsigned(value); return *this; }
    BindingProperty& operator=(unsigned short value) noexcept { SetUnsigned(value); return *this; }
    BindingProperty& operator=(unsigned value) noexcept { SetUnsigned(value); return *this; }
    BindingProperty& operator=(unsigned long value) noexcept { SetUnsigned(value); return *this; }
    BindingProperty& operator=(unsigned long long value) noexcept { SetUnsigned(value); return *this; }
    BindingProperty& operator=(double value) noexcept { SetFloat(value); return *this; }
    BindingProperty& operator=(const char* text) { SetString(text); return *this; }
    BindingProperty& operator=(std::string_view text) { SetString(text); return *this; }
    BindingProperty& operator=(const Blob& bytes) { SetBlob(std::span<const uint8_t>(bytes)); return *this; }
    BindingProperty& operator=(Blob&& bytes) { SetBlob(std::move(bytes)); return *this; }

    // ---- setters. Each releases the old payload (as Clear does), then sets
    // the kind and payload. Setters that need arena storage create the arena
    // of a root that has none; they build the new payload before releasing
    // the old one, so a setter may be given text or bytes of this very
    // property, and when memory runs out (std::bad_alloc) the property is
    // unchanged.
    void SetBool(bool value) noexcept { SetScalar(BindingPropertyKind::Bool, value ? 1u : 0u); }
    void SetSigned(int64_t value) noexcept {
        SetScalar(BindingPropertyKind::Signed, static_cast<uint64_t>(value));
    }
    void SetUnsigned(uint64_t value) noexcept { SetScalar(BindingPropertyKind::Unsigned, value); }
    void SetFloat(double value) noexcept { SetScalar(BindingPropertyKind::Float, std::bit_cast<uint64_t>(value)); }
    void SetString(std::string_view text);
    void SetString(const char* text) { SetString(text ? std::string_view(text) : std::string_view()); }
    void SetString(const char* text, size_t length) { SetString(std::string_view(text, length)); }
    void SetBlob(std::span<const uint8_t> bytes);
    void SetBlob(Blob&& bytes);
    void SetEnum(int32_t number, uint32_t typeHash);
    void SetEnum(BindingEnumValue value) { SetEnum(value.number, value.typeHash); }
    // An empty Collection (then Reserve, Append) or an empty Structure.
    void SetCollection();
    void SetStructure();

    // Releases the payload and makes the property Empty. A root keeps its
    // arena (for reuse) until it is destroyed.
    void Clear() noexcept {
        if (HasHeapPayload()) ReleasePayload();
        kind_ = 0;
        payload_ = 0;
    }

    // ---- reading. None converts between kinds: a different kind gives the
    // caller's default.
    [[nodiscard]] BindingPropertyKind Kind() const noexcept { return static_cast<BindingPropertyKind>(kind_); }
    [[nodiscard]] bool Is(BindingPropertyKind kind) const noexcept { return Kind() == kind; }

    [[nodiscard]] bool AsBool(bool defaultValue = false) const noexcept {
        return Is(BindingPropertyKind::Bool) ? payload_ != 0 : defaultValue;
    }
    [[nodiscard]] int64_t AsSigned(int64_t defaultValue = 0) const noexcept {
        return Is(BindingPropertyKind::Signed) ? static_cast<int64_t>(payload_) : defaultValue;
    }
    [[nodiscard]] uint64_t AsUnsigned(uint64_t defaultValue = 0) const noexcept {
        return Is(BindingPropertyKind::Unsigned) ? payload_ : defaultValue;
    }
    [[nodiscard]] double AsFloat(double defaultValue = 0.0) const noexcept {
        return Is(BindingPropertyKind::Float) ? std::bit_cast<double>(payload_) : defaultValue;
    }
    // The interned text of a String. Its data() is NUL-terminated (at
    // data()[size()]) and lives as long as the String payload.
    [[nodiscard]] std::string_view AsString(std::string_view defaultValue = {}) const noexcept {
        return Is(BindingPropertyKind::String) ? StringEntry()->View() : defaultValue;
    }
    // The bytes of a Blob; valid until the payload changes.
    [[nodiscard]] std::span<const uint8_t> AsBlob(std::span<const uint8_t> defaultValue = {}) const noexcept {
        if (!Is(BindingPropertyKind::Blob)) return defaultValue;
        const Blob& bytes = *Pointer<Blob>();
        return {bytes.data(), bytes.size()};
    }
    [[nodiscard]] BindingEnumValue AsEnum(BindingEnumValue defaultValue = {}) const noexcept {
        return Is(BindingPropertyKind::Enum) ? *Pointer<BindingEnumValue>() : defaultValue;
    }

    // Empty 0; String bytes; Blob bytes; Collection elements; Structure
    // members; Bool, Signed, Unsigned, Float and Enum 1.
    [[nodiscard]] size_t Size() const noexcept;
    // Empty (or a kind above 9); Bool false; Signed or Unsigned 0; Float
    // equal to 0.0 (NaN is not empty); Enum number 0; String, Blob,
    // Collection and Structure of Size() 0.
    [[nodiscard]] bool IsEmpty() const noexcept;

    // ---- collections
    // The element, or the shared null property when this is not a Collection
    // or index is not below Size().
    [[nodiscard]] const BindingProperty& At(size_t index) const noexcept;
    // Makes this a Collection (releasing any other payload), appends Empty
    // children until index exists, returns it. References to elements stay
    // valid until the collection grows.
    BindingProperty& Element(size_t index);
    // Makes this a Collection if needed and returns a new Empty last element.
    BindingProperty& Append();
    // On a Collection, makes room for count elements; a request that cannot
    // be met is ignored (it is only a hint). Other kinds are unchanged.
    void Reserve(size_t count) noexcept;
    // The elements in order; empty when this is not a Collection.
    [[nodiscard]] std::span<const BindingProperty> Elements() const noexcept;
    [[nodiscard]] std::span<BindingProperty> Elements() noexcept;

    // ---- structures
    // The member, or the shared null property when this is not a Structure
    // or has no such member. The name is not copied.
    [[nodiscard]] const BindingProperty& Get(std::string_view name) const noexcept;
    [[nodiscard]] bool Contains(std::string_view name) const noexcept;
    // Makes this a Structure (releasing any other payload), inserts an Empty
    // member under name if absent, returns the member. References to members
    // stay valid until the member or the structure is released.
    BindingProperty& Member(std::string_view name);
    // (name, member) pairs in name order, bytewise unsigned; empty when this
    // is not a Structure. The pairs are values holding a reference:
    // for (auto [name, member] : value.Members()).
    [[nodiscard]] BindingMemberRange<true> Members() const noexcept;
    [[nodiscard]] BindingMemberRange<false> Members() noexcept;

    // ---- the shared null property: a process-wide, read-only Empty.
    [[nodiscard]] static const BindingProperty& Null() noexcept;

    // ---- arena, for tests and diagnostics: null until first needed.
    [[nodiscard]] PropertyArena* Arena() const noexcept { return arena_; }
    [[nodiscard]] bool IsRoot() const noexcept { return ownsArena_ != 0; }

    // Deep equality: same kinds, same payloads (Float by ==, so NaN differs
    // from itself), members and elements pairwise in order.
    friend bool operator==(const BindingProperty& a, const BindingProperty& b);

    // A child property: Empty, in arena, not owning it. Public only so the
    // tree's member cells can be built in place.
    BindingProperty(detail::ChildTag, PropertyArena* arena) noexcept : arena_(arena), ownsArena_(0) {}

private:
    template <bool>
    friend class detail::MemberIterator;
    template <bool>
    friend class BindingMemberRange;

    struct CollectionHeader;
    struct Operations;
    friend struct Operations;
    friend class PropertyBuilder;

    bool HasHeapPayload() const noexcept { return kind_ >= static_cast<uint8_t>(BindingPropertyKind::String); }
    template <typename T>
    T* Pointer() const noexcept {
        return reinterpret_cast<T*>(static_cast<uintptr_t>(payload_));
    }
    const detail::InternedString* StringEntry() const noexcept { return Pointer<const detail::InternedString>(); }
    void SetScalar(BindingPropertyKind kind, uint64_t payload) noexcept {
        Clear();
        payload_ = payload;
        kind_ = static_cast<uint8_t>(kind);
    }
    void ReleasePayload() noexcept;
    // A root's end: its tree and arena go together, the arena's pages and
    // names at once rather than cell by cell.
    void ReleaseWithArena() noexcept;
    static void DeleteArena(PropertyArena* arena) noexcept;

    // Exactly these four, in this order.
    uint64_t payload_ = 0;             // in-place scalar, or pointer to the arena-held header
    PropertyArena* arena_ = nullptr;   // the tree's arena; null until first needed
    uint8_t kind_ = 0;                 // BindingPropertyKind
    uint8_t ownsArena_ = 1;            // 1 for a root, 0 for a child
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(BindingProperty) == 16, "payload, arena pointer, kind, owns-arena");
#else
static_assert(sizeof(BindingProperty) == 24, "payload, arena pointer, kind, owns-arena");
#endif

namespace detail {

// One member of a structure: its interned name and its value, in an arena
// cell of its own, so that a member stays where it is while its structure
// grows.
struct MemberCell {
    InternedString* name;
    BindingProperty value;
};

// The header of a Structure. The index holds the members' cells in two
// runs, [0, sorted) and [sorted, size), each in name order (bytewise,
// unsigned) and without a name in common. A small structure is one run; a
// large one takes new members into the second run, which is merged into the
// first once it outgrows the square root of the size, so that any order of
// insertion costs O(n sqrt n) moves of pointers at worst, and sorted input
// costs none. The index follows the header in one arena cell while they fit
// one, else in one heap block; both move together when the index grows.
struct alignas(alignof(MemberCell*)) StructureHeader {
    uint32_t size;
    uint32_t sorted;
    uint32_t capacity;

    MemberCell** Index() noexcept { return reinterpret_cast<MemberCell**>(this + 1); }
    MemberCell* const* Index() const noexcept { return reinterpret_cast<MemberCell* const*>(this + 1); }

    // The bytes of a header with room for capacity index entries.
    static constexpr size_t Bytes(size_t capacity) noexcept {
        return sizeof(StructureHeader) + capacity * sizeof(MemberCell*);
    }
};

inline bool MemberNameLess(const MemberCell* a, const MemberCell* b) noexcept {
    return a->name->View() < b->name->View();
}

// Walks a structure's two runs together, in name order.
template <bool kConst>
class MemberIterator {
    using Property = std::conditional_t<kConst, const BindingProperty, BindingProperty>;

public:
    using value_type = std::pair<std::string_view, Property&>;
    using reference = value_type;
    using difference_type = std::ptrdiff_t;
    using iterator_category = std::forward_iterator_tag;

    MemberIterator() = default;
    MemberIterator(MemberCell* const* first, MemberCell* const* firstEnd, MemberCell* const* second,
                   MemberCell* const* secondEnd) noexcept
        : first_(first), firstEnd_(firstEnd), second_(second), secondEnd_(secondEnd) {
        Settle();
    }

    value_type operator*() const { return {Cell()->name->View(), Cell()->value}; }
    std::string_view Name() const { return Cell()->name->View(); }
    Property& Value() const { return Cell()->value; }
    // The member's cell, for the tree's own walks.
    MemberCell* Cell() const noexcept { return fromSecond_ ? *second_ : *first_; }

    MemberIterator& operator++() noexcept {
        if (fromSecond_) {
            ++second_;
        } else {
            ++first_;
        }
        Settle();
        return *this;
    }
    MemberIterator operator++(int) noexcept {
        MemberIterator before = *this;
        ++*this;
        return before;
    }
    friend bool operator==(const MemberIterator& a, const MemberIterator& b) noexcept {
        return a.first_ == b.first_ && a.second_ == b.second_;
    }

private:
    void Settle() noexcept {
        fromSecond_ = first_ == firstEnd_ || (second_ != secondEnd_ && MemberNameLess(*second_, *first_));
    }

    MemberCell* const* first_ = nullptr;
    MemberCell* const* firstEnd_ = nullptr;
    MemberCell* const* second_ = nullptr;
    MemberCell* const* secondEnd_ = nullptr;
    bool fromSecond_ = false;
};

}  // namespace detail

// The members of a structure, in name order; empty for other kinds.
template <bool kConst>
class BindingMemberRange {
public:
    using iterator = detail::MemberIterator<kConst>;

    explicit BindingMemberRange(const detail::StructureHeader* header) noexcept : header_(header) {}
    iterator begin() const noexcept {
        if (header_ == nullptr) return iterator();
        MemberCell* const* index = header_->Index();
        return iterator(index, index + header_->sorted, index + header_->sorted, index + header_->size);
    }
    iterator end() const noexcept {
        if (header_ == nullptr) return iterator();
        MemberCell* const* index = header_->Index();
        return iterator(index + header_->sorted, index + header_->sorted, index + header_->size,
                        index + header_->size);
    }
    size_t size() const noexcept { return header_ ? header_->size : 0; }
    bool empty() const noexcept { return size() == 0; }

private:
    using MemberCell = detail::MemberCell;
    const detail::StructureHeader* header_;
};

inline BindingMemberRange<true> BindingProperty::Members() const noexcept {
    return BindingMemberRange<true>(Is(BindingPropertyKind::Structure) ? Pointer<const detail::StructureHeader>()
                                                                        : nullptr);
}

inline BindingMemberRange<false> BindingProperty::Members() noexcept {
    return BindingMemberRange<false>(Is(BindingPropertyKind::Structure) ? Pointer<const detail::StructureHeader>()
                                                                         : nullptr);
}

// ------------------------------------------------------------ BindingResult

// A property and a success flag. A new result, and one made from a property,
// has succeeded; copies and moves take the flag along with the property. A
// failure is the property {"error": message}.
class [[nodiscard]] BindingResult {
public:
    BindingResult() noexcept = default;
    BindingResult(const BindingProperty& value) : value_(value) {}
    BindingResult(BindingProperty&& value) noexcept : value_(std::move(value)) {}

    // A failed result with message.
    static BindingResult Failure(std::string_view message);

    [[nodiscard]] bool Succeeded() const noexcept { return success_ != 0; }
    [[nodiscard]] bool Failed() const noexcept { return success_ == 0; }
    explicit operator bool() const noexcept { return Succeeded(); }

    // Records a failure: the property becomes {"error": message} and the
    // flag 0. The first failure wins: on a result that has already failed
    // this does nothing, so the message that stopped the work is kept.
    void Fail(std::string_view message);

    // "" on success; else the String member "error", or "" when it is
    // missing or not a String. Valid while the result is unchanged.
    [[nodiscard]] std::string_view ErrorMessage() const noexcept;

    [[nodiscard]] BindingProperty& Value() noexcept { return value_; }
    [[nodiscard]] const BindingProperty& Value() const noexcept { return value_; }

private:
    BindingProperty value_;
    uint8_t success_ = 1;
};

}  // namespace Korvo
