// host/devhost/openapi.h - the loaded plug-in's API as an OpenAPI 3.1
// document, generated from its description records (any plug-in, nothing
// written by hand for one):
//
// - every function served by method and path is an operation: operationId
//   the function's name, its tags, description and help text; path, query
//   and header arguments are parameters, the body argument a request body
//   in JSON, YAML and MessagePack; the result type the success response;
// - every described struct and enum is a component schema (kinds mapped to
//   JSON Schema types, optional fields not required, enums by their names,
//   maps as additionalProperties, vectors as items);
// - failures are the {"message": ...} schema: a default response, and the
//   statuses the transport and this host produce themselves (the records do
//   not carry a function's own statuses, so none are invented);
// - the host's own endpoints, the event stream with the payload of each
//   described event among them.
#pragma once

#include <string>

#include "sdk/contract/records.h"

namespace Korvo::Host::Dev {

// The document as JSON; the descriptor may be null (no operations of the
// plug-in's).
std::string OpenApiJson(const HostApiDescriptor* descriptor, const std::string& pluginName,
                        const std::string& apiVersion);

// The name a type gets among the component schemas: its own, with every
// character OpenAPI does not allow there replaced by '_'.
std::string ComponentName(const char* typeName);

}  // namespace Korvo::Host::Dev
