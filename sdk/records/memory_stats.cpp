#include "sdk/records/memory_stats.h"

namespace Korvo {

void CopyMemoryStats(const Memory::AllocationCounters& counters, PluginMemoryStats* out) noexcept {
    if (out == nullptr) return;
    Memory::MemoryStats stats = Memory::ReadCounters(counters);
    out->peakBytesInUse = stats.peakBytesInUse;
    out->allocationsAtPeak = stats.allocationsAtPeak;
    out->bytesAllocated = stats.bytesAllocated;
    out->allocations = stats.allocations;
    out->bytesFreed = stats.bytesFreed;
    out->frees = stats.frees;
    out->reserved0 = 0;
    out->reserved1 = 0;
}

void CopyMemoryStats(PluginMemoryStats* out) noexcept { CopyMemoryStats(Memory::ProcessCounters(), out); }

}  // namespace Korvo
