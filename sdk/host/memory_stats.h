// sdk/host/memory_stats.h - the memory statistics record the host reads
// through the plug-in's GetMemoryStats entry.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sdk/host/allocation.h"

namespace Korvo {

#pragma pack(push, 1)
struct PluginMemoryStats {          // 56 bytes on every build
    uint64_t peakBytesInUse;        // +0  highest bytes allocated - bytes freed seen
    uint64_t allocationsAtPeak;     // +8  allocations outstanding at that peak
    uint64_t bytesAllocated;        // +16
    uint64_t allocations;           // +24
    uint64_t bytesFreed;            // +32
    uint64_t frees;                 // +40
    uint32_t reserved0;             // +48 always 0
    uint32_t reserved1;             // +52 always 0
};
#pragma pack(pop)

static_assert(sizeof(PluginMemoryStats) == 56);
static_assert(offsetof(PluginMemoryStats, allocationsAtPeak) == 8);
static_assert(offsetof(PluginMemoryStats, bytesFreed) == 32);
static_assert(offsetof(PluginMemoryStats, reserved0) == 48);

// Copies the process-wide counters into out (the body of GetMemoryStats).
// A null out is ignored.
void CopyMemoryStats(PluginMemoryStats* out) noexcept;

// The same from any set of counters.
void CopyMemoryStats(const Memory::AllocationCounters& counters, PluginMemoryStats* out) noexcept;

}  // namespace Korvo
