// sdk/records/host_value.h - the value and event records in which every payload
// crosses the boundary with the host.
//
// The records are the contract's (sdk/contract/korvo_plugin.h declares and
// checks their layout): packed, little-endian, native pointers; HostValue is
// 12 bytes in the 32-bit build and 16 in a 64-bit one.
//
// Ownership: the side that builds a record owns its heap parts; the receiver
// reads them during the call and copies what it keeps. Heap parts built by the
// plug-in are blocks of the allocation layer (Korvo::Memory::Allocate and
// DuplicateString) and are released with FreeHostValue.
#pragma once

#include <cstdint>

#include "sdk/contract/records.h"
#include "sdk/contract/korvo_plugin.h"

namespace Korvo {

// The type word of a HostValue.
enum class HostValueType : uint32_t {
    Null = KORVO_VALUE_NULL,
    Bool = KORVO_VALUE_BOOL,
    Int64 = KORVO_VALUE_INT64,
    UInt64 = KORVO_VALUE_UINT64,
    Double = KORVO_VALUE_DOUBLE,
    BorrowedString = KORVO_VALUE_BORROWED_STRING,  // never produced; read like String, never freed
    String = KORVO_VALUE_STRING,                   // NUL-terminated heap copy owned by the record
    BorrowedBinary = KORVO_VALUE_BORROWED_BINARY,  // never produced; read like Binary, never freed
    Binary = KORVO_VALUE_BINARY,                   // heap copy owned by the record
    Array = KORVO_VALUE_ARRAY,                     // owned array of HostValue records
    Object = KORVO_VALUE_OBJECT,                   // owned array of HostValueMember records
};

// HostValue (the tagged value), HostValueMember, HostValueResult (a value
// with an error indication), HostEventRecord and HostEventCallback are the
// contract's records; see sdk/contract/korvo_plugin.h.

// Releases what value owns - the text of a String, the bytes of a Binary,
// the items of an Array and the members of an Object with every key whose
// ownsKey is 1, at every depth - and leaves the whole record zero (Null).
// BorrowedString and BorrowedBinary parts and unknown type codes are never
// freed. Null (pointer or record) does nothing. Runs in constant stack and
// allocates nothing, however deep the record is nested.
void FreeHostValue(HostValue* value) noexcept;

}  // namespace Korvo
