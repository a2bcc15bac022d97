// Native to value conversion: kind mapping, omitted fields, and failures of
// unregistered structs and custom converters.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "sdk/binding/converter.h"
#include "sdk/binding/from_native.h"
#include "sdk/binding/record_builder.h"
#include "sdk/binding/registry.h"
#include "tests/support/binding_matchers.h"

namespace Korvo {
namespace {

using Testing::FailedWithMessage;
using Testing::HasValue;
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
using ::testing::ElementsAre;
using ::testing::Pair;

enum class Big : int64_t { Five = 5 };
enum class Small : int8_t { Minus = -1 };

struct Scalars {
    int8_t i8 = -1;
    uint8_t u8 = 255;
    int16_t i16 = -300;
    uint16_t u16 = 60000;
    float f = 0.5f;
    Big big = static_cast<Big>((int64_t{1} << 32) + 5);
    Small small = Small::Minus;
};

struct Labels {
    std::string kept;
    std::string omitted;
    std::optional<int32_t> maybe;
};

struct Unregistered {
    int32_t value = 0;
};

struct Holder {
    int32_t before = 1;
    std::vector<Unregistered> items;
    int32_t after = 2;
};

// A converter that fails with its own message, as a custom one may.
class RefusingConverter final : public BindingConverter {
public:
    void ToNative(BindingResult& result, void*, const BindingProperty&, std::string_view,
                  const BindingFieldDescriptor&) const override {
        result.Fail("refused");
    }
    void FromNative(BindingResult& result, const void*, const BindingFieldDescriptor&) const override {
        result.Fail("refused");
    }
};

struct WithCallback {
    int32_t first = 1;
    int32_t callback = 0;
    int32_t last = 3;
};

class FromNativeTest : public ::testing::Test {
protected:
    FromNativeTest() {
        RegisterEnum<Big>(registry_, "Big").Enumerator("Five", Big::Five);
        RegisterEnum<Small>(registry_, "Small").Enumerator("Minus", Small::Minus);
        RegisterRecord<Scalars>(registry_, "Scalars")
            .Field("i8", &Scalars::i8)
            .Field("u8", &Scalars::u8)
            .Field("i16", &Scalars::i16)
            .Field("u16", &Scalars::u16)
            .Field("f", &Scalars::f)
            .Field("big", &Scalars::big)
            .Field("small", &Scalars::small);
        RegisterRecord<Labels>(registry_, "Labels")
            .Field("kept", &Labels::kept)
            .Field("omitted", &Labels::omitted, BindingFieldFlag::kOmitWhenEmpty)
            .Field("maybe", &Labels::maybe, BindingFieldFlag::kOmitWhenEmpty);
        RegisterRecord<Holder>(registry_, "Holder")
            .Field("before", &Holder::before)
            .Field("items", &Holder::items)
            .Field("after", &Holder::after);
        registry_.RegisterType("WithCallback", sizeof(WithCallback), StaticType::HashCode<WithCallback>(), false)
            .AddField("first", "", offsetof(WithCallback, first), StaticType::HashCode<int32_t>(),
                      BindingTypeRefOf<int32_t>(&registry_), 0, MakeBindingConverter<int32_t>())
            .AddField("callback", "", offsetof(WithCallback, callback), StaticType::None(),
                      BindingTypeRef{BindingTypeKind::Callback}, 0, std::make_unique<RefusingConverter>())
            .AddField("last", "", offsetof(WithCallback, last), StaticType::HashCode<int32_t>(),
                      BindingTypeRefOf<int32_t>(&registry_), 0, MakeBindingConverter<int32_t>());
    }

    template <typename T>
    BindingResult Convert(const T& source) {
        BindingResult result;
        FromNative(result, source, &registry_);
        return result;
    }

