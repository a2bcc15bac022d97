/*
** sdk/contract/korvo_plugin.h - the binary contract between a host core and
** a plug-in library: the load record, the two function tables, the value,
** event, request and response records, the records that describe a plug-in's
** API, every code that travels in them, and the export's signature.
**
** This header is C (C99 or later, and C++), includes nothing beyond
** <stddef.h> and <stdint.h>, and is what a host - ours or anyone's - includes.
** It compiles with GCC, Clang and Microsoft's compiler.
**
** Every record is packed (no padding), little-endian, with native pointers.
** The offsets written beside the fields are those of the 32-bit build; on a
** 64-bit build only the pointer fields (and the value record's data, which
** holds a pointer) widen by four bytes each. Both are checked at the end of
** this file: KORVO_ASSERT_OFFSET(record, field, offset32, pointers) holds the
** 32-bit offset and the number of widening fields that lie before it.
**
** Every function pointer uses the C calling convention (the caller cleans the
** stack). The entries of a table take the table, or the object that embeds
** it, as their first argument.
**
** Ownership: the side that builds a record owns its heap parts; the receiver
** reads them during the call and copies what it keeps. A response record is
** filled by the callee and released by the caller through the release
** function the record itself carries.
*/
#ifndef KORVO_PLUGIN_H
#define KORVO_PLUGIN_H

#include <stddef.h>
#include <stdint.h>

/* ---- Calling convention, export, packing ------------------------------ */

/* The C calling convention, spelled out where a compiler could default to
** another one (32-bit x86); elsewhere there is only one and the marker is
** empty. */
#if defined(_MSC_VER)
#define KORVO_CDECL __cdecl
#elif defined(__i386__)
#define KORVO_CDECL __attribute__((cdecl))
#else
#define KORVO_CDECL
#endif

#ifdef __cplusplus
#define KORVO_EXTERN_C extern "C"
#else
#define KORVO_EXTERN_C extern
#endif

/* Marks the one symbol a plug-in library exports. */
#if defined(_WIN32)
#define KORVO_EXPORT KORVO_EXTERN_C __declspec(dllexport)
#else
#define KORVO_EXPORT KORVO_EXTERN_C __attribute__((visibility("default")))
#endif

/* A compile-time check that works in C11, C++ and older C dialects (among
** them Microsoft's C without /std:c11). */
#if defined(__cplusplus)
#define KORVO_STATIC_ASSERT(condition, message) static_assert(condition, message)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define KORVO_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#else
#define KORVO_STATIC_ASSERT_JOIN2(a, b) a##b
#define KORVO_STATIC_ASSERT_JOIN(a, b) KORVO_STATIC_ASSERT_JOIN2(a, b)
#define KORVO_STATIC_ASSERT(condition, message) \
    typedef char KORVO_STATIC_ASSERT_JOIN(KorvoStaticAssert, __LINE__)[(condition) ? 1 : -1]
#endif

/* The one-byte boolean of the stream read function. */
#ifdef __cplusplus
typedef bool KorvoBool;
#else
typedef _Bool KorvoBool;
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Codes --------------------------------------------------------------
** Records carry codes in fixed-width fields (uint32_t unless said
** otherwise), never in enum-typed fields: a C enum's size is the compiler's
** choice. Codes a receiver does not know are read as said beside each set.
** Each set has its highest code (KORVO_..._LAST) and a test of whether a
** code is one of the set's (Korvo...IsValid) beside it, so that no reader or
** writer derives the bounds anew; a set only grows at its end. */

#if defined(_MSC_VER) && !defined(__cplusplus)
#define KORVO_INLINE static __inline
#else
#define KORVO_INLINE static inline
#endif

/* The plug-in API version this contract describes. A host is compatible when
** its major equals the plug-in's and its minor.patch is not older. */
#define KORVO_PLUGIN_API_MAJOR 18
#define KORVO_PLUGIN_API_MINOR 0
#define KORVO_PLUGIN_API_PATCH 0

/* Request methods (KorvoHostRequestRecord.method, KorvoHostFunctionRecord.
** method). A code outside 1 to 8 is read as ANY. */
enum KorvoMethod {
    KORVO_METHOD_ANY = 0, /* no known method; on a route: accepts every method */
    KORVO_METHOD_DELETE = 1,
    KORVO_METHOD_GET = 2,
    KORVO_METHOD_HEAD = 3,
    KORVO_METHOD_OPTIONS = 4,
    KORVO_METHOD_PATCH = 5,
    KORVO_METHOD_POST = 6,
    KORVO_METHOD_PUT = 7,
    KORVO_METHOD_CALL = 8 /* a call of a function by its name, not by path */
};
#define KORVO_METHOD_LAST KORVO_METHOD_CALL
/* ANY included: a route may accept every method. */
KORVO_INLINE KorvoBool KorvoMethodIsValid(uint32_t method) { return method <= KORVO_METHOD_LAST; }

/* Where an argument may be taken from (KorvoHostLocationEntry.location).
** 3 is not used; codes above KORVO_LOCATION_LAST are written as ANY. */
enum KorvoArgumentLocation {
    KORVO_LOCATION_ANY = 0, /* every source */
    KORVO_LOCATION_QUERY = 1,
    KORVO_LOCATION_PATH = 2,
    KORVO_LOCATION_HEADER = 4,
    KORVO_LOCATION_BODY = 5
};
#define KORVO_LOCATION_LAST KORVO_LOCATION_BODY
/* 3 lies below the last code but names no location. */
KORVO_INLINE KorvoBool KorvoArgumentLocationIsValid(uint32_t location) {
    return location <= KORVO_LOCATION_LAST && location != 3u;
}

/* Body content types (KorvoHostResponseRecord.contentCode). Other codes are
** written as OTHER. */
enum KorvoContentCode {
    KORVO_CONTENT_OTHER = 0, /* anything else, or none */
    KORVO_CONTENT_JSON = 1,
    KORVO_CONTENT_YAML = 2,
    KORVO_CONTENT_MESSAGE_PACK = 3
};
#define KORVO_CONTENT_LAST KORVO_CONTENT_MESSAGE_PACK
KORVO_INLINE KorvoBool KorvoContentCodeIsValid(uint32_t code) { return code <= KORVO_CONTENT_LAST; }

