#include "sdk/values/property_builder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "sdk/allocation/allocation.h"
#include "sdk/values/property_operations.h"

namespace Korvo {
namespace {

// A structure collects this many members on the stack, each name checked
// against the ones before it; a larger one is made a real structure at that
// point and takes the rest through its index, so no object costs more than
// this many comparisons a member.
constexpr size_t kCollectedMembers = 64;
// Value slots the stack starts with.
constexpr uint32_t kFirstValueCapacity = 64;
// Structures of two or more members that close before the builder keeps
// their shapes: a small document has little to repeat and would only pay
// for the table.
constexpr uint32_t kStructuresBeforeShapes = 8;
// Members up to this many are ordered by insertion, beyond by std::sort.
constexpr size_t kInsertionSortMembers = 16;

// The first eight bytes of a name, big-endian, zero-padded: comparing these
// orders most names without touching their text again. An entry's text is
// followed by its NUL and padding to at least eight bytes (entries are
// rounded up to 8, and those on the heap are longer), so one load reads
// them; only the shared empty entry is shorter.
uint64_t NamePrefix(const InternedString* entry) noexcept {
    if (entry->length == 0) return 0;
    uint64_t word;
    std::memcpy(&word, entry->Text(), sizeof word);
    if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
    return entry->length >= 8 ? word : word & ~(~uint64_t{0} >> (8 * entry->length));
}

}  // namespace

PropertyBuilder::PropertyBuilder(BindingProperty& root)
    : root_(&root), values_(reinterpret_cast<BindingProperty*>(inlineValues_)) {}

PropertyBuilder::~PropertyBuilder() {
    ReleaseStack();
    if (values_ != reinterpret_cast<BindingProperty*>(inlineValues_)) Memory::Free(values_);
    if (shapes_ != nullptr) {
        for (size_t slot = 0; slot < kShapeSlots; ++slot) {
            for (uint32_t i = 0; i < shapes_[slot].count; ++i) arena_->ReleaseString(shapes_[slot].names[i]);
        }
        Memory::Free(shapes_);
    }
}

void PropertyBuilder::ReleaseStack() noexcept {
    for (uint32_t i = 0; i < valueCount_; ++i) values_[i].Clear();
    valueCount_ = 0;
    for (InternedString* entry : names_) arena_->ReleaseString(entry);
    names_.clear();
}

PropertyArena& PropertyBuilder::MakeArena() {
    arena_ = &BindingProperty::Operations::EnsureArena(*root_);
    return *arena_;
}

void PropertyBuilder::GrowValues() {
    if (valueCapacity_ > UINT32_MAX / 2 || size_t{valueCapacity_} * 2 > SIZE_MAX / sizeof(BindingProperty)) {
        Memory::ThrowBadAlloc();
    }
    const uint32_t capacity = std::max(kFirstValueCapacity, valueCapacity_ * 2);
    const size_t bytes = size_t{capacity} * sizeof(BindingProperty);
    void* grown;
    if (values_ == reinterpret_cast<BindingProperty*>(inlineValues_)) {
        grown = Memory::Allocate(bytes);
        if (grown != nullptr) std::memcpy(grown, inlineValues_, valueCount_ * sizeof(BindingProperty));
    } else {
        grown = Memory::Reallocate(values_, bytes);
    }
    if (grown == nullptr) Memory::ThrowBadAlloc();
    values_ = static_cast<BindingProperty*>(grown);
    valueCapacity_ = capacity;
}

uint32_t PropertyBuilder::PushValue() {
    if (valueCount_ == valueCapacity_) GrowValues();
    new (&values_[valueCount_]) BindingProperty(detail::ChildTag{}, arena_);
    return valueCount_++;
}

PropertyBuilder::Spot PropertyBuilder::NextPlace() {
    if (open_.empty()) return {root_, kNoSlot};
    const Frame& top = open_.back();
    if (!top.isCollection) {
        // A value without a Key goes under the empty name.
        if (keyed_.pointer == nullptr && keyed_.slot == kNoSlot) Key({});
        const Spot spot = keyed_;
        keyed_ = {nullptr, kNoSlot};
        return spot;
    }
    if (top.direct) return {&Resolve(top.at).Append(), kNoSlot};
    return {nullptr, PushValue()};
}

void PropertyBuilder::Null() { (void)NextPlace(); }

size_t PropertyBuilder::Open(bool isCollection) {
    Arena();
    const Spot at = NextSpot();
    BindingProperty& target = Resolve(at);
    const BindingPropertyKind kind = isCollection ? BindingPropertyKind::Collection : BindingPropertyKind::Structure;
    // A container already there keeps what it holds (a repeated name's
    // array appends, its object adds), so new children go straight into it.
    const bool keep = target.Is(kind) && target.Size() != 0;
    if (inPlace_ && !target.Is(kind)) {
        if (isCollection) {
            target.SetCollection();
        } else {
            target.SetStructure();
        }
    }
    open_.push_back({at, valueCount_, static_cast<uint32_t>(names_.size()), isCollection, keep || inPlace_, {0, 0}});
    return keep ? Resolve(at).Size() : 0;
}

void PropertyBuilder::Key(std::string_view name) {
    if (open_.empty() || open_.back().isCollection) return;
    Frame& top = open_.back();
    if (top.direct) {
        keyed_ = {&Resolve(top.at).Member(name), kNoSlot};
        return;
    }
    InternedString* entry = arena_->Intern(name);
    const uint32_t bit = entry->hash >> 25;
    uint64_t& seen = top.seen[bit >> 6];
    const uint64_t mask = uint64_t{1} << (bit & 63);
    InternedString** const first = names_.begin() + top.firstName;
    if ((seen & mask) != 0) {
        // Interned names are equal exactly when their entries are: a
        // repeated name is found among the members so far by pointer.
        const auto found = std::find(first, names_.end(), entry);
        if (found != names_.end()) {
            arena_->ReleaseString(entry);
            keyed_ = {nullptr, top.firstValue + static_cast<uint32_t>(found - first)};
            return;
        }
    }
    if (static_cast<size_t>(names_.end() - first) >= kCollectedMembers) {
        arena_->ReleaseString(entry);
        Build(top, nullptr);
        top.direct = true;
        keyed_ = {&Resolve(top.at).Member(name), kNoSlot};
        return;
    }
    uint32_t slot;
    try {
        names_.push_back(entry);
        try {
            slot = PushValue();
        } catch (...) {
            names_.pop_back();
            throw;
        }
    } catch (...) {
        arena_->ReleaseString(entry);
        throw;
    }
    seen |= mask;
    keyed_ = {nullptr, slot};
}

void PropertyBuilder::End() {
    if (open_.empty()) return;
    Frame& top = open_.back();
    if (top.direct) {
    } else if (top.isCollection) {
        BuildCollection(top, nullptr);
    } else {
        BuildStructure(top, nullptr);
    }
    open_.pop_back();
}

void PropertyBuilder::Finish() {
    while (!open_.empty()) End();
}

void PropertyBuilder::BuildInPlace() {
    // Innermost first: each container's children are then the top of the
    // stacks, and the container it sits in moves it into the tree next.
    for (size_t level = open_.size(); level-- != 0;) {
        Frame& frame = open_[level];
        Spot* moved = level + 1 < open_.size() ? &open_[level + 1].at : &keyed_;
        if (!frame.direct) {
            Build(frame, moved);
            frame.direct = true;
        }
    }
    inPlace_ = true;
}

void PropertyBuilder::Build(const Frame& frame, Spot* moved) {
    if (frame.isCollection) {
        BuildCollection(frame, moved);
    } else {
        BuildStructure(frame, moved);
    }
}

void PropertyBuilder::BuildCollection(const Frame& frame, Spot* moved) {
    using Operations = BindingProperty::Operations;
    const uint32_t first = frame.firstValue;
    const uint32_t count = valueCount_ - first;
    if (count == 0) {
        BindingProperty& target = Resolve(frame.at);
        target.Clear();
        target.payload_ = Operations::Payload(Operations::SharedEmptyCollection());
        target.kind_ = kCollection;
        return;
    }
    BindingProperty::CollectionHeader* header = Operations::NewCollection(*arena_, count);
    BindingProperty* elements = header->Elements();
    const BindingProperty* source = &values_[first];
    if (BindingProperty::CollectionHeader::Bytes(count) <= detail::kMaxCellSize) {
        // Pairs and triples, most arrays: a bounded copy the compiler
        // unrolls, where a copy of any length would be a call.
        constexpr size_t kMost = (detail::kMaxCellSize - sizeof(BindingProperty::CollectionHeader)) / sizeof(BindingProperty);
        for (uint32_t i = 0; i < count && i < kMost; ++i) {
            std::memcpy(static_cast<void*>(&elements[i]), &source[i], sizeof(BindingProperty));
        }
    } else {
        std::memcpy(static_cast<void*>(elements), source, size_t{count} * sizeof(BindingProperty));
    }
    header->size = count;
    if (moved != nullptr && moved->pointer == nullptr && moved->slot != kNoSlot && moved->slot >= first) {
        *moved = {&elements[moved->slot - first], kNoSlot};
    }
    valueCount_ = first;
    BindingProperty& target = Resolve(frame.at);
    target.Clear();
    target.payload_ = Operations::Payload(header);
    target.kind_ = kCollection;
}

void PropertyBuilder::BuildStructure(const Frame& frame, Spot* moved) {
    using Operations = BindingProperty::Operations;
    const uint32_t firstValue = frame.firstValue;
    const size_t firstName = frame.firstName;
    const size_t count = names_.size() - firstName;
    StructureHeader* header = Operations::NewStructure(*arena_, count);
    cells_.clear();
    try {
        cells_.reserve(count);
        order_.reserve(count);
        if (shapes_ == nullptr && count >= 2 && count <= kShapeMembers && ++structuresBuilt_ >= kStructuresBeforeShapes) {
            shapes_ = static_cast<Shape*>(Memory::Allocate(kShapeSlots * sizeof(Shape)));
            if (shapes_ == nullptr) Memory::ThrowBadAlloc();
            for (size_t slot = 0; slot < kShapeSlots; ++slot) {
                shapes_[slot].count = 0;
                shapes_[slot].used = 0;
            }
        }
        for (size_t i = 0; i < count; ++i) cells_.push_back(static_cast<MemberCell*>(arena_->Allocate(sizeof(MemberCell))));
    } catch (...) {
        for (MemberCell* cell : cells_) arena_->Release(cell, sizeof(MemberCell));
        Operations::ReleaseStructureHeader(arena_, header);
        throw;
    }
    // Nothing below throws: the names and values move into their cells.
    for (size_t i = 0; i < count; ++i) {
        MemberCell* cell = cells_[i];
        cell->name = names_[firstName + i];
        std::memcpy(static_cast<void*>(&cell->value), &values_[firstValue + i], sizeof(BindingProperty));
    }
    if (moved != nullptr && moved->pointer == nullptr && moved->slot != kNoSlot && moved->slot >= firstValue) {
        *moved = {&cells_[moved->slot - firstValue]->value, kNoSlot};
    }
    Order(frame, header->Index());
    header->size = static_cast<uint32_t>(count);
    header->sorted = static_cast<uint32_t>(count);
    names_.truncate(firstName);
    valueCount_ = firstValue;
    BindingProperty& target = Resolve(frame.at);
    target.Clear();
    target.payload_ = Operations::Payload(header);
    target.kind_ = kStructure;
}

// Writes cells_ into index in name order. Allocates nothing: BuildStructure
// made room in order_ and the shapes beforehand.
void PropertyBuilder::Order(const Frame& frame, MemberCell** index) {
    const size_t count = names_.size() - frame.firstName;
    InternedString* const* names = names_.data() + frame.firstName;
    if (count < 2) {
        if (count == 1) index[0] = cells_[0];
        return;
    }
    Shape* shape = nullptr;
    if (shapes_ != nullptr && count <= kShapeMembers) {
        // Two slots a shape may take, by the names' hashes rather than their
        // addresses, so which shapes meet depends on the document alone; a
        // new shape takes the one of the two used longer ago.
        const uint32_t key = (names[0]->hash ^ (names[count - 1]->hash * 0x9E3779B1u)) + static_cast<uint32_t>(count);
        const uint32_t mixed = key * 0x9E3779B1u;
        const uint32_t now = ++shapeClock_;
        // Most shapes are a few names: a loop of pointer comparisons beats a
        // call of memcmp.
        const auto matches = [names, count](const Shape& candidate) {
            if (candidate.count != count) return false;
            for (size_t i = 0; i < count; ++i) {
                if (candidate.names[i] != names[i]) return false;
            }
            return true;
        };
        Shape* const first = &shapes_[(mixed >> 28) % kShapeSlots];
        Shape* const second = &shapes_[(mixed >> 24) % kShapeSlots];
        Shape* const found = matches(*first) ? first : matches(*second) ? second : nullptr;
        if (found != nullptr) {
            found->used = now;
            for (size_t i = 0; i < count; ++i) index[i] = cells_[found->order[i]];
            return;
        }
        shape = first->used <= second->used ? first : second;
    }
    order_.clear();
    for (size_t i = 0; i < count; ++i) order_.push_back({NamePrefix(names[i]), static_cast<uint32_t>(i)});
    const auto less = [names](const OrderEntry& a, const OrderEntry& b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        return names[a.position]->View() < names[b.position]->View();
    };
    if (count <= kInsertionSortMembers) {
        for (size_t i = 1; i < count; ++i) {
            const auto entry = order_[i];
            size_t j = i;
            for (; j != 0 && less(entry, order_[j - 1]); --j) order_[j] = order_[j - 1];
            order_[j] = entry;
        }
    } else {
        std::sort(order_.begin(), order_.end(), less);
    }
    for (size_t i = 0; i < count; ++i) index[i] = cells_[order_[i].position];
    if (shape != nullptr) {
        for (uint32_t i = 0; i < shape->count; ++i) arena_->ReleaseString(shape->names[i]);
        for (size_t i = 0; i < count; ++i) {
            arena_->AddReference(names[i]);
            shape->names[i] = names[i];
            shape->order[i] = static_cast<uint8_t>(order_[i].position);
        }
        shape->count = static_cast<uint32_t>(count);
        shape->used = shapeClock_;
    }
}

}  // namespace Korvo
