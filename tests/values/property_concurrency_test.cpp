// Many trees on many threads share the one page pool: each tree stays on
// one thread at a time, but pages and blocks go back and forth between
// threads, and trees are handed from one thread to another to be destroyed.
#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sdk/values/page_pool.h"
#include "sdk/values/property.h"
#include "sdk/values/property_arena.h"

namespace Korvo {
namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 30;
constexpr int kItems = 300;  // enough to outgrow the inline pages

void BuildTree(BindingProperty& tree, int seed) {
    for (int i = 0; i < kItems; ++i) {
        BindingProperty& item = tree.Append();
        item.Member("id") = seed + i;
        item.Member("name") = "item" + std::to_string(i % 17);
        item.Member("flags").Append() = (i % 2) == 0;
    }
}

// A hand-over queue: trees built on one thread are destroyed on another.
class TreeQueue {
public:
    void Push(BindingProperty tree) {
        std::lock_guard<std::mutex> lock(mutex_);
        trees_.push_back(std::move(tree));
        ready_.notify_one();
    }
    bool Pop(BindingProperty& out) {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [&] { return !trees_.empty() || closed_; });
        if (trees_.empty()) return false;
        out = std::move(trees_.front());
        trees_.pop_front();
        return true;
    }
    void Close() {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        ready_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<BindingProperty> trees_;
    bool closed_ = false;
};

TEST(PropertyConcurrencyTest, TreesOnManyThreadsReleaseEveryPoolBlock) {
    PagePool& pool = PagePool::Instance();
    ASSERT_EQ(pool.ReadStatistics().blocksInUse, 0u);
    TreeQueue queue;
    std::vector<std::thread> builders;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        builders.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                BindingProperty tree;
                BuildTree(tree, t * 1000000 + round);
                BindingProperty copy = tree;  // a second arena on this thread
                if (!(copy == tree) || copy.At(kItems - 1).Get("id").AsSigned() != t * 1000000 + round + kItems - 1) {
                    ++failures[t];
                }
                if (round % 2 == 0) {
                    copy.Clear();
                    if (copy.Arena()->PagesHeld() != 0) ++failures[t];
                }
                queue.Push(std::move(tree));  // destroyed on the consumer thread
            }
        });
    }
    std::thread consumer([&] {
        BindingProperty tree;
        while (queue.Pop(tree)) tree = BindingProperty();
    });
    for (std::thread& builder : builders) builder.join();
    queue.Close();
    consumer.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
    PagePool::Statistics statistics = pool.ReadStatistics();
    EXPECT_GT(statistics.blocksReserved, 0u);
    EXPECT_EQ(statistics.pagesInUse, 0u);
    EXPECT_EQ(statistics.blocksInUse, 0u);
    EXPECT_EQ(statistics.blocksReleased, statistics.blocksReserved);
}

}  // namespace
}  // namespace Korvo
