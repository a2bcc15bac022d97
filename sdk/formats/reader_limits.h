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
// - YAML flow collections. libyaml's scanner walks its whole stack of
//   possible simple keys, one entry per open flow collection ("[" or "{"),
//   for every token it reads, so a deep flow nesting makes every later token
//   cost that much more: at 500 levels a body parses some 17 times slower
//   than the same body flat. Flow collections nest at most kMaxYamlFlowDepth
//   levels (block collections only count towards kMaxNestingDepth).
// - YAML tag directives. libyaml checks each %TAG directive against all the
//   earlier ones, and each tag against all of them: quadratic in their
//   number, and all of it before the first event reaches the reader. The text
//   is scanned first, and one with more than kMaxYamlTagDirectives lines
//   starting with "%TAG" is refused before libyaml sees it.
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

inline constexpr uint32_t kMaxYamlFlowDepth = 64;
inline constexpr uint32_t kMaxYamlTagDirectives = 64;

inline constexpr uint64_t kAliasWorkFloor = 1u << 17;
inline constexpr uint64_t kAliasWorkPerInputByte = 4;
inline constexpr size_t kAliasTextBytesPerUnit = 64;

}  // namespace Korvo
