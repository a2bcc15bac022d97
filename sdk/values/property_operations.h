// sdk/values/property_operations.h - the walks and containers behind
// BindingProperty (internal to korvo_binding).
//
// BindingProperty's public members live in property.cpp; what they share -
// the payload headers, the member index and its search, and the Operations
// that build, release, copy and compare trees - is declared here and
// defined by job, inline, in the headers included at the end:
// property_index.h (collections, structures and their member index),
// property_release.h (emptying a tree in bounded stack), property_copy.h
// (copying and comparing trees).
#pragma once

#include <algorithm>
#include <new>
#include <tuple>
#include <vector>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

#include "sdk/allocation/allocation.h"
#include "sdk/values/property.h"
#include "sdk/values/property_arena.h"
#include "sdk/values/work_stack.h"

namespace Korvo {

using detail::InternedString;
using detail::MemberCell;
using detail::StructureHeader;

namespace {

constexpr uint8_t Code(BindingPropertyKind kind) noexcept { return static_cast<uint8_t>(kind); }

constexpr uint8_t kEmpty = Code(BindingPropertyKind::Empty);
constexpr uint8_t kString = Code(BindingPropertyKind::String);
constexpr uint8_t kBlob = Code(BindingPropertyKind::Blob);
constexpr uint8_t kEnum = Code(BindingPropertyKind::Enum);
constexpr uint8_t kCollection = Code(BindingPropertyKind::Collection);
constexpr uint8_t kStructure = Code(BindingPropertyKind::Structure);

// Elements a collection makes room for when it first grows by appending.
constexpr size_t kFirstCapacity = 2;
// Levels of a tree that ReleaseTree walks with its place kept on the stack.
constexpr size_t kReleaseLevels = 48;
// Member slots a structure's index makes room for when it first grows.
constexpr size_t kFirstMemberCapacity = 4;
// Up to this many members a structure is one run; beyond, the second run
// takes at least this many before it is merged into the first.
constexpr size_t kSingleRunMembers = 16;

}  // namespace

namespace detail {

// Whether a member name sorts before name, bytewise and unsigned. Names
// mostly differ within their first bytes, which are compared here rather
// than in a call to memcmp.
inline bool NameBefore(const InternedString* entry, std::string_view name) noexcept {
    const auto* a = reinterpret_cast<const unsigned char*>(entry->Text());
    const auto* b = reinterpret_cast<const unsigned char*>(name.data());
    const size_t common = std::min<size_t>(entry->length, name.size());
    constexpr size_t kInlineBytes = 8;
    const size_t inlineBytes = std::min(common, kInlineBytes);
    for (size_t i = 0; i < inlineBytes; ++i) {
        if (a[i] != b[i]) return a[i] < b[i];
    }
    if (common > kInlineBytes) {
        const int order = std::memcmp(a + kInlineBytes, b + kInlineBytes, common - kInlineBytes);
        if (order != 0) return order < 0;
    }
    return entry->length < name.size();
}

inline bool SameName(const MemberCell* cell, std::string_view name) noexcept {
    return cell->name->length == name.size() && std::memcmp(cell->name->Text(), name.data(), name.size()) == 0;
}

// The first position in the run [first, last) whose name is not below name.
inline MemberCell* const* LowerBound(MemberCell* const* first, MemberCell* const* last, std::string_view name) noexcept {
    size_t count = static_cast<size_t>(last - first);
    while (count != 0) {
        const size_t half = count / 2;
        if (NameBefore((*(first + half))->name, name)) {
            first += half + 1;
            count -= half + 1;
        } else {
            count = half;
        }
    }
    return first;
}

// Where name is, or where it would go, in each run of a structure.
struct MemberSearch {
    MemberCell* found;
    size_t firstRunPosition;
    size_t secondRunPosition;
};

inline MemberSearch SearchMember(const StructureHeader& header, std::string_view name) noexcept {
    MemberCell* const* const index = header.Index();
    MemberCell* const* const firstEnd = index + header.sorted;
    MemberCell* const* const secondEnd = index + header.size;
    MemberCell* const* first = LowerBound(index, firstEnd, name);
    const auto firstPosition = static_cast<size_t>(first - index);
    if (first != firstEnd && SameName(*first, name)) return {*first, firstPosition, 0};
    MemberCell* const* second = firstEnd == secondEnd ? secondEnd : LowerBound(firstEnd, secondEnd, name);
    const auto secondPosition = static_cast<size_t>(second - index);
    if (second != secondEnd && SameName(*second, name)) return {*second, firstPosition, secondPosition};
    return {nullptr, firstPosition, secondPosition};
}

inline MemberCell* FindMember(const StructureHeader& header, std::string_view name) noexcept {
    return SearchMember(header, name).found;
}

}  // namespace detail

using detail::FindMember;
using detail::MemberSearch;
using detail::SearchMember;

// The header of a Collection, with its elements right behind it: one arena
// cell while they fit one (most arrays are pairs and triples), else one
// block on the ordinary heap. Header and elements move together, bytewise,
// when the array grows (a property holds no pointer into itself or its
// siblings, only to its arena and its own payload), and the collection's
// payload follows them.
struct BindingProperty::CollectionHeader {
    uint32_t size;
    uint32_t capacity;

