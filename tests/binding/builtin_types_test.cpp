// The builtin help and asynchronous-operation types: what Initialise
// registers, their layouts as the registry reports them, and conversions.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sdk/binding/builtin_types.h"
#include "sdk/binding/converter.h"
#include "sdk/binding/registry.h"
#include "tests/support/binding_matchers.h"

namespace Korvo {
namespace {

using Testing::FailedWithMessage;
using Testing::HasValue;
using Testing::IsCollection;
using Testing::IsEmptyValue;
using Testing::IsString;
using Testing::IsStructure;
using Testing::IsUnsigned;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::Pair;

using Kind = BindingTypeKind;
using Help = BindingHelpProvider;

struct FieldSpec {
    const char* name;
    Kind kind;
    Kind elementKind;
    const char* typeName;  // the descriptor's name, or "" for none
    uint32_t offset32;     // offset in the 32-bit Windows build
    const char* description;
};

struct TypeSpec {
    const char* name;
    uint32_t size32;
    const char* description;
    std::vector<std::string> tags;
    std::vector<FieldSpec> fields;
};

const Kind kNone = Kind::None;

const std::vector<TypeSpec>& RecordSpecs() {
    static const std::vector<TypeSpec> specs = {
        {"BindingFullTypeIdentifier", 48, "Describes the type of a value.", {"$builtin", "help"},
         {{"type", Kind::String, kNone, "", 0, ""}, {"elementType", Kind::String, kNone, "", 24, ""}}},
        {"BindingFullArgumentHelp", 100, "Describes a function parameter.", {"$builtin", "help"},
         {{"name", Kind::String, kNone, "", 0, ""},
          {"description", Kind::String, kNone, "", 24, ""},
          {"type", Kind::Struct, kNone, "BindingFullTypeIdentifier", 48, ""},
          {"optional", Kind::Bool, kNone, "", 96, ""}}},
        {"BindingFullFunctionHelp", 196, "Describes a function.", {"$builtin", "help"},
         {{"name", Kind::String, kNone, "", 0, ""},
          {"nameSpace", Kind::String, kNone, "", 24, ""},
          {"arguments", Kind::Vector, Kind::Struct, "BindingFullArgumentHelp", 48, ""},
          {"returns", Kind::Struct, kNone, "BindingFullTypeIdentifier", 60, ""},
          {"description", Kind::String, kNone, "", 108, ""},
          {"help", Kind::String, kNone, "", 132, ""},
          {"threadSafe", Kind::Bool, kNone, "", 156, ""},
          {"async", Kind::String, kNone, "", 160, ""},
          {"tags", Kind::Vector, Kind::String, "", 184, ""}}},
        {"BindingFullEnumValueHelp", 52, "Describes an enumerator.", {"$builtin", "help"},
         {{"name", Kind::String, kNone, "", 0, ""},
          {"description", Kind::String, kNone, "", 24, ""},
          {"value", Kind::Int32, kNone, "", 48, ""}}},
        {"BindingFullFieldHelp", 104, "Describes a member of a struct.", {"$builtin", "help"},
         {{"name", Kind::String, kNone, "", 0, ""},
          {"description", Kind::String, kNone, "", 24, ""},
          {"offset", Kind::UInt32, kNone, "", 48, ""},
          {"type", Kind::Struct, kNone, "BindingFullTypeIdentifier", 52, ""},
          {"optional", Kind::Bool, kNone, "", 100, ""}}},
        {"BindingFullTypeHelp", 112, "Describes a struct or enum type.", {"$builtin", "help"},
         {{"name", Kind::String, kNone, "", 0, ""},
          {"nameSpace", Kind::String, kNone, "", 24, ""},
          {"size", Kind::UInt32, kNone, "", 48, ""},
          {"description", Kind::String, kNone, "", 52, ""},
          {"tags", Kind::Vector, Kind::String, "", 76, ""},
          {"fields", Kind::Vector, Kind::Struct, "BindingFullFieldHelp", 88, ""},
          {"values", Kind::Vector, Kind::Struct, "BindingFullEnumValueHelp", 100, ""}}},
        {"BindingFullEventHelp", 132, "Describes an event.", {"$builtin", "help"},
         {{"name", Kind::String, kNone, "", 0, ""},
          {"nameSpace", Kind::String, kNone, "", 24, ""},
          {"type", Kind::Struct, kNone, "BindingFullTypeIdentifier", 48, ""},
          {"description", Kind::String, kNone, "", 96, ""},
          {"tags", Kind::Vector, Kind::String, "", 120, ""}}},
        {"BindingFullApiHelp", 36, "Describes the exposed native API.", {"$builtin", "help"},
         {{"functions", Kind::Vector, Kind::Struct, "BindingFullFunctionHelp", 0, ""},
          {"types", Kind::Vector, Kind::Struct, "BindingFullTypeHelp", 12, ""},
          {"events", Kind::Vector, Kind::Struct, "BindingFullEventHelp", 24, ""}}},
        {"BindingGenericEvent", 16, "Represents generic data for an event.", {"$builtin"},
         {{"data", Kind::Object, kNone, "", 0, "Event data"}}},
        {"BindingCallbackEvent", 16, "Represents the parameters of a call to a provided callback.", {"$builtin"},
         {{"id", Kind::UInt32, kNone, "", 0, "ID of the callback being invoked"},
          {"parameters", Kind::Vector, Kind::Object, "", 4, "Callback parameters"}}},
        {"BindingGenericAsyncEvent", 24, "Represents generic data for an asynchronous event.", {"$builtin", "async"},
         {{"asyncToken", Kind::UInt32, kNone, "", 0, "Asynchronous operation token"},
          {"data", Kind::Object, kNone, "", 8, "Event data"}}},
        {"BindingAsyncFailureEvent", 28, "Represents a failed asynchronous operation.", {"$builtin", "async"},
         {{"asyncToken", Kind::UInt32, kNone, "", 0, "Asynchronous operation token"},
          {"error", Kind::String, kNone, "", 4, "Error message"}}},
        {"BindingAsyncCancelEvent", 4, "Represents a cancelled asynchronous operation.", {"$builtin", "async"},
         {{"asyncToken", Kind::UInt32, kNone, "", 0, "Asynchronous operation token"}}},
    };
    return specs;
}

struct EnumeratorSpec {
    const char* name;
    int32_t value;
    const char* description;
};

class BuiltinTypesTest : public ::testing::Test {
protected:
    BuiltinTypesTest() { registry_.Initialise(); }

