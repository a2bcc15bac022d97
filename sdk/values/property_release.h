// sdk/values/property_release.h - BindingProperty's emptying a tree in bounded stack, without allocating.
//
// Part of BindingProperty::Operations (property_operations.h, which includes
// this file at its end). Defined inline: the public members call these on
// every insert, append and release, and a call into another translation
// unit costs the readers measurably.
#pragma once

namespace Korvo {

// Releases a String, Blob or Enum payload (not the kind byte).
inline void BindingProperty::Operations::ReleaseLeaf(BindingProperty& property) noexcept {
    switch (property.kind_) {
        case kString:
            if (property.StringEntry() != detail::EmptyInternedString()) {
                property.arena_->ReleaseString(property.StringEntry());
            }
            break;
        case kBlob: {
            Blob* bytes = property.Pointer<Blob>();
            bytes->~Blob();
            property.arena_->CountBlob(-1);
            property.arena_->Release(bytes, sizeof(Blob));
            break;
        }
        case kEnum:
            property.arena_->Release(property.Pointer<BindingEnumValue>(), sizeof(BindingEnumValue));
            break;
        default:
            break;
    }
}

// Gives back a member's name and cell; its value is Empty already.
inline void BindingProperty::Operations::ReleaseMemberCell(PropertyArena* arena, MemberCell* cell) noexcept {
    arena->ReleaseString(cell->name);
    cell->~MemberCell();
    arena->Release(cell, sizeof(MemberCell));
}

inline void BindingProperty::Operations::ReleaseCollectionHeader(PropertyArena* arena,
                                                                 CollectionHeader* header) noexcept {
    if (header == &kEmptyCollection) return;
    const size_t bytes = CollectionHeader::Bytes(header->capacity);
    if (bytes <= detail::kMaxCellSize) {
        arena->Release(header, bytes);
    } else {
        arena->FreeBlock(header);
    }
}

inline void BindingProperty::Operations::ReleaseStructureHeader(PropertyArena* arena, StructureHeader* header) noexcept {
    const size_t bytes = StructureHeader::Bytes(header->capacity);
    if (bytes <= detail::kMaxCellSize) {
        arena->Release(header, bytes);
    } else {
        arena->FreeBlock(header);
    }
}

// Empties a Collection or Structure and everything below it in bounded
// stack and without allocating. The first kReleaseLevels levels keep
// their place in a local array; a container found deeper is emptied by
// ReleaseDeepTree, whose stack does not grow at all. A child container's
// header moves into the array and its slot is dropped at once (a member
// cell goes back to the arena), which also counts it as done.
inline void BindingProperty::Operations::ReleaseTree(BindingProperty& root) noexcept {
    struct Level {
        void* header;
        uint32_t next;  // structures: the first index entry not yet released
        uint8_t kind;
    };
    PropertyArena* const arena = root.arena_;
    Level levels[kReleaseLevels];
    size_t depth = 1;
    levels[0] = {root.Pointer<void>(), 0, root.kind_};
    root.payload_ = 0;
    root.kind_ = kEmpty;
    while (depth != 0) {
        Level& level = levels[depth - 1];
        void* childHeader = nullptr;
        uint8_t childKind = kEmpty;
        if (level.kind == kCollection) {
            auto* collection = static_cast<CollectionHeader*>(level.header);
            while (collection->size != 0) {
                BindingProperty& element = collection->Elements()[--collection->size];
                if (IsContainer(element)) {
                    childHeader = element.Pointer<void>();
                    childKind = element.kind_;
                    break;
                }
                if (element.HasHeapPayload()) ReleaseLeaf(element);
            }
            if (childHeader == nullptr) {
                ReleaseCollectionHeader(arena, collection);
                --depth;
                continue;
            }
        } else {
            auto* structure = static_cast<StructureHeader*>(level.header);
            while (level.next != structure->size) {
                MemberCell* cell = structure->Index()[level.next++];
                BindingProperty& member = cell->value;
                if (IsContainer(member)) {
                    childHeader = member.Pointer<void>();
                    childKind = member.kind_;
                } else if (member.HasHeapPayload()) {
                    ReleaseLeaf(member);
                }
                member.payload_ = 0;
                member.kind_ = kEmpty;
                ReleaseMemberCell(arena, cell);
                if (childHeader != nullptr) break;
            }
            if (childHeader == nullptr) {
                ReleaseStructureHeader(arena, structure);
                --depth;
                continue;
            }
        }
        if (depth == kReleaseLevels) {
            BindingProperty deep(detail::ChildTag{}, arena);
            deep.payload_ = Payload(childHeader);
            deep.kind_ = childKind;
            ReleaseDeepTree(deep);
            continue;
        }
        levels[depth++] = {childHeader, 0, childKind};
    }
}

// Destroys the blobs of a tree - their bytes are the one thing a tree keeps
// outside its arena and its list of heap blocks - and nothing else: for a
// root whose arena goes right after (PropertyArena::ReleaseEverything),
// only when the arena counts blobs. The first kReleaseLevels levels keep
// their place on the stack, as in ReleaseTree; a container found deeper is
// released in full by ReleaseTree.
inline void BindingProperty::Operations::DestroyBlobs(BindingProperty& root) noexcept {
    struct Level {
        void* header;
        uint32_t next;  // the first element or index entry not yet visited
        uint8_t kind;
    };
    Level levels[kReleaseLevels];
    size_t depth = 1;
    levels[0] = {root.Pointer<void>(), 0, root.kind_};
    while (depth != 0) {
        Level& level = levels[depth - 1];
        BindingProperty* child = nullptr;
        if (level.kind == kCollection) {
            auto* collection = static_cast<CollectionHeader*>(level.header);
            while (level.next != collection->size) {
                BindingProperty& element = collection->Elements()[level.next++];
                if (IsContainer(element)) {
                    child = &element;
                    break;
                }
                if (element.kind_ == kBlob) ReleaseLeaf(element);
            }
        } else {
            auto* structure = static_cast<StructureHeader*>(level.header);
            while (level.next != structure->size) {
                BindingProperty& member = structure->Index()[level.next++]->value;
                if (IsContainer(member)) {
                    child = &member;
                    break;
                }
                if (member.kind_ == kBlob) ReleaseLeaf(member);
            }
        }
        if (child == nullptr) {
            --depth;
            continue;
        }
        if (depth == kReleaseLevels) {
            ReleaseTree(*child);
            continue;
        }
        levels[depth++] = {child->Pointer<void>(), 0, child->kind_};
    }
}

// ReleaseTree for any depth, in constant stack and without allocating.
// Containers are emptied from the back of a collection and the front of
// a structure. Descending into a child container stores the way back in
// the child's own fields (the parent's slot, header and kind), which are
// no longer needed once its header is held here; ascending restores the
// child to an Empty member or element and drops it from its parent.
inline void BindingProperty::Operations::ReleaseDeepTree(BindingProperty& root) noexcept {
    PropertyArena* const arena = root.arena_;
    BindingProperty* slot = &root;
    uint8_t kind = root.kind_;
    void* header = root.Pointer<void>();
    for (;;) {
        BindingProperty* child = nullptr;
        if (kind == kCollection) {
            auto* collection = static_cast<CollectionHeader*>(header);
            while (collection->size != 0) {
                BindingProperty& element = collection->Elements()[collection->size - 1];
                if (IsContainer(element)) {
                    child = &element;
                    break;
                }
                if (element.HasHeapPayload()) ReleaseLeaf(element);
                --collection->size;
            }
            if (child == nullptr) {
                ReleaseCollectionHeader(arena, collection);
            }
        } else {
            auto* structure = static_cast<StructureHeader*>(header);
            while (structure->size != 0) {
                MemberCell* cell = structure->Index()[structure->size - 1];
                BindingProperty& member = cell->value;
                if (IsContainer(member)) {
                    child = &member;
                    break;
                }
                if (member.HasHeapPayload()) ReleaseLeaf(member);
                member.payload_ = 0;
                member.kind_ = kEmpty;
                ReleaseMemberCell(arena, cell);
                --structure->size;
            }
            if (child == nullptr) ReleaseStructureHeader(arena, structure);
        }
        if (child != nullptr) {
            const uint8_t childKind = child->kind_;
            void* childHeader = child->Pointer<void>();
            child->payload_ = Payload(slot);
            child->arena_ = static_cast<PropertyArena*>(header);
            child->kind_ = kind;
            slot = child;
            kind = childKind;
            header = childHeader;
            continue;
        }
        if (slot == &root) break;
        auto* parentSlot = slot->Pointer<BindingProperty>();
        void* parentHeader = slot->arena_;
        const uint8_t parentKind = slot->kind_;
        slot->payload_ = 0;
        slot->arena_ = arena;
        slot->kind_ = kEmpty;
        if (parentKind == kCollection) {
            --static_cast<CollectionHeader*>(parentHeader)->size;
        } else {
            auto* structure = static_cast<StructureHeader*>(parentHeader);
            ReleaseMemberCell(arena, structure->Index()[--structure->size]);
        }
        slot = parentSlot;
        kind = parentKind;
        header = parentHeader;
    }
    root.payload_ = 0;
    root.kind_ = kEmpty;
}

}  // namespace Korvo
