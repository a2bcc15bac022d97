#include "sdk/binding/property.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <tuple>
#include <utility>
#include <vector>

#include "sdk/binding/property_arena.h"
#include "sdk/binding/work_stack.h"
#include "sdk/allocation/allocation.h"

namespace Korvo {

using detail::InternedString;
using detail::MemberCell;
using detail::StructureHeader;

namespace {

constexpr const char* kKindNames[kBindingPropertyKindCount] = {
    "empty", "bool", "signed", "unsigned", "float", "string", "blob", "enum", "collection", "structure",
};

constexpr uint8_t Code(BindingPropertyKind kind) noexcept { return static_cast<uint8_t>(kind); }

constexpr uint8_t kEmpty = Code(BindingPropertyKind::Empty);
constexpr uint8_t kString = Code(BindingPropertyKind::String);
constexpr uint8_t kBlob = Code(BindingPropertyKind::Blob);
constexpr uint8_t kEnum = Code(BindingPropertyKind::Enum);
constexpr uint8_t kCollection = Code(BindingPropertyKind::Collection);
constexpr uint8_t kStructure = Code(BindingPropertyKind::Structure);

constinit const BindingProperty nullProperty;

}  // namespace

const char* BindingPropertyKindName(BindingPropertyKind kind) noexcept {
    auto code = static_cast<uint8_t>(kind);
    return code < kBindingPropertyKindCount ? kKindNames[code] : "";
}

// The header of a Collection: the elements live on the ordinary heap and are
// moved bytewise when the array grows (a property holds no pointer into
// itself or its siblings, only to its arena and its own payload).
struct BindingProperty::CollectionHeader {
    BindingProperty* elements;
    uint32_t size;
    uint32_t capacity;
};

// Every payload header is one arena cell.
static_assert(sizeof(BindingProperty::Blob) <= detail::kMaxCellSize);
static_assert(sizeof(StructureHeader) <= detail::kMaxCellSize);
static_assert(sizeof(MemberCell) <= detail::kMaxCellSize && alignof(MemberCell) <= detail::kMaxCellAlignment);
static_assert(sizeof(BindingEnumValue) == 8);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(BindingProperty::Blob) == 12, "begin, end, capacity");
#endif

