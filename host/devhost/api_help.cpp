#include "host/devhost/api_help.h"

#include <utility>
#include <vector>

#include "host/common/function_call.h"
#include "host/common/host_value_json.h"

namespace Korvo::Host::Dev {

namespace {

using Members = std::vector<std::pair<std::string, OwnedHostValue>>;

OwnedHostValue Text(const char* text) { return OwnedHostValue::String(text ? text : ""); }

OwnedHostValue Tags(const char* const* tags, uint32_t count) {
    std::vector<OwnedHostValue> items;
    for (uint32_t i = 0; tags != nullptr && i < count; ++i) items.push_back(Text(tags[i]));
    return OwnedHostValue::Array(std::move(items));
}

// "vector<string>", "map<QuorvexZVNotification>", a struct or enum by its
// name, any other kind by its own name.
std::string ReadableType(uint32_t kind, uint32_t elementKind, const char* typeName) {
    std::string named = typeName && typeName[0] ? typeName : "";
    if (kind == KORVO_KIND_VECTOR || kind == KORVO_KIND_MAP) {
        std::string element = !named.empty() ? named : TypeKindName(elementKind);
        return std::string(TypeKindName(kind)) + "<" + element + ">";
    }
    if ((kind == KORVO_KIND_STRUCT || kind == KORVO_KIND_ENUM) && !named.empty()) return named;
    return TypeKindName(kind);
}

void AppendType(Members& members, uint32_t kind, uint32_t elementKind, const char* typeName) {
    members.emplace_back("type", OwnedHostValue::String(ReadableType(kind, elementKind, typeName)));
    members.emplace_back("kind", OwnedHostValue::String(TypeKindName(kind)));
    members.emplace_back("elementKind", OwnedHostValue::String(TypeKindName(elementKind)));
    members.emplace_back("typeName", Text(typeName));
}

OwnedHostValue Function(const HostFunctionRecord& record) {
    const HostFunctionDescription& description = record.description;
    std::vector<OwnedHostValue> arguments;
    const HostArgumentDescription* argument = description.arguments;
    const HostLocationEntry* location = record.locations;
    for (uint32_t i = 0; argument != nullptr && i < description.argumentCount; ++i) {
        Members members;
        members.emplace_back("name", Text(argument->name));
        members.emplace_back("location",
                             OwnedHostValue::String(location ? ArgumentLocationName(location->location) : ""));
        members.emplace_back("description", Text(argument->description));
        members.emplace_back("optional", OwnedHostValue::Bool(argument->optional != 0));
        AppendType(members, argument->kind, argument->elementKind, argument->typeName);
        arguments.push_back(OwnedHostValue::Object(std::move(members)));
        argument = argument->next;
        if (location != nullptr) location = location->next;
    }

    Members result;
    AppendType(result, description.resultKind, description.resultElementKind, description.resultTypeName);

    Members members;
    members.emplace_back("name", Text(description.name));
    members.emplace_back("method", OwnedHostValue::String(record.method == KORVO_METHOD_CALL ? "Call"
                                                                                        : MethodText(record.method)));
    members.emplace_back("path", Text(record.pathTemplate));
    members.emplace_back("namespace", Text(description.nameSpace));
    members.emplace_back("description", Text(description.description));
    members.emplace_back("help", Text(description.help));
    members.emplace_back("threadSafe", OwnedHostValue::Bool(description.threadSafe != 0));
    members.emplace_back("asyncResultType", Text(description.asyncResultTypeName));
    members.emplace_back("tags", Tags(description.tags, description.tagCount));
    members.emplace_back("result", OwnedHostValue::Object(std::move(result)));
    members.emplace_back("arguments", OwnedHostValue::Array(std::move(arguments)));
    return OwnedHostValue::Object(std::move(members));
}

OwnedHostValue Type(const HostTypeDescription& type) {
    Members members;
    members.emplace_back("name", Text(type.name));
    members.emplace_back("namespace", Text(type.nameSpace));
    members.emplace_back("size", OwnedHostValue::UInt(type.size));
    members.emplace_back("description", Text(type.description));
    members.emplace_back("tags", Tags(type.tags, type.tagCount));
    std::vector<OwnedHostValue> items;
    if (type.fields != nullptr) {
        const HostFieldDescription* field = type.fields;
        for (uint32_t i = 0; field != nullptr && i < type.count; ++i, field = field->next) {
            Members fieldMembers;
            fieldMembers.emplace_back("name", Text(field->name));
            fieldMembers.emplace_back("description", Text(field->description));
            fieldMembers.emplace_back("offset", OwnedHostValue::UInt(field->offset));
            fieldMembers.emplace_back("optional", OwnedHostValue::Bool(field->optional != 0));
            AppendType(fieldMembers, field->kind, field->elementKind, field->typeName);
            items.push_back(OwnedHostValue::Object(std::move(fieldMembers)));
        }
        members.emplace_back("fields", OwnedHostValue::Array(std::move(items)));
    } else {
        const HostEnumeratorDescription* enumerator = type.enumerators;
        for (uint32_t i = 0; enumerator != nullptr && i < type.count; ++i, enumerator = enumerator->next) {
            items.push_back(OwnedHostValue::Object({
                {"name", Text(enumerator->name)},
                {"description", Text(enumerator->description)},
                {"value", OwnedHostValue::Int(enumerator->value)},
            }));
        }
        members.emplace_back("enumerators", OwnedHostValue::Array(std::move(items)));
    }
    return OwnedHostValue::Object(std::move(members));
}

OwnedHostValue Event(const HostEventDescription& event) {
    return OwnedHostValue::Object({
        {"name", Text(event.name)},
        {"namespace", Text(event.nameSpace)},
        {"payloadType", Text(event.payloadTypeName)},
        {"description", Text(event.description)},
        {"tags", Tags(event.tags, event.tagCount)},
    });
}

}  // namespace

const char* TypeKindName(uint32_t kind) noexcept {
    return KorvoTypeKindName(kind);
}

const char* ArgumentLocationName(uint32_t location) noexcept {
    switch (location) {
        case KORVO_LOCATION_ANY: return "any";
        case KORVO_LOCATION_QUERY: return "query";
        case KORVO_LOCATION_PATH: return "path";
        case KORVO_LOCATION_HEADER: return "header";
        case KORVO_LOCATION_BODY: return "body";
        default: return "";
    }
}

std::string ApiHelpJson(const HostApiDescriptor* descriptor, const std::string& pluginName,
                        const std::string& apiVersion) {
    std::vector<OwnedHostValue> functions;
    std::vector<OwnedHostValue> types;
    std::vector<OwnedHostValue> events;
    if (descriptor != nullptr) {
        // Function records are one array (the host receives them as such);
        // types and events are walked through their chains.
        for (uint32_t i = 0; descriptor->functions != nullptr && i < descriptor->functionCount; ++i) {
            functions.push_back(Function(descriptor->functions[i]));
        }
        const HostTypeDescription* type = descriptor->types;
        for (uint32_t i = 0; type != nullptr && i < descriptor->typeCount; ++i, type = type->next) {
            types.push_back(Type(*type));
        }
        const HostEventDescription* event = descriptor->events;
        for (uint32_t i = 0; event != nullptr && i < descriptor->eventCount; ++i, event = event->next) {
            events.push_back(Event(*event));
        }
    }
    OwnedHostValue document = OwnedHostValue::Object({
        {"plugin", OwnedHostValue::String(pluginName)},
        {"apiVersion", OwnedHostValue::String(apiVersion)},
        {"functions", OwnedHostValue::Array(std::move(functions))},
        {"types", OwnedHostValue::Array(std::move(types))},
        {"events", OwnedHostValue::Array(std::move(events))},
    });
    return HostValueToJson(document.Record());
}

}  // namespace Korvo::Host::Dev
