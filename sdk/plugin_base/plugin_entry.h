// sdk/plugin_base/plugin_entry.h - the body of a plug-in library's one export.
//
// \file
//   KORVO_EXPORT void* KORVO_CDECL load_example(Korvo::PluginLoadContext* context) {
//       return Korvo::LoadPlugin<ExamplePlugin>(context, "example");
//   }
// Builds the plug-in object and runs its registration (PluginBase::Register),
// which fills the load record's outputs. Never throws: when the object cannot
// be built or registered (no memory), nothing of it is kept, the record's
// four output pointers are null and the export returns null. An incompatible
// host never returns from here: the process ends.
#pragma once

#include <string_view>

#include "sdk/diagnostics/event_tracing.h"
#include "sdk/contract/records.h"
#include "sdk/plugin_base/plugin_base.h"

namespace Korvo {

namespace Detail {
// Event tracing starts while the library loads, on the loading thread, and
// stops while it unloads. Nothing else in a plug-in refers to it, so without
// this the linker would leave it out of the library.
inline const bool kLibraryTracingStarted = (Tracing::EventTracing::Process(), true);
}  // namespace Detail

template <typename Plugin>
void* LoadPlugin(PluginLoadContext* context, std::string_view shortName) noexcept {
    static_assert(std::is_base_of_v<PluginBase, Plugin>, "a plug-in derives from PluginBase");
    if (context == nullptr) return nullptr;
    PluginBase* plugin = nullptr;
    try {
        plugin = new Plugin();
        plugin->Register(*context, shortName);
        return static_cast<void*>(plugin);
    } catch (...) {
        delete plugin;
        context->callbacks = nullptr;
        context->plugin = nullptr;
        context->fullName = nullptr;
        context->descriptor = nullptr;
        return nullptr;
    }
}

}  // namespace Korvo
