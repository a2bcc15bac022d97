// host/devhost/api_help.h - the plug-in's whole API description, read from
// the description records its descriptor points to, as one JSON document:
//
//   {"plugin": <full name>, "apiVersion": "X.Y.Z",
//    "functions": [{"name", "method", "path", "namespace", "description",
//                   "help", "threadSafe", "asyncResultType", "tags",
//                   "result": <type>, "arguments": [{"name", "location",
//                   "description", "optional", <type>...}]}],
//    "types": [{"name", "namespace", "size", "description", "tags",
//               "fields": [{"name", "description", "offset", "optional",
//                           <type>...}]   (a struct)
//               "enumerators": [{"name", "description", "value"}]}],  (an enum)
//    "events": [{"name", "namespace", "payloadType", "description", "tags"}]}
//
// where <type> is {"type": readable name such as "vector<string>",
// "kind", "elementKind", "typeName"}. Records are walked through their
// chains, never further than their counts; null texts read as "".
#pragma once

#include <cstdint>
#include <string>

#include "sdk/contract/records.h"

namespace Korvo::Host::Dev {

// "bool" ... "map" for the binding type kinds 1 to 19; "" for any other.
const char* TypeKindName(uint32_t kind) noexcept;
// "any", "query", "path", "header", "body" for argument locations 0, 1, 2, 4,
// 5; "" for any other.
const char* ArgumentLocationName(uint32_t location) noexcept;

// The document above; the descriptor may be null (empty lists).
std::string ApiHelpJson(const HostApiDescriptor* descriptor, const std::string& pluginName,
                        const std::string& apiVersion);

}  // namespace Korvo::Host::Dev
