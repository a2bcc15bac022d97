// Trees nested far deeper than any stack could follow: hostile documents
// reach the readers, and every whole-tree operation must run in bounded
// stack. A recursive implementation overflows the stack here (8 MiB
// natively, 1 MiB on the Windows build's main thread), so these tests fail
// loudly rather than slowly.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sdk/values/page_pool.h"
#include "sdk/values/property.h"
#include "sdk/values/property_arena.h"

namespace Korvo {
namespace {

constexpr int kDepth = 1000000;

// Alternates structures and collections; every thousandth level also holds
// a string beside the nested level, so leaves are released along the way.
void BuildChain(BindingProperty& root, int depth) {
    BindingProperty* level = &root;
    for (int i = 0; i < depth; ++i) {
        const bool withLeaf = i % 1000 == 0;
        if (i % 2 == 0) {
            if (withLeaf) level->Member("s") = "leaf";
            level = &level->Member("next");
        } else {
            if (withLeaf) level->Append() = "leaf";
            level = &level->Element(withLeaf ? 1 : 0);
        }
    }
    *level = "bottom";
}

int ChainDepth(const BindingProperty& root) {
    int depth = 0;
    const BindingProperty* level = &root;
    for (;;) {
        if (level->Kind() == BindingPropertyKind::Structure) {
            level = &level->Get("next");
        } else if (level->Kind() == BindingPropertyKind::Collection) {
            level = &level->At(level->Size() - 1);
        } else {
            return level->AsString() == "bottom" ? depth : -1;
        }
        ++depth;
    }
}

size_t PoolPagesInUse() { return PagePool::Instance().ReadStatistics().pagesInUse; }

// One chain goes through every whole-tree operation: a deep copy into a new
// root, comparison, a copy between trees (moving a root into a member), a
// move out of a member, clearing and destruction.
TEST(DeepPropertyTest, MillionLevelsCopyCompareMoveClearAndDestroy) {
    const size_t poolBefore = PoolPagesInUse();
    {
        BindingProperty original;
        BuildChain(original, kDepth);
        BindingProperty copy = original;
        EXPECT_EQ(ChainDepth(copy), kDepth);
        EXPECT_TRUE(copy == original);
        EXPECT_EQ(copy.Arena()->InternedReferences("leaf"), static_cast<uint32_t>(kDepth / 1000));

        BindingProperty holder;
        holder.Member("m") = std::move(copy);
        EXPECT_EQ(copy.Kind(), BindingPropertyKind::Empty);
        EXPECT_EQ(copy.Arena()->CellsInUse(), 0u);
        BindingProperty taken(std::move(holder.Member("m")));
        EXPECT_EQ(holder.Get("m").Kind(), BindingPropertyKind::Empty);
        EXPECT_EQ(ChainDepth(taken), kDepth);

        PropertyArena* arena = original.Arena();
        original.Clear();
        EXPECT_EQ(arena->CellsInUse(), 0u);
        EXPECT_EQ(arena->InternedCount(), 0u);
        EXPECT_EQ(arena->PagesHeld(), 0u);
    }  // taken is destroyed here, a million levels deep
    EXPECT_EQ(PoolPagesInUse(), poolBefore);
}

// Releasing walks the first levels with its place kept aside and deeper
// ones another way; every level here has leaves and containers on both sides
// of the one that goes on, so both ways and the step between them meet
// siblings of every kind.
TEST(DeepPropertyTest, WideLevelsAtEveryDepthAreAllReleased) {
    const size_t poolBefore = PoolPagesInUse();
    BindingProperty tree;
    BindingProperty* level = &tree;
    for (int i = 0; i < 200; ++i) {
        BindingProperty* next;
        if (i % 2 == 0) {
            level->Member("a-leaf") = "text" + std::to_string(i);
            level->Member("b-list").Append() = i;
            level->Member("b-list").Append().Member("x") = "inner";
            next = &level->Member("c-next");
            level->Member("d-empty").SetStructure();
            level->Member("e-leaf").SetBlob(std::vector<uint8_t>{1, 2, 3});
        } else {
            level->Append() = "first";
            level->Append().Append().Member("y") = i;
            level->Append();  // the one that goes on
            level->Append().SetEnum(i, 9);
            level->Append().SetCollection();
            // Taken last: elements move while the collection grows.
            next = &level->Element(2);
        }
        level = next;
    }
    *level = "bottom";
    PropertyArena* arena = tree.Arena();
    {
        BindingProperty copy = tree;
        EXPECT_TRUE(copy == tree);
    }
    EXPECT_GT(arena->CellsInUse(), 0u);
    tree.Clear();
    EXPECT_EQ(arena->CellsInUse(), 0u);
    EXPECT_EQ(arena->InternedCount(), 0u);
    EXPECT_EQ(arena->PagesHeld(), 0u);
    EXPECT_EQ(PoolPagesInUse(), poolBefore);
}

}  // namespace
}  // namespace Korvo
