// The handshake checks: what the export gives a compatible host, and that
// an incompatible one ends the process.
#include "host/check/check_support.h"

#include <string>

#include "sdk/contract/korvo_plugin.h"

namespace Korvo::Host::Check {

CheckVerdict CheckHandshake(const CheckSettings& settings) {
    CheckHost host;
    std::string why;
    if (!LoadCompatible(host, settings, why)) return Fail(why);
    const PluginLoadContext& context = host.Context();
    Problems problems;
    const PluginCallbacks* callbacks = context.callbacks;
    if (callbacks == nullptr || callbacks->Start == nullptr || callbacks->Stop == nullptr ||
        callbacks->GetMemoryStats == nullptr) {
        problems.Add("the callbacks table is missing or incomplete");
    }
    if (context.plugin == nullptr) problems.Add("no plug-in object in the load record");
    if (context.fullName == nullptr || context.fullName[0] == '\0') problems.Add("no full name");
    if (context.descriptor == nullptr) problems.Add("no API descriptor");
    const uint32_t major = context.apiMajor, minor = context.apiMinor, patch = context.apiPatch;
    const std::string version = std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
    if (major != KORVO_PLUGIN_API_MAJOR) problems.Add("it reports plug-in API " + version);
    const std::string name = context.fullName != nullptr ? context.fullName : "";
    host.Stop();
    // A host whose minor version is newer than the plug-in's is compatible.
    if (host.CallLoad(KORVO_PLUGIN_API_MAJOR, KORVO_PLUGIN_API_MINOR + 1, 0) == nullptr) {
        problems.Add("a host of a newer minor version got no plug-in object");
    }
    host.Stop();
    if (problems.Any()) return Fail(problems.Text());
    return Pass("'" + name + "', plug-in API " + version + "; a newer minor host is accepted too");
}

CheckVerdict CheckIncompatibleHost(const CheckSettings& settings) {
    CheckHost host;
    if (!host.Load(settings.library, settings.exportName.c_str())) return Fail(host.LoadError());
    void* plugin = host.CallLoad(KORVO_PLUGIN_API_MAJOR + 1, 0, 0);
    return Fail(std::string("returned to a host of plug-in API ") + std::to_string(KORVO_PLUGIN_API_MAJOR + 1) +
                ".0.0 (" + (plugin != nullptr ? "with" : "without") + " an object) instead of ending the process");
}

}  // namespace Korvo::Host::Check
