// sdk/records/memory_stats.h - the memory statistics record the host reads
// through the plug-in's GetMemoryStats entry.
#pragma once

#include "sdk/contract/records.h"
#include "sdk/allocation/allocation.h"

namespace Korvo {

// PluginMemoryStats, the record the host reads (56 bytes on every build), is
// the contract's; see sdk/contract/korvo_plugin.h.

// Copies the process-wide counters into out (the body of GetMemoryStats).
// A null out is ignored.
void CopyMemoryStats(PluginMemoryStats* out) noexcept;

// The same from any set of counters.
void CopyMemoryStats(const Memory::AllocationCounters& counters, PluginMemoryStats* out) noexcept;

}  // namespace Korvo
