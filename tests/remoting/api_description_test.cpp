// The API description records built from a registry.
#include "sdk/remoting/api_description.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sdk/binding/record_builder.h"
#include "tests/remoting/transport_test_host.h"

namespace Korvo {
namespace {

using ::testing::ElementsAre;

struct Part {
    std::string label;
    int32_t count = 0;
    std::vector<std::string> names;
};

enum class Mood : int32_t { Calm = 2, Angry = 1, Bored = 3 };

// The records of one kind, walked through their next fields.
template <typename Record>
std::vector<const Record*> Chain(const Record* first) {
    std::vector<const Record*> records;
    for (const Record* record = first; record != nullptr; record = static_cast<const Record*>(record->next)) {
        records.push_back(record);
    }
    return records;
}

class ApiDescriptionTest : public ::testing::Test {
protected:
    ApiDescriptionTest() {
        RegisterRecord<Part>(registry_, "Part")
            .Field("label", &Part::label)
            .Field("count", &Part::count)
            .Field("names", &Part::names)
            .Description("A part")
            .Tag("t1")
            .Tag("t2");
        RegisterEnum<Mood>(registry_, "Mood").Enumerator("Calm", Mood::Calm).Enumerator("Angry", Mood::Angry)
            .Enumerator("Bored", Mood::Bored, "nothing to do");
        registry_.RegisterFunction("NoArguments", 0).SetReturnType(BindingTypeRefOf<int32_t>(&registry_));
        registry_.RegisterFunction("Mixed", 4)
            .SetArgument(0, "text", "some text", BindingTypeRefOf<std::string>(&registry_))
            .SetArgument(1, "part", "", BindingTypeRefOf<Part>(&registry_), true)
            .SetArgument(2, "parts", "", BindingTypeRefOf<std::vector<Part>>(&registry_))
            .SetArgument(3, "odd", "", BindingTypeRef{static_cast<BindingTypeKind>(77)})
            .SetReturnType(BindingTypeRefOf<Mood>(&registry_))
            .SetAsync(true)
            .SetThreadSafe(true)
            .SetHelp("help")
            .AddTag("Plugins");
        registry_.RegisterEvent("OnPart", StaticType::HashCode<Part>()).SetDescription("fired").AddTag("e");

        functions_ = registry_.FunctionsSnapshot();
        types_ = registry_.TypesSnapshot();
        events_ = registry_.EventsSnapshot();
        description_ = builder_.BuildDescription(functions_, types_, events_);
    }

    const HostTypeDescription* Type(std::string_view name) const {
        for (const HostTypeDescription* type : Chain(description_.types)) {
            if (name == type->name) return type;
        }
        return nullptr;
    }

