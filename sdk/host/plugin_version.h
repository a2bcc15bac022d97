// sdk/host/plugin_version.h - the plug-in API version, its compatibility
// rule, and the plug-in's names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sdk/contract/korvo_plugin.h"

namespace Korvo {

struct PluginApiVersion {
    uint32_t major = 0;
    uint32_t minor = 0;
    uint32_t patch = 0;
    std::string prerelease;  // empty unless set; never carried by the load record
    std::string build;       // empty unless set

    // "major.minor.patch", then "-prerelease" and "+build" when set.
    std::string ToString() const;
};

// The version this SDK implements.
inline constexpr uint32_t kPluginApiMajor = KORVO_PLUGIN_API_MAJOR;
inline constexpr uint32_t kPluginApiMinor = KORVO_PLUGIN_API_MINOR;
inline constexpr uint32_t kPluginApiPatch = KORVO_PLUGIN_API_PATCH;
PluginApiVersion CurrentPluginApiVersion();

// A host is compatible when its major equals the plug-in's and its
// minor.patch is not older than the plug-in's. The strings take no part.
bool IsApiCompatible(const PluginApiVersion& plugin, const PluginApiVersion& host) noexcept;

// "vbp-be-" + short name for "backend", "vbp-fe-" for "frontend" (exact,
// case-sensitive); any other type gives "vbp-xx-" and an error log line.
std::string GetFullNameFromShortNameAndType(std::string_view shortName, std::string_view type);

// The four names a plug-in object keeps.
struct PluginIdentity {
    std::string fullName;
    std::string shortName;
    std::string type;
    std::string reserved;  // empty for every known type
};

}  // namespace Korvo
