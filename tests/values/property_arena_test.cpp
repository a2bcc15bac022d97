#include "sdk/values/property_arena.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "sdk/values/page_pool.h"
#include "sdk/values/property.h"

namespace Korvo {
namespace {

size_t PoolPagesInUse() { return PagePool::Instance().ReadStatistics().pagesInUse; }

class PropertyArenaTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(arena_.CellsInUse(), 0u);
        EXPECT_EQ(arena_.InternedCount(), 0u);
    }

    PropertyArena arena_;
};

TEST_F(PropertyArenaTest, SizesRoundUpToClassesOfFourBytes) {
    // A released cell is the next one handed out in its class, so two sizes
    // share a class exactly when they get the same cell back.
    struct Case {
        size_t first;
        size_t second;
        bool sameClass;
    } cases[] = {{1, 4, true}, {4, 5, false}, {5, 8, true}, {9, 12, true}, {69, 72, true}, {68, 69, false}};
    for (const Case& c : cases) {
        void* cell = arena_.Allocate(c.first);
        arena_.Release(cell, c.first);
        void* again = arena_.Allocate(c.second);
        EXPECT_EQ(cell == again, c.sameClass) << c.first << " then " << c.second;
        arena_.Release(again, c.second);
    }
}

TEST_F(PropertyArenaTest, CellsAreDistinctAndAlignedToTheirSize) {
    std::vector<void*> cells;
    std::set<void*> distinct;
    for (size_t size = 4; size <= PropertyArena::kMaxCellSize; size += 4) {
        for (int i = 0; i < 3; ++i) {
            void* cell = arena_.Allocate(size);
            std::memset(cell, 0xAB, size);
            size_t alignment = size & (~size + 1);  // lowest set bit
            if (alignment > 8) alignment = 8;
            EXPECT_EQ(reinterpret_cast<uintptr_t>(cell) % alignment, 0u) << size;
            distinct.insert(cell);
            cells.push_back(cell);
        }
    }
    EXPECT_EQ(distinct.size(), cells.size());
    size_t index = 0;
    for (size_t size = 4; size <= PropertyArena::kMaxCellSize; size += 4) {
        for (int i = 0; i < 3; ++i) arena_.Release(cells[index++], size);
    }
}

TEST_F(PropertyArenaTest, InlinePagesServeTheFirstCellsWithoutAPage) {
    const size_t poolBefore = PoolPagesInUse();
    // The 72-byte class has room for one cell in its inline page.
    void* first = arena_.Allocate(72);
    EXPECT_EQ(arena_.PagesHeld(), 0u);
    void* second = arena_.Allocate(72);
    EXPECT_EQ(arena_.PagesHeld(), 1u);
    EXPECT_EQ(PoolPagesInUse(), poolBefore + 1);
    arena_.Release(second, 72);
    EXPECT_EQ(arena_.PagesHeld(), 0u);
    EXPECT_EQ(PoolPagesInUse(), poolBefore);
    arena_.Release(first, 72);
}

TEST_F(PropertyArenaTest, PageGoesBackWhenItsLastCellIsReleased) {
    const size_t poolBefore = PoolPagesInUse();
    std::vector<void*> cells;
    // Enough 12-byte cells for the inline page and three pool pages.
    for (int i = 0; i < 1000; ++i) cells.push_back(arena_.Allocate(12));
    EXPECT_EQ(arena_.PagesHeld(), 3u);
    EXPECT_EQ(arena_.CellsInUse(), 1000u);
    // Release in an interleaved order so pages go from full to partly free
    // and back on the list in between.
    for (size_t i = 0; i < cells.size(); i += 2) arena_.Release(cells[i], 12);
    EXPECT_EQ(arena_.PagesHeld(), 3u);
    for (size_t i = 0; i < 100; i += 2) cells[i] = arena_.Allocate(12);
    for (size_t i = 0; i < 100; i += 2) arena_.Release(cells[i], 12);
    for (size_t i = 1; i < cells.size(); i += 2) arena_.Release(cells[i], 12);
    EXPECT_EQ(arena_.PagesHeld(), 0u);
    EXPECT_EQ(PoolPagesInUse(), poolBefore);
}

