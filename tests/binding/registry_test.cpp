// Type identity and the registry: register-once builders, lookups, removal
// and re-initialisation.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sdk/binding/builtin_types.h"
#include "sdk/binding/record_builder.h"
#include "sdk/binding/registry.h"
#include "sdk/binding/type_identity.h"

namespace Korvo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

struct Inner {
    int32_t value = 0;
};

struct Outer {
    std::string name;
    Inner inner;
    std::vector<Inner> inners;
};

namespace other {
struct Inner {
    int32_t value = 0;
};
}  // namespace other

enum class Mood : int32_t { Calm = 0, Angry = 1, Cross = 1 };

template <typename T>
std::vector<std::string> NamesOf(const std::vector<const T*>& descriptors) {
    std::vector<std::string> names;
    for (const T* descriptor : descriptors) names.push_back(descriptor->name);
    return names;
}

// ------------------------------------------------------------ identity

TEST(TypeIdentityTest, OneRecordPerTypeWithItsHashAsText) {
    const TypeIdentity& first = StaticType::HashCode<Inner>();
    EXPECT_EQ(&first, &StaticType::HashCode<Inner>());
    char expected[16];
    std::snprintf(expected, sizeof(expected), "#%08X", static_cast<unsigned>(first.hash));
    EXPECT_STREQ(first.text, expected);
}

TEST(TypeIdentityTest, DistinctTypesHaveDistinctHashes) {
    const uint32_t hashes[] = {
        StaticType::HashCode<int>().hash,
        StaticType::HashCode<unsigned int>().hash,
        StaticType::HashCode<bool>().hash,
        StaticType::HashCode<std::string>().hash,
        StaticType::HashCode<std::vector<std::string>>().hash,
        StaticType::HashCode<std::vector<Inner>>().hash,
        StaticType::HashCode<Inner>().hash,
        StaticType::HashCode<other::Inner>().hash,
        StaticType::HashCode<const Inner>().hash,
        StaticType::HashCode<void>().hash,
    };
    for (size_t a = 0; a < std::size(hashes); ++a) {
        for (size_t b = a + 1; b < std::size(hashes); ++b) EXPECT_NE(hashes[a], hashes[b]) << a << " " << b;
    }
}

TEST(TypeIdentityTest, NameNamesTheType) {
    EXPECT_THAT(StaticType::Name<other::Inner>(), ::testing::HasSubstr("other::Inner"));
    EXPECT_EQ(&StaticType::None(), &StaticType::HashCode<void>());
}

// ---------------------------------------------------------------- types

TEST(BindingRegistryTest, TypeIsFoundByNameAndIdentity) {
    BindingRegistry registry;
    const BindingTypeBuilder builder = registry.RegisterType("Inner", sizeof(Inner), StaticType::HashCode<Inner>(), false);
    EXPECT_FALSE(builder.AlreadyRegistered());
    const BindingTypeDescriptor* const type = registry.FindTypeByName("Inner");
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type, builder.Descriptor());
    EXPECT_EQ(registry.FindType(StaticType::HashCode<Inner>()), type);
    EXPECT_EQ(type->size, sizeof(Inner));
    EXPECT_EQ(type->hash, StaticType::HashCode<Inner>().hash);
    EXPECT_EQ(type->registry, &registry);
    EXPECT_EQ(registry.FindTypeByName("inner"), nullptr);
    EXPECT_EQ(registry.FindType(StaticType::HashCode<Outer>()), nullptr);
}

TEST(BindingRegistryTest, SecondRegistrationLeavesTheFirstDefinitionUntouched) {
    BindingRegistry registry;
    const auto registerInner = [&](const char* field, const char* description, const char* tag) {
        return RegisterRecord<Inner>(registry, "Inner").Field(field, &Inner::value).Description(description).Tag(tag);
    };
    EXPECT_FALSE(registerInner("value", "first", "one").AlreadyRegistered());
    EXPECT_TRUE(registerInner("other", "second", "two").AlreadyRegistered());
    RegisterEnum<Mood>(registry, "Inner").Enumerator("Calm", Mood::Calm);

    const BindingTypeDescriptor* const type = registry.FindTypeByName("Inner");
    ASSERT_EQ(type->fields.size(), 1u);
    EXPECT_EQ(type->fields[0].name, "value");
    EXPECT_EQ(type->description, "first");
    EXPECT_THAT(type->tags, ElementsAre("one"));
    EXPECT_FALSE(type->isEnum);
    EXPECT_THAT(type->enumerators, IsEmpty());
}