/* The native kind of an argument, result or field in the description
** records. Other codes are written as NONE. */
enum KorvoTypeKind {
    KORVO_KIND_NONE = 0,
    KORVO_KIND_BOOL = 1,
    KORVO_KIND_INT8 = 2,
    KORVO_KIND_UINT8 = 3,
    KORVO_KIND_INT16 = 4,
    KORVO_KIND_UINT16 = 5,
    KORVO_KIND_INT32 = 6,
    KORVO_KIND_UINT32 = 7,
    KORVO_KIND_INT64 = 8,
    KORVO_KIND_UINT64 = 9,
    KORVO_KIND_FLOAT = 10,
    KORVO_KIND_DOUBLE = 11,
    KORVO_KIND_STRING = 12,
    KORVO_KIND_OBJECT = 13, /* a generic value */
    KORVO_KIND_BLOB = 14,   /* a byte vector */
    KORVO_KIND_VECTOR = 15, /* elements of the element kind */
    KORVO_KIND_ENUM = 16,
    KORVO_KIND_STRUCT = 17,
    KORVO_KIND_CALLBACK = 18,
    KORVO_KIND_MAP = 19 /* string keys, values of the element kind */
};
#define KORVO_KIND_LAST KORVO_KIND_MAP
KORVO_INLINE KorvoBool KorvoTypeKindIsValid(uint32_t kind) { return kind <= KORVO_KIND_LAST; }

/* The type word of a KorvoHostValue. */
enum KorvoValueType {
    KORVO_VALUE_NULL = 0,
    KORVO_VALUE_BOOL = 1,
    KORVO_VALUE_INT64 = 2,
    KORVO_VALUE_UINT64 = 3,
    KORVO_VALUE_DOUBLE = 4,
    KORVO_VALUE_BORROWED_STRING = 5, /* never produced; read like STRING, never freed */
    KORVO_VALUE_STRING = 6,          /* NUL-terminated heap copy owned by the record */
    KORVO_VALUE_BORROWED_BINARY = 7, /* never produced; read like BINARY, never freed */
    KORVO_VALUE_BINARY = 8,          /* heap copy owned by the record */
    KORVO_VALUE_ARRAY = 9,           /* owned array of KorvoHostValue */
    KORVO_VALUE_OBJECT = 10          /* owned array of KorvoHostValueMember */
};
#define KORVO_VALUE_LAST KORVO_VALUE_OBJECT
KORVO_INLINE KorvoBool KorvoValueTypeIsValid(uint32_t type) { return type <= KORVO_VALUE_LAST; }

/* Severity of a log record (the level argument of KorvoHostFunctions.Log). */
enum KorvoLogLevel {
    KORVO_LOG_OKAY = 0,
    KORVO_LOG_WARN = 1,
    KORVO_LOG_ERROR = 2,
    KORVO_LOG_ALWAYS = 3
};
#define KORVO_LOG_LAST KORVO_LOG_ALWAYS
KORVO_INLINE KorvoBool KorvoLogLevelIsValid(uint32_t level) { return level <= KORVO_LOG_LAST; }

/* The flag argument of KorvoHostFunctions.Subscribe. */
enum KorvoSubscribeFlag {
    KORVO_SUBSCRIBE_RESOURCE_EVENT = 0,
    KORVO_SUBSCRIBE_SERVICE_PROXY_EVENT = 1
};
#define KORVO_SUBSCRIBE_LAST KORVO_SUBSCRIBE_SERVICE_PROXY_EVENT
KORVO_INLINE KorvoBool KorvoSubscribeFlagIsValid(uint32_t flag) { return flag <= KORVO_SUBSCRIBE_LAST; }

/* The texts of the codes, one table for host and plug-in alike. Never null;
** static storage. */

/* "DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST", "PUT" for codes 1 to
** 7; "" for every other code, KORVO_METHOD_CALL included. */
KORVO_INLINE const char* KorvoMethodName(uint32_t method) {
    static const char* const names[] = {"", "DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST", "PUT"};
    return method < sizeof(names) / sizeof(names[0]) ? names[method] : "";
}

/* "bool", "int8", ... "map" for codes 1 to 19; "" for every other code. */
KORVO_INLINE const char* KorvoTypeKindName(uint32_t kind) {
    static const char* const names[] = {"",       "bool",   "int8",   "uint8",  "int16",    "uint16", "int32",
                                        "uint32", "int64",  "uint64", "float",  "double",   "string", "object",
                                        "blob",   "vector", "enum",   "struct", "callback", "map"};
    return kind < sizeof(names) / sizeof(names[0]) ? names[kind] : "";
}

/* ---- Records ------------------------------------------------------------ */

typedef struct KorvoHostValue KorvoHostValue;
typedef struct KorvoHostValueMember KorvoHostValueMember;
typedef struct KorvoHostValueResult KorvoHostValueResult;
typedef struct KorvoHostEventRecord KorvoHostEventRecord;
typedef struct KorvoHostArgumentEntry KorvoHostArgumentEntry;
typedef struct KorvoHostHeaderEntry KorvoHostHeaderEntry;
typedef struct KorvoHostRequestRecord KorvoHostRequestRecord;
typedef struct KorvoHostResponseRecord KorvoHostResponseRecord;
typedef struct KorvoHostArgumentDescription KorvoHostArgumentDescription;
typedef struct KorvoHostFunctionDescription KorvoHostFunctionDescription;
typedef struct KorvoHostFieldDescription KorvoHostFieldDescription;
typedef struct KorvoHostEnumeratorDescription KorvoHostEnumeratorDescription;
typedef struct KorvoHostTypeDescription KorvoHostTypeDescription;
typedef struct KorvoHostEventDescription KorvoHostEventDescription;
typedef struct KorvoHostLocationEntry KorvoHostLocationEntry;
typedef struct KorvoHostNameListEntry KorvoHostNameListEntry;
typedef struct KorvoHostFunctionRecord KorvoHostFunctionRecord;
typedef struct KorvoHostApiDescriptor KorvoHostApiDescriptor;
typedef struct KorvoPluginMemoryStats KorvoPluginMemoryStats;
typedef struct KorvoPluginLoadContext KorvoPluginLoadContext;
typedef struct KorvoHostInterface KorvoHostInterface;
typedef struct KorvoHostFunctions KorvoHostFunctions;
typedef struct KorvoPluginCallbacks KorvoPluginCallbacks;

