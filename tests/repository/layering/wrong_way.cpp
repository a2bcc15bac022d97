// A source of the value layer that reaches up into the plug-in base: the
// layer check must name this include and only this one. Never compiled.
#include "sdk/values/property.h"
#include "sdk/plugin_base/plugin_base.h"
#include "neighbour.h"
#include <rapidjson/reader.h>