TEST(BindingRegistryTest, VoidIdentityIsFoundByNameOnly) {
    BindingRegistry registry;
    registry.RegisterType("Nothing", 0, StaticType::None(), false);
    EXPECT_NE(registry.FindTypeByName("Nothing"), nullptr);
    EXPECT_EQ(registry.FindType(StaticType::None()), nullptr);
}

TEST(BindingRegistryTest, FieldsRecordOffsetKindAndResolvedDescriptor) {
    BindingRegistry registry;
    RegisterRecord<Inner>(registry, "Inner").Field("value", &Inner::value);
    RegisterRecord<Outer>(registry, "Outer")
        .Field("name", &Outer::name, BindingFieldFlag::kRequired, "the name")
        .Field("inner", &Outer::inner, BindingFieldFlag::kOmitWhenEmpty)
        .Field("inners", &Outer::inners);
    const BindingTypeDescriptor* const inner = registry.FindTypeByName("Inner");
    const BindingTypeDescriptor* const outer = registry.FindTypeByName("Outer");
    ASSERT_EQ(outer->fields.size(), 3u);

    const BindingFieldDescriptor& name = outer->fields[0];
    EXPECT_EQ(name.offset, offsetof(Outer, name));
    EXPECT_EQ(name.type.kind, BindingTypeKind::String);
    EXPECT_EQ(name.flags, BindingFieldFlag::kRequired);
    EXPECT_EQ(name.description, "the name");
    EXPECT_EQ(name.identity, &StaticType::HashCode<std::string>());
    EXPECT_EQ(name.nameHash, Fnv1a("name"));
    EXPECT_NE(name.converter, nullptr);
    EXPECT_EQ(name.registry, &registry);

    const BindingFieldDescriptor& single = outer->fields[1];
    EXPECT_EQ(single.offset, offsetof(Outer, inner));
    EXPECT_EQ(single.type.kind, BindingTypeKind::Struct);
    EXPECT_EQ(single.type.descriptor, inner);

    const BindingFieldDescriptor& many = outer->fields[2];
    EXPECT_EQ(many.offset, offsetof(Outer, inners));
    EXPECT_EQ(many.type.kind, BindingTypeKind::Vector);
    EXPECT_EQ(many.type.elementKind, BindingTypeKind::Struct);
    EXPECT_EQ(many.type.descriptor, inner);
}

TEST(BindingRegistryTest, FieldOfAnUnregisteredTypeHasNoDescriptor) {
    BindingRegistry registry;
    RegisterRecord<Outer>(registry, "Outer").Field("inner", &Outer::inner);
    EXPECT_EQ(registry.FindTypeByName("Outer")->fields[0].type.descriptor, nullptr);
}

TEST(BindingRegistryTest, EnumeratorByValueIsTheFirstNameInByteOrder) {
    BindingRegistry registry;
    RegisterEnum<Mood>(registry, "Mood")
        .Enumerator("Calm", Mood::Calm, "quiet")
        .Enumerator("Cross", Mood::Cross)
        .Enumerator("Angry", Mood::Angry);
    const uint32_t hash = StaticType::HashCode<Mood>().hash;
    EXPECT_STREQ(registry.FindEnumeratorName(hash, 1), "Angry");
    EXPECT_STREQ(registry.FindEnumeratorName(hash, 0), "Calm");
    EXPECT_EQ(registry.FindEnumeratorName(hash, 2), nullptr);
    EXPECT_EQ(registry.FindEnumeratorName(hash + 1, 1), nullptr);

    const BindingTypeDescriptor* const mood = registry.FindTypeByName("Mood");
    EXPECT_TRUE(mood->isEnum);
    EXPECT_EQ(mood->size, 4u);
    EXPECT_EQ(mood->FindEnumerator("Calm")->description, "quiet");
}

