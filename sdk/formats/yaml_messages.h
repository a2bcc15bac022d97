// sdk/formats/yaml_messages.h - every message of the YAML reader.
//
// Clients see these texts and may match on them, so they are fixed and
// tested exactly. Arguments are filled by FormatToString
// (sdk/diagnostics/format.h). "At line: %N col: %M" in the reader's own
// messages counts from 1 (the event's start mark plus 1); the parser error
// shows libyaml's problem mark as libyaml reports it, counted from 0.
#pragma once

namespace Korvo::YamlMessage {

// %1 libyaml's problem text, %2 and %3 its problem mark's line and column.
inline constexpr char kParserError[] = "YAML parser error: %1. At line: %2 col: %3";
// Stands for the problem text when libyaml gives none (it runs out of memory).
inline constexpr char kUnknownProblem[] = "unknown problem";

inline constexpr char kMultiDocument[] = "Multi-document YAML is not supported.";

// %1 line, %2 column.
inline constexpr char kInvalidKey[] =
    "Invalid mapping key. Only string scalar keys are allowed. At line: %1 col: %2";
inline constexpr char kUnexpectedSequence[] = "Unexpected start of sequence. At line: %1 col: %2";
inline constexpr char kUnexpectedMapping[] = "Unexpected start of mapping. At line: %1 col: %2";

// %1 the anchor's name, %2 line, %3 column.
inline constexpr char kCyclicAlias[] = "Cannot deserialize cyclic aliases. Alias \"%1\". At line: %2 col: %3";
inline constexpr char kUndefinedAlias[] = "Undefined alias encountered: \"%1\". At line: %2 col: %3";
inline constexpr char kDuplicateAnchor[] = "Duplicate occurrence of anchor \"%1\". At line: %2 col: %3";
// The alias would take the work of all alias copies past the budget of
// sdk/formats/reader_limits.h.
inline constexpr char kAliasesTooLarge[] =
    "Cannot deserialize aliases that expand the document too much. Alias \"%1\". At line: %2 col: %3";

// %1 the nesting bound, %2 line, %3 column.
inline constexpr char kNestedTooDeep[] = "The document is nested deeper than %1 levels. At line: %2 col: %3";

// %1 the flow nesting bound, %2 line, %3 column.
inline constexpr char kFlowNestedTooDeep[] =
    "Flow collections are nested deeper than %1 levels. At line: %2 col: %3";
// %1 the bound, %2 the line of the first directive past it (from 1).
inline constexpr char kTooManyTagDirectives[] = "More than %1 tag directives. At line: %2 col: 1";

// %1 the full tag text.
inline constexpr char kUnsupportedTag[] = "Unsupported YAML tag '%1'.";

}  // namespace Korvo::YamlMessage
