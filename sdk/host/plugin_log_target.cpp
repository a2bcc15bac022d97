#include "sdk/host/plugin_log_target.h"

#include "sdk/diagnostics/logger.h"

namespace Korvo {

namespace {
constexpr const char* kPluginLogFormat = "#D| #L| #G| #M";
}  // namespace

PluginLogTarget::PluginLogTarget(const HostFunctions* functions) : functions_(functions) { EnableWrite(); }

PluginLogTarget::~PluginLogTarget() { DetachForDestruction(); }

const char* PluginLogTarget::GetName() const noexcept { return kPluginLogTargetName; }

bool PluginLogTarget::Write(const LogRecord& record) {
    if (functions_ != nullptr && functions_->Log != nullptr) {
        functions_->Log(functions_, static_cast<uint32_t>(record.level), record.message != nullptr ? record.message : "");
    }
    return true;
}

bool InstallPluginLogTarget(const HostFunctions* functions, std::unique_ptr<PluginLogTarget>& target) {
    Logger* logger = EnsureLogger();
    if (logger == nullptr) return false;
    if (logger->FindTarget(kPluginLogTargetName) != nullptr) return false;

    logger->StdOutTarget().Detach();
    logger->StdErrTarget().Detach();
    logger->DebuggerTarget().Detach();
    logger->SetLevel(Okay);
    logger->SetSuppressedGroups(kLogGroupExtra);

    target = std::make_unique<PluginLogTarget>(functions);
    LogTargetSettings settings;
    settings.level = logger->GetLevel();
    settings.included = 0;
    settings.excluded = 0;
    settings.format = kPluginLogFormat;
    return target->Configure(settings);
}

}  // namespace Korvo
