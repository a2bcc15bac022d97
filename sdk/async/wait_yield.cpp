#include "sdk/async/wait_yield.h"

#include "sdk/host/plugin_core.h"

namespace Korvo {

uint64_t WaitYield(PluginCore& plugin) {
    plugin.HostMarkActivity(kWaitYieldLabel, 0);
    plugin.HostYield();
    return plugin.HostPollWake();
}

}  // namespace Korvo
