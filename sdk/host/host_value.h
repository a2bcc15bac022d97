// sdk/host/host_value.h - the value and event records in which every payload
// crosses the boundary with the host.
//
// Binary layouts shared with a separately built host: packed, little-endian,
// native pointers. Offsets in the comments are those of the 32-bit Windows
// build, where they are checked; on a 64-bit build only the pointer fields
// widen (HostValue is then 16 bytes).
//
// Ownership: the side that builds a record owns its heap parts; the receiver
// reads them during the call and copies what it keeps. Heap parts built by the
// plug-in are blocks of the allocation layer (Korvo::Memory::Allocate and
// DuplicateString) and are released with FreeHostValue.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sdk/host/c_abi.h"

namespace Korvo {

// The type word of a HostValue.
enum class HostValueType : uint32_t {
    Null = 0,
    Bool = 1,
    Int64 = 2,
    UInt64 = 3,
    Double = 4,
    BorrowedString = 5,  // never produced; read like String, never freed
    String = 6,          // NUL-terminated heap copy owned by the record
    BorrowedBinary = 7,  // never produced; read like Binary, never freed
    Binary = 8,          // heap copy owned by the record
    Array = 9,           // owned array of HostValue records
    Object = 10,         // owned array of HostValueMember records
};

struct HostValue;
struct HostValueMember;

#pragma pack(push, 1)

struct HostValueText {        // 8 bytes in the 32-bit build
    char* text;               // +0 NUL-terminated
    uint32_t length;          // +4 bytes, without the NUL
};

struct HostValueBytes {       // 8 bytes in the 32-bit build
    uint8_t* bytes;           // +0
    uint32_t count;           // +4
};

struct HostValueArray {       // 8 bytes in the 32-bit build
    HostValue* items;         // +0 count consecutive records
    uint32_t count;           // +4
};

struct HostValueObject {      // 8 bytes in the 32-bit build
    HostValueMember* members; // +0 count consecutive records
    uint32_t count;           // +4
};

// The data word of a HostValue; which member is live depends on the type.
union HostValueData {         // 8 bytes in the 32-bit build
    uint8_t boolean;          // Bool: 0 or 1
    int64_t int64;            // Int64
    uint64_t uint64;          // UInt64
    double float64;           // Double
    HostValueText string;     // String, BorrowedString
    HostValueBytes binary;    // Binary, BorrowedBinary
    HostValueArray array;     // Array
    HostValueObject object;   // Object
};

// The tagged value. All zero bytes is Null.
struct HostValue {            // 12 bytes in the 32-bit build
    uint32_t type;            // +0 HostValueType (other codes may arrive)
    HostValueData data;       // +4 owned by the record for String, Binary, Array, Object
};

struct HostValueMember {      // 17 bytes in the 32-bit build
    char* key;                // +0  NUL-terminated; freed with the member when ownsKey is 1
    HostValue value;          // +4  owned by the member
    uint8_t ownsKey;          // +16 1 when key is a heap copy
};

// A value with an error indication; the first 17 bytes of the host's
// response record have this layout.
struct HostValueResult {      // 17 bytes in the 32-bit build
    HostValue value;          // +0  Null when error is 1
    char* message;            // +12 heap copy, null when there is none
    uint8_t error;            // +16 1 when the operation failed
};

// An event, both directions. The plug-in builds 24 zeroed bytes and fills
// the first 20; in a record delivered to a HostEventCallback, userData is
// what was given to Subscribe. The payload belongs to the side that built
// the record.
struct HostEventRecord {      // 24 bytes in the 32-bit build
    const char* name;         // +0  event name
    HostValue payload;        // +4
    uint32_t typeWord;        // +16 always 0 from the plug-in, never read
    void* userData;           // +20 the plug-in object on delivery
};

#pragma pack(pop)

// The plug-in function the host calls for a subscribed event.
using HostEventCallback = void(KORVO_CDECL*)(const HostEventRecord* event);

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(HostValue) == 12);
static_assert(offsetof(HostValue, data) == 4);
static_assert(sizeof(HostValueMember) == 17);
static_assert(offsetof(HostValueMember, value) == 4);
static_assert(offsetof(HostValueMember, ownsKey) == 16);
static_assert(sizeof(HostValueResult) == 17);
static_assert(offsetof(HostValueResult, message) == 12);
static_assert(offsetof(HostValueResult, error) == 16);
static_assert(sizeof(HostEventRecord) == 24);
static_assert(offsetof(HostEventRecord, payload) == 4);
static_assert(offsetof(HostEventRecord, typeWord) == 16);
static_assert(offsetof(HostEventRecord, userData) == 20);
#else
static_assert(sizeof(HostValue) == 8 + sizeof(void*));
static_assert(sizeof(HostValueMember) == sizeof(HostValue) + sizeof(void*) + 1);
static_assert(sizeof(HostValueResult) == sizeof(HostValue) + sizeof(void*) + 1);
static_assert(sizeof(HostEventRecord) == sizeof(HostValue) + 2 * sizeof(void*) + 4);
#endif
static_assert(offsetof(HostValueText, length) == sizeof(void*));

// Releases what value owns - the text of a String, the bytes of a Binary,
// the items of an Array and the members of an Object with every key whose
// ownsKey is 1, at every depth - and leaves the whole record zero (Null).
// BorrowedString and BorrowedBinary parts and unknown type codes are never
// freed. Null (pointer or record) does nothing. Runs in constant stack and
// allocates nothing, however deep the record is nested.
void FreeHostValue(HostValue* value) noexcept;

}  // namespace Korvo