    const BindingTypeDescriptor& Type(const char* name) {
        const BindingTypeDescriptor* type = registry_.FindTypeByName(name);
        if (type == nullptr) ADD_FAILURE() << name << " is not registered";
        static const BindingTypeDescriptor kMissing;
        return type != nullptr ? *type : kMissing;
    }

    void ExpectEnum(const char* name, uint32_t hash, const char* description,
                    const std::vector<std::string>& tags, const std::vector<EnumeratorSpec>& enumerators) {
        const BindingTypeDescriptor& type = Type(name);
        EXPECT_TRUE(type.isEnum);
        EXPECT_EQ(type.size, 4u);
        EXPECT_EQ(type.hash, hash);
        EXPECT_EQ(type.description, description);
        EXPECT_EQ(type.tags, tags);
        EXPECT_TRUE(type.fields.empty());
        ASSERT_EQ(type.enumerators.size(), enumerators.size());
        for (const EnumeratorSpec& spec : enumerators) {
            const BindingEnumerator* enumerator = type.FindEnumerator(spec.name);
            ASSERT_NE(enumerator, nullptr) << spec.name;
            EXPECT_EQ(enumerator->value, spec.value) << spec.name;
            EXPECT_EQ(enumerator->description, spec.description) << spec.name;
        }
    }

    template <typename T>
    BindingResult FromNativeValue(const T& source) {
        BindingResult result;
        FromNative(result, source, &registry_);
        return result;
    }

    template <typename T>
    BindingResult ToNativeValue(const BindingProperty& input, T& out) {
        BindingResult result;
        ToNative(result, out, input, "field", &registry_);
        return result;
    }

