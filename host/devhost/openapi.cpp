#include "host/devhost/openapi.h"

#include <set>
#include <utility>
#include <vector>

#include "host/common/function_call.h"
#include "host/common/host_value_json.h"

namespace Korvo::Host::Dev {

namespace {

using Members = std::vector<std::pair<std::string, OwnedHostValue>>;
using Value = OwnedHostValue;

constexpr const char* kMessageSchema = "Message";
constexpr const char* kResyncSchema = "Resync";
constexpr const char* kHostTag = "plugin-host";

Value Text(const char* text) { return Value::String(text != nullptr ? text : ""); }
Value Ref(const std::string& component) { return Value::Object({{"$ref", Value::String("#/components/schemas/" + component)}}); }

// The schema of one kind, as its members; element kind and type name for
// vectors, maps, structs and enums. A kind the records may carry but JSON
// cannot is any value ({}).
Members KindSchemaMembers(uint32_t kind, uint32_t elementKind, const char* typeName);

Value KindSchema(uint32_t kind, uint32_t elementKind, const char* typeName) {
    return Value::Object(KindSchemaMembers(kind, elementKind, typeName));
}

Members KindSchemaMembers(uint32_t kind, uint32_t elementKind, const char* typeName) {
    const bool named = typeName != nullptr && typeName[0] != '\0';
    const auto integer = [](const char* format, int64_t low, int64_t high) {
        Members members{{"type", Value::String("integer")}};
        if (format != nullptr) members.emplace_back("format", Value::String(format));
        members.emplace_back("minimum", Value::Int(low));
        if (high != 0) members.emplace_back("maximum", Value::Int(high));
        return members;
    };
    const auto typed = [](const char* type, const char* key = nullptr, const char* value = nullptr) {
        Members members{{"type", Value::String(type)}};
        if (key != nullptr) members.emplace_back(key, Value::String(value));
        return members;
    };
    switch (kind) {
        case KORVO_KIND_BOOL: return typed("boolean");
        case KORVO_KIND_INT8: return integer("int32", -128, 127);
        case KORVO_KIND_UINT8: return integer("int32", 0, 255);
        case KORVO_KIND_INT16: return integer("int32", -32768, 32767);
        case KORVO_KIND_UINT16: return integer("int32", 0, 65535);
        case KORVO_KIND_INT32: return integer("int32", INT32_MIN, INT32_MAX);
        case KORVO_KIND_UINT32: return integer("int64", 0, UINT32_MAX);
        case KORVO_KIND_INT64: return typed("integer", "format", "int64");
        case KORVO_KIND_UINT64: return integer(nullptr, 0, 0);
        case KORVO_KIND_FLOAT: return typed("number", "format", "float");
        case KORVO_KIND_DOUBLE: return typed("number", "format", "double");
        case KORVO_KIND_STRING: return typed("string");
        case KORVO_KIND_BLOB: return typed("string", "contentEncoding", "base64");
        case KORVO_KIND_VECTOR:
            return {{"type", Value::String("array")}, {"items", KindSchema(elementKind, KORVO_KIND_NONE, typeName)}};
        case KORVO_KIND_MAP:
            return {{"type", Value::String("object")},
                    {"additionalProperties", KindSchema(elementKind, KORVO_KIND_NONE, typeName)}};
        case KORVO_KIND_ENUM:
        case KORVO_KIND_STRUCT:
            if (named) return {{"$ref", Value::String("#/components/schemas/" + ComponentName(typeName))}};
            return {};
        default: return {};
    }
}

// The schema with a description beside it (3.1 allows one beside a $ref).
Value WithDescription(uint32_t kind, uint32_t elementKind, const char* typeName, const char* description) {
    Members members = KindSchemaMembers(kind, elementKind, typeName);
    if (description != nullptr && description[0] != '\0') members.emplace_back("description", Text(description));
    return Value::Object(std::move(members));
}

Value TypeSchema(const HostTypeDescription& type) {
    Members members;
    if (type.fields != nullptr) {
        Members properties;
        std::vector<Value> required;
        const HostFieldDescription* field = type.fields;
        for (uint32_t i = 0; field != nullptr && i < type.count; ++i, field = field->next) {
            properties.emplace_back(field->name != nullptr ? field->name : "",
                                    WithDescription(field->kind, field->elementKind, field->typeName, field->description));
            if (field->optional == 0) required.push_back(Text(field->name));
        }
        members.emplace_back("type", Value::String("object"));
        members.emplace_back("properties", Value::Object(std::move(properties)));
        if (!required.empty()) members.emplace_back("required", Value::Array(std::move(required)));
    } else {
        std::vector<Value> names;
        std::vector<Value> descriptions;
        const HostEnumeratorDescription* enumerator = type.enumerators;
        for (uint32_t i = 0; enumerator != nullptr && i < type.count; ++i, enumerator = enumerator->next) {
            names.push_back(Text(enumerator->name));
            descriptions.push_back(Value::String(std::string(enumerator->name ? enumerator->name : "") + " = " +
                                                 std::to_string(enumerator->value) +
                                                 (enumerator->description && enumerator->description[0]
                                                      ? std::string(": ") + enumerator->description
                                                      : std::string())));
        }
        members.emplace_back("type", Value::String("string"));
        members.emplace_back("enum", Value::Array(std::move(names)));
        members.emplace_back("x-enum-descriptions", Value::Array(std::move(descriptions)));
    }
    if (type.description != nullptr && type.description[0] != '\0') {
        members.emplace_back("description", Text(type.description));
    }
    return Value::Object(std::move(members));
}

Value MessageResponse(const char* description) {
    return Value::Object({
        {"description", Value::String(description)},
        {"content", Value::Object({{"application/json", Value::Object({{"schema", Ref(kMessageSchema)}})}})},
    });
}

Value JsonResponse(const char* description, Value schema) {
    return Value::Object({
        {"description", Value::String(description)},
        {"content", Value::Object({{"application/json", Value::Object({{"schema", std::move(schema)}})}})},
    });
}

// The failures every function may meet, whoever answers them.
Members FailureResponses(bool takesBody) {
    Members responses;
    responses.emplace_back("400", MessageResponse("An argument or the body could not be read into its type"));
    responses.emplace_back("403", MessageResponse("Refused by the development host: a foreign Host or Origin"));
    responses.emplace_back("404", MessageResponse("No function serves the path (\"Invalid function\")"));
    if (takesBody) responses.emplace_back("413", MessageResponse("The body is larger than the host takes"));
    responses.emplace_back("414", MessageResponse("The path is longer than the host takes"));
    responses.emplace_back("500", MessageResponse("The function failed unexpectedly"));
    responses.emplace_back("default", MessageResponse("The function's own failure, with its status"));
    return responses;
}

// "{+rest}" and "{#part}" name a parameter as "{rest}" and "{part}" do.
std::string OpenApiPath(const char* routeTemplate, std::vector<std::string>& parameters) {
    std::string path;
    const std::string text = routeTemplate != nullptr ? routeTemplate : "";
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '{') {
            path += text[i];
            continue;
        }
        const size_t close = text.find('}', i);
        if (close == std::string::npos) return {};
        std::string name = text.substr(i + 1, close - i - 1);
        if (!name.empty() && (name[0] == '+' || name[0] == '#')) name.erase(0, 1);
        parameters.push_back(name);
        path += "{" + name + "}";
        i = close;
    }
    return path;
}