    BindingRegistry registry_;
    std::vector<const BindingFunctionDescriptor*> functions_;
    std::vector<const BindingTypeDescriptor*> types_;
    std::vector<const BindingEventDescriptor*> events_;
    ApiDescriptionBuilder builder_;
    ApiDescription description_;
};

TEST_F(ApiDescriptionTest, EveryArrayIsChainedAndCounted) {
    const auto functions = Chain(static_cast<const HostFunctionDescription*>(description_.functions));
    EXPECT_EQ(functions.size(), description_.functionCount);
    EXPECT_EQ(functions.size(), functions_.size());
    EXPECT_EQ(functions.back(), description_.functions + description_.functionCount - 1);
    EXPECT_EQ(Chain(description_.types).size(), description_.typeCount);
    EXPECT_EQ(Chain(description_.types).size(), types_.size());
    EXPECT_EQ(Chain(description_.events).size(), description_.eventCount);
    EXPECT_EQ(description_.eventCount, 1u);
}

TEST_F(ApiDescriptionTest, FunctionWithoutArgumentsHasNoArgumentLink) {
    const HostFunctionDescription* function = builder_.FindFunction("NoArguments");
    ASSERT_NE(function, nullptr);
    EXPECT_EQ(KORVO_PACKED(function->argumentCount), 0u);
    EXPECT_EQ(KORVO_PACKED(function->arguments), nullptr);
    EXPECT_EQ(KORVO_PACKED(function->resultKind), 6u);
    EXPECT_EQ(KORVO_PACKED(function->resultTypeName), ApiDescriptionBuilder::EmptyText());
    EXPECT_EQ(KORVO_PACKED(function->asyncResultTypeName), ApiDescriptionBuilder::EmptyText());
    EXPECT_EQ(KORVO_PACKED(function->nameSpace), ApiDescriptionBuilder::EmptyText());
    EXPECT_EQ(KORVO_PACKED(function->userData), nullptr);
    EXPECT_EQ(KORVO_PACKED(function->reserved), 0u);
    EXPECT_EQ(KORVO_PACKED(function->tagCount), 0u);
}

TEST_F(ApiDescriptionTest, ArgumentsCarryKindsTypeNamesAndOptionalFlags) {
    const HostFunctionDescription* function = builder_.FindFunction("Mixed");
    ASSERT_NE(function, nullptr);
    const auto arguments = Chain(function->arguments);
    ASSERT_EQ(arguments.size(), 4u);
    EXPECT_EQ(KORVO_PACKED(function->argumentCount), 4u);

    EXPECT_STREQ(arguments[0]->name, "text");
    EXPECT_STREQ(arguments[0]->description, "some text");
    EXPECT_EQ(KORVO_PACKED(arguments[0]->kind), 12u);
    EXPECT_EQ(KORVO_PACKED(arguments[0]->typeName), ApiDescriptionBuilder::EmptyText());
    EXPECT_EQ(arguments[0]->optional, 0);

    EXPECT_EQ(KORVO_PACKED(arguments[1]->kind), 17u);
    EXPECT_STREQ(arguments[1]->typeName, "Part");
    EXPECT_EQ(KORVO_PACKED(arguments[1]->description), ApiDescriptionBuilder::EmptyText());
    EXPECT_EQ(arguments[1]->optional, 1);

    EXPECT_EQ(KORVO_PACKED(arguments[2]->kind), 15u);
    EXPECT_EQ(KORVO_PACKED(arguments[2]->elementKind), 17u);
    EXPECT_STREQ(arguments[2]->typeName, "Part");

    EXPECT_EQ(KORVO_PACKED(arguments[3]->kind), 0u);  // 77 is no kind

    EXPECT_EQ(KORVO_PACKED(function->resultKind), 16u);
    EXPECT_STREQ(function->resultTypeName, "Mood");
    EXPECT_STREQ(function->asyncResultTypeName, "Mood");
    EXPECT_EQ(function->threadSafe, 1);
    EXPECT_STREQ(function->help, "help");
    ASSERT_EQ(KORVO_PACKED(function->tagCount), 1u);
    EXPECT_STREQ(function->tags[0], "Plugins");
}

TEST_F(ApiDescriptionTest, StructReportsFieldsInRegistrationOrder) {
    const HostTypeDescription* type = Type("Part");
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(KORVO_PACKED(type->enumerators), nullptr);
    EXPECT_EQ(KORVO_PACKED(type->count), 3u);
    EXPECT_EQ(KORVO_PACKED(type->size), sizeof(Part));
    EXPECT_STREQ(type->description, "A part");
    ASSERT_EQ(KORVO_PACKED(type->tagCount), 2u);
    EXPECT_STREQ(type->tags[0], "t1");
    EXPECT_STREQ(type->tags[1], "t2");
    const auto fields = Chain(type->fields);
    ASSERT_EQ(fields.size(), 3u);
    EXPECT_STREQ(fields[0]->name, "label");
    EXPECT_EQ(KORVO_PACKED(fields[0]->offset), offsetof(Part, label));
    EXPECT_EQ(KORVO_PACKED(fields[0]->kind), 12u);
    EXPECT_STREQ(fields[1]->name, "count");
    EXPECT_EQ(KORVO_PACKED(fields[1]->offset), offsetof(Part, count));
    EXPECT_EQ(KORVO_PACKED(fields[1]->kind), 6u);
    EXPECT_STREQ(fields[2]->name, "names");
    EXPECT_EQ(KORVO_PACKED(fields[2]->kind), 15u);
    EXPECT_EQ(KORVO_PACKED(fields[2]->elementKind), 12u);
    // A vector of strings has no descriptor to name.
    EXPECT_EQ(KORVO_PACKED(fields[2]->typeName), ApiDescriptionBuilder::EmptyText());
}

TEST_F(ApiDescriptionTest, EnumReportsEnumeratorsSortedByName) {
    const HostTypeDescription* type = Type("Mood");
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(KORVO_PACKED(type->fields), nullptr);
    EXPECT_EQ(KORVO_PACKED(type->count), 3u);
    EXPECT_EQ(KORVO_PACKED(type->size), sizeof(Mood));
    std::vector<std::string> names;
    std::vector<int32_t> values;
    for (const HostEnumeratorDescription* enumerator : Chain(type->enumerators)) {
        names.push_back(enumerator->name);
        values.push_back(enumerator->value);
    }
    EXPECT_THAT(names, ElementsAre("Angry", "Bored", "Calm"));
    EXPECT_THAT(values, ElementsAre(1, 3, 2));
    EXPECT_STREQ(Chain(type->enumerators)[1]->description, "nothing to do");
}

TEST_F(ApiDescriptionTest, EventNamesItsPayloadType) {
    const HostEventDescription* event = description_.events;
    ASSERT_NE(event, nullptr);
    EXPECT_STREQ(event->name, "OnPart");
    EXPECT_STREQ(event->payloadTypeName, "Part");
    EXPECT_STREQ(event->description, "fired");
    ASSERT_EQ(KORVO_PACKED(event->tagCount), 1u);
    EXPECT_STREQ(event->tags[0], "e");
    EXPECT_EQ(KORVO_PACKED(event->next), nullptr);
}

TEST(ApiDescriptionEmptyTest, EmptyRegistryGivesEmptyArrays) {
    ApiDescriptionBuilder builder;
    const ApiDescription description = builder.BuildDescription({}, {}, {});
    EXPECT_EQ(description.functions, nullptr);
    EXPECT_EQ(description.functionCount, 0u);
    EXPECT_EQ(description.types, nullptr);
    EXPECT_EQ(description.events, nullptr);
}

}  // namespace
}  // namespace Korvo
