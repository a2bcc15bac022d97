// sdk/binding/page_pool.h - the process-wide pool of 4096-byte pages behind
// every PropertyArena.
//
// Pages are cut from 64 KiB blocks that the platform layer reserves (aligned
// to 64 KiB, so every page is aligned to 4096). A fresh block hands out its
// 16 pages in ascending address order; a block is released as soon as all
// 16 of its pages are back in the pool. Up to 32 released blocks (2 MiB)
// stay mapped as spares for the next blocks the pool needs, so that a tree
// built and dropped per request does not map a block and fault its pages in
// each time; the rest go back to the system. Statistics count spares as
// released.
//
// Threads: any thread may take and return pages; one mutex covers the
// bookkeeping and is held for a few lines, never while calling out.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sdk/platform/platform.h"

namespace Korvo {

class PagePool {
public:
    static constexpr size_t kPageSize = 4096;
    static constexpr size_t kPagesPerBlock = Platform::kBlockSize / kPageSize;
    static_assert(kPagesPerBlock == 16);

    // The one pool of the process, created on first use and never destroyed.
    static PagePool& Instance() noexcept;

    // A page of kPageSize bytes aligned to kPageSize, or null when the system
    // refuses a new block. Its contents are unspecified.
    void* TakePage() noexcept;
    // Gives back a page that TakePage returned; the page must not be used
    // afterwards. Releases the page's block when its last page comes back.
    void ReturnPage(void* page) noexcept;

    // Counters for tests and diagnostics, read under the lock.
    struct Statistics {
        uint64_t pagesTaken;     // since the process started
        uint64_t pagesReturned;  // since the process started
        uint64_t blocksReserved; // since the process started
        uint64_t blocksReleased; // since the process started
        size_t pagesInUse;       // taken and not yet returned
        size_t blocksInUse;      // reserved and not yet released
    };
    Statistics ReadStatistics() const noexcept;

    PagePool(const PagePool&) = delete;
    PagePool& operator=(const PagePool&) = delete;

private:
    struct Block;
    struct State;

    PagePool() noexcept;
    ~PagePool() = delete;

    State* state_;
};

}  // namespace Korvo