/* The plug-in's entry for one served function, opaque to the host: it
** passes the pointer from the function's record back in each request. */
typedef struct KorvoFunctionUserData KorvoFunctionUserData;

/* The plug-in function the host calls for a subscribed event. */
typedef void(KORVO_CDECL* KorvoHostEventCallback)(const KorvoHostEventRecord* event);
/* The plug-in function the host calls for one served function. */
typedef void(KORVO_CDECL* KorvoHostFunctionCallback)(KorvoHostResponseRecord* response,
                                                     const KorvoHostRequestRecord* request);
/* Releases a response record's heap parts and zeroes it. */
typedef void(KORVO_CDECL* KorvoHostResponseRelease)(KorvoHostResponseRecord* response);
/* Reads up to *count bytes into buffer; on return *count holds the bytes
** written and *more whether further data follows. False on a read error. */
typedef KorvoBool(KORVO_CDECL* KorvoHostStreamRead)(void* stream, char* buffer, uint32_t* count, KorvoBool* more);
typedef void(KORVO_CDECL* KorvoHostStreamRelease)(void* stream);

#pragma pack(push, 1)

/* -- Values and events. */

typedef struct KorvoHostValueText {  /* 8 bytes in the 32-bit build */
    char* text;                      /* +0 NUL-terminated */
    uint32_t length;                 /* +4 bytes, without the NUL */
} KorvoHostValueText;

typedef struct KorvoHostValueBytes { /* 8 bytes in the 32-bit build */
    uint8_t* bytes;                  /* +0 */
    uint32_t count;                  /* +4 */
} KorvoHostValueBytes;

typedef struct KorvoHostValueArray { /* 8 bytes in the 32-bit build */
    KorvoHostValue* items;           /* +0 count consecutive records */
    uint32_t count;                  /* +4 */
} KorvoHostValueArray;

typedef struct KorvoHostValueObject { /* 8 bytes in the 32-bit build */
    KorvoHostValueMember* members;    /* +0 count consecutive records */
    uint32_t count;                   /* +4 */
} KorvoHostValueObject;

/* The data of a KorvoHostValue; which member is live depends on the type. */
typedef union KorvoHostValueData { /* 8 bytes in the 32-bit build */
    uint8_t boolean;               /* BOOL: 0 or 1 */
    int64_t int64;                 /* INT64 */
    uint64_t uint64;               /* UINT64 */
    double float64;                /* DOUBLE */
    KorvoHostValueText string;     /* STRING, BORROWED_STRING */
    KorvoHostValueBytes binary;    /* BINARY, BORROWED_BINARY */
    KorvoHostValueArray array;     /* ARRAY */
    KorvoHostValueObject object;   /* OBJECT */
} KorvoHostValueData;

/* The tagged value in which every payload crosses the boundary. All zero
** bytes is NULL. Freeing one releases, at every depth, the heap parts of
** STRING, BINARY, ARRAY and OBJECT (and each member key whose ownsKey is 1)
** and leaves twelve zero bytes. */
struct KorvoHostValue {     /* 12 bytes in the 32-bit build */
    uint32_t type;          /* +0 KorvoValueType; other codes may arrive */
    KorvoHostValueData data; /* +4 */
};

struct KorvoHostValueMember { /* 17 bytes in the 32-bit build */
    char* key;                /* +0  NUL-terminated; freed with the member when ownsKey is 1 */
    KorvoHostValue value;     /* +4  owned by the member */
    uint8_t ownsKey;          /* +16 1 when key is a heap copy */
};

/* A value with an error indication; the first 17 bytes of
** KorvoHostResponseRecord have this layout. */
struct KorvoHostValueResult { /* 17 bytes in the 32-bit build */
    KorvoHostValue value;     /* +0  NULL when error is 1 */
    char* message;            /* +12 heap copy, null when there is none */
    uint8_t error;            /* +16 1 when the operation failed */
};

/* An event, both directions. The plug-in builds 24 zeroed bytes and fills
** the first 20; in a record delivered to a KorvoHostEventCallback, userData
** is what was given to Subscribe. */
struct KorvoHostEventRecord { /* 24 bytes in the 32-bit build */
    const char* name;         /* +0  event name */
    KorvoHostValue payload;   /* +4  owned by the side that built the record */
    uint32_t typeWord;        /* +16 always 0 from the plug-in, never read by it */
    void* userData;           /* +20 the plug-in object on delivery */
};

/* -- Requests and responses. */

struct KorvoHostArgumentEntry { /* 16 bytes in the 32-bit build */
    const char* name;           /* +0 argument name, or null for a positional entry */
    KorvoHostValue value;       /* +4 */
};

struct KorvoHostHeaderEntry { /* 8 bytes in the 32-bit build */
    const char* name;         /* +0 */
    const char* value;        /* +4 */
};

/* Built by the caller, only read by the callee. */
struct KorvoHostRequestRecord {              /* 48 bytes in the 32-bit build */
    uint32_t method;                         /* +0  KorvoMethod, 1..8 */
    const char* path;                        /* +4  may carry '?' and a query */
    const KorvoHostArgumentEntry* arguments; /* +8 */
    uint32_t argumentCount;                  /* +12 */
    KorvoFunctionUserData* userData;         /* +16 from the called function's record */
    const KorvoHostHeaderEntry* headers;     /* +20 */
    uint32_t headerCount;                    /* +24 */
    const char* contentType;                 /* +28 of the body */
    const char* body;                        /* +32 NUL-terminated for JSON and YAML; null without a body */
    uint32_t bodySize;                       /* +36 bytes */
    uint32_t caller;                         /* +40 plug-in handle of the requesting side */
    const char* functionName;                /* +44 used when method is CALL */
};

