#include "sdk/host/plugin_version.h"

#include "sdk/diagnostics/format.h"
#include "sdk/diagnostics/log.h"

namespace Korvo {

std::string PluginApiVersion::ToString() const {
    std::string text = FormatToString("%1.%2.%3", major, minor, patch);
    if (!prerelease.empty()) text += "-" + prerelease;
    if (!build.empty()) text += "+" + build;
    return text;
}

PluginApiVersion CurrentPluginApiVersion() {
    return PluginApiVersion{kPluginApiMajor, kPluginApiMinor, kPluginApiPatch, {}, {}};
}

bool IsApiCompatible(const PluginApiVersion& plugin, const PluginApiVersion& host) noexcept {
    if (host.major != plugin.major) return false;
    if (host.minor != plugin.minor) return host.minor > plugin.minor;
    return host.patch >= plugin.patch;
}

std::string GetFullNameFromShortNameAndType(std::string_view shortName, std::string_view type) {
    const char* prefix = "vbp-xx-";
    if (type == "backend") {
        prefix = "vbp-be-";
    } else if (type == "frontend") {
        prefix = "vbp-fe-";
    } else {
        std::string message =
            FormatToString("GetFullNameFromShortNameAndType(\"%1\", \"%2\") called with an unknown type", shortName, type);
        LogMessage(Error, kLogGroupDebug, "            Plugin Manager| %s", message.c_str());
    }
    std::string fullName(prefix);
    fullName += shortName;
    return fullName;
}

}  // namespace Korvo
