// bench/allocation_count.h - allocations the process counters see during one
// call, for the user counters of the SDK's benchmarks (measured outside the
// timed loop).
#pragma once

#include "sdk/allocation/allocation.h"

namespace KorvoBench {

template <typename Call>
double AllocationsOf(Call&& call) {
    const auto before = Korvo::Memory::ReadCounters(Korvo::Memory::ProcessCounters()).allocations;
    call();
    return static_cast<double>(Korvo::Memory::ReadCounters(Korvo::Memory::ProcessCounters()).allocations - before);
}

}  // namespace KorvoBench
