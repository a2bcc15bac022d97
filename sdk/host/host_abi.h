// sdk/host/host_abi.h - the load record, the plug-in's entry points and the
// host's function table.
//
// These are binary layouts shared with a separately built host: packed,
// little-endian, native pointers. The offsets in the comments are those of
// the 32-bit Windows build, where they are checked; on a 64-bit build only the
// pointer fields widen. Every function pointer uses the C calling convention
// and takes the table (or the object that embeds it) as its first argument.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sdk/host/c_abi.h"

namespace Korvo {

struct HostRequestRecord;
struct HostResponseRecord;
struct HostEventRecord;
struct HostApiDescriptor;
struct PluginMemoryStats;
struct HostFunctions;

#pragma pack(push, 1)

struct PluginCallbacks;

// Allocated by the host and passed to the export. The host fills the three
// version words; the plug-in reads them and then overwrites all seven.
struct PluginLoadContext {                  // 28 bytes in the 32-bit build
    uint32_t apiMajor;                      // +0  in: host's; out: plug-in's (18)
    uint32_t apiMinor;                      // +4  in: host's; out: plug-in's (0)
    uint32_t apiPatch;                      // +8  in: host's; out: plug-in's (0)
    const PluginCallbacks* callbacks;       // +12 out; lives in the plug-in object
    void* plugin;                           // +16 out; first argument of Start and Stop
    const char* fullName;                   // +20 out; owned by the plug-in object
    const HostApiDescriptor* descriptor;    // +24 out; owned by the plug-in object
};

// What Start receives; the plug-in keeps the pointer and reads two words.
struct HostInterface {                      // 8 bytes in the 32-bit build
    const HostFunctions* functions;         // +0 the host's function table
    uint32_t pluginHandle;                  // +4 passed back with every request
};

using HostEventCallbackFn = void(KORVO_CDECL*)(const HostEventRecord* event);

// The host's function table; the plug-in uses the first ten entries and never
// interprets the table beyond calling them.
struct HostFunctions {                                                        // 40 bytes used
    void(KORVO_CDECL* SendRequest)(const HostFunctions* self, HostResponseRecord* response,
                                   const HostRequestRecord* request);         // +0
    void(KORVO_CDECL* reserved1)(const HostFunctions* self, uint32_t a, uint32_t b);  // +4 forwarded only
    void(KORVO_CDECL* SendEvent)(const HostFunctions* self, const HostEventRecord* event);  // +8
    void(KORVO_CDECL* Subscribe)(const HostFunctions* self, const char* eventName, uint32_t pluginHandle,
                                 HostEventCallbackFn callback, void* userData, uint32_t flag);  // +12
    void(KORVO_CDECL* Unsubscribe)(const HostFunctions* self, const char* eventName,
                                   uint32_t pluginHandle);                    // +16
    void(KORVO_CDECL* reserved5)(const HostFunctions* self, uint32_t a, uint32_t b, uint32_t c, double d,
                                 uint32_t e);                                 // +20 forwarded only
    void(KORVO_CDECL* Yield)(const HostFunctions* self);                      // +24
    void(KORVO_CDECL* MarkActivity)(const HostFunctions* self, const char* label, uint32_t value);  // +28
    uint64_t(KORVO_CDECL* PollWake)(const HostFunctions* self);               // +32
    void(KORVO_CDECL* Log)(const HostFunctions* self, uint32_t level, const char* message);  // +36
};

// The plug-in's entry points, stored in the plug-in object.
struct PluginCallbacks {                                                      // 12 bytes
    uint8_t(KORVO_CDECL* Start)(void* plugin, const HostInterface* host);     // +0
    void(KORVO_CDECL* Stop)(void* plugin);                                    // +4
    void(KORVO_CDECL* GetMemoryStats)(void* ignored, PluginMemoryStats* out); // +8
};

#pragma pack(pop)

// The export's signature.
using LoadPluginFn = void*(KORVO_CDECL*)(PluginLoadContext* context);

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(PluginLoadContext) == 28);
static_assert(offsetof(PluginLoadContext, callbacks) == 12);
static_assert(offsetof(PluginLoadContext, plugin) == 16);
static_assert(offsetof(PluginLoadContext, fullName) == 20);
static_assert(offsetof(PluginLoadContext, descriptor) == 24);
static_assert(sizeof(HostInterface) == 8);
static_assert(sizeof(HostFunctions) == 40);
static_assert(offsetof(HostFunctions, Log) == 36);
static_assert(sizeof(PluginCallbacks) == 12);
#else
static_assert(sizeof(PluginLoadContext) == 12 + 4 * sizeof(void*));
static_assert(sizeof(HostInterface) == sizeof(void*) + 4);
static_assert(sizeof(HostFunctions) == 10 * sizeof(void*));
#endif

}  // namespace Korvo