    BindingProperty* Elements() noexcept { return reinterpret_cast<BindingProperty*>(this + 1); }
    const BindingProperty* Elements() const noexcept { return reinterpret_cast<const BindingProperty*>(this + 1); }

    // The bytes of a header with room for capacity elements.
    static constexpr size_t Bytes(size_t capacity) noexcept {
        return sizeof(CollectionHeader) + capacity * sizeof(BindingProperty);
    }
};

// Every payload header is one arena cell.
static_assert(sizeof(BindingProperty::Blob) <= detail::kMaxCellSize);
static_assert(sizeof(StructureHeader) <= detail::kMaxCellSize);
static_assert(sizeof(MemberCell) <= detail::kMaxCellSize && alignof(MemberCell) <= detail::kMaxCellAlignment);
static_assert(sizeof(BindingEnumValue) == 8);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(BindingProperty::Blob) == 12, "begin, end, capacity");
#endif

// Everything that walks a tree, kept out of the class definition.
struct BindingProperty::Operations {
    static_assert(sizeof(CollectionHeader) % alignof(BindingProperty) == 0, "the elements behind the header are aligned");

    static bool IsContainer(const BindingProperty& property) noexcept {
        return property.kind_ == kCollection || property.kind_ == kStructure;
    }

    static uint64_t Payload(const void* pointer) noexcept {
        return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(pointer));
    }

    // Takes a built payload from a property of the same arena; the source is
    // left Empty without releasing anything.
    static void Install(BindingProperty& target, BindingProperty& built) noexcept {
        target.Clear();
        target.payload_ = built.payload_;
        target.kind_ = built.kind_;
        built.payload_ = 0;
        built.kind_ = kEmpty;
    }

    static PropertyArena& EnsureArena(BindingProperty& property) {
        if (property.arena_ == nullptr) property.arena_ = new PropertyArena();
        return *property.arena_;
    }

    static bool NeedsArena(const BindingProperty& source) noexcept {
        if (!source.HasHeapPayload()) return false;
        return !(source.kind_ == kString && source.StringEntry() == detail::EmptyInternedString());
    }

    // Releases a String, Blob or Enum payload (not the kind byte).
    static void ReleaseLeaf(BindingProperty& property) noexcept;

    // Gives back a member's name and cell; its value is Empty already.
    static void ReleaseMemberCell(PropertyArena* arena, MemberCell* cell) noexcept;


    static void ReleaseStructureHeader(PropertyArena* arena, StructureHeader* header) noexcept;

    // Empties a Collection or Structure and everything below it in bounded
    // stack and without allocating. The first kReleaseLevels levels keep
    // their place in a local array; a container found deeper is emptied by
    // ReleaseDeepTree, whose stack does not grow at all. A child container's
    // header moves into the array and its slot is dropped at once (a member
    // cell goes back to the arena), which also counts it as done.
    static void ReleaseTree(BindingProperty& root) noexcept;

    // Destroys only the blobs of a tree, for a root whose arena goes right
    // after.
    static void DestroyBlobs(BindingProperty& root) noexcept;

    // ReleaseTree for any depth, in constant stack and without allocating.
    // Containers are emptied from the back of a collection and the front of
    // a structure. Descending into a child container stores the way back in
    // the child's own fields (the parent's slot, header and kind), which are
    // no longer needed once its header is held here; ascending restores the
    // child to an Empty member or element and drops it from its parent.
    static void ReleaseDeepTree(BindingProperty& root) noexcept;

    // ---- building containers

    // Every empty collection that nothing has appended to yet shares one
    // read-only header: a document's empty arrays cost no cell. It is never
    // written (MakeCollection gives a property its own header before an
    // element goes in) and never given back to an arena.
    static const CollectionHeader kEmptyCollection;

    static CollectionHeader* SharedEmptyCollection() noexcept {
        return const_cast<CollectionHeader*>(&kEmptyCollection);
    }

    // Room for capacity elements; the shared empty header for 0.
    static CollectionHeader* NewCollection(PropertyArena& arena, size_t capacity);

    // Gives back a collection's header and the room of its elements; the
    // elements themselves are released already.
    static void ReleaseCollectionHeader(PropertyArena* arena, CollectionHeader* header) noexcept;

    static StructureHeader* NewStructure(PropertyArena& arena, size_t capacity);

    // Room for at least needed index entries in the structure property: its
    // header moves when the index grows, and the property's payload with
    // it. Returns the header; throws std::bad_alloc when the index cannot
    // grow (the structure is unchanged then).
    static StructureHeader* GrowIndex(BindingProperty& property, size_t needed, bool exact);

    // Merges the second run into the first once it has outgrown both its
    // floor and the square root of the size.
    static void SettleRuns(StructureHeader& header) noexcept;

    // Makes property a Collection if needed (with the shared empty header)
    // and returns its header.
    static CollectionHeader* MakeCollection(BindingProperty& property);

    static StructureHeader* MakeStructure(BindingProperty& property);

    // A new Empty member under name (interned here), at its place in the
    // index; search says name is not a member yet and where it goes.
    static BindingProperty& InsertMember(BindingProperty& property, std::string_view name, const MemberSearch& search);

    // Room for at least needed elements in the collection property: its
    // header moves when it grows (never the shared one, which is replaced).
    // Returns the header, or null when the array cannot grow (the
    // collection is unchanged then).
    static CollectionHeader* Grow(BindingProperty& property, size_t needed, bool exact) noexcept;

    // ---- copying

    using CopyWork = detail::WorkStack<std::pair<BindingProperty*, const BindingProperty*>>;

    static InternedString* InternCopy(PropertyArena* arena, const BindingProperty& source, const InternedString* entry);

    // Copies one node into an Empty target whose arena is set when the
    // source needs one; children that have payloads of their own are left
    // Empty and queued. The target stays a valid tree if this throws.
    static void CopyNode(BindingProperty& target, const BindingProperty& source, CopyWork& work);

    // Deep copy of source into the Empty target, one node at a time from an
    // explicit work list, so the stack does not grow with the depth.
    static void CopyTree(BindingProperty& target, const BindingProperty& source);

    // Builds a copy of source in target's arena, then calls beforeInstall
    // and puts the copy in place of target's old payload. If building
    // throws, target is unchanged.
    template <typename BeforeInstall>
    static void Assign(BindingProperty& target, const BindingProperty& source, BeforeInstall beforeInstall) {
        if (!source.HasHeapPayload()) {
            const uint64_t payload = source.payload_;
            const uint8_t kind = source.kind_;
            beforeInstall();
            target.Clear();
            target.payload_ = payload;
            target.kind_ = kind;
            return;
        }
        if (NeedsArena(source)) EnsureArena(target);
        BindingProperty built(detail::ChildTag{}, target.arena_);
        try {
            CopyTree(built, source);
        } catch (...) {
            built.Clear();
            throw;
        }
        beforeInstall();
        Install(target, built);
    }

    // Whether target lies inside the tree of container (not container itself).
    static bool Holds(const BindingProperty& container, const BindingProperty* target);

    // ---- comparing

    using CompareWork = detail::WorkStack<std::pair<const BindingProperty*, const BindingProperty*>>;

    static bool EqualNode(const BindingProperty& a, const BindingProperty& b, CompareWork& work);
};

}  // namespace Korvo

#include "sdk/values/property_copy.h"
#include "sdk/values/property_index.h"
#include "sdk/values/property_release.h"
