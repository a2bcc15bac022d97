// sdk/values/property_arena.h - the per-tree store behind BindingProperty:
// fixed-size slabs for payload headers, enum cells, member cells and small
// member indexes, and the tree's interned strings.
//
// Slabs: 18 size classes of 4, 8, ... 72 bytes (a request is rounded up to a
// multiple of 4). Each class owns one 144-byte page inside the arena, so a
// small tree takes no page at all; beyond that it takes 4096-byte pages from
// the process-wide PagePool and gives each back as soon as its last cell is
// released. Every page starts with a PageHeader; a free cell holds, in its
// first two bytes, the index of the next free cell of its page (0 ends the
// chain), as a recycler keeps its free list inside the freed objects.
//
// Strings: a hash set of {text, FNV-1a hash, reference count} entries. Empty
// text is never interned: it is the one shared, process-wide, never-counted
// entry of detail::EmptyInternedString(). Entries (header, text and NUL,
// rounded up to 8 bytes) are taken one after the other from a small area in
// the arena itself while it has room, which is reused once every entry taken
// from it has been released; other entries are slab cells when they fit one
// and heap blocks beyond. The first table
// of buckets lives in the arena too; grown tables are heap blocks. So a small
// tree's strings cost no allocation.
//
// Threads: an arena is not locked; one tree is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "sdk/values/page_pool.h"
#include "sdk/values/poison.h"
#include "sdk/values/property.h"

namespace Korvo {

class PropertyArena {
public:
    static constexpr size_t kCellGranularity = 4;
    static constexpr size_t kSlabClassCount = 18;
    static constexpr size_t kMaxCellSize = kCellGranularity * kSlabClassCount;
    static constexpr size_t kInlinePageBytes = 144;
    static constexpr size_t kPageSize = PagePool::kPageSize;
    static constexpr uint32_t kInitialBuckets = 8;
    static constexpr size_t kInlineStringBytes = 256;
    static_assert(kMaxCellSize == detail::kMaxCellSize);

    // The header at the start of every page, inline or pooled.
    struct PageHeader {
        PageHeader* next;      // next page of the class with free cells
        PageHeader* previous;
        uint16_t pageSize;     // kInlinePageBytes or kPageSize
        uint16_t cellsInUse;
        uint16_t firstFree;    // index of the first free cell; 0 when full
        // Cells from this index on have never been handed out. They count as
        // chained in ascending order without their links being written, so
        // taking a fresh page touches only the cells it uses.
        uint16_t untouched;
        // Every pool page the arena holds, full or not, so that a tree that
        // goes whole gives them back without visiting its cells.
        PageHeader* heldNext;
        PageHeader* heldPrevious;
    };
#if UINTPTR_MAX == 0xFFFFFFFFu
    static_assert(sizeof(PageHeader) == 24);
#endif
    static_assert(sizeof(uint16_t) <= kCellGranularity, "a free cell holds the link to the next one");
    static_assert(kPageSize / kCellGranularity <= UINT16_MAX, "cell indexes fit the link");

    PropertyArena() noexcept;
    // In a debug build, asserts that every cell and string came back.
    ~PropertyArena();
    PropertyArena(const PropertyArena&) = delete;
    PropertyArena& operator=(const PropertyArena&) = delete;

    // A cell of at least size bytes (1..72), aligned to the largest power of
    // two dividing its class size (up to 8). Throws std::bad_alloc when no
    // page can be had.
    void* Allocate(size_t size);
    // Gives back a cell that Allocate(size) returned, with the same size.
    void Release(void* cell, size_t size) noexcept;

    // The entry for text with one more reference; hash must be
    // InternHash(text). Empty text gives the shared entry (not counted).
    // Throws std::bad_alloc.
    detail::InternedString* Intern(std::string_view text, uint32_t hash);
    detail::InternedString* Intern(std::string_view text) { return Intern(text, InternHash(text)); }
    // One more reference to an entry of this arena (or the shared entry).
    void AddReference(detail::InternedString* entry) noexcept {
        if (entry->refCount != 0) ++entry->refCount;
    }
    // One reference less; the entry goes at 0. The shared entry is ignored.
    void ReleaseString(const detail::InternedString* entry) noexcept;

    // Heap blocks of the tree (element arrays and member indexes too large
    // for a cell). Each carries a link in front of it, so that the arena can
    // free them all without visiting the tree. Null when memory runs out
    // (a block to reallocate is then unchanged).
    void* AllocateBlock(size_t size) noexcept;
    void* ReallocateBlock(void* block, size_t size) noexcept;
    void FreeBlock(void* block) noexcept;

    // Blobs in the tree: their bytes are the one thing a tree keeps outside
    // the arena and its blocks.
    void CountBlob(int change) noexcept { blobs_ += static_cast<size_t>(change); }
    size_t BlobCount() const noexcept { return blobs_; }

    // Everything at once, for a tree that goes whole with its arena: every
    // pool page goes back and every heap block and string entry is freed,
    // without the tree's cells being visited. Its blobs must be destroyed
    // first. The arena is then empty, as if everything had come back.
    void ReleaseEverything() noexcept;

