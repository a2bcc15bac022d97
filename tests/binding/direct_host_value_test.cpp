// Native values written straight into host values (WriteHostValue) against
// the two-step route they replace (FromNative, then ToHostValue): for every
// shape the converters bind, the two trees must agree field by field, and a
// failing conversion must fail with the same first message.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "plugin/ui_state_resource.h"
#include "sdk/binding/converter.h"
#include "sdk/binding/host_value_conversion.h"
#include "sdk/binding/record_builder.h"
#include "sdk/binding/registry.h"
#include "sdk/records/host_value.h"
#include "tests/support/allocation_budget.h"

namespace Korvo {
namespace {

using UiState = Client::QuorvexZV::Api::ZVFeatureUIStateResource;

enum class Color : uint8_t { Red = 0, Green = 1, Blue = 2 };
enum class Wide : int64_t { Five = 5 };
enum class Tiny : int8_t { Minus = -1 };
enum class Unnamed : int32_t { One = 1 };  // never registered

struct Inner {
    int32_t number = 0;
    std::string text;
};

struct Unregistered {
    int32_t value = 0;
};

// Registered with its fields out of name order; "Zed" sorts before "apple"
// and "\xC3\xA9t\xC3\xA9" after "z" (names compare as unsigned bytes).
struct Shapes {
    bool flag = false;
    int8_t i8 = 0;
    uint8_t u8 = 0;
    int16_t i16 = 0;
    uint16_t u16 = 0;
    int32_t i32 = 0;
    uint32_t u32 = 0;
    int64_t i64 = 0;
    uint64_t u64 = 0;
    float f = 0;
    double d = 0;
    std::string text;
    BindingProperty any;
    BindingProperty::Blob blob;
    Color color = Color::Red;
    Wide wide = Wide::Five;
    Tiny tiny = Tiny::Minus;
    Inner inner;
    std::vector<int32_t> numbers;
    std::vector<bool> flags;
    std::vector<std::string> texts;
    std::vector<Inner> inners;
    std::vector<Color> colors;
    std::vector<std::vector<int32_t>> grid;
    std::unordered_map<std::string, int32_t> counts;
    std::map<std::string, Inner> byName;
    std::optional<int32_t> maybeNumber;
    std::optional<Inner> maybeInner;
    std::shared_ptr<const Inner> shared;
};

struct WithOmitted {
    std::string kept;
    std::string omitted;
    std::optional<Color> maybeColor;
};

struct Twice {
    int32_t first = 1;
    int32_t second = 2;
};

struct HoldsUnregistered {
    int32_t before = 1;
    std::vector<Unregistered> items;
    Unregistered single;
};

// Refuses with its own message, as a custom converter may.
class RefusingConverter final : public BindingConverter {
public:
    explicit RefusingConverter(std::string message) : message_(std::move(message)) {}
    void ToNative(BindingResult& result, void*, const BindingProperty&, std::string_view,
                  const BindingFieldDescriptor&) const override {
        result.Fail(message_);
    }
    void FromNative(BindingResult& result, const void*, const BindingFieldDescriptor&) const override {
        result.Fail(message_);
    }

private:
    std::string message_;
};

// A custom converter that succeeds: reads an int32 and writes it doubled, as
// a String, so the direct route has to go through its property.
class DoublingConverter final : public BindingConverter {
public:
    void ToNative(BindingResult&, void*, const BindingProperty&, std::string_view,
                  const BindingFieldDescriptor&) const override {}
    void FromNative(BindingResult& result, const void* source, const BindingFieldDescriptor&) const override {
        int32_t value;
        std::memcpy(&value, source, sizeof(value));
        result.Value().SetString(std::to_string(value * 2));
    }
};

struct Custom {
    int32_t plain = 3;
    int32_t doubled = 21;
    int32_t refusedFirst = 0;
    int32_t refusedSecond = 0;
};

struct CustomOk {
    int32_t plain = 3;
    int32_t doubled = 21;
};

// ------------------------------------------------------- tree comparison

// Field by field: the type word, the scalar payloads bit for bit, texts and
// bytes with their lengths (and a text's NUL), containers element by
// element, members with their key and ownership. The records are packed:
// every field is copied out before a matcher takes it by reference.
void ExpectSameTree(const HostValue& expected, const HostValue& actual, const std::string& path) {
    const uint32_t type = expected.type;
    const uint32_t actualType = actual.type;
    ASSERT_EQ(actualType, type) << path;
    switch (static_cast<HostValueType>(type)) {
        case HostValueType::Null:
        case HostValueType::Bool:
        case HostValueType::Int64:
        case HostValueType::UInt64:
        case HostValueType::Double:
            // The unused bytes of the data word are zero in both.
            EXPECT_EQ(std::memcmp(&actual, &expected, sizeof(HostValue)), 0) << path;
            return;
        case HostValueType::String: {
            const char* const text = actual.data.string.text;
            const char* const expectedText = expected.data.string.text;
            const uint32_t length = actual.data.string.length;
            const uint32_t expectedLength = expected.data.string.length;
            ASSERT_EQ(length, expectedLength) << path;
            ASSERT_NE(text, nullptr) << path;
            EXPECT_NE(text, expectedText) << path << ": each tree owns its copy";
            EXPECT_EQ(std::memcmp(text, expectedText, expectedLength + 1), 0) << path;
            return;
        }
        case HostValueType::Binary: {
            const uint8_t* const bytes = actual.data.binary.bytes;
            const uint8_t* const expectedBytes = expected.data.binary.bytes;
            const uint32_t count = actual.data.binary.count;
            const uint32_t expectedCount = expected.data.binary.count;
            ASSERT_EQ(count, expectedCount) << path;
            EXPECT_EQ(bytes == nullptr, expectedBytes == nullptr) << path;
            if (count != 0) {
                EXPECT_EQ(std::memcmp(bytes, expectedBytes, count), 0) << path;
            }
            return;
        }
        case HostValueType::Array: {
            const HostValue* const items = actual.data.array.items;
            const HostValue* const expectedItems = expected.data.array.items;
            const uint32_t count = actual.data.array.count;
            const uint32_t expectedCount = expected.data.array.count;
            ASSERT_EQ(count, expectedCount) << path;
            EXPECT_EQ(items == nullptr, expectedItems == nullptr) << path;
            for (uint32_t index = 0; index < count; ++index) {
                ExpectSameTree(expectedItems[index], items[index], path + "[" + std::to_string(index) + "]");
            }
            return;
        }
        case HostValueType::Object: {
            const HostValueMember* const members = actual.data.object.members;
            const HostValueMember* const expectedMembers = expected.data.object.members;
            const uint32_t count = actual.data.object.count;
            const uint32_t expectedCount = expected.data.object.count;
            ASSERT_EQ(count, expectedCount) << path;
            EXPECT_EQ(members == nullptr, expectedMembers == nullptr) << path;
            for (uint32_t index = 0; index < count; ++index) {
                const char* const key = members[index].key;
                const char* const expectedKey = expectedMembers[index].key;
                const uint8_t ownsKey = members[index].ownsKey;
                const uint8_t expectedOwnsKey = expectedMembers[index].ownsKey;
                ASSERT_NE(key, nullptr) << path;
                EXPECT_STREQ(key, expectedKey) << path << " member " << index;
                EXPECT_EQ(ownsKey, expectedOwnsKey) << path << "." << expectedKey;
                ExpectSameTree(expectedMembers[index].value, members[index].value, path + "." + expectedKey);
            }
            return;
        }
        default:
            ADD_FAILURE() << path << ": a type the conversion never builds";
    }
}

// ---------------------------------------------------------------- fixture

class DirectHostValueTest : public ::testing::Test {
protected:
    DirectHostValueTest() {
        RegisterEnum<Color>(registry_, "Color")
            .Enumerator("Red", Color::Red)
            .Enumerator("Green", Color::Green)
            .Enumerator("Blue", Color::Blue);
        RegisterEnum<Wide>(registry_, "Wide").Enumerator("Five", Wide::Five);
        RegisterEnum<Tiny>(registry_, "Tiny").Enumerator("Minus", Tiny::Minus);
        RegisterRecord<Inner>(registry_, "Inner").Field("text", &Inner::text).Field("number", &Inner::number);
        RegisterRecord<UiState>(registry_, "QuorvexZVNotification")
            .Field("state", &UiState::state)
            .Field("updatedBy", &UiState::updatedBy)
            .Field("timestamp", &UiState::timestamp)
            .Field("data", &UiState::data);
        RegisterRecord<Shapes>(registry_, "Shapes")
            .Field("u64", &Shapes::u64)
            .Field("flag", &Shapes::flag)
            .Field("Zed", &Shapes::i8)
            .Field("u8", &Shapes::u8)
            .Field("i16", &Shapes::i16)
            .Field("u16", &Shapes::u16)
            .Field("\xC3\xA9t\xC3\xA9", &Shapes::i32)
            .Field("u32", &Shapes::u32)
            .Field("i64", &Shapes::i64)
            .Field("f", &Shapes::f)
            .Field("d", &Shapes::d)
            .Field("text", &Shapes::text)
            .Field("any", &Shapes::any)
            .Field("blob", &Shapes::blob)
            .Field("color", &Shapes::color)
            .Field("wide", &Shapes::wide)
            .Field("tiny", &Shapes::tiny)
            .Field("inner", &Shapes::inner)
            .Field("numbers", &Shapes::numbers)
            .Field("flags", &Shapes::flags)
            .Field("texts", &Shapes::texts)
            .Field("inners", &Shapes::inners)
            .Field("colors", &Shapes::colors)
            .Field("grid", &Shapes::grid)
            .Field("counts", &Shapes::counts)
            .Field("byName", &Shapes::byName)
            .Field("maybeNumber", &Shapes::maybeNumber)
            .Field("maybeInner", &Shapes::maybeInner)
            .Field("shared", &Shapes::shared)
            .Field("apple", &Shapes::u16);
        RegisterRecord<WithOmitted>(registry_, "WithOmitted")
            .Field("kept", &WithOmitted::kept)
            .Field("omitted", &WithOmitted::omitted, BindingFieldFlag::kOmitWhenEmpty)
            .Field("maybeColor", &WithOmitted::maybeColor, BindingFieldFlag::kOmitWhenEmpty);
        // Two fields under one name: the later one's value stands.
        RegisterRecord<Twice>(registry_, "Twice").Field("n", &Twice::first).Field("n", &Twice::second);
        RegisterRecord<HoldsUnregistered>(registry_, "HoldsUnregistered")
            .Field("before", &HoldsUnregistered::before)
            .Field("items", &HoldsUnregistered::items)
            .Field("single", &HoldsUnregistered::single);
        registry_.RegisterType("Custom", sizeof(Custom), StaticType::HashCode<Custom>(), false)
            .AddField("plain", "", offsetof(Custom, plain), StaticType::HashCode<int32_t>(),
                      BindingTypeRefOf<int32_t>(&registry_), 0, MakeBindingConverter<int32_t>())
            .AddField("doubled", "", offsetof(Custom, doubled), StaticType::None(),
                      BindingTypeRef{BindingTypeKind::Callback}, 0, std::make_unique<DoublingConverter>())
            // Registered first, sorted last: its message is the one kept.
            .AddField("z-refused", "", offsetof(Custom, refusedFirst), StaticType::None(),
                      BindingTypeRef{BindingTypeKind::Callback}, 0, std::make_unique<RefusingConverter>("first"))
            .AddField("a-refused", "", offsetof(Custom, refusedSecond), StaticType::None(),
                      BindingTypeRef{BindingTypeKind::Callback}, 0, std::make_unique<RefusingConverter>("second"));
        registry_.RegisterType("CustomOk", sizeof(CustomOk), StaticType::HashCode<CustomOk>(), false)
            .AddField("plain", "", offsetof(CustomOk, plain), StaticType::HashCode<int32_t>(),
                      BindingTypeRefOf<int32_t>(&registry_), 0, MakeBindingConverter<int32_t>())
            .AddField("doubled", "", offsetof(CustomOk, doubled), StaticType::None(),
                      BindingTypeRef{BindingTypeKind::Callback}, 0, std::make_unique<DoublingConverter>());
    }

