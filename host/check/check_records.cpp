// The records check: every description record the plug-in hands the host is
// well formed - types, functions (texts, kinds, route template, argument
// locations, name lists) and events - and the counts agree with the chains.
#include "host/check/check_support.h"

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sdk/contract/korvo_plugin.h"
#include "sdk/route_template/route_template.h"

namespace Korvo::Host::Check {

namespace {

using TypeNames = std::set<std::string>;
// Argument locations by argument name.
using Locations = std::map<std::string, uint32_t>;

void CheckTexts(Problems& problems, const std::string& where, const char* const* tags, uint32_t tagCount) {
    if (tagCount > 0 && tags == nullptr) problems.Add(where + ": " + std::to_string(tagCount) + " tags, no array");
    for (uint32_t i = 0; tags != nullptr && i < tagCount; ++i) {
        if (tags[i] == nullptr) problems.Add(where + ": tag " + std::to_string(i) + " is null");
    }
}

bool KindInRange(uint32_t kind) { return KorvoTypeKindIsValid(kind); }

// A counted array must be there; nothing else can be read without it.
void CheckArrays(const HostApiDescriptor& descriptor, Problems& problems) {
    if (descriptor.functionCount > 0 && descriptor.functions == nullptr) problems.Add("functions counted but no array");
    if (descriptor.typeCount > 0 && descriptor.types == nullptr) problems.Add("types counted but no array");
    if (descriptor.eventCount > 0 && descriptor.events == nullptr) problems.Add("events counted but no array");
}

// A description record of an array points at the next one, the last at
// nothing.
template <typename Record>
void CheckChained(Problems& problems, const std::string& where, const void* chained, const Record* records,
                  uint32_t index, uint32_t count) {
    const void* next = index + 1 < count ? &records[index + 1] : nullptr;
    if (chained != next) problems.Add(where + ": not chained to the next record of its array");
}

// Each type: chained to the next, named once, its texts, and its fields or
// enumerators as counted. Gives the names, which arguments and fields use.
TypeNames CheckTypes(const HostApiDescriptor& descriptor, Problems& problems) {
    TypeNames typeNames;
    const uint32_t typeCount = descriptor.typeCount;
    for (uint32_t t = 0; t < typeCount; ++t) {
        const HostTypeDescription& type = descriptor.types[t];
        const std::string where = "type " + std::to_string(t) + " (" + Quoted(type.name) + ")";
        CheckChained(problems, where, type.next, descriptor.types, t, typeCount);
        if (type.name == nullptr || type.name[0] == '\0') {
            problems.Add(where + ": no name");
        } else if (!typeNames.insert(type.name).second) {
            problems.Add(where + ": a second type of that name");
        }
        if (type.nameSpace == nullptr || type.description == nullptr) problems.Add(where + ": a null text");
        CheckTexts(problems, where, type.tags, type.tagCount);
        uint32_t chained = 0;
        for (const HostFieldDescription* field = type.fields; field != nullptr && chained <= type.count;
             field = field->next, ++chained) {
            if (field->name == nullptr || field->description == nullptr || field->typeName == nullptr) {
                problems.Add(where + ": field " + std::to_string(chained) + " has a null text");
            }
            if (!KindInRange(field->kind) || !KindInRange(field->elementKind)) {
                problems.Add(where + ": field " + Quoted(field->name) + " has a kind out of range");
            }
        }
        if (type.fields == nullptr) {
            for (const HostEnumeratorDescription* enumerator = type.enumerators;
                 enumerator != nullptr && chained <= type.count; enumerator = enumerator->next, ++chained) {
                if (enumerator->name == nullptr || enumerator->description == nullptr) {
                    problems.Add(where + ": enumerator " + std::to_string(chained) + " has a null text");
                }
            }
        }
        const uint32_t count = type.count;
        if (chained != count) {
            problems.Add(where + ": counts " + std::to_string(count) + " fields or enumerators, chains " +
                         std::to_string(chained));
        }
    }
    return typeNames;
}

// A structure or enumeration, or a collection of them, must name a described
// type; the builtin kinds need none.
void CheckTypeName(Problems& problems, const TypeNames& typeNames, const std::string& where, uint32_t kind,
                   uint32_t elementKind, const char* typeName) {
    const bool named = kind == KORVO_KIND_STRUCT || kind == KORVO_KIND_ENUM ||
                       ((kind == KORVO_KIND_VECTOR || kind == KORVO_KIND_MAP) &&
                        (elementKind == KORVO_KIND_STRUCT || elementKind == KORVO_KIND_ENUM));
    if (named && (typeName == nullptr || typeNames.count(typeName) == 0)) {
        problems.Add(where + ": its type " + Quoted(typeName) + " is not among the described types");
    }
}

// The function's own fields: chained to the next, named once, its texts,
// callback, method code and result.
void CheckFunctionFields(const HostApiDescriptor& descriptor, uint32_t f, const TypeNames& typeNames,
                         std::set<std::string>& functionNames, Problems& problems) {
    const HostFunctionRecord& record = descriptor.functions[f];
    const HostFunctionDescription& description = record.description;
    const std::string where = FunctionLabel(record, f);
    CheckChained(problems, where, description.next, descriptor.functions, f, descriptor.functionCount);
    if (description.name == nullptr || description.name[0] == '\0') {
        problems.Add(where + ": no name");
    } else if (!functionNames.insert(description.name).second) {
        problems.Add(where + ": a second function of that name");
    }
    if (description.nameSpace == nullptr || description.description == nullptr || description.help == nullptr ||
        description.resultTypeName == nullptr || description.asyncResultTypeName == nullptr ||
        record.functionName == nullptr) {
        problems.Add(where + ": a null text");
    }
    CheckTexts(problems, where, description.tags, description.tagCount);
    if (record.callback == nullptr) problems.Add(where + ": no callback");
    const uint32_t method = record.method;
    if (!KorvoMethodIsValid(method)) problems.Add(where + ": method code " + std::to_string(method));
    if (!KindInRange(description.resultKind) || !KindInRange(description.resultElementKind)) {
        problems.Add(where + ": a result kind out of range");
    }
    CheckTypeName(problems, typeNames, where + " result", description.resultKind, description.resultElementKind,
                  description.resultTypeName);
}

// The route template; gives its parameter names.
std::vector<std::string> CheckRoute(const HostFunctionRecord& record, const std::string& where, Problems& problems) {
    std::vector<std::string> parameters;
    if (record.pathTemplate == nullptr) {
        problems.Add(where + ": no route template");
    } else if (std::string problem = CheckRouteTemplate(record.pathTemplate, parameters); !problem.empty()) {
        problems.Add(where + ": route template " + Quoted(record.pathTemplate) + " " + problem);
    }
    return parameters;
}

// Each argument's texts, kinds, type and location, and the counts of both
// chains; gives the locations by argument name.
Locations CheckArguments(const HostFunctionRecord& record, const std::string& where, const TypeNames& typeNames,
                         Problems& problems) {
    const HostFunctionDescription& description = record.description;
    const uint32_t argumentCount = description.argumentCount;
    uint32_t chained = 0, located = 0;
    Locations locations;
    const HostLocationEntry* location = record.locations;
    for (const HostArgumentDescription* argument = description.arguments;
         argument != nullptr && chained <= argumentCount; argument = argument->next, ++chained) {
        const std::string label = where + " argument " + Quoted(argument->name);
        if (argument->name == nullptr || argument->name[0] == '\0' || argument->description == nullptr ||
            argument->typeName == nullptr) {
            problems.Add(label + ": no name or a null text");
        }
        if (!KindInRange(argument->kind) || !KindInRange(argument->elementKind)) {
            problems.Add(label + ": a kind out of range");
        }
        CheckTypeName(problems, typeNames, label, argument->kind, argument->elementKind, argument->typeName);
        if (location != nullptr) {
            const uint32_t code = location->location;
            if (!KorvoArgumentLocationIsValid(code)) {
                problems.Add(label + ": location code " + std::to_string(code));
            }
            if (argument->name != nullptr) locations[argument->name] = code;
            location = location->next;
            ++located;
        }
    }
    if (chained != argumentCount) {
        problems.Add(where + ": counts " + std::to_string(argumentCount) + " arguments, chains " +
                     std::to_string(chained));
    }
    if (located != chained || location != nullptr) {
        problems.Add(where + ": " + std::to_string(chained) + " arguments but a different number of locations");
    }
    return locations;
}

// Every route parameter is an argument the path may give, and every path
// argument is a route parameter.
void CheckPathArguments(const std::string& where, const std::vector<std::string>& parameters,
                        const Locations& locations, Problems& problems) {
    for (const std::string& parameter : parameters) {
        const auto found = locations.find(parameter);
        if (found == locations.end() || (found->second != KORVO_LOCATION_PATH && found->second != KORVO_LOCATION_ANY)) {
            problems.Add(where + ": the route's parameter '" + parameter + "' is no path argument");
        }
    }
    for (const auto& [name, code] : locations) {
        if (code == KORVO_LOCATION_PATH && std::find(parameters.begin(), parameters.end(), name) == parameters.end()) {
            problems.Add(where + ": the path argument '" + name + "' is not in its route");
        }
    }
}

void CheckNameLists(const HostFunctionRecord& record, const std::string& where, Problems& problems) {
    const uint32_t nameListCount = record.nameListCount;
    uint32_t lists = 0;
    for (const HostNameListEntry* list = record.nameLists; list != nullptr && lists <= nameListCount;
         list = list->next, ++lists) {
        CheckTexts(problems, where + " name list", list->names, list->count);
    }
    if (lists != nameListCount) problems.Add(where + ": name lists counted and chained differ");
}

void CheckFunctions(const HostApiDescriptor& descriptor, const TypeNames& typeNames, Problems& problems) {
    std::set<std::string> functionNames;
    for (uint32_t f = 0; f < descriptor.functionCount; ++f) {
        const HostFunctionRecord& record = descriptor.functions[f];
        const std::string where = FunctionLabel(record, f);
        CheckFunctionFields(descriptor, f, typeNames, functionNames, problems);
        const std::vector<std::string> parameters = CheckRoute(record, where, problems);
        const Locations locations = CheckArguments(record, where, typeNames, problems);
        CheckPathArguments(where, parameters, locations, problems);
        CheckNameLists(record, where, problems);
    }
}

void CheckEvents(const HostApiDescriptor& descriptor, Problems& problems) {
    const uint32_t eventCount = descriptor.eventCount;
    for (uint32_t e = 0; e < eventCount; ++e) {
        const HostEventDescription& event = descriptor.events[e];
        const std::string where = "event " + std::to_string(e) + " (" + Quoted(event.name) + ")";
        CheckChained(problems, where, event.next, descriptor.events, e, eventCount);
        if (event.name == nullptr || event.name[0] == '\0' || event.nameSpace == nullptr ||
            event.payloadTypeName == nullptr || event.description == nullptr) {
            problems.Add(where + ": no name or a null text");
        }
        CheckTexts(problems, where, event.tags, event.tagCount);
    }
}

}  // namespace

CheckVerdict CheckRecords(const CheckSettings& settings) {
    CheckHost host;
    std::string why;
    if (!LoadCompatible(host, settings, why)) return Fail(why);
    const HostApiDescriptor* descriptor = host.Descriptor();
    if (descriptor == nullptr) return Fail("no API descriptor");
    Problems problems;
    CheckArrays(*descriptor, problems);
    if (problems.Any()) return Fail(problems.Text());

    // Types first: arguments and fields name them.
    const TypeNames typeNames = CheckTypes(*descriptor, problems);
    CheckFunctions(*descriptor, typeNames, problems);
    CheckEvents(*descriptor, problems);
    // The records are the plug-in's until it stops.
    const std::string counted = std::to_string(descriptor->functionCount) + " functions, " +
                                std::to_string(descriptor->typeCount) + " types, " +
                                std::to_string(descriptor->eventCount) + " events";
    host.Stop();
    if (problems.Any()) return Fail(problems.Text());
    return Pass(counted);
}

std::string CheckRouteTemplate(const char* routeTemplate, std::vector<std::string>& names) {
    const std::string_view text = routeTemplate != nullptr ? routeTemplate : "";
    if (text.empty() || text[0] != '/') return "does not start with '/'";
    const RouteTemplateParse parse = ParseRouteTemplate(text);
    // The names read before a problem come first: a name given twice is
    // reported when the template repeats it before it breaks the grammar.
    for (const RouteTemplateParameter& parameter : parse.parsed.parameters) {
        if (std::find(names.begin(), names.end(), parameter.name) != names.end()) {
            return "names the parameter '" + parameter.name + "' twice";
        }
        names.push_back(parameter.name);
    }
    const std::string offset = std::to_string(parse.error.offset);
    switch (parse.error.problem) {
        case RouteTemplateProblem::None: break;
        case RouteTemplateProblem::OpenInsideParameter: return "opens a parameter inside another at offset " + offset;
        case RouteTemplateProblem::CloseOutsideParameter: return "closes no parameter at offset " + offset;
        case RouteTemplateProblem::NoName: return "has a parameter without a name at offset " + offset;
        case RouteTemplateProblem::NotClosed: return "does not close the parameter opened at offset " + offset;
    }
    return {};
}

}  // namespace Korvo::Host::Check