    // ---- counters, for tests and diagnostics
    // Distinct interned texts.
    size_t InternedCount() const noexcept { return internedCount_; }
    // References to text (0 when it is not interned here).
    uint32_t InternedReferences(std::string_view text) const noexcept;
    // Cells handed out and not yet released, over all classes.
    size_t CellsInUse() const noexcept { return cellsInUse_; }
    // Pool pages this arena holds now.
    size_t PagesHeld() const noexcept { return pagesHeld_; }

private:
    struct SlabClass {
        PageHeader* current = nullptr;  // first page with free cells
        alignas(detail::kMaxCellAlignment) unsigned char inlinePage[kInlinePageBytes];
    };

    static constexpr size_t ClassOf(size_t size) noexcept {
        return size <= kCellGranularity ? 0 : (size + kCellGranularity - 1) / kCellGranularity - 1;
    }
    static constexpr size_t CellSizeOf(size_t slabClass) noexcept { return (slabClass + 1) * kCellGranularity; }
    static uint16_t LoadLink(const unsigned char* cell) noexcept {
        uint16_t link;
        std::memcpy(&link, cell, sizeof link);
        return link;
    }
    static void StoreLink(unsigned char* cell, uint16_t link) noexcept { std::memcpy(cell, &link, sizeof link); }
    static void FormatPage(PageHeader* page, size_t pageSize, size_t cellSize) noexcept;

    PageHeader* RefillSlow(size_t slabClass);
    void ReturnPageSlow(SlabClass& slab, PageHeader* page) noexcept;
    void GrowTable() noexcept;
    void FreeEntry(detail::InternedString* entry) noexcept;

    SlabClass slabs_[kSlabClassCount];
    // Bit c: the inline page of class c is formatted (done on the class's
    // first allocation, so a small tree formats only the classes it uses).
    uint32_t inlinePagesFormatted_ = 0;
    static_assert(kSlabClassCount <= 32, "one bit per class");
    size_t cellsInUse_ = 0;
    size_t pagesHeld_ = 0;
    PageHeader* heldPages_ = nullptr;
    struct alignas(detail::kMaxCellAlignment) BlockLink {
        BlockLink* next;
        BlockLink* previous;
    };
    BlockLink* blocks_ = nullptr;
    size_t blobs_ = 0;

    detail::InternedString** buckets_ = nullptr;  // inlineBuckets_ or a heap block
    uint32_t bucketCount_ = 0;
    detail::InternedString* inlineBuckets_[kInitialBuckets];
    // The area for the first entries: bytes taken, and entries in it not yet
    // released (at 0 the area starts over).
    alignas(8) unsigned char inlineStrings_[kInlineStringBytes];
    uint32_t inlineStringsUsed_ = 0;
    uint32_t inlineStringsLive_ = 0;
    size_t internedCount_ = 0;
};

inline void* PropertyArena::Allocate(size_t size) {
    const size_t slabClass = ClassOf(size);
    SlabClass& slab = slabs_[slabClass];
    PageHeader* page = slab.current;
    if (page == nullptr) page = RefillSlow(slabClass);
    const size_t cellSize = CellSizeOf(slabClass);
    const size_t index = page->firstFree;
    unsigned char* cell = reinterpret_cast<unsigned char*>(page) + index * cellSize;
    KORVO_UNPOISON(cell, cellSize);
    if (index < page->untouched) {
        page->firstFree = LoadLink(cell);
    } else {
        // The chain has reached the cells never handed out: its next link is
        // the following cell, or the end after the page's last cell.
        const size_t next = index + 1;
        page->firstFree = (next + 1) * cellSize <= page->pageSize ? static_cast<uint16_t>(next) : 0;
        page->untouched = static_cast<uint16_t>(next);
    }
    ++page->cellsInUse;
    ++cellsInUse_;
    if (page->firstFree == 0) {
        // Full: it leaves the list until a cell comes back.
        slab.current = page->next;
        if (slab.current != nullptr) slab.current->previous = nullptr;
        page->next = nullptr;
    }
    return cell;
}

inline void PropertyArena::Release(void* cellAddress, size_t size) noexcept {
    const size_t slabClass = ClassOf(size);
    SlabClass& slab = slabs_[slabClass];
    const size_t cellSize = CellSizeOf(slabClass);
    auto* cell = static_cast<unsigned char*>(cellAddress);
    PageHeader* page;
    if (cell >= slab.inlinePage && cell < slab.inlinePage + kInlinePageBytes) {
        page = reinterpret_cast<PageHeader*>(slab.inlinePage);
    } else {
        page = reinterpret_cast<PageHeader*>(reinterpret_cast<uintptr_t>(cell) & ~(uintptr_t{kPageSize} - 1));
    }
    if (page->firstFree == 0) {
        // It was full: back at the head of the list.
        page->next = slab.current;
        page->previous = nullptr;
        if (slab.current != nullptr) slab.current->previous = page;
        slab.current = page;
    }
    StoreLink(cell, page->firstFree);
    page->firstFree = static_cast<uint16_t>((cell - reinterpret_cast<unsigned char*>(page)) / cellSize);
    --page->cellsInUse;
    --cellsInUse_;
    KORVO_POISON(cell, cellSize);
    if (page->cellsInUse == 0 && page->pageSize == kPageSize) ReturnPageSlow(slab, page);
}

}  // namespace Korvo
