// sdk/formats/json_messages.h - every message of the JSON reader.
//
// Clients see these texts and may match on them, so they are fixed and
// tested exactly. kParseError is filled by FormatToString
// (sdk/diagnostics/format.h): %s the description, %u the offset in bytes.
#pragma once

namespace Korvo::JsonMessage {

// %s the description of the problem, %u its offset in bytes from the start.
inline constexpr char kParseError[] = "Error: %s at offset %u.";

// The description of trailing data after the root value. RapidJSON's own
// wording of this text differs between its versions; hosts and clients
// match on this one.
inline constexpr char kRootNotSingular[] = "The document root must not follow by other values.";

// The description of a document nested deeper than the readers accept (%1
// the bound). The offset is just after the '[' or '{' that went too deep.
inline constexpr char kNestedTooDeep[] = "The document is nested deeper than %1 levels.";

}  // namespace Korvo::JsonMessage