/* Filled by the callee; the caller releases it through release. */
struct KorvoHostResponseRecord {           /* 62 bytes in the 32-bit build */
    KorvoHostValue result;                 /* +0 */
    char* errorMessage;                    /* +12 heap text, valid when error is 1 */
    uint8_t error;                         /* +16 1 when the call failed */
    uint8_t contentFlag;                   /* +17 */
    uint32_t contentCode;                  /* +18 KorvoContentCode */
    uint32_t status;                       /* +22 */
    char* text;                            /* +26 heap text, or a static empty text */
    KorvoHostHeaderEntry* headers;         /* +30 heap array */
    uint32_t headerCount;                  /* +34 */
    KorvoHostStreamRead streamRead;        /* +38 or null */
    KorvoHostStreamRelease streamRelease;  /* +42 or null; releases stream */
    uint32_t streamSizeHint;               /* +46 bytes */
    uint32_t reserved;                     /* +50 0 */
    void* stream;                          /* +54 stream object */
    KorvoHostResponseRelease release;      /* +58 releases this record's heap parts */
};

/* -- API description (built once at load, read by the host). Each kind of
** record lies in one array whose records are also chained through offset 0
** (null after the last). Texts are never null: "empty" is a static empty
** text. Kind fields hold KorvoTypeKind codes. */

struct KorvoHostArgumentDescription {        /* 25 bytes in the 32-bit build */
    const KorvoHostArgumentDescription* next; /* +0  null after the function's last argument */
    const char* name;                        /* +4 */
    const char* description;                 /* +8 */
    uint32_t kind;                           /* +12 KorvoTypeKind */
    uint32_t elementKind;                    /* +16 for VECTOR and MAP */
    const char* typeName;                    /* +20 for VECTOR, ENUM, STRUCT and MAP */
    uint8_t optional;                        /* +24 */
};

struct KorvoHostFunctionDescription {           /* 61 bytes in the 32-bit build */
    const void* next;                           /* +0  next record of the same array */
    uint32_t reserved;                          /* +4  0 */
    KorvoFunctionUserData* userData;            /* +8  null; set in KorvoHostFunctionRecord */
    const char* name;                           /* +12 */
    const char* nameSpace;                      /* +16 */
    const KorvoHostArgumentDescription* arguments; /* +20 null without arguments */
    uint32_t argumentCount;                     /* +24 */
    uint32_t resultKind;                        /* +28 KorvoTypeKind */
    uint32_t resultElementKind;                 /* +32 */
    const char* resultTypeName;                 /* +36 */
    const char* description;                    /* +40 */
    const char* help;                           /* +44 */
    uint8_t threadSafe;                         /* +48 */
    const char* asyncResultTypeName;            /* +49 empty unless asynchronous */
    const char* const* tags;                    /* +53 array of texts */
    uint32_t tagCount;                          /* +57 */
};

struct KorvoHostFieldDescription {         /* 29 bytes in the 32-bit build */
    const KorvoHostFieldDescription* next; /* +0 */
    const char* name;                      /* +4 */
    const char* description;               /* +8 */
    uint32_t offset;                       /* +12 in the native record */
    uint32_t kind;                         /* +16 KorvoTypeKind */
    uint32_t elementKind;                  /* +20 */
    const char* typeName;                  /* +24 */
    uint8_t optional;                      /* +28 */
};

struct KorvoHostEnumeratorDescription {         /* 16 bytes in the 32-bit build */
    const KorvoHostEnumeratorDescription* next; /* +0 */
    const char* name;                           /* +4 */
    const char* description;                    /* +8 */
    int32_t value;                              /* +12 */
};

struct KorvoHostTypeDescription {                    /* 40 bytes in the 32-bit build */
    const KorvoHostTypeDescription* next;            /* +0 */
    const char* name;                                /* +4 */
    const char* nameSpace;                           /* +8 */
    uint32_t size;                                   /* +12 native size in bytes */
    const char* description;                         /* +16 */
    const char* const* tags;                         /* +20 */
    uint32_t tagCount;                               /* +24 */
    const KorvoHostFieldDescription* fields;         /* +28 null without fields */
    const KorvoHostEnumeratorDescription* enumerators; /* +32 null when the type has fields */
    uint32_t count;                                  /* +36 fields, or enumerators without fields */
};

struct KorvoHostEventDescription {         /* 28 bytes in the 32-bit build */
    const KorvoHostEventDescription* next; /* +0 */
    const char* name;                      /* +4 */
    const char* nameSpace;                 /* +8 */
    const char* payloadTypeName;           /* +12 */
    const char* description;               /* +16 */
    const char* const* tags;               /* +20 */
    uint32_t tagCount;                     /* +24 */
};

struct KorvoHostLocationEntry {         /* 8 bytes in the 32-bit build */
    const KorvoHostLocationEntry* next; /* +0 */
    uint32_t location;                  /* +4 KorvoArgumentLocation */
};

struct KorvoHostNameListEntry {         /* 12 bytes in the 32-bit build */
    const KorvoHostNameListEntry* next; /* +0 */
    const char* const* names;           /* +4 */
    uint32_t count;                     /* +8 */
};

