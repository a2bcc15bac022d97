#include "sdk/values/page_pool.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace Korvo {
namespace {

class PagePoolTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Nothing else in this binary holds pages between tests.
        ASSERT_EQ(pool_.ReadStatistics().blocksInUse, 0u);
        pool_.Trim();
    }

    // One request that uses whole blocks and gives them back.
    void Request(size_t blocks) {
        std::vector<void*> pages;
        for (size_t i = 0; i < blocks * PagePool::kPagesPerBlock; ++i) pages.push_back(pool_.TakePage());
        ReturnAll(pages);
        pool_.Settle();
    }

    size_t Spares() const { return pool_.ReadStatistics().spareBlocks; }

    void ReturnAll(std::vector<void*>& pages) {
        for (void* page : pages) pool_.ReturnPage(page);
        pages.clear();
    }

    PagePool& pool_ = PagePool::Instance();
};

TEST_F(PagePoolTest, OneProcessWidePool) { EXPECT_EQ(&PagePool::Instance(), &pool_); }

TEST_F(PagePoolTest, FreshBlockHandsOutItsPagesInAscendingOrder) {
    std::vector<void*> pages;
    for (size_t i = 0; i < PagePool::kPagesPerBlock; ++i) pages.push_back(pool_.TakePage());
    auto base = reinterpret_cast<uintptr_t>(pages[0]);
    EXPECT_EQ(base % Platform::kBlockSize, 0u);
    for (size_t i = 0; i < pages.size(); ++i) {
        EXPECT_EQ(reinterpret_cast<uintptr_t>(pages[i]), base + i * PagePool::kPageSize) << i;
    }
    EXPECT_EQ(pool_.ReadStatistics().blocksInUse, 1u);
    ReturnAll(pages);
}

TEST_F(PagePoolTest, PagesAreWritableAndDistinctAcrossBlocks) {
    std::vector<void*> pages;
    for (size_t i = 0; i < 2 * PagePool::kPagesPerBlock + 1; ++i) {
        void* page = pool_.TakePage();
        ASSERT_NE(page, nullptr);
        static_cast<unsigned char*>(page)[0] = static_cast<unsigned char>(i);
        static_cast<unsigned char*>(page)[PagePool::kPageSize - 1] = static_cast<unsigned char>(i);
        pages.push_back(page);
    }
    EXPECT_EQ(pool_.ReadStatistics().blocksInUse, 3u);
    for (size_t i = 0; i < pages.size(); ++i) {
        EXPECT_EQ(static_cast<unsigned char*>(pages[i])[0], static_cast<unsigned char>(i));
    }
    ReturnAll(pages);
    EXPECT_EQ(pool_.ReadStatistics().blocksInUse, 0u);
}

TEST_F(PagePoolTest, BlockIsReleasedWhenItsLastPageComesBack) {
    const PagePool::Statistics before = pool_.ReadStatistics();
    std::vector<void*> pages;
    for (size_t i = 0; i < PagePool::kPagesPerBlock; ++i) pages.push_back(pool_.TakePage());
    void* last = pages.back();
    pages.pop_back();
    ReturnAll(pages);
    PagePool::Statistics middle = pool_.ReadStatistics();
    EXPECT_EQ(middle.blocksInUse, 1u);
    EXPECT_EQ(middle.pagesInUse, 1u);
    // A returned page is handed out again before any new block is reserved.
    void* again = pool_.TakePage();
    EXPECT_EQ(pool_.ReadStatistics().blocksReserved, before.blocksReserved + 1);
    pool_.ReturnPage(again);
    pool_.ReturnPage(last);
    PagePool::Statistics after = pool_.ReadStatistics();
    EXPECT_EQ(after.blocksInUse, 0u);
    EXPECT_EQ(after.pagesInUse, 0u);
    EXPECT_EQ(after.blocksReleased, before.blocksReleased + 1);
    EXPECT_EQ(after.pagesTaken - before.pagesTaken, PagePool::kPagesPerBlock + 1);
    EXPECT_EQ(after.pagesReturned - before.pagesReturned, PagePool::kPagesPerBlock + 1);
}

TEST_F(PagePoolTest, SparesFollowWhatRecentRequestsNeeded) {
    // A large request leaves as many spares as it used, and the next one of
    // its size takes them instead of mapping fresh blocks.
    Request(6);
    EXPECT_EQ(Spares(), 6u);
    const uint64_t released = pool_.ReadStatistics().blocksReleased;
    Request(6);
    EXPECT_EQ(Spares(), 6u);
    EXPECT_EQ(pool_.ReadStatistics().blocksReleased - released, 6u) << "spares are counted as released";

    // Small requests shrink them once the large one is out of the window.
    for (size_t i = 1; i < PagePool::kSettleWindow; ++i) {
        Request(1);
        EXPECT_EQ(Spares(), 6u) << "after " << i << " small requests";
    }
    Request(1);
    EXPECT_EQ(Spares(), 1u);

    pool_.Trim();
    EXPECT_EQ(Spares(), 0u);
}

TEST_F(PagePoolTest, ARequestThatKeepsPartOfWhatItTookNeedsAllOfIt) {
    // A write that parses a body (two blocks, dropped) and stores a tree
    // (one block, kept): the next such write wants three spares, not two.
    std::vector<void*> kept;
    std::vector<void*> dropped;
    for (size_t i = 0; i < 3 * PagePool::kPagesPerBlock; ++i) (i < PagePool::kPagesPerBlock ? kept : dropped).push_back(pool_.TakePage());
    ReturnAll(dropped);
    pool_.Settle();
    ReturnAll(kept);  // the next write replaces the stored tree
    pool_.Settle();
    EXPECT_EQ(Spares(), 3u);
    pool_.Trim();
}

TEST_F(PagePoolTest, SparesNeverExceedTheirBound) {
    Request(PagePool::kMaxSpareBlocks + 3);
    EXPECT_EQ(Spares(), PagePool::kMaxSpareBlocks);
    pool_.Trim();
}

TEST_F(PagePoolTest, TrimKeepsBlocksInUse) {
    Request(2);
    void* page = pool_.TakePage();
    ASSERT_NE(page, nullptr);
    pool_.Trim();
    EXPECT_EQ(Spares(), 0u);
    EXPECT_EQ(pool_.ReadStatistics().blocksInUse, 1u);
    static_cast<unsigned char*>(page)[0] = 1;  // still mapped
    pool_.ReturnPage(page);
    pool_.Trim();
    EXPECT_EQ(pool_.ReadStatistics().blocksInUse, 0u);
}

TEST_F(PagePoolTest, ReturningNullDoesNothing) {
    const PagePool::Statistics before = pool_.ReadStatistics();
    pool_.ReturnPage(nullptr);
    EXPECT_EQ(pool_.ReadStatistics().pagesReturned, before.pagesReturned);
}

}  // namespace
}  // namespace Korvo
