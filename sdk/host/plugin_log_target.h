// sdk/host/plugin_log_target.h - the log target that hands every log record
// of the plug-in to the host.
//
// \file
// A plug-in runs inside the host's process but does not own its output: from
// Start on, its log lines belong to the host. InstallPluginLogTarget turns off
// the Logger's console and debugger targets and attaches one PluginLogTarget,
// which passes each record's level and bare message to the host's Log entry.
// The target keeps a line format like every target, but does not apply it:
// the host formats lines its own way.
#pragma once

#include <memory>

#include "sdk/diagnostics/log_target.h"
#include "sdk/contract/records.h"

namespace Korvo {

inline constexpr const char* kPluginLogTargetName = "PluginLogTarget";

class PluginLogTarget final : public LogTarget {
public:
    // functions must outlive the target (it is the host's table, valid until
    // Stop; the target dies with the plug-in object at Stop).
    explicit PluginLogTarget(const HostFunctions* functions);
    // Detaches first, so no record reaches a half-destroyed target.
    ~PluginLogTarget() override;

    const char* GetName() const noexcept override;
    // Calls the host's Log with the record's level and message; the host's
    // answer is not looked at. Runs under the Logger's lock, on whichever
    // thread logged.
    bool Write(const LogRecord& record) override;

private:
    const HostFunctions* functions_;
};

// Routes the process's logging to the host, unless some plug-in object of
// this process has done so already (a target named "PluginLogTarget" is
// attached): then nothing changes and target is left as it is. Otherwise
// detaches the standard output, standard error and debugger targets, sets
// the Logger's level to Okay and its suppressed groups to "XTR", replaces
// target by a new PluginLogTarget over functions and configures it (level
// read back from the Logger, no group filters, format "#D| #L| #G| #M"),
// which attaches it. Returns whether target was installed. Runs on the
// thread that starts the plug-in; throws only std::bad_alloc.
bool InstallPluginLogTarget(const HostFunctions* functions, std::unique_ptr<PluginLogTarget>& target);

}  // namespace Korvo
