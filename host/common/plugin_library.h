// host/common/plugin_library.h - one plug-in library as the host core holds
// it: loaded by its path with the platform's run-time loader, entered through
// its export with the host's API version, started with the host's table,
// stopped and unloaded.
//
// Not thread-safe: the host calls Open, Load, Start, Stop and Close one at a
// time, as the plug-in expects. MemoryStats may be called from any thread
// while the library stays loaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "sdk/contract/records.h"

namespace Korvo::Host {

// The export a plug-in library is loaded through, from its file name: the
// folder, a "lib" prefix and everything from the first '.' dropped, then a
// "vbp-be-" prefix; "load_" before the rest, with '_' for any character a C
// name cannot have. "build/libvbp-be-qem-quorvex-zv.so" gives
// "load_qem_quorvex_zv".
std::string ExportNameFor(std::string_view libraryPath);

class PluginLibrary {
public:
    PluginLibrary() = default;
    ~PluginLibrary() { Close(); }
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    // Loads the library and finds the export; false (with Error() saying
    // which step failed) when either fails, leaving nothing loaded.
    bool Open(const std::string& libraryPath, const char* exportName);
    // Uses an export linked into the calling binary instead of a library.
    void UseEntryPoint(LoadPluginFn load) { load_ = load; }
    const std::string& Error() const noexcept { return error_; }

    // Calls the export with the host's API version; returns the plug-in
    // object (null when there is no export or the plug-in refused). An
    // incompatible version ends the process inside the plug-in.
    void* Load(uint32_t major, uint32_t minor, uint32_t patch);
    const PluginLoadContext& Context() const noexcept { return loadRecord_.context; }
    const HostApiDescriptor* Descriptor() const noexcept { return loadRecord_.context.descriptor; }
    void* Plugin() const noexcept { return plugin_; }

    // Start through the callbacks table; host must stay valid until Stop.
    // Returns the plug-in's verdict (false without a loaded plug-in).
    bool Start(const HostInterface* host);
    bool Started() const noexcept { return started_; }
    // Stop through the callbacks table, which destroys the plug-in object;
    // nothing when no object is loaded.
    void Stop();
    // Stops a loaded object (started or not) and unloads the library.
    void Close();

    // Through the GetMemoryStats entry of the last load, which stays valid
    // after Stop while the library is loaded; zeros before any load.
    PluginMemoryStats MemoryStats() const;

private:
    void* library_ = nullptr;
    LoadPluginFn load_ = nullptr;
    void(KORVO_CDECL* getMemoryStats_)(void*, PluginMemoryStats*) = nullptr;
    // The packed record's pointer fields sit 4 bytes past multiples of 8
    // from its start; starting it 4 bytes past an 8-byte boundary aligns
    // them, so that callers may bind references to them.
    struct alignas(8) LoadRecord {
        uint32_t padding;
        PluginLoadContext context;
    };
    static_assert((offsetof(LoadRecord, context) + offsetof(PluginLoadContext, callbacks)) % alignof(void*) == 0);
    LoadRecord loadRecord_{};
    PluginLoadContext& context_ = loadRecord_.context;
    void* plugin_ = nullptr;
    bool started_ = false;
    std::string error_;
};

}  // namespace Korvo::Host
