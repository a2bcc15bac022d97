#include "sdk/values/property_arena.h"

#include <cassert>
#include <new>

#include "sdk/allocation/allocation.h"

namespace Korvo {

namespace detail {

namespace {

// The shared empty entry with its one byte of text, laid out as an interned
// entry is.
struct EmptyEntry {
    InternedString header;
    char text[1];
};
static_assert(offsetof(EmptyEntry, text) == sizeof(InternedString));

constinit EmptyEntry emptyEntry{{nullptr, kFnvOffsetBasis, 0, 0}, {'\0'}};

}  // namespace

const InternedString* EmptyInternedString() noexcept { return &emptyEntry.header; }

}  // namespace detail

using detail::InternedString;

namespace {

// Cells start after the header, at a whole number of cells.
constexpr size_t FirstCellIndex(size_t cellSize) noexcept {
    return (sizeof(PropertyArena::PageHeader) + cellSize - 1) / cellSize;
}

static_assert(PropertyArena::kInlinePageBytes / PropertyArena::kMaxCellSize - 1 >=
                  FirstCellIndex(PropertyArena::kMaxCellSize),
              "every inline page holds at least one cell");

// An entry's bytes: header, text, NUL.
constexpr size_t EntryBytes(size_t length) noexcept { return sizeof(InternedString) + length + 1; }
// In the arena's string area: rounded up to 8, so that every header's
// pointer is aligned.
constexpr size_t AreaEntryBytes(size_t length) noexcept { return (EntryBytes(length) + 7) & ~size_t{7}; }
static_assert(alignof(InternedString) <= 8);
// The tree builder reads a name's first eight bytes in one load: every
// entry but the shared empty one has at least that many after its header.
static_assert(AreaEntryBytes(1) - sizeof(InternedString) >= 8);
// Short texts beyond the string area take a slab cell (a multiple of 8
// bytes, so the header is aligned) instead of a heap block: no allocation
// call and no heap overhead for the names and words most trees repeat.
constexpr bool IsCellEntry(size_t length) noexcept { return AreaEntryBytes(length) <= PropertyArena::kMaxCellSize; }

}  // namespace

PropertyArena::PropertyArena() noexcept = default;

PropertyArena::~PropertyArena() {
    assert(cellsInUse_ == 0 && "every cell of a tree comes back before its arena goes");
    assert(blocks_ == nullptr && "every heap block of a tree comes back before its arena goes");
    for (BlockLink* link = blocks_; link != nullptr;) {
        BlockLink* next = link->next;
        Memory::Free(link);
        link = next;
    }
    assert(internedCount_ == 0 && "every interned string is released before its arena goes");
    // Release builds: strings that were never released still go with the
    // arena, so nothing leaks from the heap's point of view.
    for (uint32_t i = 0; i < bucketCount_; ++i) {
        for (InternedString* entry = buckets_[i]; entry != nullptr;) {
            InternedString* next = entry->next;
            FreeEntry(entry);
            entry = next;
        }
    }
    if (buckets_ != inlineBuckets_) Memory::Free(buckets_);
    // The inline pages go back to the heap with the arena; leave them
    // without sanitizer marks.
    for (SlabClass& slab : slabs_) KORVO_UNPOISON(slab.inlinePage, kInlinePageBytes);
    KORVO_UNPOISON(inlineStrings_, kInlineStringBytes);
}

void PropertyArena::FormatPage(PageHeader* page, size_t pageSize, size_t cellSize) noexcept {
    const size_t first = FirstCellIndex(cellSize);
    const size_t last = pageSize / cellSize - 1;
    page->next = nullptr;
    page->previous = nullptr;
    page->pageSize = static_cast<uint16_t>(pageSize);
    page->cellsInUse = 0;
    page->firstFree = static_cast<uint16_t>(first);
    page->untouched = static_cast<uint16_t>(first);
    auto* base = reinterpret_cast<unsigned char*>(page);
    KORVO_POISON(base + first * cellSize, (last + 1 - first) * cellSize);
}

PropertyArena::PageHeader* PropertyArena::RefillSlow(size_t slabClass) {
    SlabClass& slab = slabs_[slabClass];
    const uint32_t inlineBit = uint32_t{1} << slabClass;
    if ((inlinePagesFormatted_ & inlineBit) == 0) {
        // The class's first cells come from its inline page.
        auto* page = reinterpret_cast<PageHeader*>(slab.inlinePage);
        FormatPage(page, kInlinePageBytes, CellSizeOf(slabClass));
        slab.current = page;
        inlinePagesFormatted_ |= inlineBit;
        return page;
    }
    void* memory = PagePool::Instance().TakePage();
    if (memory == nullptr) Memory::ThrowBadAlloc();
    auto* page = static_cast<PageHeader*>(memory);
    FormatPage(page, kPageSize, CellSizeOf(slabClass));
    page->heldNext = heldPages_;
    page->heldPrevious = nullptr;
    if (heldPages_ != nullptr) heldPages_->heldPrevious = page;
    heldPages_ = page;
    slab.current = page;
    ++pagesHeld_;
    return page;
}

void PropertyArena::ReturnPageSlow(SlabClass& slab, PageHeader* page) noexcept {
    if (page->previous != nullptr) page->previous->next = page->next;
    else slab.current = page->next;
    if (page->next != nullptr) page->next->previous = page->previous;
    if (page->heldPrevious != nullptr) page->heldPrevious->heldNext = page->heldNext;
    else heldPages_ = page->heldNext;
    if (page->heldNext != nullptr) page->heldNext->heldPrevious = page->heldPrevious;
    --pagesHeld_;
    PagePool::Instance().ReturnPage(page);
}

void* PropertyArena::AllocateBlock(size_t size) noexcept {
    if (size > SIZE_MAX - sizeof(BlockLink)) return nullptr;
    auto* link = static_cast<BlockLink*>(Memory::Allocate(size + sizeof(BlockLink)));
    if (link == nullptr) return nullptr;
    link->previous = nullptr;
    link->next = blocks_;
    if (blocks_ != nullptr) blocks_->previous = link;
    blocks_ = link;
    return link + 1;
}

void* PropertyArena::ReallocateBlock(void* block, size_t size) noexcept {
    if (block == nullptr) return AllocateBlock(size);
    if (size > SIZE_MAX - sizeof(BlockLink)) return nullptr;
    auto* moved = static_cast<BlockLink*>(Memory::Reallocate(static_cast<BlockLink*>(block) - 1, size + sizeof(BlockLink)));
    if (moved == nullptr) return nullptr;
    // The links of its neighbours follow it to its new address.
    if (moved->previous != nullptr) {
        moved->previous->next = moved;
    } else {
        blocks_ = moved;
    }
    if (moved->next != nullptr) moved->next->previous = moved;
    return moved + 1;
}

void PropertyArena::FreeBlock(void* block) noexcept {
    if (block == nullptr) return;
    auto* link = static_cast<BlockLink*>(block) - 1;
    if (link->previous != nullptr) {
        link->previous->next = link->next;
    } else {
        blocks_ = link->next;
    }
    if (link->next != nullptr) link->next->previous = link->previous;
    Memory::Free(link);
}

void PropertyArena::ReleaseEverything() noexcept {
    for (BlockLink* link = blocks_; link != nullptr;) {
        BlockLink* next = link->next;
        Memory::Free(link);
        link = next;
    }
    blocks_ = nullptr;
    blobs_ = 0;
    // Strings first: the heap entries are freed, the others live in pages
    // and in the arena itself.
    const auto area = reinterpret_cast<uintptr_t>(inlineStrings_);
    for (uint32_t i = 0; i < bucketCount_; ++i) {
        for (InternedString* entry = buckets_[i]; entry != nullptr;) {
            InternedString* next = entry->next;
            const auto address = reinterpret_cast<uintptr_t>(entry);
            const bool inArea = address >= area && address < area + kInlineStringBytes;
            if (!inArea && !IsCellEntry(entry->length)) Memory::Free(entry);
            entry = next;
        }
        buckets_[i] = nullptr;
    }
    internedCount_ = 0;
    KORVO_POISON(inlineStrings_, kInlineStringBytes);
    inlineStringsUsed_ = 0;
    inlineStringsLive_ = 0;
    constexpr size_t kBatch = 64;
    void* pages[kBatch];
    size_t count = 0;
    for (PageHeader* page = heldPages_; page != nullptr;) {
        PageHeader* next = page->heldNext;  // read before the page goes back
        pages[count++] = page;
        if (count == kBatch) {
            PagePool::Instance().ReturnPages(pages, count);
            count = 0;
        }
        page = next;
    }
    PagePool::Instance().ReturnPages(pages, count);
    heldPages_ = nullptr;
    pagesHeld_ = 0;
    // The inline pages are formatted afresh on their next use.
    for (SlabClass& slab : slabs_) slab.current = nullptr;
    inlinePagesFormatted_ = 0;
    cellsInUse_ = 0;
}

InternedString* PropertyArena::Intern(std::string_view text, uint32_t hash) {
    if (text.empty()) return const_cast<InternedString*>(detail::EmptyInternedString());
    if (buckets_ == nullptr) {
        buckets_ = inlineBuckets_;
        for (uint32_t i = 0; i < kInitialBuckets; ++i) buckets_[i] = nullptr;
        bucketCount_ = kInitialBuckets;
    }
    InternedString*& bucket = buckets_[hash & (bucketCount_ - 1)];
    for (InternedString* entry = bucket; entry != nullptr; entry = entry->next) {
        if (entry->hash == hash && entry->View() == text) {
            ++entry->refCount;
            return entry;
        }
    }
    if (text.size() > UINT32_MAX || text.size() > SIZE_MAX - sizeof(InternedString) - 1) Memory::ThrowBadAlloc();
    InternedString* entry;
    if (text.size() < kInlineStringBytes &&
        AreaEntryBytes(text.size()) <= kInlineStringBytes - inlineStringsUsed_) {
        unsigned char* place = inlineStrings_ + inlineStringsUsed_;
        KORVO_UNPOISON(place, AreaEntryBytes(text.size()));
        inlineStringsUsed_ += static_cast<uint32_t>(AreaEntryBytes(text.size()));
        ++inlineStringsLive_;
        entry = reinterpret_cast<InternedString*>(place);
    } else if (IsCellEntry(text.size())) {
        entry = static_cast<InternedString*>(Allocate(AreaEntryBytes(text.size())));
    } else {
        entry = static_cast<InternedString*>(Memory::Allocate(EntryBytes(text.size())));
        if (entry == nullptr) Memory::ThrowBadAlloc();
    }
    entry->next = bucket;
    entry->hash = hash;
    entry->refCount = 1;
    entry->length = static_cast<uint32_t>(text.size());
    char* copy = reinterpret_cast<char*>(entry + 1);
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    bucket = entry;
    ++internedCount_;
    if (internedCount_ > bucketCount_) GrowTable();
    return entry;
}

void PropertyArena::GrowTable() noexcept {
    if (bucketCount_ > UINT32_MAX / 2) return;
    const uint32_t count = bucketCount_ * 2;
    auto* grown = static_cast<InternedString**>(Memory::Allocate(size_t{count} * sizeof(InternedString*)));
    if (grown == nullptr) return;  // longer chains, still correct
    for (uint32_t i = 0; i < count; ++i) grown[i] = nullptr;
    for (uint32_t i = 0; i < bucketCount_; ++i) {
        for (InternedString* entry = buckets_[i]; entry != nullptr;) {
            InternedString* next = entry->next;
            InternedString*& bucket = grown[entry->hash & (count - 1)];
            entry->next = bucket;
            bucket = entry;
            entry = next;
        }
    }
    if (buckets_ != inlineBuckets_) Memory::Free(buckets_);
    buckets_ = grown;
    bucketCount_ = count;
}

void PropertyArena::FreeEntry(InternedString* entry) noexcept {
    const auto address = reinterpret_cast<uintptr_t>(entry);
    const auto area = reinterpret_cast<uintptr_t>(inlineStrings_);
    if (address < area || address >= area + kInlineStringBytes) {
        if (IsCellEntry(entry->length)) {
            Release(entry, AreaEntryBytes(entry->length));
        } else {
            Memory::Free(entry);
        }
        return;
    }
    KORVO_POISON(entry, AreaEntryBytes(entry->length));
    if (--inlineStringsLive_ == 0) inlineStringsUsed_ = 0;
}

void PropertyArena::ReleaseString(const InternedString* constEntry) noexcept {
    if (constEntry->refCount == 0) return;  // the shared empty entry
    auto* entry = const_cast<InternedString*>(constEntry);
    if (--entry->refCount != 0) return;
    InternedString** link = &buckets_[entry->hash & (bucketCount_ - 1)];
    while (*link != entry) link = &(*link)->next;
    *link = entry->next;
    --internedCount_;
    FreeEntry(entry);
}

uint32_t PropertyArena::InternedReferences(std::string_view text) const noexcept {
    if (buckets_ == nullptr || text.empty()) return 0;
    const uint32_t hash = InternHash(text);
    for (InternedString* entry = buckets_[hash & (bucketCount_ - 1)]; entry != nullptr; entry = entry->next) {
        if (entry->hash == hash && entry->View() == text) return entry->refCount;
    }
    return 0;
}

}  // namespace Korvo
