// sdk/remoting/argument_binding.h - filling one value per handler argument
// from the parts of a request.
//
// \file
// Order: header arguments, path parameters and the query (BindArguments),
// then the host's argument entries, then the body. Each step is skipped once
// the call has failed, except the body step, whose failure replaces any
// earlier message. Messages: transport_messages.h.
//
// A map-source key may address part of an argument: "filter.names.0" sets
// element 0 of member "names" of argument "filter". A segment that starts
// with a digit is an index (C's automatic base: 0x hexadecimal, a leading 0
// octal); any other segment is a member name.
//
// Hostile input stays bounded: a key may walk at most kMaxKeyDepth segments
// deep, and indexes may grow collections by at most kIndexGrowthFloor
// elements per call plus one per bound entry, so a sparse index such as
// "list.2147483647" is refused ("Index ... is out of range") instead of
// allocating two billion elements.
//
// Everything here works on one call's data; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/binding/registry.h"
#include "sdk/contract/records.h"
#include "sdk/formats/reader_limits.h"
#include "sdk/remoting/response.h"
#include "sdk/remoting/route_record.h"
#include "sdk/remoting/routes.h"
#include "sdk/values/property.h"

namespace Korvo {

// Segments a dotted key may walk into its argument: as deep as any reader
// nests a value.
inline constexpr size_t kMaxKeyDepth = kMaxNestingDepth;
// Elements that indexes may add to collections in one call, beyond one per
// bound entry.
inline constexpr size_t kIndexGrowthFloor = size_t{1} << 16;
// The first index that is out of range whatever the budget.
inline constexpr uint64_t kIndexLimit = 0x80000000u;

// Argument positions by name (byte-for-byte; the first of equal names wins).
// Reads the function's argument list in place: nothing is allocated.
class ArgumentNameIndex {
public:
    explicit ArgumentNameIndex(const BindingFunctionDescriptor& function) noexcept : function_(&function) {}
    std::optional<size_t> Find(std::string_view name) const noexcept;

private:
    const BindingFunctionDescriptor* function_;
};

// The binding of one call: the argument values, the call's result and the
// budget of hostile-input bounds.
class ArgumentBinder {
public:
    // Sizes the values to the function's argument count; every non-optional
    // bool argument starts as false.
    ArgumentBinder(CallResult& result, const BindingFunctionDescriptor& function, const RouteRecord& route);

    std::vector<BindingProperty>& Arguments() noexcept { return arguments_; }

    // Binds every header entry (location Header), path parameter (Path) and
    // query entry (Query) through BindKeyValue, stopping at the first
    // failure. Header entries are keyed by argument name already.
    void BindArguments(const ParameterMap& query, const ParameterMap& pathParameters, const ParameterMap& headers);

    // One entry of a map source; see the file comment.
    void BindKeyValue(std::string_view key, const std::string& text, ArgumentLocation source);

    // The host's argument entries, in order, while the call succeeds: a
    // named entry binds the argument of that name, an unnamed one the
    // position (its index plus pathParameterCount). A null array with a
    // non-zero count fails the call.
    void BindHostArguments(const HostArgumentEntry* entries, uint32_t count, size_t pathParameterCount,
                           const BindingRegistry* registry);

    // Parses a body (null: none) into the first argument located in the body,
    // by the content type (null reads as unknown): JSON and YAML up to the
    // text's NUL, MessagePack over size bytes. Runs whatever happened before;
    // a failure replaces the call's result.
    void BindBody(const char* contentType, const char* body, uint32_t size);

private:
    bool WalkIndex(BindingProperty*& target, std::string_view segment);

    CallResult& result_;
    const BindingFunctionDescriptor& function_;
    const RouteRecord& route_;
    ArgumentNameIndex names_;
    std::vector<BindingProperty> arguments_;
    size_t growthBudget_ = kIndexGrowthFloor;
};

// One text into one property. Structured: a text that looks like
// MessagePack, JSON or YAML (tested in that order) is read as such, its
// failure named after parameter and the function; anything else, and every
// unstructured text, becomes a String.
void BindTextValue(CallResult& result, BindingProperty& target, const BindingFunctionDescriptor& function,
                   std::string_view parameter, const std::string& text, bool structured);

// The header entries that bind arguments: for each argument located Any or
// Header, the value of the last header whose name is the argument's name in
// lower case, keyed by the argument's own name. Null header names never
// match; a null value reads as empty.
ParameterMap HeaderArguments(const HostHeaderEntry* headers, uint32_t count, const BindingFunctionDescriptor& function,
                             const RouteRecord& route);

// The whole binding of a request matched to route: headers, path parameters
// and query, host argument entries, body. Returns the argument values.
std::vector<BindingProperty> BindRequest(CallResult& result, const RouteRecord& route, const RouteMatch& match,
                                         const HostRequestRecord& request, const BindingRegistry* registry);

}  // namespace Korvo
