// sdk/formats/yaml_reader.h - YAML text to BindingProperty.
//
// \file
// libyaml's event parser tokenises and parses the text; the reader consumes
// the events one at a time on explicit stacks (no recursion) and builds the
// property as it goes. One document at most.
//
// Scalars: plain scalars resolve to null, numbers and booleans (see
// ResolveYamlScalar); quoted scalars and keys stay text. Keys must be string
// scalars; an alias in key position takes the text of a key anchor
// ("&k name: ..." then "*k: ...") and is refused for any other anchor, like
// other non-string keys.
//
// Anchors and aliases: an anchor remembers the position of its node in the
// tree (the path from the root), an alias copies what stands there when the
// alias is read (deeply) or, for a key anchor, the key's text. Aliases into
// a node that is still open are cyclic and refused. The work all alias copies
// of a document may do is bounded in proportion to its size (see
// reader_limits.h), so aliases of aliases cannot expand a small text into a
// huge tree.
//
// A key that repeats within one mapping addresses the same field again, as
// in the JSON and MessagePack readers: a later scalar replaces the earlier
// value, a later sequence appends to an earlier sequence and a later mapping
// adds to an earlier mapping.
//
// Re-entrant, no shared state: any thread may call these.
#pragma once

#include <cstddef>
#include <string_view>

#include "sdk/values/property.h"

namespace Korvo {

// Reads text (UTF-8, its full length; libyaml refuses NUL bytes). Empty text
// gives success with an Empty property. Failures carry the messages of
// yaml_messages.h or of the conversion of a tagged scalar; nothing of the
// partial value is kept. The bounds of sdk/formats/reader_limits.h apply:
// containers nested deeper than kMaxNestingDepth (counting what aliases copy
// in), flow collections nested deeper than kMaxYamlFlowDepth, more than
// kMaxYamlTagDirectives %TAG lines, and alias copies past their budget fail.
// Throws only std::bad_alloc.
[[nodiscard]] BindingResult ReadYaml(std::string_view text);

// True when text, after leading ' ' characters (only those), starts with
// "---". The content test for bodies that arrive without a content type.
[[nodiscard]] bool LooksLikeYaml(std::string_view text) noexcept;

// Sets target from one scalar. tag is the resolved tag or null; quoted is
// true for single- and double-quoted scalars; text must be NUL-terminated
// at text[length] (libyaml's scalars are).
// - No tag, quoted: the string.
// - No tag, plain: "", "~", "null", "Null", "NULL" make target Empty; a
//   number (strtod consumes the whole text, and it is not infinite) becomes
//   float when it has a fraction or is NaN, else signed below zero and
//   unsigned from zero up, converted from the double (so at most 53 bits
//   are exact); whole numbers outside both 64-bit ranges stay float; then
//   the true words (true True TRUE y Y yes Yes YES on On ON) and false words
//   (false False FALSE n N no No NO off Off OFF) give bool; anything else is
//   the string.
// - "tag:yaml.org,2002:str": the string. "...:int": the text converted to
//   int64_t when it starts with '-', else to uint64_t (exact in the full
//   64-bit ranges). "...:float": the text converted to double. A failed
//   conversion fails result with the conversion's message (field "yaml").
//   "...:bool": a true or false word gives bool, other text leaves target
//   unchanged.
// - Any other tag fails result with "Unsupported YAML tag '<tag>'.".
// A failure may clear the tree that target belongs to (when it is result's
// own property): target must not be used after result has failed.
void ResolveYamlScalar(BindingResult& result, BindingProperty& target, const char* tag, const char* text,
                       size_t length, bool quoted);

}  // namespace Korvo
