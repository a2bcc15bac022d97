// tests/support/binding_matchers.h - gmock matchers for BindingProperty and
// BindingResult, and printers that show a property tree in failure output.
//
// Header-only: a test that includes it links korvo_binding itself.
//
//   EXPECT_THAT(ReadJson("5"), HasValue(IsUnsigned(5)));
//   EXPECT_THAT(ReadJson("[1] x"), FailedWithMessage("Error: ... at offset 4."));
//   EXPECT_THAT(value, IsStructure(ElementsAre(Pair("a", IsString("x")))));
//   EXPECT_THAT(value, IsCollection(ElementsAre(IsBool(true), IsEmptyValue())));
//
// Scalar matchers take a value or a matcher: IsFloat(DoubleNear(1.0, 1e-9)),
// IsString(HasSubstr("needle")).
#pragma once

#include <gmock/gmock.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "sdk/values/property.h"

namespace Korvo {

namespace detail {

// Writes a property as JSON-like text: unsigned numbers carry a "u", enums
// print as enum(number, 0xhash), blobs as blob[n]. Deeper levels than
// maxDepth print as "..." and long containers are cut after maxItems, so a
// failure on a huge or deeply nested tree stays readable (and the printer's
// recursion stays bounded).
inline void PrintProperty(const BindingProperty& value, std::ostream* out, int depth, int maxDepth = 8,
                          size_t maxItems = 16) {
    switch (value.Kind()) {
        case BindingPropertyKind::Empty:
            *out << "empty";
            return;
        case BindingPropertyKind::Bool:
            *out << (value.AsBool() ? "true" : "false");
            return;
        case BindingPropertyKind::Signed:
            *out << value.AsSigned();
            return;
        case BindingPropertyKind::Unsigned:
            *out << value.AsUnsigned() << 'u';
            return;
        case BindingPropertyKind::Float:
            *out << testing::PrintToString(value.AsFloat());
            return;
        case BindingPropertyKind::String:
            *out << testing::PrintToString(std::string(value.AsString()));
            return;
        case BindingPropertyKind::Blob:
            *out << "blob[" << value.Size() << "]";
            return;
        case BindingPropertyKind::Enum: {
            BindingEnumValue e = value.AsEnum();
            *out << "enum(" << e.number << ", 0x" << std::hex << e.typeHash << std::dec << ")";
            return;
        }
        default:
            break;
    }
    const bool isCollection = value.Kind() == BindingPropertyKind::Collection;
    if (!isCollection && value.Kind() != BindingPropertyKind::Structure) {
        *out << "kind(" << static_cast<int>(value.Kind()) << ")";
        return;
    }
    *out << (isCollection ? '[' : '{');
    if (depth >= maxDepth) {
        *out << (value.Size() == 0 ? "" : "...") << (isCollection ? ']' : '}');
        return;
    }
    size_t shown = 0;
    if (isCollection) {
        for (const BindingProperty& element : value.Elements()) {
            if (shown != 0) *out << ", ";
            if (shown++ == maxItems) {
                *out << "... " << value.Size() - maxItems << " more";
                break;
            }
            PrintProperty(element, out, depth + 1, maxDepth, maxItems);
        }
    } else {
        for (auto [name, member] : value.Members()) {
            if (shown != 0) *out << ", ";
            if (shown++ == maxItems) {
                *out << "... " << value.Size() - maxItems << " more";
                break;
            }
            *out << testing::PrintToString(std::string(name)) << ": ";
            PrintProperty(member, out, depth + 1, maxDepth, maxItems);
        }
    }
    *out << (isCollection ? ']' : '}');
}

}  // namespace detail

// gtest finds these by argument-dependent lookup.
inline void PrintTo(const BindingProperty& value, std::ostream* out) { detail::PrintProperty(value, out, 0); }

inline void PrintTo(const BindingResult& result, std::ostream* out) {
    if (result.Succeeded()) {
        *out << "success ";
        PrintTo(result.Value(), out);
    } else {
        *out << "failure " << testing::PrintToString(std::string(result.ErrorMessage()));
    }
}

namespace Testing {

// What IsStructure hands to its inner matcher: (name, member) in order.
using BindingMemberList = std::vector<std::pair<std::string, BindingProperty>>;

// ---- BindingResult

// Succeeded, and the property matches inner.
MATCHER_P(HasValue, inner, "succeeded with a value that " + testing::DescribeMatcher<const BindingProperty&>(inner)) {
    if (!arg.Succeeded()) {
        *result_listener << "failed with message " << testing::PrintToString(std::string(arg.ErrorMessage()));
        return false;
    }
    return testing::ExplainMatchResult(inner, arg.Value(), result_listener);
}

// Failed, and the error message matches inner (a text or a string matcher).
MATCHER_P(FailedWithMessage, inner,
          "failed with a message that " + testing::DescribeMatcher<const std::string&>(inner)) {
    if (arg.Succeeded()) {
        *result_listener << "succeeded";
        return false;
    }
    return testing::ExplainMatchResult(inner, std::string(arg.ErrorMessage()), result_listener);
}

MATCHER(Succeeded, "succeeded") {
    if (arg.Succeeded()) return true;
    *result_listener << "failed with message " << testing::PrintToString(std::string(arg.ErrorMessage()));
    return false;
}

MATCHER(Failed, "failed") { return arg.Failed(); }

// ---- BindingProperty

namespace detail {

inline bool KindIs(const BindingProperty& value, BindingPropertyKind kind, testing::MatchResultListener* listener) {
    if (value.Kind() == kind) return true;
    *listener << "which is of kind " << BindingPropertyKindName(value.Kind());
    return false;
}

}  // namespace detail

MATCHER(IsEmptyValue, negation ? "isn't Empty" : "is Empty") {
    return detail::KindIs(arg, BindingPropertyKind::Empty, result_listener);
}

MATCHER_P(IsBool, expected, "is a Bool " + testing::PrintToString(expected)) {
    return detail::KindIs(arg, BindingPropertyKind::Bool, result_listener) &&
           testing::ExplainMatchResult(expected, arg.AsBool(), result_listener);
}

MATCHER_P(IsSigned, expected, "is a Signed that " + testing::DescribeMatcher<int64_t>(expected)) {
    return detail::KindIs(arg, BindingPropertyKind::Signed, result_listener) &&
           testing::ExplainMatchResult(expected, arg.AsSigned(), result_listener);
}

MATCHER_P(IsUnsigned, expected, "is an Unsigned that " + testing::DescribeMatcher<uint64_t>(expected)) {
    return detail::KindIs(arg, BindingPropertyKind::Unsigned, result_listener) &&
           testing::ExplainMatchResult(expected, arg.AsUnsigned(), result_listener);
}

MATCHER_P(IsFloat, expected, "is a Float that " + testing::DescribeMatcher<double>(expected)) {
    return detail::KindIs(arg, BindingPropertyKind::Float, result_listener) &&
           testing::ExplainMatchResult(expected, arg.AsFloat(), result_listener);
}

MATCHER_P(IsString, expected, "is a String that " + testing::DescribeMatcher<const std::string&>(expected)) {
    return detail::KindIs(arg, BindingPropertyKind::String, result_listener) &&
           testing::ExplainMatchResult(expected, std::string(arg.AsString()), result_listener);
}

// The bytes as a std::vector<uint8_t>: IsBlob(ElementsAre(1, 2)) or
// IsBlob(std::vector<uint8_t>{1, 2}).
MATCHER_P(IsBlob, expected, "is a Blob whose bytes " + testing::DescribeMatcher<const std::vector<uint8_t>&>(expected)) {
    if (!detail::KindIs(arg, BindingPropertyKind::Blob, result_listener)) return false;
    std::span<const uint8_t> bytes = arg.AsBlob();
    return testing::ExplainMatchResult(expected, std::vector<uint8_t>(bytes.begin(), bytes.end()), result_listener);
}

MATCHER_P2(IsEnum, number, typeHash,
           "is an Enum (" + testing::PrintToString(number) + ", " + testing::PrintToString(typeHash) + ")") {
    if (!detail::KindIs(arg, BindingPropertyKind::Enum, result_listener)) return false;
    BindingEnumValue value = arg.AsEnum();
    *result_listener << "which is (" << value.number << ", " << value.typeHash << ")";
    return value.number == static_cast<int32_t>(number) && value.typeHash == static_cast<uint32_t>(typeHash);
}

// The elements, copied into a std::vector<BindingProperty>, match inner:
// IsCollection(ElementsAre(IsUnsigned(1), IsEmptyValue())), IsCollection(SizeIs(3)).
MATCHER_P(IsCollection, inner,
          "is a Collection whose elements " +
              testing::DescribeMatcher<const std::vector<BindingProperty>&>(inner)) {
    if (!detail::KindIs(arg, BindingPropertyKind::Collection, result_listener)) return false;
    std::span<const BindingProperty> elements = arg.Elements();
    return testing::ExplainMatchResult(inner, std::vector<BindingProperty>(elements.begin(), elements.end()),
                                       result_listener);
}

// The (name, member) pairs in iteration order, copied into a
// std::vector<std::pair<std::string, BindingProperty>>, match inner:
// IsStructure(ElementsAre(Pair("B", _), Pair("a", IsBool(true)))).
MATCHER_P(IsStructure, inner,
          "is a Structure whose members " +
              testing::DescribeMatcher<const BindingMemberList&>(inner)) {
    if (!detail::KindIs(arg, BindingPropertyKind::Structure, result_listener)) return false;
    BindingMemberList members;
    for (auto [name, member] : arg.Members()) members.emplace_back(std::string(name), member);
    return testing::ExplainMatchResult(inner, members, result_listener);
}

// A Structure with a member name that matches inner.
MATCHER_P2(HasMember, name, inner,
           "has member " + testing::PrintToString(std::string(name)) + " that " +
               testing::DescribeMatcher<const BindingProperty&>(inner)) {
    if (!detail::KindIs(arg, BindingPropertyKind::Structure, result_listener)) return false;
    if (!arg.Contains(name)) {
        *result_listener << "which has no member " << testing::PrintToString(std::string(name));
        return false;
    }
    return testing::ExplainMatchResult(inner, arg.Get(name), result_listener);
}

}  // namespace Testing
}  // namespace Korvo
