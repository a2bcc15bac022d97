// sdk/remoting/host_records.h - the packed records through which the host
// calls the plug-in's API (and the plug-in the host's), and the records that
// describe that API to the host.
//
// Binary layouts shared with a separately built host: packed, little-endian,
// native pointers, NUL-terminated 8-bit texts. Offsets in the comments are
// those of the 32-bit Windows build, where they are checked; on a 64-bit build
// only the pointer fields widen. Numbers, counts and zero words stay 4 bytes.
//
// Ownership: the side that builds a record owns its heap parts. Requests are
// built by the caller and only read by the callee. Responses are filled by
// the callee and released by the caller through the release function stored
// in the record itself (offset 58). Description records live as long as the
// transport that built them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sdk/host/c_abi.h"
#include "sdk/host/host_value.h"

namespace Korvo {

struct HostResponseRecord;
struct HostRequestRecord;
struct FunctionUserData;

using HostFunctionCallback = void(KORVO_CDECL*)(HostResponseRecord* response, const HostRequestRecord* request);
using HostResponseRelease = void(KORVO_CDECL*)(HostResponseRecord* response);
// Reads up to *count bytes into buffer; on return *count holds the bytes
// written and *more whether further data follows. False on a read error.
using HostStreamRead = bool(KORVO_CDECL*)(void* stream, char* buffer, uint32_t* count, bool* more);
using HostStreamRelease = void(KORVO_CDECL*)(void* stream);

#pragma pack(push, 1)

struct HostArgumentEntry {          // 16 bytes in the 32-bit build
    const char* name;               // +0 argument name, or null for a positional entry
    HostValue value;                // +4
};

struct HostHeaderEntry {            // 8 bytes in the 32-bit build
    const char* name;               // +0
    const char* value;              // +4
};

struct HostRequestRecord {                  // 48 bytes in the 32-bit build; built by the caller
    uint32_t method;                        // +0  HttpMethod, 1..8
    const char* path;                       // +4  may carry '?' and a query
    const HostArgumentEntry* arguments;     // +8
    uint32_t argumentCount;                 // +12
    FunctionUserData* userData;             // +16 from the called function's record
    const HostHeaderEntry* headers;         // +20
    uint32_t headerCount;                   // +24
    const char* contentType;                // +28 of the body
    const char* body;                       // +32 NUL-terminated for JSON and YAML; null without a body
    uint32_t bodySize;                      // +36 bytes
    uint32_t caller;                        // +40 plug-in handle of the requesting side
    const char* functionName;               // +44 used when method is Call
};

struct HostResponseRecord {                 // 62 bytes in the 32-bit build; filled by the callee
    HostValue result;                       // +0
    char* errorMessage;                     // +12 heap text, valid when error is 1
    uint8_t error;                          // +16 1 when the call failed
    uint8_t contentFlag;                    // +17
    uint32_t contentCode;                   // +18 0..3
    uint32_t status;                        // +22
    char* text;                             // +26 heap text, or the static empty text
    HostHeaderEntry* headers;               // +30 heap array
    uint32_t headerCount;                   // +34
    HostStreamRead streamRead;              // +38 or null
    HostStreamRelease streamRelease;        // +42 or null
    uint32_t streamSizeHint;                // +46
    uint32_t reserved;                      // +50 0
    void* stream;                           // +54 stream object
    HostResponseRelease release;            // +58 releases this record's heap parts
};

// ---- API description records (built once at load, read by the host).

struct HostArgumentDescription {            // 25 bytes in the 32-bit build
    const HostArgumentDescription* next;    // +0  null after the last argument
    const char* name;                       // +4
    const char* description;                // +8
    uint32_t kind;                          // +12 BindingTypeKind, 0 when unknown
    uint32_t elementKind;                   // +16
    const char* typeName;                   // +20
    uint8_t optional;                       // +24
};

struct HostFunctionDescription {            // 61 bytes in the 32-bit build
    const void* next;                       // +0  next record of the same array
    uint32_t reserved;                      // +4  0
    FunctionUserData* userData;             // +8  0 here; the transport's entry in HostFunctionRecord
    const char* name;                       // +12
    const char* nameSpace;                  // +16
    const HostArgumentDescription* arguments;  // +20 first argument, null without arguments
    uint32_t argumentCount;                 // +24
    uint32_t resultKind;                    // +28
    uint32_t resultElementKind;             // +32
    const char* resultTypeName;             // +36
    const char* description;                // +40
    const char* help;                       // +44
    uint8_t threadSafe;                     // +48
    const char* asyncResultTypeName;        // +49
    const char* const* tags;                // +53 array of texts
    uint32_t tagCount;                      // +57
};

struct HostFieldDescription {               // 29 bytes in the 32-bit build
    const HostFieldDescription* next;       // +0
    const char* name;                       // +4
    const char* description;                // +8
    uint32_t offset;                        // +12 in the native record
    uint32_t kind;                          // +16
    uint32_t elementKind;                   // +20
    const char* typeName;                   // +24
    uint8_t optional;                       // +28
};

struct HostEnumeratorDescription {          // 16 bytes in the 32-bit build
    const HostEnumeratorDescription* next;  // +0
    const char* name;                       // +4
    const char* description;                // +8
    int32_t value;                          // +12
};

struct HostTypeDescription {                // 40 bytes in the 32-bit build
    const HostTypeDescription* next;        // +0
    const char* name;                       // +4
    const char* nameSpace;                  // +8
    uint32_t size;                          // +12 native size in bytes
    const char* description;                // +16
    const char* const* tags;                // +20
    uint32_t tagCount;                      // +24
    const HostFieldDescription* fields;     // +28 null without fields
    const HostEnumeratorDescription* enumerators;  // +32 null when the type has fields
    uint32_t count;                         // +36 fields, or enumerators without fields
};

struct HostEventDescription {               // 28 bytes in the 32-bit build
    const HostEventDescription* next;       // +0
    const char* name;                       // +4
    const char* nameSpace;                  // +8
    const char* payloadTypeName;            // +12
    const char* description;                // +16
    const char* const* tags;                // +20
    uint32_t tagCount;                      // +24
};

struct HostLocationEntry {                  // 8 bytes in the 32-bit build
    const HostLocationEntry* next;          // +0
    uint32_t location;                      // +4 ArgumentLocation, 0..5
};

struct HostNameListEntry {                  // 12 bytes in the 32-bit build
    const HostNameListEntry* next;          // +0
    const char* const* names;               // +4
    uint32_t count;                         // +8
};

// What the host receives per served function: the description, with offset
// 0 linking the HostFunctionRecords and offset 8 the transport's entry.
struct HostFunctionRecord {                 // 90 bytes in the 32-bit build
    HostFunctionDescription description;    // +0
    HostFunctionCallback callback;          // +61
    const HostLocationEntry* locations;     // +65 one per argument, in order
    const char* pathTemplate;               // +69
    uint32_t method;                        // +73 HttpMethod, 0 outside 1..8
    uint8_t flag;                           // +77
    const HostNameListEntry* nameLists;     // +78
    uint32_t nameListCount;                 // +82
    const char* functionName;               // +86
};

struct HostApiDescriptor {                  // 24 bytes in the 32-bit build
    const HostFunctionRecord* functions;    // +0
    uint32_t functionCount;                 // +4
    const HostTypeDescription* types;       // +8
    uint32_t typeCount;                     // +12
    const HostEventDescription* events;     // +16
    uint32_t eventCount;                    // +20
};

#pragma pack(pop)

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(HostArgumentEntry) == 16);
static_assert(sizeof(HostHeaderEntry) == 8);
static_assert(sizeof(HostRequestRecord) == 48);
static_assert(offsetof(HostRequestRecord, userData) == 16);
static_assert(offsetof(HostRequestRecord, contentType) == 28);
static_assert(offsetof(HostRequestRecord, caller) == 40);
static_assert(offsetof(HostRequestRecord, functionName) == 44);
static_assert(sizeof(HostResponseRecord) == 62);
static_assert(offsetof(HostResponseRecord, errorMessage) == 12);
static_assert(offsetof(HostResponseRecord, error) == 16);
static_assert(offsetof(HostResponseRecord, contentFlag) == 17);
static_assert(offsetof(HostResponseRecord, contentCode) == 18);
static_assert(offsetof(HostResponseRecord, status) == 22);
static_assert(offsetof(HostResponseRecord, text) == 26);
static_assert(offsetof(HostResponseRecord, headers) == 30);
static_assert(offsetof(HostResponseRecord, headerCount) == 34);
static_assert(offsetof(HostResponseRecord, streamRead) == 38);
static_assert(offsetof(HostResponseRecord, streamRelease) == 42);
static_assert(offsetof(HostResponseRecord, streamSizeHint) == 46);
static_assert(offsetof(HostResponseRecord, reserved) == 50);
static_assert(offsetof(HostResponseRecord, stream) == 54);
static_assert(offsetof(HostResponseRecord, release) == 58);
static_assert(sizeof(HostArgumentDescription) == 25);
static_assert(sizeof(HostFunctionDescription) == 61);
static_assert(offsetof(HostFunctionDescription, name) == 12);
static_assert(offsetof(HostFunctionDescription, threadSafe) == 48);
static_assert(offsetof(HostFunctionDescription, asyncResultTypeName) == 49);
static_assert(offsetof(HostFunctionDescription, tags) == 53);
static_assert(offsetof(HostFunctionDescription, tagCount) == 57);
static_assert(sizeof(HostFieldDescription) == 29);
static_assert(offsetof(HostFieldDescription, optional) == 28);
static_assert(sizeof(HostEnumeratorDescription) == 16);
static_assert(sizeof(HostTypeDescription) == 40);
static_assert(offsetof(HostTypeDescription, fields) == 28);
static_assert(offsetof(HostTypeDescription, count) == 36);
static_assert(sizeof(HostEventDescription) == 28);
static_assert(sizeof(HostLocationEntry) == 8);
static_assert(sizeof(HostNameListEntry) == 12);
static_assert(sizeof(HostFunctionRecord) == 90);
static_assert(offsetof(HostFunctionRecord, callback) == 61);
static_assert(offsetof(HostFunctionRecord, locations) == 65);
static_assert(offsetof(HostFunctionRecord, pathTemplate) == 69);
static_assert(offsetof(HostFunctionRecord, method) == 73);
static_assert(offsetof(HostFunctionRecord, flag) == 77);
static_assert(offsetof(HostFunctionRecord, nameLists) == 78);
static_assert(offsetof(HostFunctionRecord, nameListCount) == 82);
static_assert(offsetof(HostFunctionRecord, functionName) == 86);
static_assert(sizeof(HostApiDescriptor) == 24);
#else
static_assert(sizeof(HostRequestRecord) == 5 * 4 + 7 * sizeof(void*));
static_assert(sizeof(HostResponseRecord) == sizeof(HostValue) + 1 + 1 + 4 * 5 + 7 * sizeof(void*));
static_assert(offsetof(HostFunctionDescription, reserved) == sizeof(void*));
static_assert(sizeof(HostApiDescriptor) == 3 * 4 + 3 * sizeof(void*));
#endif

}  // namespace Korvo