    BindingRegistry registry_;
};

TEST_F(BuiltinTypesTest, RecordsHaveTheirFieldsDescriptionsAndTags) {
    for (const TypeSpec& spec : RecordSpecs()) {
        SCOPED_TRACE(spec.name);
        const BindingTypeDescriptor& type = Type(spec.name);
        EXPECT_FALSE(type.isEnum);
        EXPECT_EQ(type.description, spec.description);
        EXPECT_EQ(type.tags, spec.tags);
        ASSERT_EQ(type.fields.size(), spec.fields.size());
        for (size_t index = 0; index < spec.fields.size(); ++index) {
            const FieldSpec& expected = spec.fields[index];
            const BindingFieldDescriptor& field = type.fields[index];
            SCOPED_TRACE(expected.name);
            EXPECT_EQ(field.name, expected.name);
            EXPECT_EQ(field.type.kind, expected.kind);
            EXPECT_EQ(field.type.elementKind, expected.elementKind);
            // A contained record was registered before its container.
            EXPECT_EQ(field.type.descriptor != nullptr ? field.type.descriptor->name : "", expected.typeName);
            EXPECT_EQ(field.description, expected.description);
            EXPECT_EQ(field.flags, 0u);
            EXPECT_FALSE(field.optional);
            EXPECT_NE(field.converter, nullptr);
        }
    }
}

#if UINTPTR_MAX == 0xFFFFFFFFu
// The 32-bit Windows build describes these records to the host with exactly
// these sizes and offsets.
TEST_F(BuiltinTypesTest, RecordLayoutsOfThe32BitBuild) {
    for (const TypeSpec& spec : RecordSpecs()) {
        SCOPED_TRACE(spec.name);
        const BindingTypeDescriptor& type = Type(spec.name);
        EXPECT_EQ(type.size, spec.size32);
        ASSERT_EQ(type.fields.size(), spec.fields.size());
        for (size_t index = 0; index < spec.fields.size(); ++index) {
            EXPECT_EQ(type.fields[index].offset, spec.fields[index].offset32) << spec.fields[index].name;
        }
    }
}
#endif

TEST_F(BuiltinTypesTest, EnumsHaveTheirEnumerators) {
    ExpectEnum("BindingHelpFormat", StaticType::HashCode<Help::HelpFormat>().hash,
               "Help format for binding functions and types.", {"$builtin", "help"},
               {{"Full", 1, "Native help format"}, {"Epytext", 2, "Python epytext format"}});
    ExpectEnum("BindingAsyncState", StaticType::HashCode<BindingAsyncState::Type>().hash,
               "Possible states of an asynchronous operation.", {"$builtin", "async"},
               {{"None", 0, "Invalid state"},
                {"Running", 1, "The operation is in flight"},
                {"Cancelling", 2, "A request to cancel the operation has been made"},
                {"Cancelled", 3, "The operation was cancelled"},
                {"Succeeded", 4, "The operation completed successfully"},
                {"Failed", 5, "The operation encountered an error"}});
}

TEST_F(BuiltinTypesTest, RegisteringAgainChangesNothing) {
    const BindingTypeDescriptor* const api = &Type("BindingFullApiHelp");
    const size_t types = registry_.TypesSnapshot().size();
    RegisterBuiltins(registry_);
    EXPECT_EQ(registry_.TypesSnapshot().size(), types);
    EXPECT_EQ(&Type("BindingFullApiHelp"), api);
    EXPECT_EQ(api->fields.size(), 3u);
    EXPECT_EQ(Type("BindingHelpFormat").enumerators.size(), 2u);
    EXPECT_EQ(Type("BindingFullTypeIdentifier").tags.size(), 2u);
}

TEST_F(BuiltinTypesTest, HelpFormatFromNameOrNumber) {
    Help::HelpFormat format{};
    EXPECT_THAT(ToNativeValue(BindingProperty("Epytext"), format), Testing::Succeeded());
    EXPECT_EQ(format, Help::HelpFormat::Epytext);
    format = {};
    EXPECT_THAT(ToNativeValue(BindingProperty(2), format), Testing::Succeeded());
    EXPECT_EQ(format, Help::HelpFormat::Epytext);
    EXPECT_THAT(ToNativeValue(BindingProperty(3), format),
                FailedWithMessage("3 is not a valid BindingHelpFormat enumeration value for 'field'."));
}

TEST_F(BuiltinTypesTest, AsyncStateFromNameOrNumber) {
    BindingAsyncState::Type state{};
    EXPECT_THAT(ToNativeValue(BindingProperty("Cancelled"), state), Testing::Succeeded());
    EXPECT_EQ(state, BindingAsyncState::Type::Cancelled);
    state = {};
    EXPECT_THAT(ToNativeValue(BindingProperty(3), state), Testing::Succeeded());
    EXPECT_EQ(state, BindingAsyncState::Type::Cancelled);
    EXPECT_THAT(ToNativeValue(BindingProperty(6), state),
                FailedWithMessage("6 is not a valid BindingAsyncState enumeration value for 'field'."));
}

TEST_F(BuiltinTypesTest, EmptyTypeIdentifierHasBothMembers) {
    EXPECT_THAT(FromNativeValue(Help::FullTypeIdentifier{}),
                HasValue(IsStructure(ElementsAre(Pair("elementType", IsString("")), Pair("type", IsString(""))))));
}

TEST_F(BuiltinTypesTest, AsyncFailureEventMembersInNameOrder) {
    EXPECT_THAT(FromNativeValue(BindingAsyncFailureEvent{7, "x"}),
                HasValue(IsStructure(ElementsAre(Pair("asyncToken", IsUnsigned(7)), Pair("error", IsString("x"))))));
}

TEST_F(BuiltinTypesTest, CallbackEventKeepsEmptyParameters) {
    BindingCallbackEvent event;
    event.id = 4;
    event.parameters.resize(2);
    event.parameters[1] = "second";
    EXPECT_THAT(FromNativeValue(event),
                HasValue(IsStructure(ElementsAre(
                    Pair("id", IsUnsigned(4)),
                    Pair("parameters", IsCollection(ElementsAre(IsEmptyValue(), IsString("second"))))))));
}

TEST_F(BuiltinTypesTest, ApiHelpRoundTripsThroughValues) {
    Help::FullApiHelp api;
    Help::FullFunctionHelp& function = api.functions.emplace_back();
    function.name = "Get";
    function.threadSafe = true;
    function.tags = {"a", "b"};
    function.returns.type = "vector";
    function.returns.elementType = "string";
    function.arguments.push_back({"id", "which", {"uint32", ""}, true});
    Help::FullTypeHelp& type = api.types.emplace_back();
    type.name = "Level";
    type.size = 4;
    type.values.push_back({"Low", "", 1});
    type.fields.push_back({"f", "", 8, {"int32", ""}, false});
    api.events.push_back({"OnX", "ns", {"struct", ""}, "d", {"t"}});

    BindingResult value = FromNativeValue(api);
    ASSERT_THAT(value, Testing::Succeeded());
    Help::FullApiHelp back;
    ASSERT_THAT(ToNativeValue(value.Value(), back), Testing::Succeeded());
    ASSERT_EQ(back.functions.size(), 1u);
    EXPECT_EQ(back.functions[0].name, "Get");
    EXPECT_TRUE(back.functions[0].threadSafe);
    EXPECT_THAT(back.functions[0].tags, ElementsAre("a", "b"));
    EXPECT_EQ(back.functions[0].returns.elementType, "string");
    ASSERT_EQ(back.functions[0].arguments.size(), 1u);
    EXPECT_EQ(back.functions[0].arguments[0].type.type, "uint32");
    EXPECT_TRUE(back.functions[0].arguments[0].optional);
    ASSERT_EQ(back.types.size(), 1u);
    EXPECT_EQ(back.types[0].values[0].value, 1);
    EXPECT_EQ(back.types[0].fields[0].offset, 8u);
    ASSERT_EQ(back.events.size(), 1u);
    EXPECT_THAT(back.events[0].tags, ElementsAre("t"));
}

}  // namespace
}  // namespace Korvo
