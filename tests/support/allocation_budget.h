// tests/support/allocation_budget.h - running out of memory on purpose: the
// allocation layer's next `budget` allocations succeed and the rest fail,
// while an AllocationBudget lives.
//
// Header-only: a test that includes it links korvo_allocation itself.
//
//   for (int budget = 0; !done; ++budget) {
//       AllocationBudget limit(budget);
//       ...
//   }
#pragma once

#include <cstddef>

#include "sdk/allocation/allocation.h"

namespace Korvo::Testing {

// Lets the next `budget` allocations of the allocation layer succeed and
// fails the rest, until destroyed.
class AllocationBudget {
public:
    explicit AllocationBudget(int budget) : budget_(budget) {
        Memory::AllocationRoutines routines = base_;
        routines.allocate = &Allocate;
        routines.reallocate = &Reallocate;
        routines.duplicate = &Duplicate;
        routines.free = &Free;
        routines.usableSize = &UsableSize;
        routines.context = this;
        Memory::SetAllocationRoutines(routines);
    }
    ~AllocationBudget() { Memory::SetAllocationRoutines(base_); }

private:
    static AllocationBudget& Self(void* context) { return *static_cast<AllocationBudget*>(context); }
    bool Take() { return budget_-- > 0; }
    static void* Allocate(void* context, size_t size) {
        AllocationBudget& self = Self(context);
        return self.Take() ? self.base_.allocate(self.base_.context, size) : nullptr;
    }
    static void* Reallocate(void* context, void* block, size_t size) {
        AllocationBudget& self = Self(context);
        return self.Take() ? self.base_.reallocate(self.base_.context, block, size) : nullptr;
    }
    static void Free(void* context, void* block) { Self(context).base_.free(Self(context).base_.context, block); }
    static size_t UsableSize(void* context, void* block) {
        return Self(context).base_.usableSize(Self(context).base_.context, block);
    }
    static char* Duplicate(void* context, const char* text) {
        AllocationBudget& self = Self(context);
        return self.Take() ? self.base_.duplicate(self.base_.context, text) : nullptr;
    }

    Memory::AllocationRoutines base_ = Memory::AccountingRoutines(&Memory::ProcessCounters());
    int budget_;
};

}  // namespace Korvo::Testing
