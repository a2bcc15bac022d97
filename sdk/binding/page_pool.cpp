#include "sdk/binding/page_pool.h"

#include <mutex>
#include <new>
#include <unordered_map>

#include "sdk/binding/poison.h"

namespace Korvo {

// A reserved block: its free pages as a stack of page indexes, and its links
// in the list of blocks that have free pages.
struct PagePool::Block {
    uintptr_t base = 0;
    Block* previous = nullptr;
    Block* next = nullptr;
    bool listed = false;
    uint8_t freeCount = 0;
    uint8_t freePages[kPagesPerBlock] = {};
};

// Blocks whose pages all came back wait here, still mapped, for the next
// block the pool needs, up to this many: a tree that takes pages and gives
// them back again, request after request, would otherwise map and unmap
// its blocks (and fault their pages in afresh) every time, and on a
// virtual machine a page fault costs more than building the page's cells.
// 8 MiB covers the tree of a document of a few megabytes; more would only
// hold idle memory.
constexpr size_t kSpareBlocks = 128;

struct PagePool::State {
    mutable std::mutex mutex;
    // Released blocks kept mapped, their pages marked released.
    void* spare[kSpareBlocks] = {};
    size_t spareCount = 0;
    // Blocks by base address. Blocks are aligned to their size, so a page's
    // block is its address rounded down; map nodes keep their address.
    std::unordered_map<uintptr_t, Block> blocks;
    Block* withFreePages = nullptr;
    uint64_t pagesTaken = 0;
    uint64_t pagesReturned = 0;
    uint64_t blocksReserved = 0;
    uint64_t blocksReleased = 0;

    void List(Block* block) noexcept {
        block->previous = nullptr;
        block->next = withFreePages;
        if (withFreePages != nullptr) withFreePages->previous = block;
        withFreePages = block;
        block->listed = true;
    }

    void Unlist(Block* block) noexcept {
        if (block->previous != nullptr) block->previous->next = block->next;
        else withFreePages = block->next;
        if (block->next != nullptr) block->next->previous = block->previous;
        block->previous = block->next = nullptr;
        block->listed = false;
    }

    // Registers a fresh block with all its pages free; the lowest page is on
    // top of the stack, so pages leave in ascending address order.
    Block* AddBlock(void* memory) noexcept {
        auto base = reinterpret_cast<uintptr_t>(memory);
        Block* block;
        try {
            block = &blocks.try_emplace(base).first->second;
        } catch (...) {
            return nullptr;
        }
        block->base = base;
        for (size_t i = 0; i < kPagesPerBlock; ++i) {
            block->freePages[i] = static_cast<uint8_t>(kPagesPerBlock - 1 - i);
        }
        block->freeCount = kPagesPerBlock;
        ++blocksReserved;
        List(block);
        return block;
    }
};

namespace {

constexpr uintptr_t kBlockMask = ~(uintptr_t{Platform::kBlockSize} - 1);

}  // namespace

PagePool::PagePool() noexcept : state_(nullptr) {}

PagePool& PagePool::Instance() noexcept {
    // Built in static storage and never destroyed: arenas may outlive every
    // other static object, and a block must never be released under them.
    alignas(PagePool) static unsigned char poolStorage[sizeof(PagePool)];
    alignas(State) static unsigned char stateStorage[sizeof(State)];
    static PagePool* pool = [] {
        auto* created = new (poolStorage) PagePool();
        created->state_ = new (stateStorage) State();
        return created;
    }();
    return *pool;
}

void* PagePool::TakePage() noexcept {
    State& state = *state_;
    void* fresh = nullptr;
    void* page = nullptr;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.withFreePages == nullptr) {
            // Reserving under the lock keeps two threads from each reserving
            // a block for one page; it is rare (once per 16 pages).
            const bool spare = state.spareCount != 0;
            fresh = spare ? state.spare[--state.spareCount] : Platform::ReserveBlock();
            if (fresh == nullptr || state.AddBlock(fresh) == nullptr) {
                if (fresh != nullptr) {
                    if (spare) KORVO_UNPOISON(fresh, Platform::kBlockSize);
                    Platform::ReleaseBlock(fresh);
                }
                return nullptr;
            }
            // A fresh mapping is addressable; mark it released until handed out.
            KORVO_POISON(fresh, Platform::kBlockSize);
        }
        Block* block = state.withFreePages;
        uint8_t index = block->freePages[--block->freeCount];
        if (block->freeCount == 0) state.Unlist(block);
        ++state.pagesTaken;
        page = reinterpret_cast<void*>(block->base + index * kPageSize);
    }
    KORVO_UNPOISON(page, kPageSize);
    return page;
}

void PagePool::ReturnPage(void* page) noexcept {
    if (page == nullptr) return;
    State& state = *state_;
    KORVO_POISON(page, kPageSize);
    auto address = reinterpret_cast<uintptr_t>(page);
    void* released = nullptr;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        auto found = state.blocks.find(address & kBlockMask);
        if (found == state.blocks.end()) return;  // not ours; nothing sane to do
        Block& block = found->second;
        block.freePages[block.freeCount++] = static_cast<uint8_t>((address & ~kBlockMask) / kPageSize);
        ++state.pagesReturned;
        if (block.freeCount == kPagesPerBlock) {
            if (block.listed) state.Unlist(&block);
            released = reinterpret_cast<void*>(block.base);
            state.blocks.erase(found);
            ++state.blocksReleased;
            if (state.spareCount < kSpareBlocks) {
                state.spare[state.spareCount++] = released;
                released = nullptr;
            }
        } else if (!block.listed) {
            state.List(&block);
        }
    }
    if (released != nullptr) {
        // The mapping may come back at the same address: leave no marks.
        KORVO_UNPOISON(released, Platform::kBlockSize);
        Platform::ReleaseBlock(released);
    }
}

PagePool::Statistics PagePool::ReadStatistics() const noexcept {
    const State& state = *state_;
    std::lock_guard<std::mutex> lock(state.mutex);
    Statistics statistics{};
    statistics.pagesTaken = state.pagesTaken;
    statistics.pagesReturned = state.pagesReturned;
    statistics.blocksReserved = state.blocksReserved;
    statistics.blocksReleased = state.blocksReleased;
    statistics.pagesInUse = static_cast<size_t>(state.pagesTaken - state.pagesReturned);
    statistics.blocksInUse = state.blocks.size();
    return statistics;
}

}  // namespace Korvo
