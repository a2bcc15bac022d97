// sdk/remoting/transport_messages.h - every message the transport itself puts
// into a response: dispatch, argument binding, body reading and the failures
// of a malformed request record.
//
// Clients see these texts and may match on them, so their wording (quirks
// included) and placeholders are fixed and tested exactly. %1, %2 and %3 are
// filled by FormatToString (sdk/diagnostics/format.h).
#pragma once

#include <cstdint>

#include "sdk/remoting/http_status.h"

namespace Korvo::TransportMessage {

// ---- dispatch

// The request does not fit the called function's route (path, method or
// function name).
inline constexpr char kInvalidFunction[] = "Invalid function";
inline constexpr uint32_t kInvalidFunctionStatus = HttpStatus::kNotFound;

// ---- argument binding

// %1 the argument name (or an unnamed host entry's position), %2 the function
inline constexpr char kUnknownArgument[] = "Unknown argument '%1' for '%2'.";
// %1 the argument name, %2 the function
inline constexpr char kInvalidLocation[] = "Argument '%1' for '%2' was specified in an invalid location.";
// %1 the argument name
inline constexpr char kExpectedValue[] = "Expected value for argument '%1'.";
// %1 the index segment as written
inline constexpr char kIndexIncorrectFormat[] = "Index %1 is in an incorrect format";
inline constexpr char kIndexOutOfRange[] = "Index %1 is out of range";
// %1 the parameter name, %2 the function, %3 the reader's message
inline constexpr char kMessagePackParameter[] = "Couldn't deserialize MessagePack value for parameter '%1' of '%2': %3";
inline constexpr char kJsonParameter[] = "Couldn't deserialize JSON value for parameter '%1' of '%2': %3";
inline constexpr char kYamlParameter[] = "Couldn't deserialize YAML value for parameter '%1' of '%2': %3";
// A dotted key walks deeper into its argument than any reader would nest a
// value (%1 the argument name, %2 the function, %3 the bound).
inline constexpr char kKeyTooDeep[] = "Argument '%1' for '%2' is nested deeper than %3 levels.";

// ---- body

inline constexpr char kExtraMessagePackData[] = "Extra MessgePack data found in body";
inline constexpr char kUnsupportedContentType[] = "Unsupported body content type";

// ---- malformed request records (a count without its array)

// %1 the count
inline constexpr char kArgumentsWithoutArray[] = "The request has %1 argument entries but no argument array.";
inline constexpr char kHeadersWithoutArray[] = "The request has %1 headers but no header array.";

// ---- failures inside the plug-in while serving a call

inline constexpr uint32_t kInternalErrorStatus = HttpStatus::kInternalServerError;
// %1 the function
inline constexpr char kOutOfMemory[] = "Out of memory while calling '%1'.";
// %1 the function, %2 the exception's text
inline constexpr char kException[] = "Exception while calling '%1': %2";
inline constexpr char kUnknownException[] = "Unknown exception while calling '%1'.";

}  // namespace Korvo::TransportMessage
