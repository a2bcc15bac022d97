#include "sdk/allocation/allocation.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "sdk/platform/platform.h"

namespace Korvo::Memory {

namespace {

AllocationCounters& Counters(void* context) { return *static_cast<AllocationCounters*>(context); }

void AddBlock(AllocationCounters& counters, size_t usable) {
    counters.bytesAllocated.fetch_add(usable, std::memory_order_relaxed);
    counters.allocations.fetch_add(1, std::memory_order_relaxed);
}

void RemoveBlock(AllocationCounters& counters, size_t usable) {
    counters.bytesFreed.fetch_add(usable, std::memory_order_relaxed);
    counters.frees.fetch_add(1, std::memory_order_relaxed);
}

void UpdatePeak(AllocationCounters& counters) {
    // Freed first: every free counted so far belongs to an allocation that
    // was counted before it, so the difference can't go below zero.
    uint64_t freed = counters.bytesFreed.load(std::memory_order_relaxed);
    uint64_t allocated = counters.bytesAllocated.load(std::memory_order_relaxed);
    if (allocated < freed) return;
    uint64_t inUse = allocated - freed;
    uint64_t peak = counters.peakBytesInUse.load(std::memory_order_relaxed);
    while (inUse > peak) {
        if (counters.peakBytesInUse.compare_exchange_weak(peak, inUse, std::memory_order_relaxed)) {
            uint64_t frees = counters.frees.load(std::memory_order_relaxed);
            uint64_t allocations = counters.allocations.load(std::memory_order_relaxed);
            counters.allocationsAtPeak.store(allocations >= frees ? allocations - frees : 0,
                                             std::memory_order_relaxed);
            return;
        }
    }
}

void* CountedAllocate(void* context, size_t size) {
    void* block = std::malloc(size);
    AllocationCounters& counters = Counters(context);
    AddBlock(counters, Platform::UsableSize(block));
    UpdatePeak(counters);
    return block;
}

void CountedFree(void* context, void* block) {
    if (block == nullptr) return;
    RemoveBlock(Counters(context), Platform::UsableSize(block));
    std::free(block);
}

void* CountedReallocate(void* context, void* block, size_t size) {
    AllocationCounters& counters = Counters(context);
    size_t oldUsable = Platform::UsableSize(block);
    void* fresh = std::realloc(block, size);
    if (fresh == nullptr && size != 0) {
        // The old block is untouched and still ours: only the failed
        // attempt counts, as a failed allocation does.
        AddBlock(counters, 0);
        UpdatePeak(counters);
        return nullptr;
    }
    RemoveBlock(counters, oldUsable);
    AddBlock(counters, Platform::UsableSize(fresh));
    UpdatePeak(counters);
    return fresh;
}

char* CountedDuplicate(void* context, const char* text) {
    if (text == nullptr) return nullptr;
    size_t length = std::strlen(text);
    auto* copy = static_cast<char*>(std::malloc(length + 1));
    AllocationCounters& counters = Counters(context);
    AddBlock(counters, Platform::UsableSize(copy));
    UpdatePeak(counters);
    if (copy != nullptr) std::memcpy(copy, text, length + 1);
    return copy;
}

size_t PlainUsableSize(void*, void* block) { return Platform::UsableSize(block); }

AllocationCounters gProcessCounters;

// The table in force. Null until the first call, which installs accounting
// over the process counters; a replacement is kept in a static slot.
std::atomic<const AllocationRoutines*> gRoutines{nullptr};
AllocationRoutines gReplacement;

const AllocationRoutines& Routines() {
    const AllocationRoutines* routines = gRoutines.load(std::memory_order_acquire);
    if (routines != nullptr) return *routines;
    static const AllocationRoutines accounting = AccountingRoutines(&gProcessCounters);
    const AllocationRoutines* expected = nullptr;
    gRoutines.compare_exchange_strong(expected, &accounting, std::memory_order_acq_rel);
    return *gRoutines.load(std::memory_order_acquire);
}

}  // namespace

AllocationRoutines AccountingRoutines(AllocationCounters* counters) noexcept {
    return AllocationRoutines{&CountedAllocate, &CountedFree, &CountedReallocate,
                              &CountedDuplicate, &PlainUsableSize, counters};
}

AllocationCounters& ProcessCounters() noexcept { return gProcessCounters; }

MemoryStats ReadCounters(const AllocationCounters& counters) noexcept {
    return MemoryStats{counters.peakBytesInUse.load(std::memory_order_relaxed),
                       counters.allocationsAtPeak.load(std::memory_order_relaxed),
                       counters.bytesAllocated.load(std::memory_order_relaxed),
                       counters.allocations.load(std::memory_order_relaxed),
                       counters.bytesFreed.load(std::memory_order_relaxed),
                       counters.frees.load(std::memory_order_relaxed)};
}

void* Allocate(size_t size) noexcept {
    const AllocationRoutines& r = Routines();
    return r.allocate(r.context, size);
}

void Free(void* block) noexcept {
    const AllocationRoutines& r = Routines();
    r.free(r.context, block);
}

void* Reallocate(void* block, size_t size) noexcept {
    const AllocationRoutines& r = Routines();
    // Growing from nothing is an allocation: sent to the reallocate routine it
    // would be counted as a free of a block that never existed, and frees
    // would run ahead of allocations in the statistics.
    if (block == nullptr) return r.allocate(r.context, size);
    return r.reallocate(r.context, block, size);
}

char* DuplicateString(const char* text) noexcept {
    const AllocationRoutines& r = Routines();
    return r.duplicate(r.context, text);
}

size_t UsableSize(void* block) noexcept {
    const AllocationRoutines& r = Routines();
    return r.usableSize(r.context, block);
}

void SetAllocationRoutines(const AllocationRoutines& routines) noexcept {
    gReplacement = routines;
    gRoutines.store(&gReplacement, std::memory_order_release);
}

void ThrowBadAlloc() { throw std::bad_alloc(); }

}  // namespace Korvo::Memory
