// sdk/remoting/api_description.cpp - the API description records.
#include "sdk/remoting/api_description.h"

#include <cstring>
#include <string>

namespace Korvo {

namespace {

constexpr char kEmptyText[] = "";

const char* Text(const std::string& text) noexcept { return text.empty() ? kEmptyText : text.c_str(); }

uint32_t KindNumber(BindingTypeKind kind) noexcept {
    const auto number = static_cast<uint32_t>(kind);
    return KorvoTypeKindIsValid(number) ? number : uint32_t{KORVO_KIND_NONE};
}

const char* TypeName(const BindingTypeRef& type) noexcept {
    switch (type.kind) {
        case BindingTypeKind::Vector:
        case BindingTypeKind::Enum:
        case BindingTypeKind::Struct:
        case BindingTypeKind::Map:
            return type.descriptor != nullptr ? Text(type.descriptor->name) : kEmptyText;
        default:
            return kEmptyText;
    }
}

uint32_t Count(size_t count) noexcept { return static_cast<uint32_t>(count); }

}  // namespace

const char* ApiDescriptionBuilder::EmptyText() noexcept { return kEmptyText; }

ApiDescription ApiDescriptionBuilder::BuildDescription(std::span<const BindingFunctionDescriptor* const> functions,
                                                       std::span<const BindingTypeDescriptor* const> types,
                                                       std::span<const BindingEventDescriptor* const> events) {
    // Every array is sized before any record points into it, so no pointer
    // is invalidated by growth.
    size_t argumentCount = 0, fieldCount = 0, enumeratorCount = 0, tagCount = 0;
    for (const BindingFunctionDescriptor* function : functions) {
        argumentCount += function->arguments.size();
        tagCount += function->tags.size();
    }
    for (const BindingTypeDescriptor* type : types) {
        if (!type->fields.empty()) {
            fieldCount += type->fields.size();
        } else {
            enumeratorCount += type->enumerators.size();
        }
        tagCount += type->tags.size();
    }
    for (const BindingEventDescriptor* event : events) tagCount += event->tags.size();

    functions_.assign(functions.size(), HostFunctionDescription{});
    arguments_.assign(argumentCount, HostArgumentDescription{});
    types_.assign(types.size(), HostTypeDescription{});
    fields_.assign(fieldCount, HostFieldDescription{});
    enumerators_.assign(enumeratorCount, HostEnumeratorDescription{});
    events_.assign(events.size(), HostEventDescription{});
    tags_.assign(tagCount, nullptr);

    size_t nextTag = 0;
    auto tagArray = [&](const std::vector<std::string>& tags) -> const char* const* {
        if (tags.empty()) return nullptr;
        const char** first = &tags_[nextTag];
        for (const std::string& tag : tags) tags_[nextTag++] = Text(tag);
        return first;
    };

    size_t nextArgument = 0;
    for (size_t index = 0; index < functions.size(); ++index) {
        const BindingFunctionDescriptor& function = *functions[index];
        HostArgumentDescription* firstArgument = arguments_.data() + nextArgument;
        for (const BindingArgumentDescriptor& argument : function.arguments) {
            HostArgumentDescription& record = arguments_[nextArgument++];
            const BindingTypeRef& type = argument.EffectiveType();
            record.name = Text(argument.name);
            record.description = Text(argument.description);
            record.kind = KindNumber(type.kind);
            record.elementKind = KindNumber(type.elementKind);
            record.typeName = TypeName(type);
            record.optional = argument.optional ? 1 : 0;
        }
        ChainRecords(firstArgument, function.arguments.size());

        HostFunctionDescription& record = functions_[index];
        const BindingTypeRef& result = function.EffectiveReturnType();
        record.name = Text(function.name);
        record.nameSpace = Text(function.nameSpace);
        record.arguments = function.arguments.empty() ? nullptr : firstArgument;
        record.argumentCount = Count(function.arguments.size());
        record.resultKind = KindNumber(result.kind);
        record.resultElementKind = KindNumber(result.elementKind);
        record.resultTypeName = TypeName(result);
        record.description = Text(function.description);
        record.help = Text(function.help);
        record.threadSafe = function.threadSafe ? 1 : 0;
        record.asyncResultTypeName =
            function.async && result.descriptor != nullptr ? Text(result.descriptor->name) : kEmptyText;
        record.tags = tagArray(function.tags);
        record.tagCount = Count(function.tags.size());
    }
    ChainRecords(functions_.data(), functions_.size());

    size_t nextField = 0, nextEnumerator = 0;
    for (size_t index = 0; index < types.size(); ++index) {
        const BindingTypeDescriptor& type = *types[index];
        HostTypeDescription& record = types_[index];
        if (!type.fields.empty()) {
            HostFieldDescription* first = fields_.data() + nextField;
            for (const BindingFieldDescriptor& field : type.fields) {
                HostFieldDescription& fieldRecord = fields_[nextField++];
                fieldRecord.name = Text(field.name);
                fieldRecord.description = Text(field.description);
                fieldRecord.offset = field.offset;
                fieldRecord.kind = KindNumber(field.type.kind);
                fieldRecord.elementKind = KindNumber(field.type.elementKind);
                fieldRecord.typeName = TypeName(field.type);
                fieldRecord.optional = field.optional ? 1 : 0;
            }
            ChainRecords(first, type.fields.size());
            record.fields = first;
            record.count = Count(type.fields.size());
        } else {
            HostEnumeratorDescription* first = enumerators_.data() + nextEnumerator;
            // The enumerator map is ordered by name already.
            for (const auto& [name, enumerator] : type.enumerators) {
                HostEnumeratorDescription& enumeratorRecord = enumerators_[nextEnumerator++];
                enumeratorRecord.name = Text(enumerator.name);
                enumeratorRecord.description = Text(enumerator.description);
                enumeratorRecord.value = enumerator.value;
            }
            ChainRecords(first, type.enumerators.size());
            record.enumerators = type.enumerators.empty() ? nullptr : first;
            record.count = Count(type.enumerators.size());
        }
        record.name = Text(type.name);
        record.nameSpace = Text(type.nameSpace);
        record.size = type.size;
        record.description = Text(type.description);
        record.tags = tagArray(type.tags);
        record.tagCount = Count(type.tags.size());
    }
    ChainRecords(types_.data(), types_.size());

    for (size_t index = 0; index < events.size(); ++index) {
        const BindingEventDescriptor& event = *events[index];
        HostEventDescription& record = events_[index];
        record.name = Text(event.name);
        record.nameSpace = Text(event.nameSpace);
        record.payloadTypeName = event.payload != nullptr ? Text(event.payload->name) : kEmptyText;
        record.description = Text(event.description);
        record.tags = tagArray(event.tags);
        record.tagCount = Count(event.tags.size());
    }
    ChainRecords(events_.data(), events_.size());

    return ApiDescription{functions_.empty() ? nullptr : functions_.data(), Count(functions_.size()),
                          types_.empty() ? nullptr : types_.data(),         Count(types_.size()),
                          events_.empty() ? nullptr : events_.data(),       Count(events_.size())};
}

const HostFunctionDescription* ApiDescriptionBuilder::FindFunction(std::string_view name) const noexcept {
    for (const HostFunctionDescription& record : functions_) {
        if (record.name != nullptr && name == record.name) return &record;
    }
    return nullptr;
}

}  // namespace Korvo