    // Both routes for source; the trees (or the failures) must agree.
    template <typename T>
    void ExpectSameAsViaProperty(const T& source, const std::string& name) {
        SCOPED_TRACE(name);
        BindingResult viaProperty;
        FromNative(viaProperty, source, &registry_);

        HostValueWriter writer(&registry_);
        OwnedHostValueRecord direct;
        const bool written = WriteHostValue(writer, direct.Value(), source);
        if (viaProperty.Failed()) {
            EXPECT_FALSE(written);
            EXPECT_TRUE(writer.Failed());
            EXPECT_EQ(writer.Message(), viaProperty.ErrorMessage());
            return;
        }
        ASSERT_TRUE(written) << writer.Message();
        OwnedHostValueRecord expected;
        ASSERT_TRUE(ToHostValue(expected.Value(), viaProperty.Value(), &registry_));
        ExpectSameTree(expected.Value(), direct.Value(), "$");
    }

    static BindingProperty UiData() {
        BindingProperty data;
        data.Member("volume") = 0.5;
        BindingProperty& devices = data.Member("devices");
        devices.Append() = "a";
        devices.Append() = "";
        data.Member("nested").Member("deeper").Append().Member("k") = true;
        data.Member("blob") = BindingProperty::Blob{0, 1, 2};
        data.Member("").SetUnsigned(7);
        data.Member("color").SetEnum(2, StaticType::HashCode<Color>().hash);
        data.Member("unnamed").SetEnum(9, StaticType::HashCode<Color>().hash);
        return data;
    }

