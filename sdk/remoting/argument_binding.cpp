// sdk/remoting/argument_binding.cpp - argument values from the parts of a
// request.
#include "sdk/remoting/argument_binding.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <utility>

#include "sdk/binding/host_value_conversion.h"
#include "sdk/diagnostics/ascii.h"
#include "sdk/diagnostics/format.h"
#include "sdk/formats/json_reader.h"
#include "sdk/formats/message_pack_reader.h"
#include "sdk/formats/yaml_reader.h"
#include "sdk/allocation/allocation.h"
#include "sdk/remoting/transport_messages.h"

namespace Korvo {

namespace {

enum class IndexParse { Valid, IncorrectFormat, OutOfRange };

// Reads a segment that starts with a digit as C's strtoul with base 0 does:
// "0x" and a hexadecimal digit start a hexadecimal number, another leading
// '0' an octal one. The whole segment must be the number.
IndexParse ParseIndex(std::string_view segment, uint64_t& index) noexcept {
    int base = 10;
    size_t position = 0;
    if (segment.size() > 1 && segment[0] == '0') {
        const bool hexPrefix = (segment[1] == 'x' || segment[1] == 'X');
        if (hexPrefix && segment.size() > 2 && std::isxdigit(static_cast<unsigned char>(segment[2]))) {
            base = 16;
            position = 2;
        } else {
            base = 8;  // "0x" without a digit reads as 0 followed by "x"
        }
    }
    uint64_t value = 0;
    const char* first = segment.data() + position;
    const char* last = segment.data() + segment.size();
    if (first != last) {
        // Past the last digit even when the number is out of range, so a
        // stray character is reported before the size.
        const auto [stop, error] = std::from_chars(first, last, value, base);
        if (stop != last) return IndexParse::IncorrectFormat;
        if (error == std::errc::result_out_of_range) return IndexParse::OutOfRange;
    }
    if (value >= kIndexLimit) return IndexParse::OutOfRange;
    index = value;
    return IndexParse::Valid;
}

bool IsStructuredKind(BindingTypeKind kind) noexcept {
    return kind == BindingTypeKind::Object || kind == BindingTypeKind::Vector || kind == BindingTypeKind::Struct;
}

void Replace(CallResult& result, BindingResult&& failure) {
    static_cast<BindingResult&>(result) = std::move(failure);
}

}  // namespace

std::optional<size_t> ArgumentNameIndex::Find(std::string_view name) const noexcept {
    // An argument without a name cannot be addressed by name.
    if (name.empty()) return std::nullopt;
    const auto& arguments = function_->arguments;
    for (size_t position = 0; position < arguments.size(); ++position) {
        if (arguments[position].name == name) return position;
    }
    return std::nullopt;
}

ArgumentBinder::ArgumentBinder(CallResult& result, const BindingFunctionDescriptor& function, const RouteRecord& route)
    : result_(result), function_(function), route_(route), names_(function), arguments_(function.arguments.size()) {
    for (size_t position = 0; position < function.arguments.size(); ++position) {
        const BindingArgumentDescriptor& argument = function.arguments[position];
        if (argument.EffectiveType().kind == BindingTypeKind::Bool && !argument.optional) {
            arguments_[position].SetBool(false);
        }
    }
}

void ArgumentBinder::BindArguments(const ParameterMap& query, const ParameterMap& pathParameters,
                                   const ParameterMap& headers) {
    growthBudget_ = kIndexGrowthFloor + headers.size() + pathParameters.size() + query.size();
    const std::pair<const ParameterMap*, ArgumentLocation> sources[] = {
        {&headers, ArgumentLocation::Header},
        {&pathParameters, ArgumentLocation::Path},
        {&query, ArgumentLocation::Query},
    };
    for (const auto& [entries, location] : sources) {
        for (const auto& [key, text] : *entries) {
            if (result_.Failed()) return;
            BindKeyValue(key, text, location);
        }
    }
}

void ArgumentBinder::BindKeyValue(std::string_view key, const std::string& text, ArgumentLocation source) {
    if (result_.Failed()) return;
    const size_t dot = key.find('.');
    const std::string_view name = key.substr(0, dot);
    const std::optional<size_t> position = names_.Find(name);
    if (!position) {
        result_.Fail(FormatToString(TransportMessage::kUnknownArgument, name, function_.name));
        return;
    }
    const ArgumentLocation location = route_.LocationOf(*position);
    if (location != ArgumentLocation::Any && location != source) {
        result_.Fail(FormatToString(TransportMessage::kInvalidLocation, name, function_.name));
        return;
    }
    BindingProperty& argument = arguments_[*position];
    const BindingTypeKind kind = function_.arguments[*position].EffectiveType().kind;

    if (dot == std::string_view::npos) {
        if (!text.empty()) {
            BindTextValue(result_, argument, function_, name, text, IsStructuredKind(kind));
        } else if (kind == BindingTypeKind::Bool) {
            argument.SetBool(true);
        } else if (kind == BindingTypeKind::Object || kind == BindingTypeKind::Struct) {
            argument.SetStructure();
        } else if (kind == BindingTypeKind::Vector) {
            argument.SetCollection();
        } else {
            result_.Fail(FormatToString(TransportMessage::kExpectedValue, name));
        }
        return;
    }

    std::string_view rest = key.substr(dot + 1);
    const size_t segments = static_cast<size_t>(std::count(rest.begin(), rest.end(), '.')) + 1;
    if (segments > kMaxKeyDepth) {
        result_.Fail(FormatToString(TransportMessage::kKeyTooDeep, name, function_.name,
                                    static_cast<unsigned>(kMaxKeyDepth)));
        return;
    }
    BindingProperty* target = &argument;
    std::string_view segment;
    for (;;) {
        const size_t next = rest.find('.');
        segment = rest.substr(0, next);
        if (!segment.empty() && segment[0] >= '0' && segment[0] <= '9') {
            if (!WalkIndex(target, segment)) return;
        } else {
            target = &target->Member(segment);
        }
        if (next == std::string_view::npos) break;
        rest.remove_prefix(next + 1);
    }
    BindTextValue(result_, *target, function_, segment, text, false);
}

bool ArgumentBinder::WalkIndex(BindingProperty*& target, std::string_view segment) {
    uint64_t index = 0;
    switch (ParseIndex(segment, index)) {
        case IndexParse::IncorrectFormat:
            result_.Fail(FormatToString(TransportMessage::kIndexIncorrectFormat, segment));
            return false;
        case IndexParse::OutOfRange:
            result_.Fail(FormatToString(TransportMessage::kIndexOutOfRange, segment));
            return false;
        case IndexParse::Valid:
            break;
    }
    // Element(index) fills every missing element below index: a sparse index
    // costs as much as a dense run up to it, so growth comes out of the
    // call's budget and an index beyond it is out of range.
    const size_t current = target->Is(BindingPropertyKind::Collection) ? target->Size() : 0;
    if (index >= current) {
        const uint64_t growth = index + 1 - current;
        if (growth > growthBudget_) {
            result_.Fail(FormatToString(TransportMessage::kIndexOutOfRange, segment));
            return false;
        }
        growthBudget_ -= static_cast<size_t>(growth);
    }
    target = &target->Element(static_cast<size_t>(index));
    return true;
}

void ArgumentBinder::BindHostArguments(const HostArgumentEntry* entries, uint32_t count, size_t pathParameterCount,
                                       const BindingRegistry* registry) {
    if (result_.Failed() || count == 0) return;
    if (entries == nullptr) {
        result_.Fail(FormatToString(TransportMessage::kArgumentsWithoutArray, count));
        return;
    }
    for (uint32_t index = 0; index < count && result_.Succeeded(); ++index) {
        const HostArgumentEntry& entry = entries[index];
        size_t position = 0;
        if (entry.name != nullptr) {
            const std::optional<size_t> found = names_.Find(entry.name);
            if (!found) {
                result_.Fail(FormatToString(TransportMessage::kUnknownArgument, entry.name, function_.name));
                return;
            }
            position = *found;
        } else {
            // Unnamed entries continue after the path parameters.
            const uint64_t unnamed = uint64_t{index} + pathParameterCount;
            if (unnamed >= arguments_.size()) {
                result_.Fail(FormatToString(TransportMessage::kUnknownArgument, unnamed, function_.name));
                return;
            }
            position = static_cast<size_t>(unnamed);
        }
        HostValueResult error{};
        if (!ToProperty(error, arguments_[position], entry.value, function_.arguments[position].name, registry)) {
            std::string message = error.message != nullptr ? error.message : "";
            Memory::Free(error.message);
            FreeHostValue(&error.value);
            result_.Fail(message);
            return;
        }
    }
}

void ArgumentBinder::BindBody(const char* contentType, const char* body, uint32_t size) {
    if (body == nullptr) return;
    size_t position = 0;
    while (position < arguments_.size() && route_.LocationOf(position) != ArgumentLocation::Body) ++position;
    if (position == arguments_.size()) return;

    BindingResult parsed;
    switch (ClassifyContentType(contentType)) {
        case ContentTypeCode::Json:
            parsed = ReadJson(body);
            break;
        case ContentTypeCode::Yaml:
            parsed = ReadYaml(std::string_view(body));
            break;
        case ContentTypeCode::MessagePack: {
            uint32_t consumed = 0;
            parsed = ReadMessagePack(body, size, &consumed);
            if (parsed.Succeeded() && consumed < size) {
                parsed = BindingResult::Failure(TransportMessage::kExtraMessagePackData);
            }
            break;
        }
        case ContentTypeCode::Other:
            parsed = BindingResult::Failure(TransportMessage::kUnsupportedContentType);
            break;
    }
    if (parsed.Failed()) {
        Replace(result_, std::move(parsed));
        return;
    }
    arguments_[position] = std::move(parsed.Value());
}

void BindTextValue(CallResult& result, BindingProperty& target, const BindingFunctionDescriptor& function,
                   std::string_view parameter, const std::string& text, bool structured) {
    if (result.Failed()) return;
    if (structured) {
        const char* tmpl = nullptr;
        BindingResult parsed;
        if (text.size() <= UINT32_MAX && LooksLikeMessagePack(text.data(), static_cast<uint32_t>(text.size()))) {
            parsed = ReadMessagePack(text.data(), static_cast<uint32_t>(text.size()), nullptr);
            tmpl = TransportMessage::kMessagePackParameter;
        } else if (LooksLikeJson(text)) {
            parsed = ReadJson(text);
            tmpl = TransportMessage::kJsonParameter;
        } else if (LooksLikeYaml(text)) {
            parsed = ReadYaml(text);
            tmpl = TransportMessage::kYamlParameter;
        }
        if (tmpl != nullptr) {
            if (parsed.Failed()) {
                result.Fail(FormatToString(tmpl, parameter, function.name, parsed.ErrorMessage()));
            } else {
                target = std::move(parsed.Value());
            }
            return;
        }
    }
    target.SetString(text);
}

ParameterMap HeaderArguments(const HostHeaderEntry* headers, uint32_t count, const BindingFunctionDescriptor& function,
                             const RouteRecord& route) {
    ParameterMap bound;
    if (headers == nullptr || count == 0) return bound;
    for (size_t position = 0; position < function.arguments.size(); ++position) {
        const ArgumentLocation location = route.LocationOf(position);
        if (location != ArgumentLocation::Any && location != ArgumentLocation::Header) continue;
        const std::string& name = function.arguments[position].name;
        if (name.empty()) continue;
        // The last header of the name wins, as a later duplicate replaces an
        // earlier one.
        for (uint32_t index = count; index-- > 0;) {
            const HostHeaderEntry& header = headers[index];
            if (header.name == nullptr || !Ascii::EqualsIgnoringCase(name, header.name)) continue;
            bound.insert_or_assign(name, header.value != nullptr ? header.value : "");
            break;
        }
    }
    return bound;
}

std::vector<BindingProperty> BindRequest(CallResult& result, const RouteRecord& route, const RouteMatch& match,
                                         const HostRequestRecord& request, const BindingRegistry* registry) {
    ArgumentBinder binder(result, *route.function, route);
    if (request.headers == nullptr && request.headerCount != 0) {
        result.Fail(FormatToString(TransportMessage::kHeadersWithoutArray, request.headerCount));
    }
    if (result.Succeeded()) {
        const ParameterMap headers = HeaderArguments(request.headers, request.headerCount, *route.function, route);
        ParameterMap query;
        const size_t mark = match.path.find('?');
        if (mark != std::string_view::npos) query = ParseQueryString(match.path.substr(mark + 1));
        binder.BindArguments(query, match.pathParameters, headers);
    }
    binder.BindHostArguments(request.arguments, request.argumentCount, match.pathParameters.size(), registry);
    binder.BindBody(request.contentType, request.body, request.bodySize);
    return std::move(binder.Arguments());
}

}  // namespace Korvo