TEST(BindingRegistryTest, EmptyTagIsNotAdded) {
    BindingRegistry registry;
    registry.RegisterType("T", 1, StaticType::None(), false).AddTag("").AddTag("x").AddTag("");
    EXPECT_THAT(registry.FindTypeByName("T")->tags, ElementsAre("x"));
}

TEST(BindingRegistryTest, SameNativeTypeUnderTwoNamesKeepsTheFirstIdentityEntry) {
    BindingRegistry registry;
    RegisterRecord<Inner>(registry, "First");
    RegisterRecord<Inner>(registry, "Second");
    const BindingTypeDescriptor* const first = registry.FindTypeByName("First");
    EXPECT_EQ(registry.FindType(StaticType::HashCode<Inner>()), first);
    EXPECT_TRUE(registry.RemoveType("Second"));
    EXPECT_EQ(registry.FindType(StaticType::HashCode<Inner>()), first);
    EXPECT_TRUE(registry.RemoveType("First"));
    EXPECT_EQ(registry.FindType(StaticType::HashCode<Inner>()), nullptr);
    EXPECT_FALSE(registry.RemoveType("First"));
}

// --------------------------------------------------- events and functions

TEST(BindingRegistryTest, EventFindsItsPayloadAndRegistersOnce) {
    BindingRegistry registry;
    RegisterRecord<Inner>(registry, "Inner");
    BindingEventBuilder event = registry.RegisterEvent("OnInner", StaticType::HashCode<Inner>());
    EXPECT_FALSE(event.AlreadyRegistered());
    event.SetDescription("first").AddTag("t");
    registry.RegisterEvent("OnInner", StaticType::HashCode<Outer>()).SetDescription("second").AddTag("u");

    const BindingEventDescriptor* const found = registry.FindEvent("OnInner");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->payload, registry.FindTypeByName("Inner"));
    EXPECT_EQ(found->description, "first");
    EXPECT_THAT(found->tags, ElementsAre("t"));
    EXPECT_TRUE(registry.RemoveEvent("OnInner"));
    EXPECT_EQ(registry.FindEvent("OnInner"), nullptr);
    EXPECT_FALSE(registry.RemoveEvent("OnInner"));
}

TEST(BindingRegistryTest, FunctionHasItsArgumentSlotsAndCountsChanges) {
    BindingRegistry registry;
    const uint32_t before = registry.ChangeCount();
    BindingFunctionBuilder function = registry.RegisterFunction("Get", 2);
    EXPECT_FALSE(function.AlreadyRegistered());
    function.SetArgument(0, "id", "which one", BindingTypeRefOf<uint32_t>(&registry))
        .SetArgument(1, "filter", "", BindingTypeRefOf<std::optional<std::string>>(&registry), true)
        .SetArgument(2, "ignored", "", {})
        .SetReturnType(BindingTypeRefOf<std::vector<Inner>>(&registry))
        .SetThreadSafe(true)
        .AddTag("api");
    EXPECT_EQ(registry.ChangeCount(), before + 1);
    EXPECT_TRUE(registry.RegisterFunction("Get", 5).AlreadyRegistered());
    EXPECT_EQ(registry.ChangeCount(), before + 1);

    const BindingFunctionDescriptor* const found = registry.FindFunction("Get");
    ASSERT_EQ(found->arguments.size(), 2u);
    EXPECT_EQ(found->arguments[0].name, "id");
    EXPECT_EQ(found->arguments[0].nameHash, Fnv1a("id"));
    EXPECT_EQ(found->arguments[0].type.kind, BindingTypeKind::UInt32);
    EXPECT_EQ(found->arguments[1].type.kind, BindingTypeKind::String);
    EXPECT_TRUE(found->arguments[1].optional);
    EXPECT_EQ(found->EffectiveReturnType().kind, BindingTypeKind::Vector);
    EXPECT_EQ(found->EffectiveReturnType().elementKind, BindingTypeKind::Struct);
    EXPECT_TRUE(found->threadSafe);

    EXPECT_TRUE(registry.RemoveFunction("Get"));
    EXPECT_EQ(registry.ChangeCount(), before + 2);
    EXPECT_FALSE(registry.RemoveFunction("Get"));
    EXPECT_EQ(registry.ChangeCount(), before + 2);
}