    static Shapes FullShapes() {
        Shapes shapes;
        shapes.flag = true;
        shapes.i8 = -1;
        shapes.u8 = 255;
        shapes.i16 = -300;
        shapes.u16 = 60000;
        shapes.i32 = std::numeric_limits<int32_t>::min();
        shapes.u32 = UINT32_MAX;
        shapes.i64 = std::numeric_limits<int64_t>::min();
        shapes.u64 = UINT64_MAX;
        shapes.f = 0.1f;
        shapes.d = -0.0;
        shapes.text = std::string("with\0nul", 8);
        shapes.any = UiData();
        shapes.blob = {0, 255, 0};
        shapes.color = Color::Blue;
        shapes.wide = static_cast<Wide>((int64_t{1} << 32) + 5);
        shapes.tiny = Tiny::Minus;
        shapes.inner = Inner{4, "four"};
        shapes.numbers = {1, -2, 3};
        shapes.flags = {true, false, true};
        shapes.texts = {"", "b", std::string(300, 'x')};
        shapes.inners = {Inner{1, "one"}, Inner{}, Inner{3, ""}};
        shapes.colors = {Color::Green, static_cast<Color>(200), Color::Red};
        shapes.grid = {{1, 2}, {}, {3}};
        shapes.counts = {{"b", 2}, {"a", 1}, {"", 0}, {std::string("a\0z", 3), 9}, {"\xC3\xA9", 3}, {"B", 4}};
        shapes.byName = {{"y", Inner{25, "y"}}, {"x", Inner{24, "x"}}};
        shapes.maybeNumber = 0;
        shapes.maybeInner = Inner{5, "five"};
        shapes.shared = std::make_shared<const Inner>(Inner{6, "six"});
        return shapes;
    }

