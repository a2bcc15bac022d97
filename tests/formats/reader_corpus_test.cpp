// The corpus (bench/data) holds each document in all three formats: the three
// readers must read each one to the same value.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sdk/formats/json_reader.h"
#include "sdk/formats/message_pack_reader.h"
#include "sdk/formats/yaml_reader.h"
#include "tests/support/binding_matchers.h"
#include "tests/support/test_support.h"

namespace Korvo {
namespace {

using Testing::Succeeded;

bool IsNumber(const BindingProperty& value) {
    switch (value.Kind()) {
        case BindingPropertyKind::Signed:
        case BindingPropertyKind::Unsigned:
        case BindingPropertyKind::Float:
            return true;
        default:
            return false;
    }
}

double AsDouble(const BindingProperty& value) {
    switch (value.Kind()) {
        case BindingPropertyKind::Signed:
            return static_cast<double>(value.AsSigned());
        case BindingPropertyKind::Unsigned:
            return static_cast<double>(value.AsUnsigned());
        default:
            return value.AsFloat();
    }
}

// Whole numbers compare exactly across Signed and Unsigned (MessagePack
// gives small non-negative numbers as Signed, JSON as Unsigned).
bool SameInteger(const BindingProperty& a, const BindingProperty& b) {
    auto split = [](const BindingProperty& v) -> std::pair<bool, uint64_t> {
        if (v.Is(BindingPropertyKind::Unsigned)) return {false, v.AsUnsigned()};
        int64_t s = v.AsSigned();
        return {s < 0, s < 0 ? 0 - static_cast<uint64_t>(s) : static_cast<uint64_t>(s)};
    };
    return split(a) == split(b);
}

// Compares two trees without recursion. Integers compare exactly when
// exactIntegers is set; any other pair of numbers within relativeTolerance.
// Returns the path of the first difference, or "".
std::string Difference(const BindingProperty& left, const BindingProperty& right, bool exactIntegers,
                       double relativeTolerance) {
    // Each visited pair remembers its parent and its step, so the path is
    // only spelled out for a difference.
    struct Visit {
        const BindingProperty* a;
        const BindingProperty* b;
        size_t parent;
        std::string_view name;
        size_t index;
    };
    std::vector<Visit> visits{{&left, &right, 0, {}, 0}};
    std::vector<size_t> pending{0};
    auto path = [&visits](size_t at, const char* why) {
        std::string text;
        for (; at != 0; at = visits[at].parent) {
            const Visit& v = visits[at];
            text.insert(0, v.name.data() != nullptr ? "." + std::string(v.name) : "[" + std::to_string(v.index) + "]");
        }
        return "$" + text + " " + why;
    };
    while (!pending.empty()) {
        size_t at = pending.back();
        pending.pop_back();
        const BindingProperty* a = visits[at].a;
        const BindingProperty* b = visits[at].b;
        if (IsNumber(*a) && IsNumber(*b)) {
            bool integers = !a->Is(BindingPropertyKind::Float) && !b->Is(BindingPropertyKind::Float);
            if (integers && exactIntegers) {
                if (!SameInteger(*a, *b)) return path(at, "integers differ");
                continue;
            }
            double x = AsDouble(*a), y = AsDouble(*b);
            if (std::fabs(x - y) > relativeTolerance * std::max(std::fabs(x), std::fabs(y))) return path(at, "numbers differ");
            continue;
        }
        if (a->Kind() != b->Kind()) return path(at, "kinds differ");
        switch (a->Kind()) {
            case BindingPropertyKind::String:
                if (a->AsString() != b->AsString()) return path(at, "strings differ");
                break;
            case BindingPropertyKind::Bool:
                if (a->AsBool() != b->AsBool()) return path(at, "bools differ");
                break;
            case BindingPropertyKind::Collection:
                if (a->Size() != b->Size()) return path(at, "sizes differ");
                for (size_t i = 0; i < a->Size(); ++i) {
                    visits.push_back({&a->At(i), &b->At(i), at, {}, i});
                    pending.push_back(visits.size() - 1);
                }
                break;
            case BindingPropertyKind::Structure: {
                if (a->Size() != b->Size()) return path(at, "member counts differ");
                auto other = b->Members().begin();
                for (auto [name, member] : a->Members()) {
                    if (name != other.Name()) return path(at, "member names differ");
                    visits.push_back({&member, &other.Value(), at, name, 0});
                    pending.push_back(visits.size() - 1);
                    ++other;
                }
                break;
            }
            default:
                break;
        }
    }
    return {};
}

class ReaderCorpusTest : public ::testing::TestWithParam<const char*> {
protected:
    static std::string Load(const std::string& format, const std::string& extension) {
        std::string path = Testing::BenchDataDirectory() + "/" + format + "/" + GetParam() + "." + extension;
        std::string text = Testing::ReadFile(path);
        EXPECT_FALSE(text.empty()) << "cannot read " << path;
        return text;
    }
};

TEST_P(ReaderCorpusTest, AllThreeFormatsReadToTheSameValue) {
    BindingResult json = ReadJson(Load("json", "json"));
    ASSERT_THAT(json, Succeeded());

    std::string bytes = Load("msgpack", "msgpack");
    uint32_t position = 0;
    BindingResult messagePack = ReadMessagePack(bytes.data(), static_cast<uint32_t>(bytes.size()), &position);
    ASSERT_THAT(messagePack, Succeeded());
    EXPECT_EQ(position, bytes.size());

    BindingResult yaml = ReadYaml(Load("yaml", "yaml"));
    ASSERT_THAT(yaml, Succeeded());

    // Integers are exact in JSON and MessagePack; RapidJSON's default
    // conversion of decimals may be off in the last bit of a double.
    EXPECT_EQ(Difference(json.Value(), messagePack.Value(), true, 1e-15), "");
    // YAML numbers pass through strtod, so whole numbers beyond 2^53 and
    // whole-valued floats match as doubles, and decimals exactly.
    EXPECT_EQ(Difference(messagePack.Value(), yaml.Value(), false, 0), "");
}

INSTANTIATE_TEST_SUITE_P(Corpus, ReaderCorpusTest, ::testing::Values("ui-state", "twitter", "citm_catalog", "canada"));

}  // namespace
}  // namespace Korvo