// A page hands out its cells in ascending order, a released cell first (the
// last released, first), then the rest of the page where it left off - also
// when releases come in while the page is still partly fresh.
TEST_F(PropertyArenaTest, ReleasedCellsComeBackFirstThenFreshOnesInAscendingOrder) {
    constexpr size_t kSize = 16;
    std::vector<unsigned char*> cells;
    for (int i = 0; i < 40; ++i) cells.push_back(static_cast<unsigned char*>(arena_.Allocate(kSize)));
    // From the first pool page on, consecutive cells are kSize apart.
    for (size_t i = 20; i + 1 < cells.size(); ++i) ASSERT_EQ(cells[i + 1], cells[i] + kSize) << i;

    arena_.Release(cells[25], kSize);
    arena_.Release(cells[22], kSize);
    EXPECT_EQ(arena_.Allocate(kSize), cells[22]);
    EXPECT_EQ(arena_.Allocate(kSize), cells[25]);
    EXPECT_EQ(arena_.Allocate(kSize), cells.back() + kSize);
    arena_.Release(cells.back() + kSize, kSize);
    EXPECT_EQ(arena_.Allocate(kSize), cells.back() + kSize);

    // Fill the page up and past it: every cell of the page is used once.
    std::set<unsigned char*> distinct(cells.begin(), cells.end());
    distinct.insert(cells.back() + kSize);
    std::vector<unsigned char*> more;
    for (size_t i = 0; i < PropertyArena::kPageSize / kSize; ++i) {
        unsigned char* cell = static_cast<unsigned char*>(arena_.Allocate(kSize));
        EXPECT_TRUE(distinct.insert(cell).second);
        more.push_back(cell);
    }
    for (unsigned char* cell : more) arena_.Release(cell, kSize);
    arena_.Release(cells.back() + kSize, kSize);
    for (unsigned char* cell : cells) arena_.Release(cell, kSize);
    EXPECT_EQ(arena_.CellsInUse(), 0u);
    EXPECT_EQ(arena_.PagesHeld(), 0u);
}

TEST_F(PropertyArenaTest, InterningCountsReferences) {
    detail::InternedString* first = arena_.Intern("name");
    detail::InternedString* second = arena_.Intern(std::string("name"));
    EXPECT_EQ(first, second);
    EXPECT_EQ(first->hash, InternHash("name"));
    EXPECT_EQ(first->View(), "name");
    EXPECT_EQ(arena_.InternedCount(), 1u);
    EXPECT_EQ(arena_.InternedReferences("name"), 2u);
    arena_.AddReference(first);
    EXPECT_EQ(arena_.InternedReferences("name"), 3u);
    for (int i = 0; i < 3; ++i) arena_.ReleaseString(first);
    EXPECT_EQ(arena_.InternedCount(), 0u);
    EXPECT_EQ(arena_.InternedReferences("name"), 0u);
}

// The first texts of an arena share a small area that starts over only once
// all of them are gone: texts released and interned again around ones that
// stay must never overwrite those.
TEST_F(PropertyArenaTest, TextsReleasedAroundLiveOnesKeepTheLiveOnesIntact) {
    const std::string kept = "kept-for-the-whole-test";
    detail::InternedString* keptEntry = arena_.Intern(kept);
    std::vector<detail::InternedString*> live;
    for (int round = 0; round < 50; ++round) {
        // Enough texts of growing length to fill the area and go past it.
        for (int i = 0; i < 12; ++i) {
            const std::string text(static_cast<size_t>(i + round % 7), static_cast<char>('a' + i));
            live.push_back(arena_.Intern(text + std::to_string(round)));
        }
        // Release all but the last few, newest first and oldest first by turns.
        while (live.size() > 3) {
            auto victim = round % 2 == 0 ? live.begin() : live.end() - 1;
            arena_.ReleaseString(*victim);
            live.erase(victim);
        }
        ASSERT_EQ(keptEntry->View(), kept) << round;
        for (detail::InternedString* entry : live) {
            ASSERT_EQ(arena_.InternedReferences(entry->View()), 1u) << round;
            ASSERT_EQ(entry->hash, InternHash(entry->View())) << round;
        }
    }
    for (detail::InternedString* entry : live) arena_.ReleaseString(entry);
    arena_.ReleaseString(keptEntry);
    // Everything gone: the area is used again from its start.
    detail::InternedString* again = arena_.Intern("x");
    EXPECT_EQ(again->View(), "x");
    arena_.ReleaseString(again);
}

TEST_F(PropertyArenaTest, EmptyTextIsTheSharedUncountedEntry) {
    detail::InternedString* empty = arena_.Intern("");
    EXPECT_EQ(empty, detail::EmptyInternedString());
    EXPECT_EQ(empty->refCount, 0u);
    EXPECT_EQ(empty->Text()[0], '\0');
    arena_.AddReference(empty);
    arena_.ReleaseString(empty);
    EXPECT_EQ(empty->refCount, 0u);
    EXPECT_EQ(arena_.InternedCount(), 0u);
}

