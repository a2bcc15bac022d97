#include "sdk/values/property.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "sdk/allocation/allocation.h"
#include "sdk/values/property_operations.h"

namespace Korvo {

namespace {

constexpr const char* kKindNames[kBindingPropertyKindCount] = {
    "empty", "bool", "signed", "unsigned", "float", "string", "blob", "enum", "collection", "structure",
};

constinit const BindingProperty nullProperty;

}  // namespace

// Read only: a write through it would be a fault, and lands on a read-only page.
constinit const BindingProperty::CollectionHeader BindingProperty::Operations::kEmptyCollection{0, 0};

const char* BindingPropertyKindName(BindingPropertyKind kind) noexcept {
    auto code = static_cast<uint8_t>(kind);
    return code < kBindingPropertyKindCount ? kKindNames[code] : "";
}

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

void BindingProperty::ReleaseWithArena() noexcept {
    if (kind_ == kCollection || kind_ == kStructure) {
        if (arena_->BlobCount() != 0) Operations::DestroyBlobs(*this);
        kind_ = kEmpty;
        payload_ = 0;
        arena_->ReleaseEverything();
    } else if (HasHeapPayload()) {
        ReleasePayload();
    }
    DeleteArena(arena_);
}

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
    arena.CountBlob(1);
    Clear();
    payload_ = Operations::Payload(cell);
    kind_ = kBlob;
}

void BindingProperty::SetBlob(Blob&& bytes) {
    PropertyArena& arena = Operations::EnsureArena(*this);
    void* cell = arena.Allocate(sizeof(Blob));
    new (cell) Blob(std::move(bytes));
    bytes.clear();
    arena.CountBlob(1);
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
    return index < header->size ? header->Elements()[index] : nullProperty;
}

BindingProperty& BindingProperty::Element(size_t index) {
    CollectionHeader* header = Operations::MakeCollection(*this);
    if (index < header->size) return header->Elements()[index];
    if (index == SIZE_MAX) Memory::ThrowBadAlloc();
    header = Operations::Grow(*this, index + 1, false);
    if (header == nullptr) Memory::ThrowBadAlloc();
    while (header->size <= index) {
        new (&header->Elements()[header->size]) BindingProperty(detail::ChildTag{}, arena_);
        ++header->size;
    }
    return header->Elements()[index];
}

BindingProperty& BindingProperty::Append() {
    CollectionHeader* header = Operations::MakeCollection(*this);
    header = Operations::Grow(*this, size_t{header->size} + 1, false);
    if (header == nullptr) Memory::ThrowBadAlloc();
    BindingProperty* element = new (&header->Elements()[header->size]) BindingProperty(detail::ChildTag{}, arena_);
    ++header->size;
    return *element;
}

void BindingProperty::Reserve(size_t count) noexcept {
    if (kind_ != kCollection) return;
    Operations::Grow(*this, count, true);
}

std::span<const BindingProperty> BindingProperty::Elements() const noexcept {
    if (kind_ != kCollection) return {};
    const auto* header = Pointer<const CollectionHeader>();
    return {header->Elements(), header->size};
}

std::span<BindingProperty> BindingProperty::Elements() noexcept {
    if (kind_ != kCollection) return {};
    auto* header = Pointer<CollectionHeader>();
    return {header->Elements(), header->size};
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
    return Operations::InsertMember(*this, name, search);
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
