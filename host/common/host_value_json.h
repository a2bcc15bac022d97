// host/common/host_value_json.h - the host's side of HostValue records: build
// them from host-owned data and render them as JSON text.
//
// This is host code: it owns what it builds with its own allocations and never
// calls into the plug-in's SDK to read or free a record.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sdk/contract/records.h"

namespace Korvo::Host {

// Renders a record as JSON. Strings are escaped; non-finite doubles become
// null; Binary becomes a base64 string; an unknown type code becomes null.
// Runs in bounded stack however deep the record is nested.
std::string HostValueToJson(const HostValue& value);

// A host-owned value tree that can be handed to the plug-in as a HostValue.
// The record and everything it points to live as long as this object.
class OwnedHostValue {
public:
    OwnedHostValue() = default;
    OwnedHostValue(const OwnedHostValue& other) { *this = other; }
    OwnedHostValue& operator=(const OwnedHostValue& other);
    OwnedHostValue(OwnedHostValue&&) noexcept = default;
    OwnedHostValue& operator=(OwnedHostValue&&) noexcept = default;

    static OwnedHostValue Null();
    static OwnedHostValue Bool(bool value);
    static OwnedHostValue Int(int64_t value);
    static OwnedHostValue UInt(uint64_t value);
    static OwnedHostValue Double(double value);
    static OwnedHostValue String(std::string_view text);
    static OwnedHostValue Binary(std::vector<uint8_t> bytes);
    static OwnedHostValue Array(std::vector<OwnedHostValue> items);
    static OwnedHostValue Object(std::vector<std::pair<std::string, OwnedHostValue>> members);

    // The record; valid until this object changes or dies.
    const HostValue& Record() const;

private:
    struct Node;
    static OwnedHostValue OfType(KorvoValueType type);
    std::shared_ptr<Node> node_;
};

// Reads JSON text into a host-owned value: integers as INT64 (UINT64 above
// its range), other numbers as DOUBLE, members in their order. False, with
// error saying why, for text that is not one JSON value or that nests deeper
// than maxDepth arrays and objects, or that holds more than maxValues values
// (each costs far more as a host value than as text); value is then left as
// it was. Runs in bounded stack.
bool JsonToHostValue(std::string_view text, OwnedHostValue& value, std::string& error, size_t maxDepth = 64,
                     size_t maxValues = size_t{1} << 16);

}  // namespace Korvo::Host
