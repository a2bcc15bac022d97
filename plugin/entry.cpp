// The library's one export: the host core loads the library, finds this
// function by its undecorated name and calls it with the load record.
#include "plugin/quorvex_zv_plugin.h"
#include "sdk/contract/korvo_plugin.h"
#include "sdk/plugin_base/plugin_entry.h"

KORVO_EXPORT void* KORVO_CDECL load_qem_quorvex_zv(Korvo::PluginLoadContext* context) {
    using Korvo::Client::QuorvexZV::QuorvexZVPlugin;
    return Korvo::LoadPlugin<QuorvexZVPlugin>(context, Korvo::Client::QuorvexZV::kPluginShortName);
}