const char* OperationKey(uint32_t method) {
    switch (method) {
        case KORVO_METHOD_DELETE: return "delete";
        case KORVO_METHOD_GET: return "get";
        case KORVO_METHOD_HEAD: return "head";
        case KORVO_METHOD_OPTIONS: return "options";
        case KORVO_METHOD_PATCH: return "patch";
        case KORVO_METHOD_POST: return "post";
        case KORVO_METHOD_PUT: return "put";
        default: return nullptr;
    }
}

struct PathItem {
    std::string path;
    Members operations;
};

PathItem& ItemFor(std::vector<PathItem>& items, const std::string& path) {
    for (PathItem& item : items) {
        if (item.path == path) return item;
    }
    items.push_back(PathItem{path, {}});
    return items.back();
}

bool HasOperation(const PathItem& item, const char* key) {
    for (const auto& [existing, operation] : item.operations) {
        if (existing == key) return true;
    }
    return false;
}

Value Operation(const HostFunctionRecord& record, const std::vector<std::string>& pathParameters,
                const std::string& fallbackTag, bool& takesBody) {
    const HostFunctionDescription& description = record.description;
    std::vector<Value> parameters;
    Value body;
    bool hasBody = false;
    const HostArgumentDescription* argument = description.arguments;
    const HostLocationEntry* location = record.locations;
    for (uint32_t i = 0; argument != nullptr && i < description.argumentCount;
         ++i, argument = argument->next, location = location != nullptr ? location->next : nullptr) {
        const std::string name = argument->name != nullptr ? argument->name : "";
        const uint32_t where = location != nullptr ? location->location : uint32_t{KORVO_LOCATION_ANY};
        Value schema = KindSchema(argument->kind, argument->elementKind, argument->typeName);
        if (where == KORVO_LOCATION_BODY) {
            Members content;
            for (const char* type : {"application/json", "application/x-yaml", "application/x-msgpack"}) {
                content.emplace_back(type, Value::Object({{"schema", schema}}));
            }
            Members request{{"content", Value::Object(std::move(content))},
                            {"required", Value::Bool(argument->optional == 0)}};
            if (argument->description && argument->description[0]) request.emplace_back("description", Text(argument->description));
            body = Value::Object(std::move(request));
            hasBody = true;
            continue;
        }
        bool inPath = false;
        for (const std::string& parameter : pathParameters) inPath = inPath || parameter == name;
        const char* in = inPath ? "path" : where == KORVO_LOCATION_HEADER ? "header" : "query";
        Members parameter{{"name", Value::String(name)},
                          {"in", Value::String(in)},
                          {"required", Value::Bool(inPath || argument->optional == 0)},
                          {"schema", std::move(schema)}};
        if (argument->description && argument->description[0]) parameter.emplace_back("description", Text(argument->description));
        parameters.push_back(Value::Object(std::move(parameter)));
    }

    std::vector<Value> tags;
    for (uint32_t i = 0; description.tags != nullptr && i < description.tagCount; ++i) tags.push_back(Text(description.tags[i]));
    if (tags.empty()) tags.push_back(Value::String(fallbackTag));

    Members responses;
    if (description.resultKind == KORVO_KIND_NONE) {
        responses.emplace_back("204", Value::Object({{"description", Value::String("Done; no content")}}));
    } else {
        responses.emplace_back("200", JsonResponse("The result", KindSchema(description.resultKind, description.resultElementKind,
                                                                            description.resultTypeName)));
    }
    for (auto& failure : FailureResponses(hasBody)) responses.push_back(std::move(failure));

    Members operation{{"operationId", Text(description.name)}, {"tags", Value::Array(std::move(tags))}};
    // A function without a description is summed up by its name.
    operation.emplace_back("summary", description.description && description.description[0]
                                          ? Text(description.description)
                                          : Text(description.name));
    if (description.help && description.help[0]) operation.emplace_back("description", Text(description.help));
    if (!parameters.empty()) operation.emplace_back("parameters", Value::Array(std::move(parameters)));
    if (hasBody) operation.emplace_back("requestBody", std::move(body));
    operation.emplace_back("responses", Value::Object(std::move(responses)));
    takesBody = hasBody;
    return Value::Object(std::move(operation));
}

