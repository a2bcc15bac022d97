// sdk/formats/reader_limits.h - the bounds that every reader enforces on
// hostile input.
//
// \file
// The readers face request bodies from any local client of the host. Each
// bound here keeps what a small body can ask for in proportion to its size:
//
// - Nesting. A value tree that a reader returns is later copied, converted
//   to native records and to host values, and destroyed; some of those walks
//   recurse per level, and the JSON reader's tokenizer recurses per level
//   itself. All three readers therefore refuse documents nested deeper than
//   kMaxNestingDepth containers, so every tree they return is at most that
//   deep. At roughly 0.4 KiB of stack per level in the worst (sanitizer)
//   builds, 512 levels stay far inside a 1 MiB thread stack, and no real
//   request body comes near it.
// - YAML aliases. An alias copies the anchored node, and aliases of aliases
//   grow exponentially ("billion laughs"). The work all alias copies of one
//   document may do is a budget: kAliasWorkFloor units plus
//   kAliasWorkPerInputByte units per byte of the text. An alias costs one
//   unit per node it copies, per step of the path to its anchor and per open
//   level it is checked against, plus one unit per kAliasTextBytesPerUnit
//   bytes of the texts it copies or compares.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Korvo {

// Containers (arrays, objects, maps, sequences, mappings) a document may nest.
inline constexpr uint32_t kMaxNestingDepth = 512;

inline constexpr uint64_t kAliasWorkFloor = 1u << 17;
inline constexpr uint64_t kAliasWorkPerInputByte = 4;
inline constexpr size_t kAliasTextBytesPerUnit = 64;

}  // namespace Korvo
