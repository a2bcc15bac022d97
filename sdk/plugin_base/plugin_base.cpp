#include "sdk/plugin_base/plugin_base.h"

#include <cstring>

#include "sdk/diagnostics/assertion.h"
#include "sdk/diagnostics/format.h"
#include "sdk/diagnostics/log.h"
#include "sdk/diagnostics/logger.h"
#include "sdk/platform/platform.h"
#include "sdk/records/memory_stats.h"
#include "sdk/values/page_pool.h"

namespace Korvo {

namespace {

constexpr const char* kPluginsTag = "Plugins";
constexpr const char* kPluginTagPrefix = "Plugin ";

uint8_t KORVO_CDECL StartThunk(void* plugin, const HostInterface* host) {
    try {
        if (plugin == nullptr) return 0;
        return static_cast<PluginBase*>(plugin)->Start(host) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

void KORVO_CDECL StopThunk(void* plugin) {
    if (plugin == nullptr) return;
    auto* object = static_cast<PluginBase*>(plugin);
    try {
        object->Shutdown();
    } catch (...) {
        // The object is destroyed whatever the host did meanwhile.
    }
    delete object;
    // A stopped plug-in holds no idle memory: its trees are gone with it.
    PagePool::Instance().Trim();
}

void KORVO_CDECL GetMemoryStatsThunk(void*, PluginMemoryStats* out) { CopyMemoryStats(out); }

}  // namespace

PluginBase::LoggerReference::LoggerReference() noexcept { AcquireLogger(); }
PluginBase::LoggerReference::~LoggerReference() { ReleaseLogger(); }

PluginBase::PluginBase() : transport_(std::make_unique<HttpBaseTransport>()) {
    callbacks_ = {
        &StartThunk,           // Start
        &StopThunk,            // Stop
        &GetMemoryStatsThunk,  // GetMemoryStats
    };
}

PluginBase::~PluginBase() = default;

// ---------------------------------------------------------------- the host

void PluginBase::HostSendRequest(HostResponseRecord* response, const HostRequestRecord* request) {
    const HostFunctions* functions = Functions();
    if (functions != nullptr && functions->SendRequest != nullptr) functions->SendRequest(functions, response, request);
}

void PluginBase::HostCall1(uint32_t a, uint32_t b) {
    const HostFunctions* functions = Functions();
    if (functions != nullptr && functions->reserved1 != nullptr) functions->reserved1(functions, a, b);
}

void PluginBase::HostSendEvent(const HostEventRecord* event) {
    const HostFunctions* functions = Functions();
    if (functions != nullptr && functions->SendEvent != nullptr) functions->SendEvent(functions, event);
}

void PluginBase::HostSubscribe(const char* eventName, uint32_t pluginHandle, HostEventCallback callback,
                               void* userData, uint32_t flag) {
    const HostFunctions* functions = Functions();
    if (functions != nullptr && functions->Subscribe != nullptr) {
        functions->Subscribe(functions, eventName, pluginHandle, callback, userData, flag);
    }
}

void PluginBase::HostUnsubscribe(const char* eventName, uint32_t pluginHandle) {
    const HostFunctions* functions = Functions();
    if (functions != nullptr && functions->Unsubscribe != nullptr) {
        functions->Unsubscribe(functions, eventName, pluginHandle);
    }
}

void PluginBase::HostCall5(uint32_t a, uint32_t b, uint32_t c, double d, uint32_t e) {
    const HostFunctions* functions = Functions();
    if (functions != nullptr && functions->reserved5 != nullptr) functions->reserved5(functions, a, b, c, d, e);
}

void PluginBase::HostYield() {
    const HostFunctions* functions = Functions();
    if (functions != nullptr && functions->Yield != nullptr) functions->Yield(functions);
}

void PluginBase::HostMarkActivity(const std::string& label, uint32_t value) {
    const HostFunctions* functions = Functions();
    if (functions != nullptr && functions->MarkActivity != nullptr) {
        functions->MarkActivity(functions, label.c_str(), value);
    }
}

uint64_t PluginBase::HostPollWake() {
    const HostFunctions* functions = Functions();
    if (functions != nullptr && functions->PollWake != nullptr) return functions->PollWake(functions);
    return 0;
}

// ------------------------------------------------------------ what plug-ins do

void PluginBase::RegisterRoutes() {}

// -------------------------------------------------------------- entry points

void PluginBase::Register(PluginLoadContext& context, std::string_view shortName) {
    PluginApiVersion host;
    host.major = context.apiMajor;
    host.minor = context.apiMinor;
    host.patch = context.apiPatch;
    const PluginApiVersion plugin = CurrentPluginApiVersion();
    if (!IsApiCompatible(plugin, host)) StopOnIncompatibleHost(shortName, plugin, host);

    hostVersion_ = host;
    identity_.fullName = GetFullNameFromShortNameAndType(shortName, kBackendPluginType);
    identity_.shortName.assign(shortName);
    identity_.type.assign(kBackendPluginType);
    identity_.reserved.clear();
    tags_ = {kPluginsTag, kPluginTagPrefix + identity_.fullName};

    RegisterPluginManagerTypes(*transport_);
    RegisterRoutes();
    // Logged at Start: until then the host has no log target of ours.
    registrationProblems_ = transport_->CheckRegistrations();
    descriptor_ = transport_->BuildApiDescriptor();

    context.apiMajor = plugin.major;
    context.apiMinor = plugin.minor;
    context.apiPatch = plugin.patch;
    context.callbacks = &callbacks_;
    context.plugin = static_cast<PluginBase*>(this);
    context.fullName = identity_.fullName.c_str();
    context.descriptor = &descriptor_;
}

void PluginBase::StopOnIncompatibleHost(std::string_view shortName, const PluginApiVersion& plugin,
                                        const PluginApiVersion& host) noexcept {
    ReportAssertionFailure(kIncompatibleHostExpression, nullptr, nullptr, 0, nullptr);
    try {
        const std::string text =
            FormatToString(kIncompatibleHostTemplate, shortName, plugin.ToString(), host.ToString());
        LogMessage(Error, kLogGroupDebug, "%s", text.c_str());
    } catch (...) {
        // Without memory for the text the assertion report stands alone.
    }
    if (Logger* logger = CurrentLogger()) logger->StdErrTarget().Flush();
    Platform::TerminateProcess(kIncompatibleHostExitCode);
}

bool PluginBase::Start(const HostInterface* host) {
    if (host == nullptr || host->functions == nullptr) return false;
    host_ = host;
    InstallPluginLogTarget(host->functions, logTarget_);
    for (const std::string& problem : registrationProblems_) {
        LogMessage(Warn, kLogGroupDebug, "%s: %s", identity_.fullName.c_str(), problem.c_str());
    }
    registrationProblems_.clear();
    SetPluginHandle(host->pluginHandle);
    SubscribeServiceProxyEvents();
    return OnStart();
}

}  // namespace Korvo
