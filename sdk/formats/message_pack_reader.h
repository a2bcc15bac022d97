// sdk/formats/message_pack_reader.h - MessagePack bytes to BindingProperty.
//
// \file
// The reader is a loop over an explicit stack of frames, never recursion.
// Kinds: positive and negative fixints signed (positive fixints too); the
// uint family unsigned; the int family signed; float 32/64 float; nil leaves
// its target as it was (Empty when new); true/false bool; fixstr and str
// 8/16/32 string (every byte, NULs included); bin 8/16/32 blob; arrays
// collection; maps structure. Map keys must be strings. Extension types
// (fixext, ext 8/16/32) and 0xC1 are invalid.
//
// A key that repeats within one map addresses the same field again, exactly
// as a repeated member name of a JSON object does: a later scalar replaces
// the earlier value, a later nil leaves it, a later array appends to an
// earlier array and a later map adds to an earlier map. Either way every
// entry reads exactly one value.
//
// Declared sizes are never trusted: elements and entries are added one at a
// time as they are read, so an array claiming four billion elements in five
// bytes costs nothing.
//
// Re-entrant, no shared state: any thread may call these.
#pragma once

#include <cstdint>

#include "sdk/values/property.h"

namespace Korvo {

// Reads one value from size bytes at data and stores in *position (when not
// null) the offset at which reading stopped. Empty input gives success with
// an Empty property. Data that ends between values ends reading without
// failure: open containers keep what was read. Bytes after a complete root
// value are not read; *position tells the caller about them. An invalid type
// byte, a non-string key, a truncated field or byte run, or containers
// nested deeper than kMaxNestingDepth (sdk/formats/reader_limits.h) give a
// failure with the messages of message_pack_messages.h, and nothing of the
// partial value is kept. Throws only std::bad_alloc.
[[nodiscard]] BindingResult ReadMessagePack(const void* data, uint32_t size, uint32_t* position);

// True when size is not 0 and the first byte starts a map or an array
// (0x80-0x9F fixmap/fixarray, 0xDC-0xDF array 16/32 and map 16/32): only a
// map or array root is recognised.
[[nodiscard]] bool LooksLikeMessagePack(const void* data, uint32_t size) noexcept;

}  // namespace Korvo