    BindingRegistry registry_;
};

TEST_F(DirectHostValueTest, EveryShapeMatchesTheRouteThroughProperties) {
    UiState ui{"muted", "overlay", 1700000000000, UiData()};
    UiState emptyUi{};
    Shapes empty;
    std::map<std::string, std::shared_ptr<const UiState>> list{
        {"voice-chat", std::make_shared<const UiState>(ui)},
        {"", std::make_shared<const UiState>(emptyUi)},
        {"absent", nullptr}};

    std::vector<std::function<void()>> cases = {
        [&] { ExpectSameAsViaProperty(true, "bool"); },
        [&] { ExpectSameAsViaProperty(int8_t{-128}, "int8"); },
        [&] { ExpectSameAsViaProperty(uint16_t{65535}, "uint16"); },
        [&] { ExpectSameAsViaProperty(int64_t{-7}, "int64"); },
        [&] { ExpectSameAsViaProperty(uint64_t{UINT64_MAX}, "uint64"); },
        [&] { ExpectSameAsViaProperty(1.5f, "float"); },
        [&] { ExpectSameAsViaProperty(std::numeric_limits<double>::quiet_NaN(), "NaN"); },
        [&] { ExpectSameAsViaProperty(std::string(), "empty string"); },
        [&] { ExpectSameAsViaProperty(std::string("a\0b\0", 4), "embedded NULs"); },
        [&] { ExpectSameAsViaProperty(BindingProperty::Blob{}, "empty blob"); },
        [&] { ExpectSameAsViaProperty(Color::Green, "enum with a name"); },
        [&] { ExpectSameAsViaProperty(static_cast<Color>(77), "enum out of range"); },
        [&] { ExpectSameAsViaProperty(static_cast<Wide>((int64_t{1} << 32) + 5), "8-byte enum cut to 32 bits"); },
        [&] { ExpectSameAsViaProperty(Tiny::Minus, "1-byte enum sign-extended"); },
        [&] { ExpectSameAsViaProperty(Unnamed::One, "unregistered enum"); },
        [&] { ExpectSameAsViaProperty(BindingProperty(), "Empty property"); },
        [&] { ExpectSameAsViaProperty(UiData(), "property tree"); },
        [&] { ExpectSameAsViaProperty(ui, "the plug-in's record"); },
        [&] { ExpectSameAsViaProperty(emptyUi, "the plug-in's record, empty"); },
        [&] { ExpectSameAsViaProperty(list, "the plug-in's list"); },
        [&] { ExpectSameAsViaProperty(std::make_shared<const UiState>(ui), "a shared record"); },
        [&] { ExpectSameAsViaProperty(std::shared_ptr<const UiState>(), "a null shared record"); },
        [&] { ExpectSameAsViaProperty(FullShapes(), "every field shape"); },
        [&] { ExpectSameAsViaProperty(empty, "every field shape, defaults"); },
        [&] { ExpectSameAsViaProperty(std::vector<Shapes>{FullShapes(), empty}, "vector of records"); },
        [&] { ExpectSameAsViaProperty(std::vector<std::string>{}, "empty vector"); },
        [&] { ExpectSameAsViaProperty(std::vector<bool>{false, true}, "vector of bool"); },
        [&] { ExpectSameAsViaProperty(std::map<std::string, int32_t>{}, "empty map"); },
        [&] { ExpectSameAsViaProperty(std::unordered_map<std::string, std::vector<Color>>{{"z", {Color::Red}}, {"", {}}},
                                      "unordered map of vectors"); },
        [&] { ExpectSameAsViaProperty(std::map<std::string, Inner, std::greater<>>{{"a", {}}, {"b", {}}},
                                      "map in another order"); },
        [&] { ExpectSameAsViaProperty(std::optional<Inner>(), "absent optional"); },
        [&] { ExpectSameAsViaProperty(std::optional<std::vector<int32_t>>(std::vector<int32_t>{1}), "optional vector"); },
        [&] { ExpectSameAsViaProperty(WithOmitted{"k", "", std::nullopt}, "omit-when-empty, omitted"); },
        [&] { ExpectSameAsViaProperty(WithOmitted{"", "o", Color::Red}, "omit-when-empty, enum zero omitted"); },
        [&] { ExpectSameAsViaProperty(WithOmitted{"", "o", Color::Blue}, "omit-when-empty, kept"); },
        [&] { ExpectSameAsViaProperty(Twice{}, "two fields of one name"); },
        [&] { ExpectSameAsViaProperty(CustomOk{}, "custom converter"); },
        // Failures: the same first message.
        [&] { ExpectSameAsViaProperty(Unregistered{}, "unregistered struct"); },
        [&] { ExpectSameAsViaProperty(HoldsUnregistered{1, {}, {}}, "unregistered member"); },
        [&] { ExpectSameAsViaProperty(HoldsUnregistered{1, {Unregistered{}}, {}}, "unregistered element"); },
        [&] { ExpectSameAsViaProperty(std::vector<Unregistered>{{}, {}}, "vector of unregistered"); },
        [&] { ExpectSameAsViaProperty(std::map<std::string, Unregistered>{{"a", {}}}, "map of unregistered"); },
        [&] { ExpectSameAsViaProperty(Custom{}, "refusing converters, first registered wins"); },
    };
    for (const auto& check : cases) check();
}

TEST_F(DirectHostValueTest, AFailureLeavesOnlyWhatTheRootReleases) {
    // The sanitizer build reports anything written before the failure and
    // not attached to the root.
    HoldsUnregistered holder{1, {Unregistered{}}, {}};
    HostValueWriter writer(&registry_);
    HostValue root{};
    EXPECT_FALSE(WriteHostValue(writer, root, holder));
    const uint32_t type = root.type;
    EXPECT_EQ(type, static_cast<uint32_t>(HostValueType::Object));
    FreeHostValue(&root);
}

TEST_F(DirectHostValueTest, RunningOutOfMemoryIsReportedAsSuch) {
    const UiState ui{"muted", "overlay", 1, UiData()};
    bool written = false;
    int failures = 0;
    for (int allowed = 0; !written && allowed < 64; ++allowed) {
        HostValueWriter writer(&registry_);
        HostValue root{};
        {
            Testing::AllocationBudget limit(allowed);
            written = WriteHostValue(writer, root, ui);
        }
        if (!written) {
            ++failures;
            EXPECT_TRUE(writer.OutOfMemory()) << allowed;
            EXPECT_TRUE(writer.Message().empty()) << allowed;
        }
        FreeHostValue(&root);
    }
    EXPECT_TRUE(written);
    EXPECT_GT(failures, 10);
}

}  // namespace
}  // namespace Korvo
