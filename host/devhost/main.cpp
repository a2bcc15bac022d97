// plugin-host - the development host: loads the plug-in library, starts it as
// the host core would, and serves its API over HTTP/1.1 with a live event
// stream until SIGINT or SIGTERM, then stops the plug-in and unloads it.
//
// Standard output carries the one line a script waits for,
// "plugin-host: listening on http://ADDRESS:PORT", and the last line,
// "plugin-host: stopped"; everything else (the plug-in's log lines included)
// goes to standard error. Exit status: 0 after a signal, 1 when the plug-in
// cannot be loaded or the address cannot be bound, 2 for a bad command line.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "host/common/host_value_json.h"
#include "host/common/http_status.h"
#include "host/common/plugin_library.h"
#include "host/devhost/api_help.h"
#include "host/devhost/dev_server.h"
#include "host/devhost/event_hub.h"
#include "host/devhost/host_services.h"
#include "host/devhost/http_bridge.h"
#include "host/devhost/openapi.h"
#include "host/devhost/options.h"

#ifndef KORVO_DEFAULT_PLUGIN
#error "KORVO_DEFAULT_PLUGIN names the plug-in library the build produced (a bare file name: beside plugin-host)"
#endif

namespace {

using namespace Korvo;
using namespace Korvo::Host;
using namespace Korvo::Host::Dev;

// The handle this host gives its one plug-in; HTTP clients call as 0.
constexpr uint32_t kPluginHandle = 1;
constexpr auto kSignalPoll = std::chrono::milliseconds(50);
constexpr int kExitLoadFailure = 1;
constexpr int kExitUsage = 2;

volatile std::sig_atomic_t gStopSignal = 0;

extern "C" void OnStopSignal(int signal) { gStopSignal = signal; }

std::string VersionText(uint32_t major, uint32_t minor, uint32_t patch) {
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
}

std::string Url(const std::string& address, int port) {
    bool ipv6 = address.find(':') != std::string::npos;
    return "http://" + (ipv6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

std::string StatsJson(const std::string& pluginName, bool started, const PluginLibrary& library,
                      const HostServices& services, const EventHub& hub) {
    PluginMemoryStats memory = library.MemoryStats();
    EventHub::Counters events = hub.Snapshot();
    std::vector<OwnedHostValue> subscriptions;
    for (const HostServices::Subscription& subscription : services.Subscriptions()) {
        subscriptions.push_back(OwnedHostValue::String(subscription.name));
    }
    OwnedHostValue document = OwnedHostValue::Object({
        {"plugin", OwnedHostValue::String(pluginName)},
        {"started", OwnedHostValue::Bool(started)},
        {"memory", OwnedHostValue::Object({
                       {"peakBytesInUse", OwnedHostValue::UInt(memory.peakBytesInUse)},
                       {"allocationsAtPeak", OwnedHostValue::UInt(memory.allocationsAtPeak)},
                       {"bytesAllocated", OwnedHostValue::UInt(memory.bytesAllocated)},
                       {"allocations", OwnedHostValue::UInt(memory.allocations)},
                       {"bytesFreed", OwnedHostValue::UInt(memory.bytesFreed)},
                       {"frees", OwnedHostValue::UInt(memory.frees)},
                   })},
        {"subscriptions", OwnedHostValue::Array(std::move(subscriptions))},
        {"hostRequests", OwnedHostValue::UInt(services.RequestsAnswered())},
        {"eventStream", OwnedHostValue::Object({
                            {"clients", OwnedHostValue::UInt(events.subscribers)},
                            {"published", OwnedHostValue::UInt(events.published)},
                            {"delivered", OwnedHostValue::UInt(events.delivered)},
                            {"cutOff", OwnedHostValue::UInt(events.cutOff)},
                            {"resumed", OwnedHostValue::UInt(events.resumed)},
                            {"resynced", OwnedHostValue::UInt(events.resynced)},
                        })},
    });
    return HostValueToJson(document.Record());
}

// Swagger UI's files where install-deps puts them, when they are there.
std::string DefaultWebAssets() {
#ifdef KORVO_DEFAULT_WEB_ASSETS
    std::error_code ignored;
    if (std::filesystem::is_regular_file(std::filesystem::path(KORVO_DEFAULT_WEB_ASSETS) / "swagger-ui-bundle.js", ignored)) {
        return KORVO_DEFAULT_WEB_ASSETS;
    }
#endif
    return {};
}

int Run(const DevHostOptions& options) {
    EventHub hub;
    std::mutex logLock;
    HostServices services(HostServices::Settings{options.region, options.locale, options.commandLine, options.answers},
                          hub,
                          [&logLock](uint32_t level, std::string_view line) {
                              std::lock_guard<std::mutex> guard(logLock);
                              std::fprintf(stderr, "[plug-in] %s| %.*s\n", LogLevelName(level).c_str(),
                                           static_cast<int>(line.size()), line.data());
                          });

    const std::string exportName =
        options.exportName.empty() ? ExportNameFor(options.pluginPath) : options.exportName;
    PluginLibrary library;
    if (!library.Open(options.pluginPath, exportName.c_str())) {
        std::fprintf(stderr, "plugin-host: %s\n", library.Error().c_str());
        return kExitLoadFailure;
    }
    if (library.Load(options.apiMajor, options.apiMinor, options.apiPatch) == nullptr) {
        std::fprintf(stderr, "plugin-host: %s gave no plug-in object\n", exportName.c_str());
        return kExitLoadFailure;
    }
    const PluginLoadContext& context = library.Context();
    const std::string pluginName = context.fullName ? context.fullName : "";
    const std::string pluginVersion = VersionText(context.apiMajor, context.apiMinor, context.apiPatch);

    const bool started = library.Start(services.Interface(kPluginHandle));
    if (!started) {
        std::fprintf(stderr, "plugin-host: the plug-in reports that it did not come up; serving its API anyway\n");
    }

    PluginHttpBridge bridge(library.Descriptor());
    const std::string help = ApiHelpJson(library.Descriptor(), pluginName, pluginVersion);
    DevHostServer::Settings serverSettings;
    serverSettings.allowedHosts = options.allowedHosts;
    serverSettings.corsOrigins = options.corsOrigins;
    serverSettings.webAssets = options.webAssets.empty() ? DefaultWebAssets() : options.webAssets;
    DevHostServer server(
        bridge, hub, [&help] { return help; },
        [&] { return StatsJson(pluginName, started, library, services, hub); }, serverSettings);
    const std::string openApi = OpenApiJson(library.Descriptor(), pluginName, pluginVersion);
    server.SetOpenApi([&openApi] { return openApi; });
    server.SetEventDelivery([&services](const std::string& name, const std::string& body) {
        OwnedHostValue payload;
        std::string error;
        if (!JsonToHostValue(body, payload, error)) return JsonMessage(HttpStatus::kBadRequest, error);
        const size_t reached = services.DeliverEvent(name, payload);
        HttpAnswer answer;
        answer.contentType = kJsonContentType;
        answer.body = "{\"delivered\":" + std::to_string(reached) + "}";
        return answer;
    });
    const int port = server.Bind(options.listen, options.port);
    if (port < 0) {
        std::fprintf(stderr, "plugin-host: cannot listen on %s port %d\n", options.listen.c_str(), options.port);
        library.Close();
        return kExitLoadFailure;
    }
    server.Start();
    std::fprintf(stderr, "plugin-host: %s (plug-in API %s) loaded from %s\n", pluginName.c_str(),
                 pluginVersion.c_str(), options.pluginPath.c_str());
    if (options.listen != "127.0.0.1" && options.listen != "::1" && options.listen != "localhost") {
        std::fprintf(stderr, "plugin-host: listening beyond loopback: whoever reaches %s can call the plug-in\n",
                     options.listen.c_str());
    }
    std::printf("plugin-host: listening on %s\n", Url(options.listen, port).c_str());
    std::fflush(stdout);

    while (gStopSignal == 0) std::this_thread::sleep_for(kSignalPoll);

    std::fprintf(stderr, "plugin-host: signal %d, stopping\n", static_cast<int>(gStopSignal));
    // Requests in progress finish before the plug-in goes away.
    server.Stop();
    library.Stop();
    for (const HostServices::Subscription& left : services.Subscriptions()) {
        std::fprintf(stderr, "plugin-host: the plug-in left its subscription to %s\n", left.name.c_str());
    }
    library.Close();
    std::printf("plugin-host: stopped\n");
    std::fflush(stdout);
    return 0;
}

// A release build ships plugin-host and the plug-in side by side and names
// the plug-in by file name alone: it is found beside the executable, wherever
// the two were unpacked.
std::string DefaultPluginPath() {
    const std::filesystem::path configured = KORVO_DEFAULT_PLUGIN;
    if (configured.has_parent_path()) return configured.string();
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return configured.string();
    return (executable.parent_path() / configured).string();
}

}  // namespace

int main(int argc, char** argv) {
    const std::string defaultPlugin = DefaultPluginPath();
    ParsedOptions parsed = ParseOptions(argc, argv, defaultPlugin);
    if (parsed.outcome == ParsedOptions::Outcome::Error) {
        std::fprintf(stderr, "%s\n", parsed.message.c_str());
        return kExitUsage;
    }
    if (parsed.outcome == ParsedOptions::Outcome::Help) {
        std::fputs(HelpText(defaultPlugin, parsed.options.pluginOptions).c_str(), stdout);
        return 0;
    }
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
#ifdef SIGPIPE
    // A client that goes away mid-answer must cost its connection, not the
    // process.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    return Run(parsed.options);
}
