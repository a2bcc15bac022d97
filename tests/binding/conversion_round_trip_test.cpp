// A record with a field of every kind travels native -> value -> host
// value -> value -> native and arrives unchanged.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "sdk/binding/converter.h"
#include "sdk/binding/host_value_conversion.h"
#include "sdk/binding/record_builder.h"
#include "sdk/binding/registry.h"
#include "sdk/allocation/allocation.h"
#include "tests/support/binding_matchers.h"

namespace Korvo {
namespace {

using Testing::Succeeded;

enum class Shade : int16_t { Light = 1, Dark = -2 };

struct Part {
    std::string label;
    int32_t count = 0;
    bool operator==(const Part&) const = default;
};

struct Everything {
    bool flag = false;
    int8_t i8 = 0;
    uint8_t u8 = 0;
    int16_t i16 = 0;
    uint16_t u16 = 0;
    int32_t i32 = 0;
    uint32_t u32 = 0;
    int64_t i64 = 0;
    uint64_t u64 = 0;
    float f32 = 0;
    double f64 = 0;
    std::string text;
    BindingProperty object;
    BindingProperty::Blob blob;
    Shade shade = Shade::Light;
    Part part;
    std::vector<int32_t> numbers;
    std::vector<std::string> words;
    std::vector<bool> flags;
    std::vector<Part> parts;
    std::vector<BindingProperty> objects;
    std::vector<Shade> shades;
    std::unordered_map<std::string, int64_t> counts;
    std::map<std::string, Part> partsByName;
    std::optional<uint16_t> maybe;
    std::optional<Part> maybePart;

    bool operator==(const Everything&) const = default;
};

void RegisterTypes(BindingRegistry& registry) {
    RegisterEnum<Shade>(registry, "Shade").Enumerator("Light", Shade::Light).Enumerator("Dark", Shade::Dark);
    RegisterRecord<Part>(registry, "Part").Field("label", &Part::label).Field("count", &Part::count);
    RegisterRecord<Everything>(registry, "Everything")
        .Field("flag", &Everything::flag)
        .Field("i8", &Everything::i8)
        .Field("u8", &Everything::u8)
        .Field("i16", &Everything::i16)
        .Field("u16", &Everything::u16)
        .Field("i32", &Everything::i32)
        .Field("u32", &Everything::u32)
        .Field("i64", &Everything::i64)
        .Field("u64", &Everything::u64)
        .Field("f32", &Everything::f32)
        .Field("f64", &Everything::f64)
        .Field("text", &Everything::text)
        .Field("object", &Everything::object)
        .Field("blob", &Everything::blob)
        .Field("shade", &Everything::shade)
        .Field("part", &Everything::part)
        .Field("numbers", &Everything::numbers)
        .Field("words", &Everything::words)
        .Field("flags", &Everything::flags)
        .Field("parts", &Everything::parts)
        .Field("objects", &Everything::objects)
        .Field("shades", &Everything::shades)
        .Field("counts", &Everything::counts)
        .Field("partsByName", &Everything::partsByName)
        .Field("maybe", &Everything::maybe)
        .Field("maybePart", &Everything::maybePart);
}

Everything FullRecord() {
    Everything record;
    record.flag = true;
    record.i8 = std::numeric_limits<int8_t>::min();
    record.u8 = std::numeric_limits<uint8_t>::max();
    record.i16 = -12345;
    record.u16 = 54321;
    record.i32 = std::numeric_limits<int32_t>::min();
    record.u32 = std::numeric_limits<uint32_t>::max();
    record.i64 = std::numeric_limits<int64_t>::min();
    record.u64 = std::numeric_limits<uint64_t>::max();
    record.f32 = 0.1f;
    record.f64 = -1e300;
    record.text = "text with \"quotes\" and ünïcödé";
    record.object.Member("nested").Append() = 1.5;
    record.object.Member("bytes") = BindingProperty::Blob{0, 255};
    record.blob = {0, 1, 2, 250};
    record.shade = Shade::Dark;
    record.part = {"single", 3};
    record.numbers = {1, -2, 3};
    record.words = {"a", "", "c"};
    record.flags = {true, false, true};
    record.parts = {{"first", 1}, {"second", 2}};
    record.objects.resize(3);
    record.objects[0] = "x";
    record.objects[2].Member("k") = false;
    record.shades = {Shade::Light, Shade::Dark};
    record.counts = {{"x", -1}, {"y", 2}};
    record.partsByName = {{"p", {"named", 7}}};
    record.maybe = 9;
    record.maybePart = Part{"maybe", 8};
    return record;
}

// native -> value -> host value -> value -> native; enumerators travel as
// names when the host side of the trip has the registry.
Everything RoundTrip(const BindingRegistry& registry, const Everything& original, bool namesOnTheWire) {
    BindingResult value;
    FromNative(value, original, &registry);
    EXPECT_THAT(value, Succeeded());

    HostValue host;
    std::memset(static_cast<void*>(&host), 0, sizeof(host));
    EXPECT_TRUE(ToHostValue(host, value.Value(), namesOnTheWire ? &registry : nullptr));

    BindingProperty received;
    HostValueResult error;
    std::memset(static_cast<void*>(&error), 0, sizeof(error));
    EXPECT_TRUE(ToProperty(error, received, host, "<result>", &registry));
    FreeHostValue(&host);
    Memory::Free(error.message);

    Everything copy;
    BindingResult converted;
    ToNative(converted, copy, received, "record", &registry);
    EXPECT_THAT(converted, Succeeded());
    return copy;
}

TEST(ConversionRoundTripTest, EveryFieldKindArrivesUnchanged) {
    BindingRegistry registry;
    RegisterTypes(registry);
    const Everything original = FullRecord();
    EXPECT_EQ(RoundTrip(registry, original, true), original);
    EXPECT_EQ(RoundTrip(registry, original, false), original);
}

TEST(ConversionRoundTripTest, DefaultRecordArrivesUnchanged) {
    BindingRegistry registry;
    RegisterTypes(registry);
    const Everything original;
    EXPECT_EQ(RoundTrip(registry, original, true), original);
}

TEST(ConversionRoundTripTest, EnumeratorsTravelAsNamesWithTheRegistry) {
    BindingRegistry registry;
    RegisterTypes(registry);
    BindingResult value;
    FromNative(value, FullRecord(), &registry);
    HostValue host;
    std::memset(static_cast<void*>(&host), 0, sizeof(host));
    ASSERT_TRUE(ToHostValue(host, value.Value(), &registry));
    BindingProperty received;
    HostValueResult error;
    std::memset(static_cast<void*>(&error), 0, sizeof(error));
    ASSERT_TRUE(ToProperty(error, received, host, "<result>", &registry));
    FreeHostValue(&host);
    EXPECT_THAT(received.Get("shade"), Testing::IsString("Dark"));
    EXPECT_THAT(received.Get("shades").At(0), Testing::IsString("Light"));
}

}  // namespace
}  // namespace Korvo
