#include "sdk/values/page_pool.h"

#include <algorithm>

#include <mutex>
#include <new>
#include <unordered_map>

#include "sdk/values/poison.h"

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

struct PagePool::State {
    mutable std::mutex mutex;
    // Released blocks kept mapped, their pages marked released.
    void* spare[kMaxSpareBlocks] = {};
    size_t spareCount = 0;
    // The fewest and the most blocks in use at once since the last Settle,
    // and the need of each of the last kSettleWindow requests: how far
    // above its low point the request took the blocks in use.
    size_t lowInUse = 0;
    size_t peakInUse = 0;
    size_t needs[kSettleWindow] = {};
    size_t nextNeed = 0;
    // Set when the image unloads: no spares from then on.
    bool closing = false;
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
        if (blocks.size() > peakInUse) peakInUse = blocks.size();
        List(block);
        return block;
    }

    // Gives the block table's memory back; only while no block is in use.
    void FreeTable() noexcept { std::unordered_map<uintptr_t, Block>().swap(blocks); }

    // Moves the spares beyond keep into out (room for kMaxSpareBlocks);
    // returns how many.
    size_t TakeSparesBeyond(size_t keep, void** out) noexcept {
        size_t count = 0;
        while (spareCount > keep) out[count++] = spare[--spareCount];
        return count;
    }
};

namespace {

constexpr uintptr_t kBlockMask = ~(uintptr_t{Platform::kBlockSize} - 1);

// Gives blocks that no page of the pool refers to any more back to the
// system. The mapping may come back at the same address: leave no marks.
void ReleaseBlocks(void* const* blocks, size_t count) noexcept {
    for (size_t i = 0; i < count; ++i) {
        KORVO_UNPOISON(blocks[i], Platform::kBlockSize);
        Platform::ReleaseBlock(blocks[i]);
    }
}

}  // namespace

// Closes the pool when the image unloads. Static objects destroyed after it
// may still hold trees and return their pages late; closing mode sends those
// blocks, and then the tables, back as they empty.
class PagePool::Closer {
public:
    Closer() noexcept { (void)PagePool::Instance(); }
    Closer(const Closer&) = delete;
    Closer& operator=(const Closer&) = delete;
    ~Closer() {
        PagePool& pool = PagePool::Instance();
        {
            std::lock_guard<std::mutex> lock(pool.state_->mutex);
            pool.state_->closing = true;
        }
        pool.Trim();
    }
};

PagePool::Closer PagePool::closer_;

PagePool::PagePool() noexcept : state_(nullptr) {}

PagePool& PagePool::Instance() noexcept {
    // Built in static storage and never destroyed: arenas may outlive every
    // other static object, and the bookkeeping must outlive them. What the
    // pool holds goes back when it closes (PagePool::Closer).
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
                if (fresh != nullptr) ReleaseBlocks(&fresh, 1);
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
    if (page != nullptr) ReturnPages(&page, 1);
}

void PagePool::ReturnPages(void* const* pages, size_t count) noexcept {
    State& state = *state_;
    // Blocks whose last page came back and that are not kept as spares:
    // given back to the system after the lock, a batch at a time.
    constexpr size_t kBatch = 16;
    while (count != 0) {
        const size_t batch = std::min(count, kBatch);
        void* released[kBatch];
        size_t releasedCount = 0;
        for (size_t i = 0; i < batch; ++i) KORVO_POISON(pages[i], kPageSize);
        {
            std::lock_guard<std::mutex> lock(state.mutex);
            for (size_t i = 0; i < batch; ++i) {
                auto address = reinterpret_cast<uintptr_t>(pages[i]);
                auto found = state.blocks.find(address & kBlockMask);
                if (found == state.blocks.end()) continue;  // not ours; nothing sane to do
                Block& block = found->second;
                block.freePages[block.freeCount++] = static_cast<uint8_t>((address & ~kBlockMask) / kPageSize);
                ++state.pagesReturned;
                if (block.freeCount == kPagesPerBlock) {
                    if (block.listed) state.Unlist(&block);
                    void* base = reinterpret_cast<void*>(block.base);
                    state.blocks.erase(found);
                    ++state.blocksReleased;
                    if (state.blocks.size() < state.lowInUse) state.lowInUse = state.blocks.size();
                    if (!state.closing && state.spareCount < kMaxSpareBlocks) {
                        state.spare[state.spareCount++] = base;
                    } else {
                        released[releasedCount++] = base;
                        if (state.closing && state.blocks.empty()) state.FreeTable();
                    }
                } else if (!block.listed) {
                    state.List(&block);
                }
            }
        }
        if (releasedCount != 0) ReleaseBlocks(released, releasedCount);
        pages += batch;
        count -= batch;
    }
}

void PagePool::Settle() noexcept {
    State& state = *state_;
    void* released[kMaxSpareBlocks];
    size_t count;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        const size_t inUse = state.blocks.size();
        state.needs[state.nextNeed] = state.peakInUse - state.lowInUse;
        state.nextNeed = (state.nextNeed + 1) % kSettleWindow;
        state.lowInUse = state.peakInUse = inUse;
        size_t keep = 0;
        for (size_t need : state.needs) keep = need > keep ? need : keep;
        count = state.TakeSparesBeyond(state.closing ? 0 : keep, released);
    }
    ReleaseBlocks(released, count);
}

void PagePool::Trim() noexcept {
    State& state = *state_;
    void* released[kMaxSpareBlocks];
    size_t count;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        count = state.TakeSparesBeyond(0, released);
        if (state.blocks.empty()) state.FreeTable();
        state.lowInUse = state.peakInUse = state.blocks.size();
        for (size_t& need : state.needs) need = 0;
    }
    ReleaseBlocks(released, count);
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
    statistics.spareBlocks = state.spareCount;
    return statistics;
}

}  // namespace Korvo
