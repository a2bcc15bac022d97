// sdk/values/property_index.h - BindingProperty's collections, structures and the member index of a structure.
//
// Part of BindingProperty::Operations (property_operations.h, which includes
// this file at its end). Defined inline: the public members call these on
// every insert, append and release, and a call into another translation
// unit costs the readers measurably.
#pragma once

namespace Korvo {

// ---- building containers
inline BindingProperty::CollectionHeader* BindingProperty::Operations::NewCollection(PropertyArena& arena, size_t capacity) {
    if (capacity == 0) return SharedEmptyCollection();
    if (capacity > UINT32_MAX || capacity > (SIZE_MAX - sizeof(CollectionHeader)) / sizeof(BindingProperty)) {
        Memory::ThrowBadAlloc();
    }
    const size_t bytes = CollectionHeader::Bytes(capacity);
    void* room = bytes <= detail::kMaxCellSize ? arena.Allocate(bytes) : arena.AllocateBlock(bytes);
    if (room == nullptr) Memory::ThrowBadAlloc();
    auto* header = static_cast<CollectionHeader*>(room);
    header->size = 0;
    header->capacity = static_cast<uint32_t>(capacity);
    return header;
}

inline StructureHeader* BindingProperty::Operations::NewStructure(PropertyArena& arena, size_t capacity) {
    if (capacity > UINT32_MAX || capacity > (SIZE_MAX - sizeof(StructureHeader)) / sizeof(MemberCell*)) {
        Memory::ThrowBadAlloc();
    }
    const size_t bytes = StructureHeader::Bytes(capacity);
    void* room = bytes <= detail::kMaxCellSize ? arena.Allocate(bytes) : arena.AllocateBlock(bytes);
    if (room == nullptr) Memory::ThrowBadAlloc();
    auto* header = static_cast<StructureHeader*>(room);
    header->size = 0;
    header->sorted = 0;
    header->capacity = static_cast<uint32_t>(capacity);
    return header;
}

// Room for at least needed index entries; throws std::bad_alloc when the
// index cannot grow (the structure is unchanged then). Small structures
// are arena cells, header and index together, and cost no heap block.
inline StructureHeader* BindingProperty::Operations::GrowIndex(BindingProperty& property, size_t needed, bool exact) {
    StructureHeader* const header = property.Pointer<StructureHeader>();
    if (needed <= header->capacity) return header;
    constexpr size_t kLimit =
        std::min<size_t>(UINT32_MAX, (SIZE_MAX - sizeof(StructureHeader)) / sizeof(MemberCell*));
    if (needed > kLimit) Memory::ThrowBadAlloc();
    size_t capacity = needed;
    if (!exact) {
        const size_t doubled = header->capacity < kLimit / 2 ? size_t{header->capacity} * 2 : kLimit;
        capacity = std::max<size_t>({needed, doubled, kFirstMemberCapacity});
    }
    PropertyArena& arena = *property.arena_;
    const bool wasCell = StructureHeader::Bytes(header->capacity) <= detail::kMaxCellSize;
    void* grown = nullptr;
    if (StructureHeader::Bytes(capacity) <= detail::kMaxCellSize) {
        grown = arena.Allocate(StructureHeader::Bytes(capacity));
    } else if (!wasCell) {
        grown = arena.ReallocateBlock(header, StructureHeader::Bytes(capacity));
        if (grown == nullptr && capacity != needed) {
            capacity = needed;
            grown = arena.ReallocateBlock(header, StructureHeader::Bytes(capacity));
        }
        if (grown == nullptr) Memory::ThrowBadAlloc();
        auto* moved = static_cast<StructureHeader*>(grown);
        moved->capacity = static_cast<uint32_t>(capacity);
        property.payload_ = Payload(moved);
        return moved;
    } else {
        grown = arena.AllocateBlock(StructureHeader::Bytes(capacity));
        if (grown == nullptr && capacity != needed) {
            capacity = needed;
            grown = StructureHeader::Bytes(capacity) <= detail::kMaxCellSize
                        ? arena.Allocate(StructureHeader::Bytes(capacity))
                        : arena.AllocateBlock(StructureHeader::Bytes(capacity));
        }
        if (grown == nullptr) Memory::ThrowBadAlloc();
    }
    // From a cell to new room: header and index move bytewise.
    std::memcpy(grown, header, StructureHeader::Bytes(header->size));
    auto* moved = static_cast<StructureHeader*>(grown);
    moved->capacity = static_cast<uint32_t>(capacity);
    ReleaseStructureHeader(&arena, header);
    property.payload_ = Payload(moved);
    return moved;
}

// Merges the second run into the first once it has outgrown both its
// floor and the square root of the size.
inline void BindingProperty::Operations::SettleRuns(StructureHeader& header) noexcept {
    const size_t second = header.size - header.sorted;
    if (second <= kSingleRunMembers || uint64_t{second} * second <= header.size) return;
    MemberCell** const index = header.Index();
    if (header.sorted != 0 && !detail::MemberNameLess(index[header.sorted - 1], index[header.sorted])) {
        // Without a buffer the merge is slower, never wrong.
        std::inplace_merge(index, index + header.sorted, index + header.size, detail::MemberNameLess);
    }
    header.sorted = header.size;
}

inline BindingProperty::CollectionHeader* BindingProperty::Operations::MakeCollection(BindingProperty& property) {
    if (property.kind_ == kCollection) return property.Pointer<CollectionHeader>();
    EnsureArena(property);
    property.Clear();
    property.payload_ = Payload(SharedEmptyCollection());
    property.kind_ = kCollection;
    return SharedEmptyCollection();
}

inline StructureHeader* BindingProperty::Operations::MakeStructure(BindingProperty& property) {
    if (property.kind_ == kStructure) return property.Pointer<StructureHeader>();
    StructureHeader* header = NewStructure(EnsureArena(property), 0);
    property.Clear();
    property.payload_ = Payload(header);
    property.kind_ = kStructure;
    return header;
}

// A new Empty member under name (interned here), at its place in the
// index; search says name is not a member yet and where it goes.
inline BindingProperty& BindingProperty::Operations::InsertMember(BindingProperty& property, std::string_view name,
                                                                  const MemberSearch& search) {
    PropertyArena& arena = *property.arena_;
    InternedString* entry = arena.Intern(name);
    MemberCell* cell;
    StructureHeader* grown;
    try {
        grown = GrowIndex(property, size_t{property.Pointer<StructureHeader>()->size} + 1, false);
        cell = static_cast<MemberCell*>(arena.Allocate(sizeof(MemberCell)));
    } catch (...) {
        arena.ReleaseString(entry);
        throw;
    }
    StructureHeader& header = *grown;
    cell->name = entry;
    new (&cell->value) BindingProperty(detail::ChildTag{}, &arena);
    MemberCell** const index = header.Index();
    MemberCell** position;
    if (header.sorted == header.size && header.size < kSingleRunMembers) {
        position = index + search.firstRunPosition;
        ++header.sorted;
    } else {
        position = index + search.secondRunPosition;
    }
    std::memmove(position + 1, position, static_cast<size_t>(index + header.size - position) * sizeof(MemberCell*));
    *position = cell;
    ++header.size;
    SettleRuns(header);
    return cell->value;
}

// Room for at least needed elements; null when the array cannot grow (the
// collection is unchanged then).
inline BindingProperty::CollectionHeader* BindingProperty::Operations::Grow(BindingProperty& property, size_t needed,
                                                                          bool exact) noexcept {
    CollectionHeader* const header = property.Pointer<CollectionHeader>();
    if (needed <= header->capacity) return header;
    constexpr size_t kLimit =
        std::min<size_t>(UINT32_MAX, (SIZE_MAX - sizeof(CollectionHeader)) / sizeof(BindingProperty));
    if (needed > kLimit) return nullptr;
    size_t capacity = needed;
    if (!exact) {
        // Doubling from 2: pairs (coordinates, key and value) are the
        // most common small arrays and take no more than they hold.
        const size_t doubled = header->capacity < kLimit / 2 ? size_t{header->capacity} * 2 : kLimit;
        capacity = std::max<size_t>({needed, doubled, kFirstCapacity});
    }
    PropertyArena& arena = *property.arena_;
    const bool wasCell = header == &kEmptyCollection || CollectionHeader::Bytes(header->capacity) <= detail::kMaxCellSize;
    void* grown = nullptr;
    if (CollectionHeader::Bytes(capacity) <= detail::kMaxCellSize) {
        try {
            grown = arena.Allocate(CollectionHeader::Bytes(capacity));
        } catch (...) {
            return nullptr;
        }
    } else if (!wasCell) {
        grown = arena.ReallocateBlock(header, CollectionHeader::Bytes(capacity));
        if (grown == nullptr && capacity != needed) {
            capacity = needed;
            grown = arena.ReallocateBlock(header, CollectionHeader::Bytes(capacity));
        }
        if (grown == nullptr) return nullptr;
        auto* moved = static_cast<CollectionHeader*>(grown);
        moved->capacity = static_cast<uint32_t>(capacity);
        property.payload_ = Payload(moved);
        return moved;
    } else {
        grown = arena.AllocateBlock(CollectionHeader::Bytes(capacity));
        if (grown == nullptr) return nullptr;
    }
    // From a cell (or the shared header) to new room: header and elements
    // move bytewise.
    auto* moved = static_cast<CollectionHeader*>(grown);
    std::memcpy(grown, header, CollectionHeader::Bytes(header->size));
    moved->capacity = static_cast<uint32_t>(capacity);
    ReleaseCollectionHeader(&arena, header);
    property.payload_ = Payload(moved);
    return moved;
}

}  // namespace Korvo