namespace {

// Elements a collection makes room for when it first grows by appending.
constexpr size_t kFirstCapacity = 2;
// Levels of a tree that ReleaseTree walks with its place kept on the stack.
constexpr size_t kReleaseLevels = 48;
// Member slots a structure's index makes room for when it first grows.
constexpr size_t kFirstMemberCapacity = 4;
// Up to this many members a structure is one run; beyond, the second run
// takes at least this many before it is merged into the first.
constexpr size_t kSingleRunMembers = 16;

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
MemberCell** LowerBound(MemberCell** first, MemberCell** last, std::string_view name) noexcept {
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

MemberSearch SearchMember(const StructureHeader& header, std::string_view name) noexcept {
    MemberCell** const index = header.index;
    MemberCell** const firstEnd = index + header.sorted;
    MemberCell** const secondEnd = index + header.size;
    MemberCell** first = LowerBound(index, firstEnd, name);
    const auto firstPosition = static_cast<size_t>(first - index);
    if (first != firstEnd && SameName(*first, name)) return {*first, firstPosition, 0};
    MemberCell** second = firstEnd == secondEnd ? secondEnd : LowerBound(firstEnd, secondEnd, name);
    const auto secondPosition = static_cast<size_t>(second - index);
    if (second != secondEnd && SameName(*second, name)) return {*second, firstPosition, secondPosition};
    return {nullptr, firstPosition, secondPosition};
}

MemberCell* FindMember(const StructureHeader& header, std::string_view name) noexcept {
    return SearchMember(header, name).found;
}

}  // namespace

// Everything that walks a tree, kept out of the class definition.
struct BindingProperty::Operations {
    static_assert(sizeof(CollectionHeader) <= detail::kMaxCellSize);

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
    static void ReleaseLeaf(BindingProperty& property) noexcept {
        switch (property.kind_) {
            case kString:
                if (property.StringEntry() != detail::EmptyInternedString()) {
                    property.arena_->ReleaseString(property.StringEntry());
                }
                break;
            case kBlob: {
                Blob* bytes = property.Pointer<Blob>();
                bytes->~Blob();
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
    static void ReleaseMemberCell(PropertyArena* arena, MemberCell* cell) noexcept {
        arena->ReleaseString(cell->name);
        cell->~MemberCell();
        arena->Release(cell, sizeof(MemberCell));
    }

    static void ReleaseIndex(PropertyArena* arena, MemberCell** index, size_t capacity) noexcept {
        if (index == nullptr) return;
        const size_t bytes = capacity * sizeof(MemberCell*);
        if (bytes <= detail::kMaxCellSize) {
            arena->Release(index, bytes);
        } else {
            Memory::Free(index);
        }
    }

    static void ReleaseStructureHeader(PropertyArena* arena, StructureHeader* header) noexcept {
        ReleaseIndex(arena, header->index, header->capacity);
        arena->Release(header, sizeof(StructureHeader));
    }

    // Empties a Collection or Structure and everything below it in bounded
    // stack and without allocating. The first kReleaseLevels levels keep
    // their place in a local array; a container found deeper is emptied by
    // ReleaseDeepTree, whose stack does not grow at all. A child container's
    // header moves into the array and its slot is dropped at once (a member
    // cell goes back to the arena), which also counts it as done.
    static void ReleaseTree(BindingProperty& root) noexcept {
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
                    BindingProperty& element = collection->elements[--collection->size];
                    if (IsContainer(element)) {
                        childHeader = element.Pointer<void>();
                        childKind = element.kind_;
                        break;
                    }
                    if (element.HasHeapPayload()) ReleaseLeaf(element);
                }
                if (childHeader == nullptr) {
                    Memory::Free(collection->elements);
                    arena->Release(collection, sizeof(CollectionHeader));
                    --depth;
                    continue;
                }
            } else {
                auto* structure = static_cast<StructureHeader*>(level.header);
                while (level.next != structure->size) {
                    MemberCell* cell = structure->index[level.next++];
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

    // ReleaseTree for any depth, in constant stack and without allocating.
    // Containers are emptied from the back of a collection and the front of
    // a structure. Descending into a child container stores the way back in
    // the child's own fields (the parent's slot, header and kind), which are
    // no longer needed once its header is held here; ascending restores the
    // child to an Empty member or element and drops it from its parent.
    static void ReleaseDeepTree(BindingProperty& root) noexcept {
        PropertyArena* const arena = root.arena_;
        BindingProperty* slot = &root;
        uint8_t kind = root.kind_;
        void* header = root.Pointer<void>();
        for (;;) {
            BindingProperty* child = nullptr;
            if (kind == kCollection) {
                auto* collection = static_cast<CollectionHeader*>(header);
                while (collection->size != 0) {
                    BindingProperty& element = collection->elements[collection->size - 1];
                    if (IsContainer(element)) {
                        child = &element;
                        break;
                    }
                    if (element.HasHeapPayload()) ReleaseLeaf(element);
                    --collection->size;
                }
                if (child == nullptr) {
                    Memory::Free(collection->elements);
                    arena->Release(collection, sizeof(CollectionHeader));
                }
            } else {
                auto* structure = static_cast<StructureHeader*>(header);
                while (structure->size != 0) {
                    MemberCell* cell = structure->index[structure->size - 1];
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
                ReleaseMemberCell(arena, structure->index[--structure->size]);
            }
            slot = parentSlot;
            kind = parentKind;
            header = parentHeader;
        }
        root.payload_ = 0;
        root.kind_ = kEmpty;
    }

    // ---- building containers

    static CollectionHeader* NewCollection(PropertyArena& arena, size_t capacity) {
        if (capacity > UINT32_MAX || capacity > SIZE_MAX / sizeof(BindingProperty)) Memory::ThrowBadAlloc();
        auto* header = static_cast<CollectionHeader*>(arena.Allocate(sizeof(CollectionHeader)));
        header->elements = nullptr;
        header->size = 0;
        header->capacity = 0;
        if (capacity != 0) {
            void* elements = Memory::Allocate(capacity * sizeof(BindingProperty));
            if (elements == nullptr) {
                arena.Release(header, sizeof(CollectionHeader));
                Memory::ThrowBadAlloc();
            }
            header->elements = static_cast<BindingProperty*>(elements);
            header->capacity = static_cast<uint32_t>(capacity);
        }
        return header;
    }

    static StructureHeader* NewStructure(PropertyArena& arena, size_t capacity) {
        auto* header = static_cast<StructureHeader*>(arena.Allocate(sizeof(StructureHeader)));
        header->index = nullptr;
        header->size = 0;
        header->sorted = 0;
        header->capacity = 0;
        if (capacity != 0) {
            try {
                GrowIndex(arena, *header, capacity, true);
            } catch (...) {
                arena.Release(header, sizeof(StructureHeader));
                throw;
            }
        }
        return header;
    }

    // Room for at least needed index entries; throws std::bad_alloc when the
    // index cannot grow (the structure is unchanged then). Small indexes
    // are arena cells, so a small structure costs no heap block.
    static void GrowIndex(PropertyArena& arena, StructureHeader& header, size_t needed, bool exact) {
        if (needed <= header.capacity) return;
        constexpr size_t kLimit = std::min<size_t>(UINT32_MAX, SIZE_MAX / sizeof(MemberCell*));
        if (needed > kLimit) Memory::ThrowBadAlloc();
        size_t capacity = needed;
        if (!exact) {
            const size_t doubled = header.capacity < kLimit / 2 ? size_t{header.capacity} * 2 : kLimit;
            capacity = std::max<size_t>({needed, doubled, kFirstMemberCapacity});
        }
        void* grown;
        if (capacity * sizeof(MemberCell*) <= detail::kMaxCellSize) {
            grown = arena.Allocate(capacity * sizeof(MemberCell*));
        } else {
            grown = Memory::Allocate(capacity * sizeof(MemberCell*));
            if (grown == nullptr && capacity != needed) {
                capacity = needed;
                grown = capacity * sizeof(MemberCell*) <= detail::kMaxCellSize
                            ? arena.Allocate(capacity * sizeof(MemberCell*))
                            : Memory::Allocate(capacity * sizeof(MemberCell*));
            }
            if (grown == nullptr) Memory::ThrowBadAlloc();
        }
        if (header.size != 0) std::memcpy(grown, header.index, header.size * sizeof(MemberCell*));
        ReleaseIndex(&arena, header.index, header.capacity);
        header.index = static_cast<MemberCell**>(grown);
        header.capacity = static_cast<uint32_t>(capacity);
    }

    // Merges the second run into the first once it has outgrown both its
    // floor and the square root of the size.
    static void SettleRuns(StructureHeader& header) noexcept {
        const size_t second = header.size - header.sorted;
        if (second <= kSingleRunMembers || uint64_t{second} * second <= header.size) return;
        MemberCell** const index = header.index;
        if (header.sorted != 0 && !detail::MemberNameLess(index[header.sorted - 1], index[header.sorted])) {
            // Without a buffer the merge is slower, never wrong.
            std::inplace_merge(index, index + header.sorted, index + header.size, detail::MemberNameLess);
        }
        header.sorted = header.size;
    }

    static CollectionHeader* MakeCollection(BindingProperty& property) {
        if (property.kind_ == kCollection) return property.Pointer<CollectionHeader>();
        CollectionHeader* header = NewCollection(EnsureArena(property), 0);
        property.Clear();
        property.payload_ = Payload(header);
        property.kind_ = kCollection;
        return header;
    }

    static StructureHeader* MakeStructure(BindingProperty& property) {
        if (property.kind_ == kStructure) return property.Pointer<StructureHeader>();
        StructureHeader* header = NewStructure(EnsureArena(property), 0);
        property.Clear();
        property.payload_ = Payload(header);
        property.kind_ = kStructure;
        return header;
    }

    // A new Empty member under name (interned here), at its place in the
    // index; search says name is not a member yet and where it goes.
    static BindingProperty& InsertMember(BindingProperty& property, StructureHeader& header, std::string_view name,
                                         const MemberSearch& search) {
        PropertyArena& arena = *property.arena_;
        InternedString* entry = arena.Intern(name);
        MemberCell* cell;
        try {
            GrowIndex(arena, header, size_t{header.size} + 1, false);
            cell = static_cast<MemberCell*>(arena.Allocate(sizeof(MemberCell)));
        } catch (...) {
            arena.ReleaseString(entry);
            throw;
        }
        cell->name = entry;
        new (&cell->value) BindingProperty(detail::ChildTag{}, &arena);
        MemberCell** const index = header.index;
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

    // Room for at least needed elements; throws std::bad_alloc when the
    // array cannot grow (the collection is unchanged then).
    static bool Grow(CollectionHeader& header, size_t needed, bool exact) noexcept {
        if (needed <= header.capacity) return true;
        constexpr size_t kLimit = std::min<size_t>(UINT32_MAX, SIZE_MAX / sizeof(BindingProperty));
        if (needed > kLimit) return false;
        size_t capacity = needed;
        if (!exact) {
            // Doubling from 2: pairs (coordinates, key and value) are the
            // most common small arrays and take no more than they hold.
            size_t doubled = header.capacity < kLimit / 2 ? size_t{header.capacity} * 2 : kLimit;
            capacity = std::max<size_t>({needed, doubled, kFirstCapacity});
        }
        void* grown = Memory::Reallocate(header.elements, capacity * sizeof(BindingProperty));
        if (grown == nullptr && capacity != needed) {
            capacity = needed;
            grown = Memory::Reallocate(header.elements, capacity * sizeof(BindingProperty));
        }
        if (grown == nullptr) return false;
        header.elements = static_cast<BindingProperty*>(grown);
        header.capacity = static_cast<uint32_t>(capacity);
        return true;
    }

    // ---- copying

    using CopyWork = detail::WorkStack<std::pair<BindingProperty*, const BindingProperty*>>;

    static InternedString* InternCopy(PropertyArena* arena, const BindingProperty& source, const InternedString* entry) {
        auto* mutableEntry = const_cast<InternedString*>(entry);
        if (entry == detail::EmptyInternedString()) return mutableEntry;
        if (source.arena_ == arena) {
            arena->AddReference(mutableEntry);
            return mutableEntry;
        }
        return arena->Intern(entry->View(), entry->hash);
    }

    // Copies one node into an Empty target whose arena is set when the
    // source needs one; children that have payloads of their own are left
    // Empty and queued. The target stays a valid tree if this throws.
    static void CopyNode(BindingProperty& target, const BindingProperty& source, CopyWork& work) {
        switch (source.kind_) {
            case kString:
                target.payload_ = Payload(InternCopy(target.arena_, source, source.StringEntry()));
                target.kind_ = kString;
                return;
            case kBlob: {
                void* cell = target.arena_->Allocate(sizeof(Blob));
                try {
                    new (cell) Blob(*source.Pointer<const Blob>());
                } catch (...) {
                    target.arena_->Release(cell, sizeof(Blob));
                    throw;
                }
                target.payload_ = Payload(cell);
                target.kind_ = kBlob;
                return;
            }
            case kEnum: {
                void* cell = target.arena_->Allocate(sizeof(BindingEnumValue));
                new (cell) BindingEnumValue(*source.Pointer<const BindingEnumValue>());
                target.payload_ = Payload(cell);
                target.kind_ = kEnum;
                return;
            }
            case kCollection: {
                const auto* from = source.Pointer<const CollectionHeader>();
                CollectionHeader* to = NewCollection(*target.arena_, from->size);
                target.payload_ = Payload(to);
                target.kind_ = kCollection;
                for (uint32_t i = 0; i < from->size; ++i) {
                    const BindingProperty& element = from->elements[i];
                    BindingProperty* copy = new (&to->elements[i]) BindingProperty(detail::ChildTag{}, target.arena_);
                    ++to->size;
                    if (element.HasHeapPayload()) {
                        work.emplace_back(copy, &element);
                    } else {
                        copy->payload_ = element.payload_;
                        copy->kind_ = element.kind_;
                    }
                }
                return;
            }
            case kStructure: {
                const auto* from = source.Pointer<const StructureHeader>();
                StructureHeader* to = NewStructure(*target.arena_, from->size);
                target.payload_ = Payload(to);
                target.kind_ = kStructure;
                // In name order, so the copy is one run.
                for (auto at = source.Members().begin(), end = source.Members().end(); at != end; ++at) {
                    const BindingProperty& member = at.Value();
                    InternedString* copiedName = InternCopy(target.arena_, source, at.Cell()->name);
                    MemberCell* cell;
                    try {
                        cell = static_cast<MemberCell*>(target.arena_->Allocate(sizeof(MemberCell)));
                    } catch (...) {
                        target.arena_->ReleaseString(copiedName);
                        throw;
                    }
                    cell->name = copiedName;
                    new (&cell->value) BindingProperty(detail::ChildTag{}, target.arena_);
                    to->index[to->size++] = cell;
                    to->sorted = to->size;
                    BindingProperty& copy = cell->value;
                    if (member.HasHeapPayload()) {
                        work.emplace_back(&copy, &member);
                    } else {
                        copy.payload_ = member.payload_;
                        copy.kind_ = member.kind_;
                    }
                }
                return;
            }
            default:
                target.payload_ = source.payload_;
                target.kind_ = source.kind_;
                return;
        }
    }

    // Deep copy of source into the Empty target, one node at a time from an
    // explicit work list, so the stack does not grow with the depth.
    static void CopyTree(BindingProperty& target, const BindingProperty& source) {
        CopyWork work;
        CopyNode(target, source, work);
        while (!work.empty()) {
            auto [to, from] = work.back();
            work.pop_back();
            CopyNode(*to, *from, work);
        }
    }

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
    static bool Holds(const BindingProperty& container, const BindingProperty* target) {
        std::vector<const BindingProperty*> pending{&container};
        while (!pending.empty()) {
            const BindingProperty* node = pending.back();
            pending.pop_back();
            if (node->kind_ == kCollection) {
                const auto* header = node->Pointer<const CollectionHeader>();
                if (target >= header->elements && target < header->elements + header->size) return true;
                for (uint32_t i = 0; i < header->size; ++i) {
                    if (IsContainer(header->elements[i])) pending.push_back(&header->elements[i]);
                }
            } else if (node->kind_ == kStructure) {
                const auto* header = node->Pointer<const StructureHeader>();
                for (uint32_t i = 0; i < header->size; ++i) {
                    const BindingProperty& member = header->index[i]->value;
                    if (&member == target) return true;
                    if (IsContainer(member)) pending.push_back(&member);
                }
            }
        }
        return false;
    }

    // ---- comparing

    using CompareWork = detail::WorkStack<std::pair<const BindingProperty*, const BindingProperty*>>;

    static bool EqualNode(const BindingProperty& a, const BindingProperty& b, CompareWork& work) {
        if (a.kind_ != b.kind_) return false;
        switch (a.kind_) {
            case kEmpty:
                return true;
            case Code(BindingPropertyKind::Float):
                return a.AsFloat() == b.AsFloat();
            case kString:
                return a.AsString() == b.AsString();
            case kBlob:
                return *a.Pointer<const Blob>() == *b.Pointer<const Blob>();
            case kEnum:
                return a.AsEnum() == b.AsEnum();
            case kCollection: {
                const auto* left = a.Pointer<const CollectionHeader>();
                const auto* right = b.Pointer<const CollectionHeader>();
                if (left->size != right->size) return false;
                for (uint32_t i = 0; i < left->size; ++i) work.emplace_back(&left->elements[i], &right->elements[i]);
                return true;
            }
            case kStructure: {
                if (a.Size() != b.Size()) return false;
                auto r = b.Members().begin();
                for (auto l = a.Members().begin(), end = a.Members().end(); l != end; ++l, ++r) {
                    if (l.Name() != r.Name()) return false;
                    work.emplace_back(&l.Value(), &r.Value());
                }
                return true;
            }
            default:
                return a.payload_ == b.payload_;
        }
    }
};

// ------------------------------------------------------------ construction

BindingProperty::BindingProperty(const BindingProperty& other) {
    if (Operations::NeedsArena(other)) Operations::EnsureArena(*this);
    try {
        Operations::CopyTree(*this, other);
    } catch (...) {
        Clear();
        if (arena_ != nullptr) DeleteArena(arena_);
        throw;
    }
}

BindingProperty::BindingProperty(BindingProperty&& other) noexcept {
    if (other.ownsArena_ != 0) {
        payload_ = other.payload_;
        arena_ = other.arena_;
        kind_ = other.kind_;
        other.payload_ = 0;
        other.arena_ = nullptr;
        other.kind_ = kEmpty;
        return;
    }
    if (Operations::NeedsArena(other)) Operations::EnsureArena(*this);
    Operations::CopyTree(*this, other);
    other.Clear();
}

BindingProperty& BindingProperty::operator=(const BindingProperty& other) {
    if (this != &other) Operations::Assign(*this, other, [] {});
    return *this;
}

BindingProperty& BindingProperty::operator=(BindingProperty&& other) noexcept {
    if (this == &other) return *this;
    if (ownsArena_ != 0 && other.ownsArena_ != 0) {
        std::swap(payload_, other.payload_);
        std::swap(arena_, other.arena_);
        std::swap(kind_, other.kind_);
        other.Clear();
        return *this;
    }
    // The source is cleared before this property's old payload goes, since
    // the source may lie inside it; if this property lies inside the source,
    // clearing it would destroy the copy, so the source is kept.
    const bool sourceHoldsThis = arena_ != nullptr && arena_ == other.arena_ &&
                                 Operations::IsContainer(other) && Operations::Holds(other, this);
    Operations::Assign(*this, other, [&] {
        if (!sourceHoldsThis) other.Clear();
    });
    return *this;
}

void BindingProperty::DeleteArena(PropertyArena* arena) noexcept { delete arena; }

void BindingProperty::ReleasePayload() noexcept {
    if (kind_ == kCollection || kind_ == kStructure) {
        Operations::ReleaseTree(*this);
        return;
    }
    Operations::ReleaseLeaf(*this);
    kind_ = kEmpty;
    payload_ = 0;
}

// ----------------------------------------------------------------- setters

void BindingProperty::SetString(std::string_view text) {
    InternedString* entry;
    if (text.empty()) {
        entry = const_cast<InternedString*>(detail::EmptyInternedString());
    } else {
        entry = Operations::EnsureArena(*this).Intern(text);
    }
    Clear();
    payload_ = Operations::Payload(entry);
    kind_ = kString;
}

void BindingProperty::SetBlob(std::span<const uint8_t> bytes) {
    PropertyArena& arena = Operations::EnsureArena(*this);
    void* cell = arena.Allocate(sizeof(Blob));
    try {
        new (cell) Blob(bytes.begin(), bytes.end());
    } catch (...) {
        arena.Release(cell, sizeof(Blob));
        throw;
    }
    Clear();
    payload_ = Operations::Payload(cell);
    kind_ = kBlob;
}

void BindingProperty::SetBlob(Blob&& bytes) {
    PropertyArena& arena = Operations::EnsureArena(*this);
    void* cell = arena.Allocate(sizeof(Blob));
    new (cell) Blob(std::move(bytes));
    bytes.clear();
    Clear();
    payload_ = Operations::Payload(cell);
    kind_ = kBlob;
}

void BindingProperty::SetEnum(int32_t number, uint32_t typeHash) {
    void* cell = Operations::EnsureArena(*this).Allocate(sizeof(BindingEnumValue));
    new (cell) BindingEnumValue{number, typeHash};
    Clear();
    payload_ = Operations::Payload(cell);
    kind_ = kEnum;
}

void BindingProperty::SetCollection() {
    CollectionHeader* header = Operations::NewCollection(Operations::EnsureArena(*this), 0);
    Clear();
    payload_ = Operations::Payload(header);
    kind_ = kCollection;
}

void BindingProperty::SetStructure() {
    StructureHeader* header = Operations::NewStructure(Operations::EnsureArena(*this), 0);
    Clear();
    payload_ = Operations::Payload(header);
    kind_ = kStructure;
}

// ----------------------------------------------------------------- reading

size_t BindingProperty::Size() const noexcept {
    switch (kind_) {
        case kEmpty:
            return 0;
        case kString:
            return StringEntry()->length;
        case kBlob:
            return Pointer<const Blob>()->size();
        case kCollection:
            return Pointer<const CollectionHeader>()->size;
        case kStructure:
            return Pointer<const StructureHeader>()->size;
        default:
            return kind_ < kBindingPropertyKindCount ? 1 : 0;
    }
}

bool BindingProperty::IsEmpty() const noexcept {
    switch (Kind()) {
        case BindingPropertyKind::Empty:
            return true;
        case BindingPropertyKind::Bool:
        case BindingPropertyKind::Signed:
        case BindingPropertyKind::Unsigned:
            return payload_ == 0;
        case BindingPropertyKind::Float:
            return AsFloat() == 0.0;
        case BindingPropertyKind::Enum:
            return AsEnum().number == 0;
        case BindingPropertyKind::String:
        case BindingPropertyKind::Blob:
        case BindingPropertyKind::Collection:
        case BindingPropertyKind::Structure:
            return Size() == 0;
    }
    return true;
}

const BindingProperty& BindingProperty::Null() noexcept { return nullProperty; }

// ------------------------------------------------------------- collections

const BindingProperty& BindingProperty::At(size_t index) const noexcept {
    if (kind_ != kCollection) return nullProperty;
    const auto* header = Pointer<const CollectionHeader>();
    return index < header->size ? header->elements[index] : nullProperty;
}

BindingProperty& BindingProperty::Element(size_t index) {
    CollectionHeader* header = Operations::MakeCollection(*this);
    if (index < header->size) return header->elements[index];
    if (index == SIZE_MAX || !Operations::Grow(*header, index + 1, false)) Memory::ThrowBadAlloc();
    while (header->size <= index) {
        new (&header->elements[header->size]) BindingProperty(detail::ChildTag{}, arena_);
        ++header->size;
    }
    return header->elements[index];
}

BindingProperty& BindingProperty::Append() {
    CollectionHeader* header = Operations::MakeCollection(*this);
    if (!Operations::Grow(*header, size_t{header->size} + 1, false)) Memory::ThrowBadAlloc();
    BindingProperty* element = new (&header->elements[header->size]) BindingProperty(detail::ChildTag{}, arena_);
    ++header->size;
    return *element;
}

void BindingProperty::Reserve(size_t count) noexcept {
    if (kind_ != kCollection) return;
    Operations::Grow(*Pointer<CollectionHeader>(), count, true);
}

std::span<const BindingProperty> BindingProperty::Elements() const noexcept {
    if (kind_ != kCollection) return {};
    const auto* header = Pointer<const CollectionHeader>();
    return {header->elements, header->size};
}

std::span<BindingProperty> BindingProperty::Elements() noexcept {
    if (kind_ != kCollection) return {};
    auto* header = Pointer<CollectionHeader>();
    return {header->elements, header->size};
}

// -------------------------------------------------------------- structures

const BindingProperty& BindingProperty::Get(std::string_view name) const noexcept {
    if (kind_ != kStructure) return nullProperty;
    const MemberCell* found = FindMember(*Pointer<const StructureHeader>(), name);
    return found != nullptr ? found->value : nullProperty;
}

bool BindingProperty::Contains(std::string_view name) const noexcept {
    return kind_ == kStructure && FindMember(*Pointer<const StructureHeader>(), name) != nullptr;
}

BindingProperty& BindingProperty::Member(std::string_view name) {
    StructureHeader* header = Operations::MakeStructure(*this);
    const MemberSearch search = SearchMember(*header, name);
    if (search.found != nullptr) return search.found->value;
    return Operations::InsertMember(*this, *header, name, search);
}

// -------------------------------------------------------------- comparison

bool operator==(const BindingProperty& a, const BindingProperty& b) {
    BindingProperty::Operations::CompareWork work;
    if (!BindingProperty::Operations::EqualNode(a, b, work)) return false;
    while (!work.empty()) {
        auto [left, right] = work.back();
        work.pop_back();
        if (!BindingProperty::Operations::EqualNode(*left, *right, work)) return false;
    }
    return true;
}

// ----------------------------------------------------------- BindingResult

BindingResult BindingResult::Failure(std::string_view message) {
    BindingResult result;
    result.Fail(message);
    return result;
}

void BindingResult::Fail(std::string_view message) {
    if (success_ == 0) return;
    // Built aside first: message may be text of this very result.
    BindingProperty failure;
    failure.Member("error").SetString(message);
    value_ = std::move(failure);
    success_ = 0;
}

std::string_view BindingResult::ErrorMessage() const noexcept {
    if (success_ != 0) return {};
    return value_.Get("error").AsString();
}

}  // namespace Korvo
