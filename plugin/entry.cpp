// The library's one export: the host core loads the library, finds this
// function by its undecorated name and calls it with the load record.
#include "plugin/quorvex_zv_plugin.h"
#include "sdk/contract/korvo_plugin.h"
#include "sdk/plugin_base/plugin_entry.h"

// The library carries its own static C++ runtime, whose emergency exception
// pool is allocated when the library is loaded and, left alone, outlives an
// unload: a host that loads and unloads the plug-in repeatedly would lose it
// every time. The runtime's own release routine gives it back.
namespace __gnu_cxx {
void __freeres() noexcept;
}

namespace {

struct RuntimeRelease {
    RuntimeRelease() = default;
    RuntimeRelease(const RuntimeRelease&) = delete;
    RuntimeRelease& operator=(const RuntimeRelease&) = delete;
    ~RuntimeRelease() { __gnu_cxx::__freeres(); }
};

const RuntimeRelease gRuntimeRelease;

}  // namespace

KORVO_EXPORT void* KORVO_CDECL load_qem_quorvex_zv(Korvo::PluginLoadContext* context) {
    using Korvo::Client::QuorvexZV::QuorvexZVPlugin;
    return Korvo::LoadPlugin<QuorvexZVPlugin>(context, Korvo::Client::QuorvexZV::kPluginShortName);
}