TEST_F(PropertyArenaTest, ManyDistinctTextsAndCollidingChains) {
    std::vector<detail::InternedString*> entries;
    for (int i = 0; i < 5000; ++i) entries.push_back(arena_.Intern("text" + std::to_string(i)));
    EXPECT_EQ(arena_.InternedCount(), 5000u);
    for (int i = 0; i < 5000; i += 7) EXPECT_EQ(arena_.Intern("text" + std::to_string(i)), entries[i]);
    for (int i = 0; i < 5000; i += 7) arena_.ReleaseString(entries[i]);
    // Removing from the middle of chains keeps the rest reachable.
    for (int i = 4999; i >= 0; --i) {
        ASSERT_EQ(arena_.InternedReferences("text" + std::to_string(i)), 1u) << i;
        arena_.ReleaseString(entries[i]);
    }
}

// A tree larger than its inline pages takes pages from the pool and gives
// all of them back when it is cleared, before the arena itself goes.
TEST(PropertyArenaTreeTest, OutgrownTreeGivesAllPagesBackOnClear) {
    const size_t poolBefore = PoolPagesInUse();
    BindingProperty tree;
    for (int i = 0; i < 2000; ++i) {
        BindingProperty& item = tree.Append();
        item.Member("id") = i;
        item.Member("name") = "n" + std::to_string(i);
        item.Member("tags").Append().SetEnum(i, 7);
    }
    PropertyArena* arena = tree.Arena();
    EXPECT_GT(arena->PagesHeld(), 10u);
    EXPECT_EQ(PoolPagesInUse(), poolBefore + arena->PagesHeld());
    tree.Clear();
    EXPECT_EQ(arena->PagesHeld(), 0u);
    EXPECT_EQ(arena->CellsInUse(), 0u);
    EXPECT_EQ(arena->InternedCount(), 0u);
    EXPECT_EQ(PoolPagesInUse(), poolBefore);
}

// A root that goes gives its arena's pages back at once, without visiting
// its cells; what the tree keeps on the heap (large element arrays and
// indexes, long strings, blobs' bytes, a chain deeper than the walk keeps
// on its stack) is freed all the same, which the leak checker of the
// sanitizer builds confirms.
TEST(PropertyArenaTreeTest, DestroyedRootGivesBackPagesAndHeapBlocks) {
    const size_t poolBefore = PoolPagesInUse();
    {
        BindingProperty tree;
        for (int i = 0; i < 500; ++i) {
            BindingProperty& item = tree.Member("item" + std::to_string(i));
            for (int j = 0; j < 12; ++j) item.Append() = j;
            item.Append() = std::string(100, static_cast<char>('a' + i % 26)) + std::to_string(i);
            item.Append() = std::vector<uint8_t>(64, static_cast<uint8_t>(i));
            item.Append().Member("blob") = std::vector<uint8_t>(32, 1);
        }
        BindingProperty* deep = &tree.Member("deep");
        for (int level = 0; level < 200; ++level) {
            deep->Member("x") = std::vector<uint8_t>{1, 2, 3};
            deep = &deep->Member("next").Append();
        }
        EXPECT_GT(tree.Arena()->PagesHeld(), 10u);
        EXPECT_EQ(PoolPagesInUse(), poolBefore + tree.Arena()->PagesHeld());
    }
    EXPECT_EQ(PoolPagesInUse(), poolBefore);
}

TEST(PropertyArenaTreeTest, SmallTreeTakesNoPage) {
    const size_t poolBefore = PoolPagesInUse();
    BindingProperty tree;
    BindingProperty& list = tree.Member("a");
    list.Append() = "x";
    list.Append().SetEnum(1, 2);
    list.Append() = std::vector<uint8_t>{1};
    EXPECT_EQ(tree.Arena()->PagesHeld(), 0u);
    EXPECT_EQ(PoolPagesInUse(), poolBefore);
}

#if defined(KORVO_HAS_ASAN)
TEST(PropertyArenaDeathTest, UseOfAReleasedCellFailsUnderAddressSanitizer) {
    EXPECT_DEATH(
        {
            PropertyArena arena;
            auto* cell = static_cast<volatile unsigned char*>(arena.Allocate(16));
            arena.Release(const_cast<unsigned char*>(cell), 16);
            cell[8] = 1;
        },
        "use-after-poison");
}
#endif

}  // namespace
}  // namespace Korvo
