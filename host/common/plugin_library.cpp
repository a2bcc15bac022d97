#include "host/common/plugin_library.h"

#include <cstring>

#include "sdk/platform/platform.h"

namespace Korvo::Host {

std::string ExportNameFor(std::string_view libraryPath) {
    std::string_view name = libraryPath.substr(libraryPath.find_last_of("/\\") + 1);
    // The first dot ends the name: "x.so", "x.so.1", "x.dll".
    name = name.substr(0, name.find('.'));
    if (name.substr(0, 3) == "lib") name.remove_prefix(3);
    if (name.substr(0, 7) == "vbp-be-") name.remove_prefix(7);
    std::string exportName = "load_";
    for (char c : name) {
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        exportName += kept ? c : '_';
    }
    return exportName;
}


bool PluginLibrary::Open(const std::string& libraryPath, const char* exportName) {
    Close();
    error_.clear();
    library_ = Platform::LoadSharedLibrary(libraryPath.c_str());
    if (library_ == nullptr) {
        error_ = "cannot load the plug-in library " + libraryPath;
        return false;
    }
    load_ = reinterpret_cast<LoadPluginFn>(Platform::FindSymbol(library_, exportName));
    if (load_ == nullptr) {
        error_ = std::string("the plug-in library ") + libraryPath + " has no export " + exportName;
        Platform::UnloadSharedLibrary(library_);
        library_ = nullptr;
        return false;
    }
    return true;
}

void* PluginLibrary::Load(uint32_t major, uint32_t minor, uint32_t patch) {
    std::memset(&context_, 0, sizeof(context_));
    context_.apiMajor = major;
    context_.apiMinor = minor;
    context_.apiPatch = patch;
    plugin_ = load_ ? load_(&context_) : nullptr;
    if (context_.callbacks != nullptr) getMemoryStats_ = context_.callbacks->GetMemoryStats;
    return plugin_;
}

bool PluginLibrary::Start(const HostInterface* host) {
    if (context_.callbacks == nullptr || context_.plugin == nullptr) return false;
    started_ = true;
    return context_.callbacks->Start(context_.plugin, host) != 0;
}

void PluginLibrary::Stop() {
    if (context_.callbacks != nullptr && context_.plugin != nullptr) context_.callbacks->Stop(context_.plugin);
    context_.plugin = nullptr;
    plugin_ = nullptr;
    started_ = false;
}

void PluginLibrary::Close() {
    if (plugin_ != nullptr) Stop();
    if (library_ != nullptr) Platform::UnloadSharedLibrary(library_);
    library_ = nullptr;
    load_ = nullptr;
    getMemoryStats_ = nullptr;
    std::memset(&context_, 0, sizeof(context_));
}

PluginMemoryStats PluginLibrary::MemoryStats() const {
    PluginMemoryStats stats{};
    // Not through context_.callbacks: that table lives in the plug-in
    // object, which Stop destroys.
    if (getMemoryStats_ != nullptr) getMemoryStats_(nullptr, &stats);
    return stats;
}

}  // namespace Korvo::Host
