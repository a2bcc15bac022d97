// sdk/formats/message_pack_messages.h - every message of the MessagePack
// reader.
//
// Clients see these texts and may match on them, so they are fixed and
// tested exactly. Arguments are filled by FormatToString
// (sdk/diagnostics/format.h) as unsigned decimal numbers.
#pragma once

namespace Korvo::MessagePackMessage {

// %1 the position just after the offending type byte.
inline constexpr char kInvalidType[] = "Invalid MessagePack data at position %1.";
inline constexpr char kKeyNotString[] = "Invalid MessagePack data at position %1. Map keys must be strings.";
// %1 as above, %2 the nesting bound.
inline constexpr char kNestedTooDeep[] =
    "Invalid MessagePack data at position %1. The document is nested deeper than %2 levels.";

// %1 the position where the field begins.
inline constexpr char kTruncated8[] = "Invalid MessagePack data. 8-bit integer value at position %1 is truncated.";
inline constexpr char kTruncated16[] = "Invalid MessagePack data. 16-bit integer value at position %1 is truncated.";
inline constexpr char kTruncated32[] = "Invalid MessagePack data. 32-bit integer value at position %1 is truncated.";
inline constexpr char kTruncated64[] = "Invalid MessagePack data. 64-bit integer value at position %1 is truncated.";

// %1 the declared length, %2 the position where the bytes begin.
inline constexpr char kStringTruncated[] = "Invalid MessagePack data. String of size %1 at position %2 is truncated.";
inline constexpr char kRawBytesTruncated[] =
    "Invalid MessagePack data. Raw bytes of size %1 at position %2 are truncated.";

}  // namespace Korvo::MessagePackMessage
