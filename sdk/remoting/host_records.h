// sdk/remoting/host_records.h - the packed records through which the host
// calls the plug-in's API (and the plug-in the host's), and the records that
// describe that API to the host.
//
// They are the contract's records (sdk/contract/korvo_plugin.h declares and
// checks their layout) under the SDK's names: HostArgumentEntry,
// HostHeaderEntry, HostRequestRecord, HostResponseRecord, the description
// records (HostFunctionDescription, HostArgumentDescription,
// HostTypeDescription, HostFieldDescription, HostEnumeratorDescription,
// HostEventDescription), the chains of a HostFunctionRecord
// (HostLocationEntry, HostNameListEntry), HostFunctionRecord itself and
// HostApiDescriptor, with the function types HostFunctionCallback,
// HostResponseRelease, HostStreamRead and HostStreamRelease.
//
// Ownership: the side that builds a record owns its heap parts. Requests are
// built by the caller and only read by the callee. Responses are filled by
// the callee and released by the caller through the release function stored
// in the record itself. Description records live as long as the transport
// that built them.
#pragma once

#include "sdk/contract/records.h"
#include "sdk/host/c_abi.h"
#include "sdk/host/host_value.h"
