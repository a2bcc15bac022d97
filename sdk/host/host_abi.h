// sdk/host/host_abi.h - the load record, the plug-in's entry points and the
// host's function table.
//
// They are the contract's records (sdk/contract/korvo_plugin.h declares and
// checks their layout) under the SDK's names: PluginLoadContext,
// HostInterface, HostFunctions, PluginCallbacks and LoadPluginFn, the
// export's signature. Every function pointer uses the C calling convention
// and takes the table (or the object that embeds it) as its first argument.
#pragma once

#include "sdk/contract/records.h"
#include "sdk/host/c_abi.h"