// The host's own endpoints.
void AddHostPaths(std::vector<PathItem>& items, const HostApiDescriptor* descriptor) {
    std::vector<Value> payloads;
    const HostEventDescription* event = descriptor != nullptr ? descriptor->events : nullptr;
    for (uint32_t i = 0; event != nullptr && i < descriptor->eventCount; ++i, event = event->next) {
        Members payload{{"event", Text(event->name)}};
        if (event->payloadTypeName && event->payloadTypeName[0]) payload.emplace_back("data", Ref(ComponentName(event->payloadTypeName)));
        if (event->description && event->description[0]) payload.emplace_back("description", Text(event->description));
        payloads.push_back(Value::Object(std::move(payload)));
    }
    payloads.push_back(Value::Object({{"event", Value::String("resync")}, {"data", Ref(kResyncSchema)},
                                      {"description", Value::String("The client missed events: read the state again")}}));

    const auto tags = [] { return Value::Array({Value::String(kHostTag)}); };
    ItemFor(items, "/events").operations.emplace_back("get", Value::Object({
        {"operationId", Value::String("hostEvents")},
        {"tags", tags()},
        {"summary", Value::String("Every event the plug-in sends, live (Server-Sent Events)")},
        {"description", Value::String("Each event has an id (<run>.<seq>) and the event's name; its data is the "
                                      "payload as JSON (x-events lists them). A client that comes back with "
                                      "Last-Event-ID gets what it missed, or first a resync event.")},
        {"parameters", Value::Array({
            Value::Object({{"name", Value::String("name")}, {"in", Value::String("query")}, {"required", Value::Bool(false)},
                           {"description", Value::String("only events of this name")}, {"schema", KindSchema(KORVO_KIND_STRING, 0, nullptr)}}),
            Value::Object({{"name", Value::String("Last-Event-ID")}, {"in", Value::String("header")}, {"required", Value::Bool(false)},
                           {"description", Value::String("the id of the last event seen")}, {"schema", KindSchema(KORVO_KIND_STRING, 0, nullptr)}}),
        })},
        {"responses", Value::Object({
            {"200", Value::Object({{"description", Value::String("The event stream")},
                                   {"content", Value::Object({{"text/event-stream", Value::Object({
                                       {"schema", Value::Object({{"type", Value::String("string")}})},
                                       {"x-events", Value::Array(std::move(payloads))}})}})}})},
            {"403", MessageResponse("Refused: a foreign Host or Origin")},
            {"503", MessageResponse("No room for another stream client")},
        })},
    }));
    ItemFor(items, "/help").operations.emplace_back("get", Value::Object({
        {"operationId", Value::String("hostHelp")}, {"tags", tags()},
        {"summary", Value::String("The plug-in's API description in the host's own shape")},
        {"responses", Value::Object({{"200", JsonResponse("The description", Value::Object({{"type", Value::String("object")}}))},
                                     {"403", MessageResponse("Refused: a foreign Host")}})},
    }));
    ItemFor(items, "/host/stats").operations.emplace_back("get", Value::Object({
        {"operationId", Value::String("hostStats")}, {"tags", tags()},
        {"summary", Value::String("Memory counters, subscriptions, stream clients")},
        {"responses", Value::Object({{"200", JsonResponse("The figures", Value::Object({{"type", Value::String("object")}}))},
                                     {"403", MessageResponse("Refused: a foreign Host")}})},
    }));
    for (const char* method : {"get", "post"}) {
        ItemFor(items, "/host/fixed").operations.emplace_back(method, Value::Object({
            {"operationId", Value::String(std::string("hostFixed") + (method[0] == 'g' ? "Get" : "Post"))},
            {"tags", tags()},
            {"summary", Value::String("A fixed answer that never reaches the plug-in: the baseline of load tests")},
            {"responses", Value::Object({{"200", JsonResponse("Always the same", Value::Object({{"type", Value::String("object")}}))},
                                         {"403", MessageResponse("Refused: a foreign Host or Origin")}})},
        }));
    }
    ItemFor(items, "/host/events/{name}").operations.emplace_back("post", Value::Object({
        {"operationId", Value::String("hostRaiseEvent")}, {"tags", tags()},
        {"summary", Value::String("Raise a host event: the body is delivered to the plug-in's subscriptions of that name")},
        {"parameters", Value::Array({Value::Object({{"name", Value::String("name")}, {"in", Value::String("path")},
                                                   {"required", Value::Bool(true)}, {"schema", KindSchema(KORVO_KIND_STRING, 0, nullptr)}})})},
        {"requestBody", Value::Object({{"required", Value::Bool(true)},
                                       {"content", Value::Object({{"application/json", Value::Object({{"schema", Value::Object({})}})}})}})},
        {"responses", Value::Object({
            {"200", JsonResponse("How many subscriptions it reached",
                                 Value::Object({{"type", Value::String("object")},
                                                {"properties", Value::Object({{"delivered", KindSchema(KORVO_KIND_UINT32, 0, nullptr)}})},
                                                {"required", Value::Array({Value::String("delivered")})}}))},
            {"400", MessageResponse("The body is not JSON")},
            {"403", MessageResponse("Refused: a foreign Host or Origin")},
        })},
    }));
}

}  // namespace

