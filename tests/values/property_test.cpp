#include "sdk/values/property.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "sdk/values/property_arena.h"
#include "tests/support/allocation_budget.h"
#include "tests/support/binding_matchers.h"

namespace Korvo {
namespace {

using Testing::HasMember;
using Testing::IsBlob;
using Testing::IsBool;
using Testing::IsCollection;
using Testing::IsEmptyValue;
using Testing::IsEnum;
using Testing::IsFloat;
using Testing::IsSigned;
using Testing::IsString;
using Testing::IsStructure;
using Testing::IsUnsigned;
using ::testing::_;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;
using ::testing::SizeIs;

// Names of members in iteration order.
std::vector<std::string> MemberNames(const BindingProperty& value) {
    std::vector<std::string> names;
    for (auto [name, member] : value.Members()) names.emplace_back(name);
    return names;
}

TEST(Fnv1aTest, KnownVectors) {
    static_assert(Fnv1a("") == kFnvOffsetBasis);
    EXPECT_EQ(Fnv1a("a"), 0xE40C292Cu);
    EXPECT_EQ(Fnv1a("foobar"), 0xBF9CF968u);
    EXPECT_EQ(Fnv1a(std::string_view("\xff\x00", 2)), (((kFnvOffsetBasis ^ 0xFFu) * kFnvPrime) ^ 0u) * kFnvPrime);
}

TEST(BindingPropertyKindTest, TextNames) {
    const std::pair<BindingPropertyKind, const char*> cases[] = {
        {BindingPropertyKind::Empty, "empty"},           {BindingPropertyKind::Bool, "bool"},
        {BindingPropertyKind::Signed, "signed"},         {BindingPropertyKind::Unsigned, "unsigned"},
        {BindingPropertyKind::Float, "float"},           {BindingPropertyKind::String, "string"},
        {BindingPropertyKind::Blob, "blob"},             {BindingPropertyKind::Enum, "enum"},
        {BindingPropertyKind::Collection, "collection"}, {BindingPropertyKind::Structure, "structure"},
        {static_cast<BindingPropertyKind>(10), ""},      {static_cast<BindingPropertyKind>(255), ""},
    };
    for (auto [kind, name] : cases) EXPECT_STREQ(BindingPropertyKindName(kind), name) << int(kind);
}

TEST(BindingPropertyTest, NewPropertyIsAnEmptyRootWithoutArena) {
    BindingProperty value;
    EXPECT_THAT(value, IsEmptyValue());
    EXPECT_TRUE(value.IsRoot());
    EXPECT_EQ(value.Arena(), nullptr);
    EXPECT_EQ(value.Size(), 0u);
    EXPECT_TRUE(value.IsEmpty());
}

TEST(BindingPropertyTest, ConstructorsChooseKindsAndExtendIntegers) {
    EXPECT_THAT(BindingProperty(true), IsBool(true));
    EXPECT_THAT(BindingProperty(int32_t{-1}), IsSigned(-1));
    EXPECT_THAT(BindingProperty(uint32_t{0xFFFFFFFFu}), IsUnsigned(0xFFFFFFFFull));
    EXPECT_THAT(BindingProperty(std::numeric_limits<int64_t>::min()), IsSigned(std::numeric_limits<int64_t>::min()));
    EXPECT_THAT(BindingProperty(std::numeric_limits<uint64_t>::max()), IsUnsigned(std::numeric_limits<uint64_t>::max()));
    EXPECT_THAT(BindingProperty(uint8_t{255}), IsUnsigned(255));
    EXPECT_THAT(BindingProperty(int8_t{-1}), IsSigned(-1));
    EXPECT_THAT(BindingProperty(uint16_t{65535}), IsUnsigned(65535));
    EXPECT_THAT(BindingProperty('A'), IsSigned(65));
    EXPECT_THAT(BindingProperty(-2.5), IsFloat(-2.5));
    EXPECT_THAT(BindingProperty(0.5f), IsFloat(0.5));
    EXPECT_THAT(BindingProperty("text"), IsString("text"));
    EXPECT_THAT(BindingProperty("text", 2), IsString("te"));
    EXPECT_THAT(BindingProperty(std::string_view("a\0b", 3)), IsString(std::string("a\0b", 3)));
    EXPECT_THAT(BindingProperty(static_cast<const char*>(nullptr)), IsString(""));
    EXPECT_THAT(BindingProperty(std::vector<uint8_t>{1, 2}), IsBlob(ElementsAre(1, 2)));
}

TEST(BindingPropertyTest, BytesAreCopiedOrMovedIn) {
    std::vector<uint8_t> bytes{1, 2, 3};
    BindingProperty copied(bytes);
    EXPECT_THAT(bytes, SizeIs(3));
    BindingProperty moved(std::move(bytes));
    EXPECT_THAT(bytes, IsEmpty());
    EXPECT_THAT(moved, IsBlob(ElementsAre(1, 2, 3)));
    EXPECT_EQ(copied, moved);
}

TEST(BindingPropertyTest, ReadersNeverConvertBetweenKinds) {
    BindingProperty unsignedFive(5u);
    EXPECT_EQ(unsignedFive.AsSigned(7), 7);
    EXPECT_EQ(unsignedFive.AsFloat(1.5), 1.5);
    EXPECT_EQ(unsignedFive.AsUnsigned(7), 5u);
    BindingProperty signedFive(5);
    EXPECT_EQ(signedFive.AsUnsigned(9), 9u);
    EXPECT_EQ(signedFive.AsBool(true), true);
    BindingProperty text("5");
    EXPECT_EQ(text.AsSigned(3), 3);
    EXPECT_EQ(BindingProperty(1.0).AsString("dflt"), "dflt");
    EXPECT_TRUE(BindingProperty("x").AsBlob().empty());
    EXPECT_EQ(BindingProperty(1).AsEnum({4, 5}), (BindingEnumValue{4, 5}));
}

TEST(BindingPropertyTest, StringTextIsTerminated) {
    BindingProperty value(std::string_view("abcdef", 3));
    std::string_view text = value.AsString();
    EXPECT_EQ(text, "abc");
    EXPECT_EQ(text.data()[text.size()], '\0');
}

TEST(BindingPropertyTest, SizeAndIsEmptyByKind) {
    BindingProperty collection;
    collection.Append();
    BindingProperty structure;
    structure.Member("a");
    BindingProperty enumZero;
    enumZero.SetEnum(0, 77);
    BindingProperty enumOne;
    enumOne.SetEnum(1, 77);
    struct Case {
        const char* name;
        const BindingProperty& value;
        size_t size;
        bool empty;
    };
    const BindingProperty nan(std::numeric_limits<double>::quiet_NaN());
    const BindingProperty negativeZero(-0.0);
    const BindingProperty falseValue(false);
    const BindingProperty trueValue(true);
    const BindingProperty zero(0);
    const BindingProperty unsignedZero(0u);
    const BindingProperty emptyText("");
    const BindingProperty text("abc");
    const BindingProperty emptyBlob(std::vector<uint8_t>{});
    const Case cases[] = {
        {"bool false", falseValue, 1, true},     {"bool true", trueValue, 1, false},
        {"signed 0", zero, 1, true},             {"unsigned 0", unsignedZero, 1, true},
        {"float NaN", nan, 1, false},            {"float -0.0", negativeZero, 1, true},
        {"string empty", emptyText, 0, true},    {"string abc", text, 3, false},
        {"blob empty", emptyBlob, 0, true},      {"enum 0", enumZero, 1, true},
        {"enum 1", enumOne, 1, false},           {"collection of 1", collection, 1, false},
        {"structure of 1", structure, 1, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.value.Size(), c.size) << c.name;
        EXPECT_EQ(c.value.IsEmpty(), c.empty) << c.name;
    }
}

TEST(BindingPropertyTest, SettersReleaseTheOldPayload) {
    BindingProperty value("first");
    PropertyArena* arena = value.Arena();
    ASSERT_NE(arena, nullptr);
    value = 3;
    EXPECT_THAT(value, IsSigned(3));
    EXPECT_EQ(arena->InternedCount(), 0u);
    value.SetEnum(2, 0x1234);
    EXPECT_THAT(value, IsEnum(2, 0x1234));
    value.SetBlob(std::vector<uint8_t>{4});
    EXPECT_THAT(value, IsBlob(ElementsAre(4)));
    value.SetStructure();
    EXPECT_THAT(value, IsStructure(IsEmpty()));
    value.SetCollection();
    EXPECT_THAT(value, IsCollection(IsEmpty()));
    value.Clear();
    EXPECT_THAT(value, IsEmptyValue());
    EXPECT_EQ(arena->CellsInUse(), 0u);
    EXPECT_EQ(value.Arena(), arena);  // a root keeps its arena until destroyed
}

TEST(BindingPropertyTest, SetterMayTakeItsOwnText) {
    BindingProperty value("abc");
    value.SetString(value.AsString().substr(1));
    EXPECT_THAT(value, IsString("bc"));
    value.SetBlob(std::vector<uint8_t>{1, 2, 3});
    value.SetBlob(value.AsBlob().subspan(2));
    EXPECT_THAT(value, IsBlob(ElementsAre(3)));
    EXPECT_EQ(value.Arena()->InternedCount(), 0u);
}

// ------------------------------------------------------------ structures

TEST(BindingPropertyTest, MembersIterateInBytewiseUnsignedOrder) {
    BindingProperty value;
    for (const char* name : {"b", "a", "B", "\xC3\xA9", "ab", "", "~"}) value.Member(name) = name;
    EXPECT_THAT(MemberNames(value), ElementsAre("", "B", "a", "ab", "b", "~", "\xC3\xA9"));
    EXPECT_THAT(value, HasMember("ab", IsString("ab")));
}

// Large structures keep their members in more than one run internally; every
// insertion order must still give one ordered, duplicate-free structure, with
// members found, copied, compared and released whichever run holds them, and
// references to members kept valid while the structure grows.
TEST(BindingPropertyTest, LargeStructuresInAnyInsertionOrder) {
    constexpr int kCount = 3000;
    auto name = [](int i) {
        std::string text = std::to_string(i);
        return std::string(6 - text.size(), '0') + text;
    };
    struct Order {
        const char* label;
        std::vector<int> keys;
    };
    std::vector<Order> orders{{"ascending", {}}, {"descending", {}}, {"interleaved", {}}, {"scattered", {}}};
    for (int i = 0; i < kCount; ++i) {
        orders[0].keys.push_back(i);
        orders[1].keys.push_back(kCount - 1 - i);
        orders[2].keys.push_back(i % 2 == 0 ? i / 2 : kCount - 1 - i / 2);
        orders[3].keys.push_back(static_cast<int>((static_cast<int64_t>(i) * 1103) % kCount));  // 1103 is prime
    }
    for (const Order& order : orders) {
        SCOPED_TRACE(order.label);
        BindingProperty value;
        BindingProperty& first = value.Member(name(order.keys[0]));
        first = "kept";
        for (int key : order.keys) {
            BindingProperty& member = value.Member(name(key));
            if (&member != &first) member = key;
            // Asked again, a member is found, not added.
            ASSERT_EQ(&value.Member(name(key)), &member);
        }
        EXPECT_THAT(first, IsString("kept"));
        ASSERT_EQ(value.Size(), static_cast<size_t>(kCount));
        int expected = 0;
        for (auto [memberName, member] : value.Members()) {
            ASSERT_EQ(memberName, name(expected));
            if (expected != order.keys[0]) {
                ASSERT_THAT(member, IsSigned(expected));
            }
            ++expected;
        }
        for (int i = 0; i < kCount; i += 7) EXPECT_TRUE(value.Contains(name(i))) << i;
        EXPECT_FALSE(value.Contains("missing"));
        const BindingProperty copy = value;
        EXPECT_EQ(copy, value);
        EXPECT_EQ(copy.Arena()->InternedCount(), value.Arena()->InternedCount());
        value.Clear();
        EXPECT_EQ(value.Arena()->CellsInUse(), 0u);
        EXPECT_EQ(value.Arena()->InternedCount(), 0u);
    }
}

TEST(BindingPropertyTest, MemberReturnsTheExistingMember) {
    BindingProperty value;
    value.Member("x") = 1;
    value.Member("x") = 2;
    EXPECT_THAT(value, IsStructure(ElementsAre(Pair("x", IsSigned(2)))));
}

TEST(BindingPropertyTest, GetOfMissingMemberReturnsNullAndChangesNothing) {
    BindingProperty collection;
    collection.Append() = 1;
    BindingProperty empty;
    BindingProperty structure;
    structure.Member("y") = true;
    for (BindingProperty* value : {&collection, &empty, &structure}) {
        const BindingProperty before = *value;
        const BindingProperty& found = std::as_const(*value).Get("x");
        EXPECT_EQ(&found, &BindingProperty::Null());
        EXPECT_THAT(found, IsEmptyValue());
        EXPECT_FALSE(value->Contains("x"));
        EXPECT_EQ(*value, before);
    }
}

TEST(BindingPropertyTest, GetDoesNotNeedATerminatedName) {
    BindingProperty value;
    value.Member("key") = 1;
    const char buffer[] = {'k', 'e', 'y', 's'};
    EXPECT_THAT(value.Get(std::string_view(buffer, 3)), IsSigned(1));
    EXPECT_THAT(value.Get(std::string_view(buffer, 4)), IsEmptyValue());
}

TEST(BindingPropertyTest, MemberOnSignedBecomesStructure) {
    BindingProperty value(42);
    value.Member("x");
    EXPECT_THAT(value, IsStructure(ElementsAre(Pair("x", IsEmptyValue()))));
}

TEST(BindingPropertyTest, MemberOnCollectionReleasesTheElements) {
    BindingProperty value;
    value.Append() = "gone";
    value.Member("x") = 1;
    EXPECT_THAT(value, IsStructure(ElementsAre(Pair("x", IsSigned(1)))));
    EXPECT_EQ(value.Arena()->InternedReferences("gone"), 0u);
}

// ----------------------------------------------------------- collections

TEST(BindingPropertyTest, ElementThreeOnEmptyGivesFourEmptyElements) {
    BindingProperty value;
    BindingProperty& fourth = value.Element(3);
    EXPECT_THAT(value, IsCollection(ElementsAre(IsEmptyValue(), IsEmptyValue(), IsEmptyValue(), IsEmptyValue())));
    EXPECT_EQ(&fourth, &value.At(3));
    EXPECT_FALSE(fourth.IsRoot());
    EXPECT_EQ(fourth.Arena(), value.Arena());
}

TEST(BindingPropertyTest, ElementKeepsExistingElements) {
    BindingProperty value;
    value.Append() = 1;
    value.Element(2) = 3;
    value.Element(0) = 0;
    EXPECT_THAT(value, IsCollection(ElementsAre(IsSigned(0), IsEmptyValue(), IsSigned(3))));
}

TEST(BindingPropertyTest, AtOutsideTheCollectionReturnsNull) {
    BindingProperty value;
    value.Append() = 1;
    EXPECT_THAT(value.At(0), IsSigned(1));
    EXPECT_EQ(&value.At(1), &BindingProperty::Null());
    EXPECT_EQ(&BindingProperty(5).At(0), &BindingProperty::Null());
}

TEST(BindingPropertyTest, ElementOnStringReleasesTheText) {
    BindingProperty value("text");
    value.Element(0) = 1;
    EXPECT_THAT(value, IsCollection(ElementsAre(IsSigned(1))));
    EXPECT_EQ(value.Arena()->InternedCount(), 0u);
}

TEST(BindingPropertyTest, CollectionKeepsInsertionOrderAcrossGrowth) {
    BindingProperty value;
    value.Reserve(100);  // not a Collection: ignored
    EXPECT_THAT(value, IsEmptyValue());
    value.SetCollection();
    value.Reserve(2);
    for (int i = 0; i < 1000; ++i) {
        BindingProperty& element = value.Append();
        element.Member("i") = i;
    }
    ASSERT_EQ(value.Size(), 1000u);
    for (int i = 0; i < 1000; ++i) EXPECT_THAT(value.At(i).Get("i"), IsSigned(i)) << i;
}

// Empty collections cost no cell until something goes in, and each one
// then grows on its own, whichever way it was made empty (set, copied,
// emptied) and whichever call adds to it.
TEST(BindingPropertyTest, EmptyCollectionsTakeNoCellAndGrowApart) {
    BindingProperty root;
    root.SetStructure();
    root.Member("a");
    root.Member("b");
    const size_t cells = root.Arena()->CellsInUse();
    root.Member("a").SetCollection();
    root.Member("b").SetCollection();
    EXPECT_EQ(root.Arena()->CellsInUse(), cells);

    BindingProperty copy = root;
    EXPECT_EQ(copy, root);
    copy.Member("a").Append() = 1;
    copy.Member("b").Element(1) = 2;
    root.Member("b").Reserve(4);
    EXPECT_THAT(root.Get("a"), IsCollection(IsEmpty()));
    EXPECT_THAT(root.Get("b"), IsCollection(IsEmpty()));
    EXPECT_THAT(copy.Get("a"), IsCollection(ElementsAre(IsSigned(1))));
    EXPECT_THAT(copy.Get("b"), IsCollection(ElementsAre(IsEmptyValue(), IsSigned(2))));

    root.Member("b").Append() = 3;
    EXPECT_THAT(root.Get("b"), IsCollection(ElementsAre(IsSigned(3))));
    EXPECT_THAT(root.Get("a"), IsCollection(IsEmpty()));
    root.Member("a").Clear();
    root.Member("b").Clear();
    EXPECT_EQ(root.Arena()->CellsInUse(), cells);
}

// Running out of memory while a collection or a structure grows (from a
// cell into a heap block, or within one) throws and leaves everything it
// held in place, and the container grows again once memory is back.
TEST(BindingPropertyTest, GrowingWithoutMemoryKeepsTheContainer) {
    constexpr int kCount = 300;
    std::vector<std::string> names;
    for (int i = 0; i < kCount; ++i) names.push_back("member-" + std::to_string(i));
    bool allFitted = false;
    for (int budget = 0; !allFitted; ++budget) {
        ASSERT_LT(budget, 100) << "growing never finished";
        BindingProperty list;
        list.SetCollection();
        BindingProperty object;
        object.SetStructure();
        int appended = 0;
        int inserted = 0;
        {
            Testing::AllocationBudget limit(budget);
            try {
                for (; appended < kCount; ++appended) list.Append() = appended;
                for (; inserted < kCount; ++inserted) object.Member(names[inserted]) = inserted;
            } catch (const std::bad_alloc&) {
            }
        }
        allFitted = inserted == kCount;
        ASSERT_EQ(list.Size(), static_cast<size_t>(appended)) << budget;
        for (int i = 0; i < appended; ++i) ASSERT_THAT(list.At(i), IsSigned(i)) << budget;
        ASSERT_EQ(object.Size(), static_cast<size_t>(inserted)) << budget;
        for (int i = 0; i < inserted; ++i) ASSERT_THAT(object.Get(names[i]), IsSigned(i)) << budget;
        list.Append() = -1;
        object.Member("after") = -1;
        EXPECT_THAT(list.At(appended), IsSigned(-1));
        EXPECT_THAT(object.Get("after"), IsSigned(-1));
    }
}

TEST(BindingPropertyTest, HugeReserveIsIgnored) {
    BindingProperty value;
    value.SetCollection();
    value.Reserve(std::numeric_limits<size_t>::max());
    value.Append() = 1;
    EXPECT_THAT(value, IsCollection(ElementsAre(IsSigned(1))));
}

// ------------------------------------------------------------- interning

TEST(BindingPropertyTest, EmptyTextIsNeverInterned) {
    BindingProperty root("");
    EXPECT_EQ(root.Arena(), nullptr);
    EXPECT_THAT(root, IsString(""));
    EXPECT_TRUE(root.IsEmpty());

    BindingProperty tree;
    tree.Member("a") = "";
    PropertyArena* arena = tree.Arena();
    EXPECT_EQ(arena->InternedCount(), 1u);  // the member name only
    tree.Member("") = "";
    EXPECT_EQ(arena->InternedCount(), 1u);
    EXPECT_EQ(arena->InternedReferences(""), 0u);
}

TEST(BindingPropertyTest, SameTextInOneTreeIsStoredOnceAndCounted) {
    BindingProperty tree;
    tree.Member("x") = "shared";
    tree.Member("y") = "shared";
    PropertyArena* arena = tree.Arena();
    EXPECT_EQ(arena->InternedReferences("shared"), 2u);
    EXPECT_EQ(arena->InternedCount(), 3u);  // x, y, shared
    EXPECT_EQ(tree.Get("x").AsString().data(), tree.Get("y").AsString().data());
    tree.Member("x") = 1;
    EXPECT_EQ(arena->InternedReferences("shared"), 1u);
    tree.Member("y").Clear();
    EXPECT_EQ(arena->InternedReferences("shared"), 0u);
    EXPECT_EQ(arena->InternedCount(), 2u);
    tree.Clear();
    EXPECT_EQ(arena->InternedCount(), 0u);
    EXPECT_EQ(arena->CellsInUse(), 0u);
}

TEST(BindingPropertyTest, MemberNamesShareEntriesWithStrings) {
    BindingProperty tree;
    tree.Member("name") = "name";
    EXPECT_EQ(tree.Arena()->InternedReferences("name"), 2u);
    BindingProperty copy = tree;
    EXPECT_EQ(copy.Arena()->InternedReferences("name"), 2u);
    tree.Member("name").Member("name") = "name";  // within one tree: counted again
    EXPECT_EQ(tree.Arena()->InternedReferences("name"), 3u);
}

// ------------------------------------------------------------------ copy

TEST(BindingPropertyTest, CopyIsDeepAndIndependent) {
    BindingProperty original;
    original.Member("list").Append() = "a";
    original.Member("list").Append().SetEnum(3, 99);
    original.Member("bytes") = std::vector<uint8_t>{1, 2};
    original.Member("n") = 2.5;
    BindingProperty copy = original;
    EXPECT_EQ(copy, original);
    EXPECT_NE(copy.Arena(), original.Arena());
    original.Member("list").Element(0) = "changed";
    original.Member("bytes").Clear();
    EXPECT_THAT(copy, IsStructure(ElementsAre(Pair("bytes", IsBlob(ElementsAre(1, 2))),
                                              Pair("list", IsCollection(ElementsAre(IsString("a"), IsEnum(3, 99)))),
                                              Pair("n", IsFloat(2.5)))));
}

TEST(BindingPropertyTest, CopyAssignReplacesWithinTheTargetsArena) {
    BindingProperty source;
    source.Member("k") = "v";
    BindingProperty tree;
    tree.Member("old") = "gone";
    BindingProperty& slot = tree.Member("slot");
    slot = source;
    EXPECT_EQ(slot.Arena(), tree.Arena());
    EXPECT_THAT(slot, HasMember("k", IsString("v")));
    EXPECT_EQ(tree.Arena()->InternedReferences("v"), 1u);
    tree = source;
    EXPECT_EQ(tree, source);
    EXPECT_EQ(tree.Arena()->InternedReferences("gone"), 0u);
}

TEST(BindingPropertyTest, CopyAssignFromADescendantOrIntoOne) {
    BindingProperty tree;
    tree.Member("a").Member("b") = "deep";
    tree = tree.Get("a");
    EXPECT_THAT(tree, IsStructure(ElementsAre(Pair("b", IsString("deep")))));

    tree.Member("self") = tree;
    EXPECT_THAT(tree.Get("self"), IsStructure(ElementsAre(Pair("b", IsString("deep")), Pair("self", IsEmptyValue()))));
    tree = tree;
    EXPECT_EQ(tree.Size(), 2u);
}

// ------------------------------------------------------------------ move

TEST(BindingPropertyTest, MovingOneRootIntoAnotherSwapsArenas) {
    BindingProperty source("from source");
    BindingProperty target("from target");
    PropertyArena* sourceArena = source.Arena();
    PropertyArena* targetArena = target.Arena();
    target = std::move(source);
    EXPECT_THAT(target, IsString("from source"));
    EXPECT_EQ(target.Arena(), sourceArena);
    EXPECT_THAT(source, IsEmptyValue());
    EXPECT_EQ(source.Arena(), targetArena);
    EXPECT_EQ(targetArena->InternedCount(), 0u);
}

TEST(BindingPropertyTest, MoveConstructionTakesTheArena) {
    BindingProperty source;
    BindingProperty& child = source.Member("child");
    child = 5;
    PropertyArena* arena = source.Arena();
    BindingProperty target(std::move(source));
    EXPECT_EQ(target.Arena(), arena);
    EXPECT_EQ(&target.Get("child"), &child);  // children stay where they are
    EXPECT_THAT(source, IsEmptyValue());
    EXPECT_EQ(source.Arena(), nullptr);
}

TEST(BindingPropertyTest, MovingARootIntoAMemberCopiesAndEmptiesTheRoot) {
    BindingProperty root;
    root.Member("k") = "v";
    PropertyArena* rootArena = root.Arena();
    BindingProperty tree;
    tree.Member("other") = 1;
    tree.Member("m") = std::move(root);
    EXPECT_THAT(tree.Get("m"), IsStructure(ElementsAre(Pair("k", IsString("v")))));
    EXPECT_EQ(tree.Get("m").Arena(), tree.Arena());
    EXPECT_THAT(root, IsEmptyValue());
    EXPECT_EQ(root.Arena(), rootArena);
    EXPECT_EQ(rootArena->CellsInUse(), 0u);
}

TEST(BindingPropertyTest, MovingAMemberOutCopiesAndEmptiesTheMember) {
    BindingProperty tree;
    tree.Member("m").Append() = "x";
    BindingProperty taken(std::move(tree.Member("m")));
    EXPECT_THAT(taken, IsCollection(ElementsAre(IsString("x"))));
    EXPECT_TRUE(taken.IsRoot());
    EXPECT_NE(taken.Arena(), tree.Arena());
    EXPECT_THAT(tree, IsStructure(ElementsAre(Pair("m", IsEmptyValue()))));
    EXPECT_EQ(tree.Arena()->InternedReferences("x"), 0u);
}

TEST(BindingPropertyTest, MovingADescendantIntoItsAncestor) {
    BindingProperty tree;
    tree.Member("a").Member("b").Member("c") = 1;
    tree.Member("z") = "dropped";
    tree = std::move(tree.Member("a").Member("b"));
    EXPECT_THAT(tree, IsStructure(ElementsAre(Pair("c", IsSigned(1)))));
    EXPECT_EQ(tree.Arena()->InternedReferences("dropped"), 0u);
}

// The source holds the target, so clearing it would destroy the copy: the
// source keeps its contents.
TEST(BindingPropertyTest, MovingAPropertyIntoItsOwnDescendantCopies) {
    BindingProperty tree;
    tree.Member("a").Member("x") = 1;
    BindingProperty& a = tree.Member("a");
    BindingProperty& target = a.Member("inner");
    target = std::move(a);
    EXPECT_THAT(tree.Get("a").Get("x"), IsSigned(1));
    EXPECT_THAT(tree.Get("a").Get("inner"), IsStructure(ElementsAre(Pair("inner", IsEmptyValue()), Pair("x", IsSigned(1)))));

    BindingProperty root;
    root.Member("k") = 2;
    BindingProperty& inside = root.Member("in");
    inside = std::move(root);
    EXPECT_THAT(root.Get("in").Get("k"), IsSigned(2));
}

TEST(BindingPropertyTest, SelfMoveKeepsTheValue) {
    BindingProperty value("same");
    BindingProperty& alias = value;
    value = std::move(alias);
    EXPECT_THAT(value, IsString("same"));
}

// ------------------------------------------------------------- equality

TEST(BindingPropertyTest, EqualityComparesKindsPayloadsAndMembers) {
    EXPECT_NE(BindingProperty(5), BindingProperty(5u));
    EXPECT_NE(BindingProperty(std::nan("")), BindingProperty(std::nan("")));
    EXPECT_EQ(BindingProperty("x"), BindingProperty(std::string_view("x")));
    BindingProperty left;
    left.Member("a") = 1;
    left.Member("b") = 2;
    BindingProperty right;
    right.Member("b") = 2;
    right.Member("a") = 1;
    EXPECT_EQ(left, right);
    right.Member("a") = 3;
    EXPECT_NE(left, right);
    BindingProperty e1, e2;
    e1.SetEnum(1, 2);
    e2.SetEnum(1, 3);
    EXPECT_NE(e1, e2);
}

TEST(BindingPropertyTest, SharedNullIsAnEmptyRoot) {
    const BindingProperty& null = BindingProperty::Null();
    EXPECT_THAT(null, IsEmptyValue());
    EXPECT_EQ(&null.Get("x"), &null);
    EXPECT_EQ(&null.At(0), &null);
}

TEST(BindingPropertyTest, PrinterShowsTheTreeToABoundedDepth) {
    BindingProperty value;
    value.Member("a").Append() = 1u;
    value.Member("a").Append() = "x";
    value.Member("b");
    value.Member("c").SetEnum(2, 0x10);
    EXPECT_EQ(::testing::PrintToString(value), R"({"a": [1u, "x"], "b": empty, "c": enum(2, 0x10)})");

    BindingProperty deep;
    BindingProperty* level = &deep;
    for (int i = 0; i < 20; ++i) level = &level->Append();
    EXPECT_EQ(::testing::PrintToString(deep), "[[[[[[[[[...]]]]]]]]]");
}

}  // namespace
}  // namespace Korvo