/* What the host receives per served function: the description, with offset
** 0 linking the function records and offset 8 the plug-in's entry.
**
** pathTemplate, the route the function serves: NULL or empty when it is
** served by name only (method KORVO_METHOD_CALL). Otherwise, in bytes:
**
**   template      = literal-path | parameterised
**   literal-path  = zero or more bytes, none of them '{'
**   parameterised = { text | parameter }, with at least one parameter
**   parameter     = '{' [ '+' | '#' ] name '}'
**   name          = one or more bytes, none of them '{' or '}'
**   text          = one byte, neither '{' nor '}'
**
** A literal path is matched as those bytes exactly, a '}' among them
** included. In a template with a '{', every brace must belong to a
** parameter: a '{' inside a parameter, a '}' that closes none, an empty
** name ("{}", "{+}", "{#}") or a parameter not closed make it malformed,
** and the plug-in serves no path through a malformed template.
**
** A path fits when the whole of it (the part before any '?' for a host
** choosing a record; the plug-in matches the path as received) is the text
** byte for byte, case-sensitive, with each parameter standing for:
**   {name}   zero or more bytes without '/' (one path segment);
**   {+name}  zero or more bytes, slashes included;
**   {#name}  a '#' and then zero or more bytes; the value follows the '#'.
** Only the first character after '{' chooses the kind: "{++a}" is {+name}
** with the name "+a". A name may repeat; the later value wins. Where a
** path fits in several ways, earlier parameters take as much as the rest
** allows. The plug-in percent-decodes each value, and its {+name} and
** {#name} take no line break ('\n', '\r').
** Example: "/v1/items/{id}.json" fits "/v1/items/7.json" with id = "7". */
struct KorvoHostFunctionRecord {              /* 90 bytes in the 32-bit build */
    KorvoHostFunctionDescription description; /* +0 */
    KorvoHostFunctionCallback callback;       /* +61 */
    const KorvoHostLocationEntry* locations;  /* +65 one per argument, in order */
    const char* pathTemplate;                 /* +69 route template, grammar above */
    uint32_t method;                          /* +73 KorvoMethod, 0 outside 1..8 */
    uint8_t flag;                             /* +77 */
    const KorvoHostNameListEntry* nameLists;  /* +78 */
    uint32_t nameListCount;                   /* +82 */
    const char* functionName;                 /* +86 */
};

struct KorvoHostApiDescriptor {              /* 24 bytes in the 32-bit build */
    const KorvoHostFunctionRecord* functions; /* +0 */
    uint32_t functionCount;                  /* +4 */
    const KorvoHostTypeDescription* types;   /* +8 */
    uint32_t typeCount;                      /* +12 */
    const KorvoHostEventDescription* events; /* +16 */
    uint32_t eventCount;                     /* +20 */
};

/* -- Loading, the function tables and memory statistics. */

struct KorvoPluginMemoryStats { /* 56 bytes on every build */
    uint64_t peakBytesInUse;    /* +0  highest bytes allocated - bytes freed seen */
    uint64_t allocationsAtPeak; /* +8  allocations outstanding at that peak */
    uint64_t bytesAllocated;    /* +16 */
    uint64_t allocations;       /* +24 */
    uint64_t bytesFreed;        /* +32 */
    uint64_t frees;             /* +40 */
    uint32_t reserved0;         /* +48 always 0 */
    uint32_t reserved1;         /* +52 always 0 */
};

/* Allocated by the host and passed to the export. The host fills the three
** version words; the plug-in reads them and then overwrites all seven. */
struct KorvoPluginLoadContext {             /* 28 bytes in the 32-bit build */
    uint32_t apiMajor;                      /* +0  in: host's; out: plug-in's */
    uint32_t apiMinor;                      /* +4  in: host's; out: plug-in's */
    uint32_t apiPatch;                      /* +8  in: host's; out: plug-in's */
    const KorvoPluginCallbacks* callbacks;  /* +12 out; lives in the plug-in object */
    void* plugin;                           /* +16 out; first argument of Start and Stop */
    const char* fullName;                   /* +20 out; owned by the plug-in object */
    const KorvoHostApiDescriptor* descriptor; /* +24 out; owned by the plug-in object */
};

/* What Start receives; the plug-in keeps the pointer and reads two words. */
struct KorvoHostInterface {              /* 8 bytes in the 32-bit build */
    const KorvoHostFunctions* functions; /* +0 the host's function table */
    uint32_t pluginHandle;               /* +4 passed back with every request */
};

/* The host's function table. A plug-in uses these ten entries and never
** interprets the table beyond calling them; reserved1 and reserved5 are only
** forwarded. */
struct KorvoHostFunctions { /* 40 bytes used in the 32-bit build */
    void(KORVO_CDECL* SendRequest)(const KorvoHostFunctions* self, KorvoHostResponseRecord* response,
                                   const KorvoHostRequestRecord* request); /* +0 */
    void(KORVO_CDECL* reserved1)(const KorvoHostFunctions* self, uint32_t a, uint32_t b); /* +4 */
    void(KORVO_CDECL* SendEvent)(const KorvoHostFunctions* self, const KorvoHostEventRecord* event); /* +8 */
    void(KORVO_CDECL* Subscribe)(const KorvoHostFunctions* self, const char* eventName, uint32_t pluginHandle,
                                 KorvoHostEventCallback callback, void* userData,
                                 uint32_t flag); /* +12 flag: KorvoSubscribeFlag */
    void(KORVO_CDECL* Unsubscribe)(const KorvoHostFunctions* self, const char* eventName,
                                   uint32_t pluginHandle); /* +16 */
    void(KORVO_CDECL* reserved5)(const KorvoHostFunctions* self, uint32_t a, uint32_t b, uint32_t c, double d,
                                 uint32_t e); /* +20 */
    void(KORVO_CDECL* Yield)(const KorvoHostFunctions* self); /* +24 */
    void(KORVO_CDECL* MarkActivity)(const KorvoHostFunctions* self, const char* label, uint32_t value); /* +28 */
    uint64_t(KORVO_CDECL* PollWake)(const KorvoHostFunctions* self); /* +32 */
    void(KORVO_CDECL* Log)(const KorvoHostFunctions* self, uint32_t level,
                           const char* message); /* +36 level: KorvoLogLevel */
};

/* The plug-in's entry points, stored in the plug-in object. */
struct KorvoPluginCallbacks {                                                            /* 12 bytes in the 32-bit build */
    uint8_t(KORVO_CDECL* Start)(void* plugin, const KorvoHostInterface* host);           /* +0 1: started */
    void(KORVO_CDECL* Stop)(void* plugin);                                               /* +4 destroys the object */
    void(KORVO_CDECL* GetMemoryStats)(void* ignored, KorvoPluginMemoryStats* out);       /* +8 */
};

