// sdk/contract/records.h - the contract's records and function tables under
// the SDK's names.
//
// \file
// Each name is the C record of sdk/contract/korvo_plugin.h itself, not a
// copy: the layout is declared (and checked) there only. Include this header
// rather than forward-declaring a record, since an alias cannot be
// forward-declared.
//
// Ownership: the side that builds a record owns its heap parts. Requests are
// built by the caller and only read by the callee. Responses are filled by
// the callee and released by the caller through the release function stored
// in the record itself. Description records live as long as the transport
// that built them.
#pragma once

#include "sdk/contract/korvo_plugin.h"

namespace Korvo {

// Values and events.
using HostValueText = ::KorvoHostValueText;
using HostValueBytes = ::KorvoHostValueBytes;
using HostValueArray = ::KorvoHostValueArray;
using HostValueObject = ::KorvoHostValueObject;
using HostValueData = ::KorvoHostValueData;
using HostValue = ::KorvoHostValue;
using HostValueMember = ::KorvoHostValueMember;
using HostValueResult = ::KorvoHostValueResult;
using HostEventRecord = ::KorvoHostEventRecord;
using HostEventCallback = ::KorvoHostEventCallback;

// Requests and responses.
using FunctionUserData = ::KorvoFunctionUserData;
using HostArgumentEntry = ::KorvoHostArgumentEntry;
using HostHeaderEntry = ::KorvoHostHeaderEntry;
using HostRequestRecord = ::KorvoHostRequestRecord;
using HostResponseRecord = ::KorvoHostResponseRecord;
using HostFunctionCallback = ::KorvoHostFunctionCallback;
using HostResponseRelease = ::KorvoHostResponseRelease;
using HostStreamRead = ::KorvoHostStreamRead;
using HostStreamRelease = ::KorvoHostStreamRelease;

// The API description.
using HostArgumentDescription = ::KorvoHostArgumentDescription;
using HostFunctionDescription = ::KorvoHostFunctionDescription;
using HostFieldDescription = ::KorvoHostFieldDescription;
using HostEnumeratorDescription = ::KorvoHostEnumeratorDescription;
using HostTypeDescription = ::KorvoHostTypeDescription;
using HostEventDescription = ::KorvoHostEventDescription;
using HostLocationEntry = ::KorvoHostLocationEntry;
using HostNameListEntry = ::KorvoHostNameListEntry;
using HostFunctionRecord = ::KorvoHostFunctionRecord;
using HostApiDescriptor = ::KorvoHostApiDescriptor;

// Loading, the function tables and memory statistics.
using PluginMemoryStats = ::KorvoPluginMemoryStats;
using PluginLoadContext = ::KorvoPluginLoadContext;
using HostInterface = ::KorvoHostInterface;
using HostFunctions = ::KorvoHostFunctions;
using PluginCallbacks = ::KorvoPluginCallbacks;
using LoadPluginFn = ::KorvoLoadPluginFn;

}  // namespace Korvo