TEST(BindingRegistryTest, SnapshotsListEveryEntry) {
    BindingRegistry registry;
    registry.RegisterFunction("a", 0);
    registry.RegisterFunction("b", 1);
    registry.RegisterType("T", 4, StaticType::None(), false);
    registry.RegisterEvent("E", StaticType::None());
    EXPECT_THAT(NamesOf(registry.FunctionsSnapshot()), UnorderedElementsAre("a", "b"));
    EXPECT_THAT(NamesOf(registry.TypesSnapshot()), ElementsAre("T"));
    EXPECT_THAT(NamesOf(registry.EventsSnapshot()), ElementsAre("E"));
}

TEST(BindingTypeKindTest, NamesOfEveryKind) {
    const char* const names[] = {"",       "bool",   "int8",   "uint8",  "int16",  "uint16", "int32",
                                 "uint32", "int64",  "uint64", "float",  "double", "string", "object",
                                 "blob",   "vector", "enum",   "struct", "callback", "map"};
    for (uint32_t kind = 0; kind < std::size(names); ++kind) {
        EXPECT_STREQ(BindingTypeKindName(static_cast<BindingTypeKind>(kind)), names[kind]);
    }
    EXPECT_STREQ(BindingTypeKindName(static_cast<BindingTypeKind>(20)), "");
    EXPECT_STREQ(BindingTypeKindName(static_cast<BindingTypeKind>(0xFFFFFFFFu)), "");
}

// ----------------------------------------------------------- Initialise

TEST(BindingRegistryTest, InitialiseRegistersTheBuiltinsAndOnCallback) {
    BindingRegistry registry;
    EXPECT_FALSE(registry.IsInitialised());
    registry.Initialise();
    EXPECT_TRUE(registry.IsInitialised());
    const BindingEventDescriptor* const onCallback = registry.FindEvent("OnCallback");
    ASSERT_NE(onCallback, nullptr);
    EXPECT_EQ(onCallback->payload, registry.FindTypeByName("BindingCallbackEvent"));
    EXPECT_EQ(onCallback->description, "Fired when a callback is invoked.");
    EXPECT_THAT(onCallback->tags, ElementsAre("$builtin"));
    EXPECT_EQ(registry.EventsSnapshot().size(), 1u);
    EXPECT_EQ(registry.TypesSnapshot().size(), 15u);  // nine help types, six async types
}

TEST(BindingRegistryTest, SecondInitialiseKeepsOnlyTheBuiltins) {
    BindingRegistry registry;
    registry.Initialise();
    const auto builtinTypes = NamesOf(registry.TypesSnapshot());
    RegisterRecord<Inner>(registry, "Inner").Field("value", &Inner::value);
    registry.RegisterEvent("OnInner", StaticType::HashCode<Inner>());
    registry.RegisterFunction("Get", 1);
    // A builtin changed by the user is registered afresh.
    registry.RemoveType("BindingAsyncCancelEvent");
    const uint32_t changes = registry.ChangeCount();

    registry.Initialise();
    EXPECT_EQ(registry.FindTypeByName("Inner"), nullptr);
    EXPECT_EQ(registry.FindType(StaticType::HashCode<Inner>()), nullptr);
    EXPECT_EQ(registry.FindEvent("OnInner"), nullptr);
    EXPECT_EQ(registry.FindFunction("Get"), nullptr);
    EXPECT_EQ(registry.ChangeCount(), changes + 1);
    EXPECT_THAT(NamesOf(registry.TypesSnapshot()), ::testing::UnorderedElementsAreArray(builtinTypes));
    EXPECT_THAT(NamesOf(registry.EventsSnapshot()), ElementsAre("OnCallback"));
    EXPECT_NE(registry.FindType(StaticType::HashCode<BindingAsyncCancelEvent>()), nullptr);
}

}  // namespace
}  // namespace Korvo