#pragma pack(pop)

/* The export's signature: builds the plug-in object, fills the load
** record's outputs and returns the object (null when it cannot be built). */
typedef void*(KORVO_CDECL* KorvoLoadPluginFn)(KorvoPluginLoadContext* context);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* ---- Layout checks ------------------------------------------------------
** offset32 is the figure of the 32-bit build; each of the `pointers` fields
** before it is four bytes wider on a 64-bit build. */

#define KORVO_LAYOUT_AT(offset32, pointers) ((size_t)(offset32) + (size_t)(pointers) * (sizeof(void*) - 4u))
#define KORVO_ASSERT_SIZE(record, size32, pointers) \
    KORVO_STATIC_ASSERT(sizeof(record) == KORVO_LAYOUT_AT(size32, pointers), "size of " #record)
#define KORVO_ASSERT_OFFSET(record, field, offset32, pointers) \
    KORVO_STATIC_ASSERT(offsetof(record, field) == KORVO_LAYOUT_AT(offset32, pointers), "offset of " #record "." #field)

KORVO_STATIC_ASSERT(sizeof(void*) == 4 || sizeof(void*) == 8, "4- or 8-byte pointers");
KORVO_STATIC_ASSERT(sizeof(KorvoBool) == 1, "a one-byte boolean");
KORVO_STATIC_ASSERT(sizeof(double) == 8, "IEEE 754 binary64");

KORVO_ASSERT_SIZE(KorvoHostValueText, 8, 1);
KORVO_ASSERT_OFFSET(KorvoHostValueText, length, 4, 1);
KORVO_ASSERT_SIZE(KorvoHostValueBytes, 8, 1);
KORVO_ASSERT_OFFSET(KorvoHostValueBytes, count, 4, 1);
KORVO_ASSERT_SIZE(KorvoHostValueArray, 8, 1);
KORVO_ASSERT_OFFSET(KorvoHostValueArray, count, 4, 1);
KORVO_ASSERT_SIZE(KorvoHostValueObject, 8, 1);
KORVO_ASSERT_OFFSET(KorvoHostValueObject, count, 4, 1);
KORVO_ASSERT_SIZE(KorvoHostValueData, 8, 1);

KORVO_ASSERT_SIZE(KorvoHostValue, 12, 1);
KORVO_ASSERT_OFFSET(KorvoHostValue, type, 0, 0);
KORVO_ASSERT_OFFSET(KorvoHostValue, data, 4, 0);

KORVO_ASSERT_SIZE(KorvoHostValueMember, 17, 2);
KORVO_ASSERT_OFFSET(KorvoHostValueMember, key, 0, 0);
KORVO_ASSERT_OFFSET(KorvoHostValueMember, value, 4, 1);
KORVO_ASSERT_OFFSET(KorvoHostValueMember, ownsKey, 16, 2);

KORVO_ASSERT_SIZE(KorvoHostValueResult, 17, 2);
KORVO_ASSERT_OFFSET(KorvoHostValueResult, value, 0, 0);
KORVO_ASSERT_OFFSET(KorvoHostValueResult, message, 12, 1);
KORVO_ASSERT_OFFSET(KorvoHostValueResult, error, 16, 2);

KORVO_ASSERT_SIZE(KorvoHostEventRecord, 24, 3);
KORVO_ASSERT_OFFSET(KorvoHostEventRecord, name, 0, 0);
KORVO_ASSERT_OFFSET(KorvoHostEventRecord, payload, 4, 1);
KORVO_ASSERT_OFFSET(KorvoHostEventRecord, typeWord, 16, 2);
KORVO_ASSERT_OFFSET(KorvoHostEventRecord, userData, 20, 2);

KORVO_ASSERT_SIZE(KorvoHostArgumentEntry, 16, 2);
KORVO_ASSERT_OFFSET(KorvoHostArgumentEntry, value, 4, 1);
KORVO_ASSERT_SIZE(KorvoHostHeaderEntry, 8, 2);
KORVO_ASSERT_OFFSET(KorvoHostHeaderEntry, value, 4, 1);

KORVO_ASSERT_SIZE(KorvoHostRequestRecord, 48, 7);
KORVO_ASSERT_OFFSET(KorvoHostRequestRecord, method, 0, 0);
KORVO_ASSERT_OFFSET(KorvoHostRequestRecord, path, 4, 0);
KORVO_ASSERT_OFFSET(KorvoHostRequestRecord, arguments, 8, 1);
KORVO_ASSERT_OFFSET(KorvoHostRequestRecord, argumentCount, 12, 2);
KORVO_ASSERT_OFFSET(KorvoHostRequestRecord, userData, 16, 2);
KORVO_ASSERT_OFFSET(KorvoHostRequestRecord, headers, 20, 3);
KORVO_ASSERT_OFFSET(KorvoHostRequestRecord, headerCount, 24, 4);
KORVO_ASSERT_OFFSET(KorvoHostRequestRecord, contentType, 28, 4);
KORVO_ASSERT_OFFSET(KorvoHostRequestRecord, body, 32, 5);
KORVO_ASSERT_OFFSET(KorvoHostRequestRecord, bodySize, 36, 6);
KORVO_ASSERT_OFFSET(KorvoHostRequestRecord, caller, 40, 6);
KORVO_ASSERT_OFFSET(KorvoHostRequestRecord, functionName, 44, 6);

KORVO_ASSERT_SIZE(KorvoHostResponseRecord, 62, 8);
KORVO_ASSERT_OFFSET(KorvoHostResponseRecord, result, 0, 0);
KORVO_ASSERT_OFFSET(KorvoHostResponseRecord, errorMessage, 12, 1);
KORVO_ASSERT_OFFSET(KorvoHostResponseRecord, error, 16, 2);
KORVO_ASSERT_OFFSET(KorvoHostResponseRecord, contentFlag, 17, 2);
KORVO_ASSERT_OFFSET(KorvoHostResponseRecord, contentCode, 18, 2);
KORVO_ASSERT_OFFSET(KorvoHostResponseRecord, status, 22, 2);
KORVO_ASSERT_OFFSET(KorvoHostResponseRecord, text, 26, 2);
KORVO_ASSERT_OFFSET(KorvoHostResponseRecord, headers, 30, 3);
KORVO_ASSERT_OFFSET(KorvoHostResponseRecord, headerCount, 34, 4);
KORVO_ASSERT_OFFSET(KorvoHostResponseRecord, streamRead, 38, 4);
KORVO_ASSERT_OFFSET(KorvoHostResponseRecord, streamRelease, 42, 5);
KORVO_ASSERT_OFFSET(KorvoHostResponseRecord, streamSizeHint, 46, 6);
KORVO_ASSERT_OFFSET(KorvoHostResponseRecord, reserved, 50, 6);
KORVO_ASSERT_OFFSET(KorvoHostResponseRecord, stream, 54, 6);
KORVO_ASSERT_OFFSET(KorvoHostResponseRecord, release, 58, 7);
KORVO_STATIC_ASSERT(offsetof(KorvoHostResponseRecord, errorMessage) == offsetof(KorvoHostValueResult, message) &&
                        offsetof(KorvoHostResponseRecord, error) == offsetof(KorvoHostValueResult, error),
                    "a response record begins with a value result");

KORVO_ASSERT_SIZE(KorvoHostArgumentDescription, 25, 4);
KORVO_ASSERT_OFFSET(KorvoHostArgumentDescription, name, 4, 1);
KORVO_ASSERT_OFFSET(KorvoHostArgumentDescription, description, 8, 2);
KORVO_ASSERT_OFFSET(KorvoHostArgumentDescription, kind, 12, 3);
KORVO_ASSERT_OFFSET(KorvoHostArgumentDescription, elementKind, 16, 3);
KORVO_ASSERT_OFFSET(KorvoHostArgumentDescription, typeName, 20, 3);
KORVO_ASSERT_OFFSET(KorvoHostArgumentDescription, optional, 24, 4);

KORVO_ASSERT_SIZE(KorvoHostFunctionDescription, 61, 10);
KORVO_ASSERT_OFFSET(KorvoHostFunctionDescription, reserved, 4, 1);
KORVO_ASSERT_OFFSET(KorvoHostFunctionDescription, userData, 8, 1);
KORVO_ASSERT_OFFSET(KorvoHostFunctionDescription, name, 12, 2);
KORVO_ASSERT_OFFSET(KorvoHostFunctionDescription, nameSpace, 16, 3);
KORVO_ASSERT_OFFSET(KorvoHostFunctionDescription, arguments, 20, 4);
KORVO_ASSERT_OFFSET(KorvoHostFunctionDescription, argumentCount, 24, 5);
KORVO_ASSERT_OFFSET(KorvoHostFunctionDescription, resultKind, 28, 5);
KORVO_ASSERT_OFFSET(KorvoHostFunctionDescription, resultElementKind, 32, 5);
KORVO_ASSERT_OFFSET(KorvoHostFunctionDescription, resultTypeName, 36, 5);
KORVO_ASSERT_OFFSET(KorvoHostFunctionDescription, description, 40, 6);
KORVO_ASSERT_OFFSET(KorvoHostFunctionDescription, help, 44, 7);
KORVO_ASSERT_OFFSET(KorvoHostFunctionDescription, threadSafe, 48, 8);
KORVO_ASSERT_OFFSET(KorvoHostFunctionDescription, asyncResultTypeName, 49, 8);
KORVO_ASSERT_OFFSET(KorvoHostFunctionDescription, tags, 53, 9);
KORVO_ASSERT_OFFSET(KorvoHostFunctionDescription, tagCount, 57, 10);

KORVO_ASSERT_SIZE(KorvoHostFieldDescription, 29, 4);
KORVO_ASSERT_OFFSET(KorvoHostFieldDescription, name, 4, 1);
KORVO_ASSERT_OFFSET(KorvoHostFieldDescription, description, 8, 2);
KORVO_ASSERT_OFFSET(KorvoHostFieldDescription, offset, 12, 3);
KORVO_ASSERT_OFFSET(KorvoHostFieldDescription, kind, 16, 3);
KORVO_ASSERT_OFFSET(KorvoHostFieldDescription, elementKind, 20, 3);
KORVO_ASSERT_OFFSET(KorvoHostFieldDescription, typeName, 24, 3);
KORVO_ASSERT_OFFSET(KorvoHostFieldDescription, optional, 28, 4);

KORVO_ASSERT_SIZE(KorvoHostEnumeratorDescription, 16, 3);
KORVO_ASSERT_OFFSET(KorvoHostEnumeratorDescription, name, 4, 1);
KORVO_ASSERT_OFFSET(KorvoHostEnumeratorDescription, description, 8, 2);
KORVO_ASSERT_OFFSET(KorvoHostEnumeratorDescription, value, 12, 3);

KORVO_ASSERT_SIZE(KorvoHostTypeDescription, 40, 7);
KORVO_ASSERT_OFFSET(KorvoHostTypeDescription, name, 4, 1);
KORVO_ASSERT_OFFSET(KorvoHostTypeDescription, nameSpace, 8, 2);
KORVO_ASSERT_OFFSET(KorvoHostTypeDescription, size, 12, 3);
KORVO_ASSERT_OFFSET(KorvoHostTypeDescription, description, 16, 3);
KORVO_ASSERT_OFFSET(KorvoHostTypeDescription, tags, 20, 4);
KORVO_ASSERT_OFFSET(KorvoHostTypeDescription, tagCount, 24, 5);
KORVO_ASSERT_OFFSET(KorvoHostTypeDescription, fields, 28, 5);
KORVO_ASSERT_OFFSET(KorvoHostTypeDescription, enumerators, 32, 6);
KORVO_ASSERT_OFFSET(KorvoHostTypeDescription, count, 36, 7);

KORVO_ASSERT_SIZE(KorvoHostEventDescription, 28, 6);
KORVO_ASSERT_OFFSET(KorvoHostEventDescription, name, 4, 1);
KORVO_ASSERT_OFFSET(KorvoHostEventDescription, nameSpace, 8, 2);
KORVO_ASSERT_OFFSET(KorvoHostEventDescription, payloadTypeName, 12, 3);
KORVO_ASSERT_OFFSET(KorvoHostEventDescription, description, 16, 4);
KORVO_ASSERT_OFFSET(KorvoHostEventDescription, tags, 20, 5);
KORVO_ASSERT_OFFSET(KorvoHostEventDescription, tagCount, 24, 6);

KORVO_ASSERT_SIZE(KorvoHostLocationEntry, 8, 1);
KORVO_ASSERT_OFFSET(KorvoHostLocationEntry, location, 4, 1);
KORVO_ASSERT_SIZE(KorvoHostNameListEntry, 12, 2);
KORVO_ASSERT_OFFSET(KorvoHostNameListEntry, names, 4, 1);
KORVO_ASSERT_OFFSET(KorvoHostNameListEntry, count, 8, 2);

KORVO_ASSERT_SIZE(KorvoHostFunctionRecord, 90, 15);
KORVO_ASSERT_OFFSET(KorvoHostFunctionRecord, description, 0, 0);
KORVO_ASSERT_OFFSET(KorvoHostFunctionRecord, callback, 61, 10);
KORVO_ASSERT_OFFSET(KorvoHostFunctionRecord, locations, 65, 11);
KORVO_ASSERT_OFFSET(KorvoHostFunctionRecord, pathTemplate, 69, 12);
KORVO_ASSERT_OFFSET(KorvoHostFunctionRecord, method, 73, 13);
KORVO_ASSERT_OFFSET(KorvoHostFunctionRecord, flag, 77, 13);
KORVO_ASSERT_OFFSET(KorvoHostFunctionRecord, nameLists, 78, 13);
KORVO_ASSERT_OFFSET(KorvoHostFunctionRecord, nameListCount, 82, 14);
KORVO_ASSERT_OFFSET(KorvoHostFunctionRecord, functionName, 86, 14);

KORVO_ASSERT_SIZE(KorvoHostApiDescriptor, 24, 3);
KORVO_ASSERT_OFFSET(KorvoHostApiDescriptor, functionCount, 4, 1);
KORVO_ASSERT_OFFSET(KorvoHostApiDescriptor, types, 8, 1);
KORVO_ASSERT_OFFSET(KorvoHostApiDescriptor, typeCount, 12, 2);
KORVO_ASSERT_OFFSET(KorvoHostApiDescriptor, events, 16, 2);
KORVO_ASSERT_OFFSET(KorvoHostApiDescriptor, eventCount, 20, 3);

KORVO_ASSERT_SIZE(KorvoPluginMemoryStats, 56, 0);
KORVO_ASSERT_OFFSET(KorvoPluginMemoryStats, allocationsAtPeak, 8, 0);
KORVO_ASSERT_OFFSET(KorvoPluginMemoryStats, bytesAllocated, 16, 0);
KORVO_ASSERT_OFFSET(KorvoPluginMemoryStats, allocations, 24, 0);
KORVO_ASSERT_OFFSET(KorvoPluginMemoryStats, bytesFreed, 32, 0);
KORVO_ASSERT_OFFSET(KorvoPluginMemoryStats, frees, 40, 0);
KORVO_ASSERT_OFFSET(KorvoPluginMemoryStats, reserved0, 48, 0);
KORVO_ASSERT_OFFSET(KorvoPluginMemoryStats, reserved1, 52, 0);

KORVO_ASSERT_SIZE(KorvoPluginLoadContext, 28, 4);
KORVO_ASSERT_OFFSET(KorvoPluginLoadContext, apiMinor, 4, 0);
KORVO_ASSERT_OFFSET(KorvoPluginLoadContext, apiPatch, 8, 0);
KORVO_ASSERT_OFFSET(KorvoPluginLoadContext, callbacks, 12, 0);
KORVO_ASSERT_OFFSET(KorvoPluginLoadContext, plugin, 16, 1);
KORVO_ASSERT_OFFSET(KorvoPluginLoadContext, fullName, 20, 2);
KORVO_ASSERT_OFFSET(KorvoPluginLoadContext, descriptor, 24, 3);

KORVO_ASSERT_SIZE(KorvoHostInterface, 8, 1);
KORVO_ASSERT_OFFSET(KorvoHostInterface, pluginHandle, 4, 1);

KORVO_ASSERT_SIZE(KorvoHostFunctions, 40, 10);
KORVO_ASSERT_OFFSET(KorvoHostFunctions, SendRequest, 0, 0);
KORVO_ASSERT_OFFSET(KorvoHostFunctions, reserved1, 4, 1);
KORVO_ASSERT_OFFSET(KorvoHostFunctions, SendEvent, 8, 2);
KORVO_ASSERT_OFFSET(KorvoHostFunctions, Subscribe, 12, 3);
KORVO_ASSERT_OFFSET(KorvoHostFunctions, Unsubscribe, 16, 4);
KORVO_ASSERT_OFFSET(KorvoHostFunctions, reserved5, 20, 5);
KORVO_ASSERT_OFFSET(KorvoHostFunctions, Yield, 24, 6);
KORVO_ASSERT_OFFSET(KorvoHostFunctions, MarkActivity, 28, 7);
KORVO_ASSERT_OFFSET(KorvoHostFunctions, PollWake, 32, 8);
KORVO_ASSERT_OFFSET(KorvoHostFunctions, Log, 36, 9);

KORVO_ASSERT_SIZE(KorvoPluginCallbacks, 12, 3);
KORVO_ASSERT_OFFSET(KorvoPluginCallbacks, Stop, 4, 1);
KORVO_ASSERT_OFFSET(KorvoPluginCallbacks, GetMemoryStats, 8, 2);

#endif /* KORVO_PLUGIN_H */
