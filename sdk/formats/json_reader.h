// sdk/formats/json_reader.h - JSON text to BindingProperty.
//
// \file
// RapidJSON's SAX Reader tokenises the text with its default parse flags
// (UTF-8 in and out, no comments, no trailing commas, no NaN literals, any
// value as the root); JsonPropertyBuilder receives its events and hands them
// to a PropertyBuilder, which makes each container of the property once it
// closes, with no document tree in between.
//
// Kinds: null empty, true/false bool, integers that fit unsigned 64 bits
// unsigned, other integers that fit signed 64 bits signed, every other number
// float, strings string (cut at their first NUL character), arrays
// collection, objects structure. A repeated member name addresses the same
// field again: a later scalar replaces the earlier value, a later null leaves
// it, a later array appends to an earlier array and a later object adds to an
// earlier object.
//
// Every function here is re-entrant and touches no shared state: any thread
// may call it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/values/property.h"
#include "sdk/values/property_builder.h"

namespace Korvo {

// Reads text up to its first NUL byte. Empty or white-space-only text gives
// success with an Empty property. A syntax error gives a failure whose
// message is "Error: <description> at offset <byte offset>.", the
// description being RapidJSON's English text for the error (see
// json_messages.h for the two texts of our own); nothing of the partial value
// is kept. Containers nested deeper than kMaxNestingDepth
// (sdk/formats/reader_limits.h) fail the same way. Throws only
// std::bad_alloc.
[[nodiscard]] BindingResult ReadJson(const std::string& text);
[[nodiscard]] BindingResult ReadJson(const char* text);

// True when text, after leading ' ' characters (only those), starts with
// '{' or '['. The content test for bodies that arrive without a content type.
[[nodiscard]] bool LooksLikeJson(std::string_view text) noexcept;

// RapidJSON's handler concept, writing into root through a PropertyBuilder.
// Each callback places the value - appended to an open array, into the field
// the last Key chose, or into root - and returns true; StartArray and StartObject return false once
// kMaxNestingDepth containers are open, which ends the parse with
// kParseErrorTermination (DepthExceeded() then tells why). Numbers never
// arrive as raw text: RawNumber only exists to complete the concept.
class JsonPropertyBuilder {
public:
    // texts may hold a NUL character unless the caller knows that none of
    // the document's strings can (it has no "\u0000" escape): strings and
    // names are cut at their first NUL, and looking for one costs a scan.
    explicit JsonPropertyBuilder(BindingProperty& root, bool textsMayHoldNul = true);

    bool Null();
    bool Bool(bool value);
    bool Int(int value);
    bool Uint(unsigned value);
    bool Int64(int64_t value);
    bool Uint64(uint64_t value);
    bool Double(double value);
    bool RawNumber(const char* text, unsigned length, bool copy);
    bool String(const char* text, unsigned length, bool copy);
    bool StartObject();
    bool Key(const char* text, unsigned length, bool copy);
    bool EndObject(unsigned memberCount);
    bool StartArray();
    bool EndArray(unsigned elementCount);

    [[nodiscard]] bool DepthExceeded() const noexcept { return depthExceeded_; }

private:
    bool Open(bool isCollection);

    PropertyBuilder builder_;
    bool depthExceeded_ = false;
    bool textsMayHoldNul_;
};

}  // namespace Korvo
