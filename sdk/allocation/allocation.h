// sdk/allocation/allocation.h - the one allocation layer that every heap byte of
// the SDK and the plug-in passes through, and its counters.
//
// The layer is five replaceable routines and a context pointer. Until
// someone installs other routines, the first allocation installs the
// accounting routines: the C runtime allocator, with the process-wide
// counters as context. The host reads the counters through GetMemoryStats.
//
// Counting rules: sizes are the allocator's usable sizes, not the requested
// ones; an allocation that fails is still counted (with 0 bytes); a
// reallocation counts as one free of the old block and one allocation of the
// new one. Every counter is a 64-bit atomic, so the host may read them on any
// thread while others allocate; the peak pair is updated field by field, not
// as one unit.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace Korvo::Memory {

struct AllocationRoutines {
    void* (*allocate)(void* context, size_t size);
    void (*free)(void* context, void* block);
    void* (*reallocate)(void* context, void* block, size_t size);
    char* (*duplicate)(void* context, const char* text);
    size_t (*usableSize)(void* context, void* block);
    void* context;
};

// The six counters, in the order the host's statistics record lists them.
struct AllocationCounters {
    std::atomic<uint64_t> peakBytesInUse{0};
    std::atomic<uint64_t> allocationsAtPeak{0};
    std::atomic<uint64_t> bytesAllocated{0};
    std::atomic<uint64_t> allocations{0};
    std::atomic<uint64_t> bytesFreed{0};
    std::atomic<uint64_t> frees{0};
};

// A plain copy of the counters.
struct MemoryStats {
    uint64_t peakBytesInUse;
    uint64_t allocationsAtPeak;
    uint64_t bytesAllocated;
    uint64_t allocations;
    uint64_t bytesFreed;
    uint64_t frees;
};

// The layer's entry points. Allocate and Reallocate return null on failure;
// Free and UsableSize accept null. Reallocate of null is an Allocate.
void* Allocate(size_t size) noexcept;
void Free(void* block) noexcept;
void* Reallocate(void* block, size_t size) noexcept;
char* DuplicateString(const char* text) noexcept;
size_t UsableSize(void* block) noexcept;

// A NUL-terminated copy of text (which may hold NULs) from Allocate, or null
// when memory runs out.
inline char* DuplicateText(std::string_view text) noexcept {
    auto* const copy = static_cast<char*>(Allocate(text.size() + 1));
    if (copy == nullptr) return nullptr;
    if (!text.empty()) std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

// Replaces the five routines and the context (copied). Meant for start-up,
// before any block is allocated: blocks must be freed by the routines that
// allocated them.
void SetAllocationRoutines(const AllocationRoutines& routines) noexcept;

// The accounting routines over the C runtime allocator, counting into
// counters. The process-wide layer installs them with ProcessCounters().
AllocationRoutines AccountingRoutines(AllocationCounters* counters) noexcept;

// The process-wide counters; never reset while the library is loaded.
AllocationCounters& ProcessCounters() noexcept;

// Reads counters field by field (each field atomically).
MemoryStats ReadCounters(const AllocationCounters& counters) noexcept;

// Standard-library allocator over the layer, for containers whose memory must
// be counted even where the global operator new is not ours.
template <typename T>
struct CountingAllocator {
    using value_type = T;
    CountingAllocator() noexcept = default;
    template <typename U>
    CountingAllocator(const CountingAllocator<U>&) noexcept {}
    T* allocate(size_t count);
    void deallocate(T* block, size_t) noexcept { Free(block); }
    template <typename U>
    bool operator==(const CountingAllocator<U>&) const noexcept { return true; }
};

[[noreturn]] void ThrowBadAlloc();

template <typename T>
T* CountingAllocator<T>::allocate(size_t count) {
    if (count > SIZE_MAX / sizeof(T)) ThrowBadAlloc();
    void* block = Allocate(count * sizeof(T));
    if (block == nullptr) ThrowBadAlloc();
    return static_cast<T*>(block);
}

}  // namespace Korvo::Memory