    BindingRegistry registry_;
};

TEST_F(FromNativeTest, ScalarsWidenBySignedness) {
    EXPECT_THAT(Convert(Scalars{}),
                HasValue(IsStructure(ElementsAre(
                    Pair("big", IsEnum(5, StaticType::HashCode<Big>().hash)), Pair("f", IsFloat(0.5)),
                    Pair("i16", IsSigned(-300)), Pair("i8", IsSigned(-1)),
                    Pair("small", IsEnum(-1, StaticType::HashCode<Small>().hash)), Pair("u16", IsUnsigned(60000)),
                    Pair("u8", IsUnsigned(255))))));
}

TEST_F(FromNativeTest, TopLevelValuesOfEveryKind) {
    EXPECT_THAT(Convert(true), HasValue(IsBool(true)));
    EXPECT_THAT(Convert(int64_t{-7}), HasValue(IsSigned(-7)));
    EXPECT_THAT(Convert(uint64_t{UINT64_MAX}), HasValue(IsUnsigned(UINT64_MAX)));
    EXPECT_THAT(Convert(2.5), HasValue(IsFloat(2.5)));
    EXPECT_THAT(Convert(std::string("x")), HasValue(IsString("x")));
    EXPECT_THAT(Convert(BindingProperty::Blob{1, 2}), HasValue(IsBlob(ElementsAre(1, 2))));
    EXPECT_THAT(Convert(std::vector<std::string>{"a", ""}), HasValue(IsCollection(ElementsAre(IsString("a"), IsString("")))));
    EXPECT_THAT(Convert(std::vector<bool>{true, false}), HasValue(IsCollection(ElementsAre(IsBool(true), IsBool(false)))));
    EXPECT_THAT(Convert(std::vector<int32_t>{}), HasValue(IsCollection(::testing::IsEmpty())));
    EXPECT_THAT(Convert(std::map<std::string, int32_t>{{"b", 2}, {"a", 1}}),
                HasValue(IsStructure(ElementsAre(Pair("a", IsSigned(1)), Pair("b", IsSigned(2))))));
    EXPECT_THAT(Convert(std::unordered_map<std::string, int32_t>{}), HasValue(IsStructure(::testing::IsEmpty())));
    EXPECT_THAT(Convert(std::optional<int32_t>{}), HasValue(IsEmptyValue()));
}

TEST_F(FromNativeTest, AnEmptyStringIsTheSharedEmptyString) {
    BindingResult result = Convert(std::string());
    EXPECT_THAT(result, HasValue(IsString("")));
    EXPECT_EQ(result.Value().AsString().data(), BindingProperty("").AsString().data());
}

TEST_F(FromNativeTest, ObjectIsCopiedWhateverItsKind) {
    BindingProperty nested;
    nested.Member("list").Append() = "x";
    EXPECT_THAT(Convert(nested), HasValue(::testing::Eq(nested)));
    EXPECT_THAT(Convert(BindingProperty()), HasValue(IsEmptyValue()));
}

TEST_F(FromNativeTest, OmitWhenEmptySkipsEmptyMembersOnly) {
    EXPECT_THAT(Convert(Labels{}), HasValue(IsStructure(ElementsAre(Pair("kept", IsString(""))))));
    EXPECT_THAT(Convert(Labels{"k", "o", 4}),
                HasValue(IsStructure(ElementsAre(Pair("kept", IsString("k")), Pair("maybe", IsSigned(4)),
                                                 Pair("omitted", IsString("o"))))));
    // Emptiness is the value's: a present zero is as empty as an absent one.
    EXPECT_THAT(Convert(Labels{"k", "", 0}), HasValue(IsStructure(ElementsAre(Pair("kept", IsString("k"))))));
}

TEST_F(FromNativeTest, UnregisteredStructFailsAtAnyDepth) {
    const char* const message = "Couldn't convert native value because it's an unregistered structure.";
    EXPECT_THAT(Convert(Unregistered{}), FailedWithMessage(message));
    Holder holder;
    holder.items.resize(3);
    EXPECT_THAT(Convert(holder), FailedWithMessage(message));
    // An empty vector of them converts nothing and fails nothing.
    EXPECT_THAT(Convert(Holder{}), HasValue(IsStructure(ElementsAre(
                                       Pair("after", IsSigned(2)), Pair("before", IsSigned(1)),
                                       Pair("items", IsCollection(::testing::IsEmpty()))))));
}

TEST_F(FromNativeTest, ConverterFailureStopsTheStruct) {
    const BindingTypeDescriptor* const type = registry_.FindTypeByName("WithCallback");
    WithCallback record;
    BindingResult result;
    FromNativeStruct(result, result.Value(), &record, type);
    EXPECT_THAT(result, FailedWithMessage("refused"));

    // The field-level entry point fills a result of its own.
    BindingResult first;
    FromNative(first, &record.first, type->fields[0]);
    EXPECT_THAT(first, HasValue(IsSigned(1)));
    BindingResult callback;
    FromNative(callback, &record.callback, type->fields[1]);
    EXPECT_THAT(callback, FailedWithMessage("refused"));
}

TEST_F(FromNativeTest, AFailedResultIsLeftAlone) {
    BindingResult result = BindingResult::Failure("earlier");
    FromNative(result, Scalars{}, &registry_);
    EXPECT_THAT(result, FailedWithMessage("earlier"));
}

}  // namespace
}  // namespace Korvo
