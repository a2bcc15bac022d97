// refused: std::map<int,
// An event's payload: a map's keys are member names, so strings.
#include <map>
#include <string>

#include "sdk/host/plugin_core.h"

Korvo::BindingResult Send(Korvo::PluginCore& plugin, const std::map<int, std::string>& names) {
    return plugin.SendResourceEvent(Korvo::Client::PluginResourceEventType::Update, "/names", names);
}