std::string ComponentName(const char* typeName) {
    std::string name = typeName != nullptr ? typeName : "";
    for (char& c : name) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                             c == '-' || c == '_';
        if (!allowed) c = '_';
    }
    return name.empty() ? "_" : name;
}

std::string OpenApiJson(const HostApiDescriptor* descriptor, const std::string& pluginName,
                        const std::string& apiVersion) {
    std::vector<PathItem> items;
    std::set<std::string> tagNames;
    for (uint32_t f = 0; descriptor != nullptr && descriptor->functions != nullptr && f < descriptor->functionCount; ++f) {
        const HostFunctionRecord& record = descriptor->functions[f];
        const char* key = OperationKey(record.method);
        // A function called by name only, or on every method, has no one
        // operation to be.
        if (key == nullptr || record.pathTemplate == nullptr) continue;
        std::vector<std::string> parameters;
        const std::string path = OpenApiPath(record.pathTemplate, parameters);
        if (path.empty()) continue;
        PathItem& item = ItemFor(items, path);
        if (HasOperation(item, key)) continue;  // the host routes to the first
        bool takesBody = false;
        item.operations.emplace_back(key, Operation(record, parameters, pluginName, takesBody));
        for (uint32_t i = 0; record.description.tags != nullptr && i < record.description.tagCount; ++i) {
            if (record.description.tags[i] != nullptr) tagNames.insert(record.description.tags[i]);
        }
        if (record.description.tagCount == 0) tagNames.insert(pluginName);
    }
    AddHostPaths(items, descriptor);

    Members schemas;
    std::set<std::string> seen;
    const HostTypeDescription* type = descriptor != nullptr ? descriptor->types : nullptr;
    for (uint32_t i = 0; type != nullptr && i < descriptor->typeCount; ++i, type = type->next) {
        const std::string name = ComponentName(type->name);
        if (!seen.insert(name).second) continue;
        schemas.emplace_back(name, TypeSchema(*type));
    }
    schemas.emplace_back(kMessageSchema, Value::Object({
        {"type", Value::String("object")},
        {"properties", Value::Object({{"message", KindSchema(KORVO_KIND_STRING, 0, nullptr)}})},
        {"required", Value::Array({Value::String("message")})},
    }));
    schemas.emplace_back(kResyncSchema, Value::Object({
        {"type", Value::String("object")},
        {"properties", Value::Object({{"reason", Value::Object({{"type", Value::String("string")},
                                                                 {"enum", Value::Array({Value::String("behind"), Value::String("expired"),
                                                                                        Value::String("unknown")})}})}})},
        {"required", Value::Array({Value::String("reason")})},
    }));

    Members paths;
    for (PathItem& item : items) paths.emplace_back(item.path, Value::Object(std::move(item.operations)));
    std::vector<Value> tags;
    for (const std::string& tag : tagNames) {
        tags.push_back(Value::Object({{"name", Value::String(tag)},
                                      {"description", Value::String("Functions of " + pluginName + " tagged " + tag)}}));
    }
    tags.push_back(Value::Object({{"name", Value::String(kHostTag)},
                                  {"description", Value::String("The development host's own endpoints")}}));

    const Value document = Value::Object({
        {"openapi", Value::String("3.1.0")},
        {"info", Value::Object({
            {"title", Value::String(pluginName)},
            {"version", Value::String(apiVersion)},
            {"description", Value::String("The API of the plug-in " + pluginName + " (plug-in API " + apiVersion +
                                          "), served by plugin-host; generated from the plug-in's description records.")},
            {"license", Value::Object({{"name", Value::String("Proprietary")}, {"identifier", Value::String("LicenseRef-Proprietary")}})},
        })},
        // Nothing is asked of a caller: the host serves only its own
        // addresses and origin (see the 403 answers).
        {"security", Value::Array({})},
        {"servers", Value::Array({Value::Object({{"url", Value::String("/")}, {"description", Value::String("this host")}})})},
        {"tags", Value::Array(std::move(tags))},
        {"paths", Value::Object(std::move(paths))},
        {"components", Value::Object({{"schemas", Value::Object(std::move(schemas))}})},
    });
    return HostValueToJson(document.Record());
}

}  // namespace Korvo::Host::Dev
