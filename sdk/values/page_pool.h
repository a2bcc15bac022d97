// sdk/values/page_pool.h - the process-wide pool of 4096-byte pages behind
// every PropertyArena.
//
// Pages are cut from 64 KiB blocks that the platform layer reserves (aligned
// to 64 KiB, so every page is aligned to 4096). A fresh block hands out its
// 16 pages in ascending address order; a block leaves the pool's books as
// soon as all 16 of its pages are back.
//
// Spare blocks. A tree built and dropped per request would otherwise map a
// block and fault its pages in afresh every time, and on a virtual machine a
// page fault costs more than building the page's cells. So a released block
// may stay mapped as a spare for the next block the pool needs, within two
// bounds:
//   - what recent requests needed: Settle() marks the end of a request (the
//     transport calls it after every dispatched call); how many blocks a
//     request took into use above its low point is its need, and after each
//     request the spares are trimmed to the largest need of the last
//     kSettleWindow requests. A large body is followed by as many spares as
//     it used, for as long as requests of its size keep coming; a long run of
//     small requests shrinks them back to what small requests use.
//   - never more than kMaxSpareBlocks (8 MiB) at any time.
// Trim() gives every spare back and frees the pool's own tables once no
// block is in use; the plug-in's stop calls it, so a stopped plug-in holds
// nothing here. When the image that holds the pool unloads, the pool closes:
// spares go back, and from then on every block goes back with its last page
// and the tables with the last block, whatever static object returns pages
// late. Statistics count spares as released.
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

    // Spares never exceed this many blocks.
    static constexpr size_t kMaxSpareBlocks = 128;
    // How many recent requests the spare bound looks back on.
    static constexpr size_t kSettleWindow = 32;

    // The one pool of the image, created on first use; it closes (above)
    // when the image unloads or the process ends.
    static PagePool& Instance() noexcept;

    // A page of kPageSize bytes aligned to kPageSize, or null when the system
    // refuses a new block. Its contents are unspecified.
    void* TakePage() noexcept;
    // Gives back a page that TakePage returned; the page must not be used
    // afterwards. Releases the page's block when its last page comes back.
    void ReturnPage(void* page) noexcept;
    // ReturnPage for count pages, taking the lock once per few of them: a
    // tree that goes whole gives its pages back this way.
    void ReturnPages(void* const* pages, size_t count) noexcept;

    // The end of a request: trims the spares to what recent requests needed.
    void Settle() noexcept;
    // Gives every spare block back to the system, and frees the pool's own
    // tables when no block is in use.
    void Trim() noexcept;

    // Counters for tests and diagnostics, read under the lock.
    struct Statistics {
        uint64_t pagesTaken;     // since the process started
        uint64_t pagesReturned;  // since the process started
        uint64_t blocksReserved; // since the process started
        uint64_t blocksReleased; // since the process started
        size_t pagesInUse;       // taken and not yet returned
        size_t blocksInUse;      // reserved and not yet released
        size_t spareBlocks;      // released but kept mapped
    };
    Statistics ReadStatistics() const noexcept;

    PagePool(const PagePool&) = delete;
    PagePool& operator=(const PagePool&) = delete;

private:
    struct Block;
    struct State;
    class Closer;

    PagePool() noexcept;
    ~PagePool() = delete;

    static Closer closer_;

    State* state_;
};

}  // namespace Korvo
