// entry.cpp - the library's one export.
#include "quick_replies.h"
#include "sdk/contract/korvo_plugin.h"
#include "sdk/plugin_base/plugin_entry.h"

KORVO_EXPORT void* KORVO_CDECL load_quick_replies(Korvo::PluginLoadContext* context) {
    return Korvo::LoadPlugin<QuickReplies::QuickRepliesPlugin>(context, QuickReplies::kShortName);
}
