// sdk/binding/host_value_conversion.cpp - between BindingProperty and
// HostValue, with explicit stacks.
#include "sdk/binding/host_value_conversion.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "sdk/allocation/allocation.h"
#include "sdk/binding/converter.h"
#include "sdk/binding/from_native.h"
#include "sdk/binding/native_kinds.h"
#include "sdk/binding/registry.h"
#include "sdk/diagnostics/format.h"
#include "sdk/values/conversion_messages.h"
#include "sdk/values/work_stack.h"

namespace Korvo {

namespace {

// ---------------------------------------------------------- host to value

enum class ReadOutcome { Done, Malformed };

struct PendingRead {
    const HostValue* source;
    BindingProperty* target;
};

const char* HostTypeName(uint32_t type) noexcept {
    switch (static_cast<HostValueType>(type)) {
        case HostValueType::Bool: return "bool";
        case HostValueType::Int64: return "signed";
        case HostValueType::UInt64: return "unsigned";
        case HostValueType::Double: return "float";
        case HostValueType::BorrowedString:
        case HostValueType::String: return "string";
        case HostValueType::BorrowedBinary:
        case HostValueType::Binary: return "blob";
        case HostValueType::Array: return "collection";
        case HostValueType::Object: return "structure";
        default: return "";
    }
}

// Whether count records of size bytes each could exist at a non-null
// address; a null address holds none at all.
bool HoldsRecords(const void* records, uint32_t count, size_t size) noexcept {
    if (count == 0) return true;
    return records != nullptr && count <= SIZE_MAX / size;
}

// Reads one record into target; the children of an Array or Object are
// pushed (last first, so they are read in order) and read later.
ReadOutcome ReadOne(const HostValue& source, BindingProperty& target,
                    detail::WorkStack<PendingRead>& pending) {
    const HostValueData data = source.data;
    switch (static_cast<HostValueType>(source.type)) {
        case HostValueType::Null:
            target.Clear();
            return ReadOutcome::Done;
        case HostValueType::Bool:
            target.SetBool(data.boolean != 0);
            return ReadOutcome::Done;
        case HostValueType::Int64:
            target.SetSigned(data.int64);
            return ReadOutcome::Done;
        case HostValueType::UInt64:
            target.SetUnsigned(data.uint64);
            return ReadOutcome::Done;
        case HostValueType::Double:
            target.SetFloat(data.float64);
            return ReadOutcome::Done;
        case HostValueType::BorrowedString:
        case HostValueType::String:
            // The text is read up to its NUL; the length word is not trusted.
            target.SetString(static_cast<const char*>(data.string.text));
            return ReadOutcome::Done;
        case HostValueType::BorrowedBinary:
        case HostValueType::Binary: {
            const uint8_t* const bytes = data.binary.bytes;
            const uint32_t count = data.binary.count;
            if (!HoldsRecords(bytes, count, 1)) return ReadOutcome::Malformed;
            target.SetBlob(std::span<const uint8_t>(bytes, count));
            return ReadOutcome::Done;
        }
        case HostValueType::Array: {
            const HostValue* const items = data.array.items;
            const uint32_t count = data.array.count;
            if (!HoldsRecords(items, count, sizeof(HostValue))) return ReadOutcome::Malformed;
            target.SetCollection();
            if (count == 0) return ReadOutcome::Done;
            // Every element exists before any is filled, so the references
            // pushed stay valid: nothing appends to this collection again.
            target.Element(count - 1);
            const std::span<BindingProperty> elements = target.Elements();
            for (uint32_t index = count; index-- > 0;) {
                pending.push_back(PendingRead{&items[index], &elements[index]});
            }
            return ReadOutcome::Done;
        }
        case HostValueType::Object: {
            const HostValueMember* const members = data.object.members;
            const uint32_t count = data.object.count;
            if (!HoldsRecords(members, count, sizeof(HostValueMember))) return ReadOutcome::Malformed;
            target.SetStructure();
            const size_t firstPending = pending.size();
            for (uint32_t index = 0; index < count; ++index) {
                const char* const key = members[index].key;
                BindingProperty& member = target.Member(key != nullptr ? std::string_view(key) : std::string_view());
                pending.push_back(PendingRead{&members[index].value, &member});
            }
            // Read in the host's order: a later duplicate key replaces an
            // earlier one, as assigning member by member would.
            std::reverse(pending.begin() + firstPending, pending.end());
            return ReadOutcome::Done;
        }
        default:
            return ReadOutcome::Malformed;
    }
}

void FailRead(HostValueResult& error, const std::string& message) noexcept {
    FreeHostValue(&error.value);
    Memory::Free(error.message);
    error.message = Memory::DuplicateString(message.c_str());
    error.error = 1;
}

// ---------------------------------------------------------- value to host

struct PendingWrite {
    const BindingProperty* source;
    HostValue* target;
};

constexpr size_t kMaxHostCount = UINT32_MAX;

bool WriteString(HostValue& target, std::string_view text) noexcept {
    if (text.size() > kMaxHostCount) return false;
    char* const copy = Memory::DuplicateText(text);
    if (copy == nullptr) return false;
    target.type = static_cast<uint32_t>(HostValueType::String);
    target.data.string.text = copy;
    target.data.string.length = static_cast<uint32_t>(text.size());
    return true;
}

// Zero-filled room for count records; null for none.
void* AllocateRecords(size_t count, size_t size) noexcept {
    if (count == 0) return nullptr;
    void* const records = Memory::Allocate(count * size);
    if (records != nullptr) std::memset(records, 0, count * size);
    return records;
}

// Writes one property into target (which is Null); the children of a
// Collection or Structure are pushed and written later. Whatever target
// received is attached to it before anything else can fail, so freeing the
// root releases it.
bool WriteOne(const BindingProperty& source, HostValue& target, const BindingRegistry* registry,
              detail::WorkStack<PendingWrite>& pending) {
    switch (source.Kind()) {
        case BindingPropertyKind::Empty:
            return true;
        case BindingPropertyKind::Bool:
            target.type = static_cast<uint32_t>(HostValueType::Bool);
            target.data.boolean = source.AsBool() ? 1 : 0;
            return true;
        case BindingPropertyKind::Signed:
            target.type = static_cast<uint32_t>(HostValueType::Int64);
            target.data.int64 = source.AsSigned();
            return true;
        case BindingPropertyKind::Unsigned:
            target.type = static_cast<uint32_t>(HostValueType::UInt64);
            target.data.uint64 = source.AsUnsigned();
            return true;
        case BindingPropertyKind::Float:
            target.type = static_cast<uint32_t>(HostValueType::Double);
            target.data.float64 = source.AsFloat();
            return true;
        case BindingPropertyKind::String:
            return WriteString(target, source.AsString());
        case BindingPropertyKind::Blob: {
            const std::span<const uint8_t> bytes = source.AsBlob();
            if (bytes.size() > kMaxHostCount) return false;
            auto* const copy = static_cast<uint8_t*>(AllocateRecords(bytes.size(), 1));
            if (copy == nullptr && !bytes.empty()) return false;
            if (!bytes.empty()) std::memcpy(copy, bytes.data(), bytes.size());
            target.type = static_cast<uint32_t>(HostValueType::Binary);
            target.data.binary.bytes = copy;
            target.data.binary.count = static_cast<uint32_t>(bytes.size());
            return true;
        }
        case BindingPropertyKind::Enum: {
            const BindingEnumValue value = source.AsEnum();
            const char* const name =
                registry != nullptr ? registry->FindEnumeratorName(value.typeHash, value.number) : nullptr;
            if (name != nullptr) return WriteString(target, name);
            target.type = static_cast<uint32_t>(HostValueType::Int64);
            target.data.int64 = value.number;
            return true;
        }
        case BindingPropertyKind::Collection: {
            const std::span<const BindingProperty> elements = source.Elements();
            if (elements.size() > kMaxHostCount) return false;
            auto* const items = static_cast<HostValue*>(AllocateRecords(elements.size(), sizeof(HostValue)));
            if (items == nullptr && !elements.empty()) return false;
            target.type = static_cast<uint32_t>(HostValueType::Array);
            target.data.array.items = items;
            target.data.array.count = static_cast<uint32_t>(elements.size());
            for (size_t index = elements.size(); index-- > 0;) {
                pending.push_back(PendingWrite{&elements[index], &items[index]});
            }
            return true;
        }
        case BindingPropertyKind::Structure: {
            const auto members = source.Members();
            if (members.size() > kMaxHostCount) return false;
            auto* const records =
                static_cast<HostValueMember*>(AllocateRecords(members.size(), sizeof(HostValueMember)));
            if (records == nullptr && !members.empty()) return false;
            target.type = static_cast<uint32_t>(HostValueType::Object);
            target.data.object.members = records;
            target.data.object.count = static_cast<uint32_t>(members.size());
            size_t index = 0;
            for (const auto [name, member] : members) {
                HostValueMember& record = records[index++];
                record.key = Memory::DuplicateText(name);
                if (record.key == nullptr) return false;
                record.ownsKey = 1;
                pending.push_back(PendingWrite{&member, &record.value});
            }
            return true;
        }
        default:
            return true;  // a kind this layer does not know converts to nothing
    }
}

}  // namespace

bool ToProperty(HostValueResult& error, BindingProperty& property, const HostValue& value,
                std::string_view rootName, const BindingRegistry* registry) noexcept {
    (void)registry;
    std::string message;
    try {
        detail::WorkStack<PendingRead> pending;
        pending.push_back(PendingRead{&value, &property});
        while (!pending.empty()) {
            const PendingRead next = pending.back();
            pending.pop_back();
            if (ReadOne(*next.source, *next.target, pending) == ReadOutcome::Malformed) {
                message = FormatToString(ConversionMessage::kIncompatibleHostValue, rootName,
                                         HostTypeName(next.source->type));
                break;
            }
        }
        if (message.empty()) return true;
    } catch (...) {
        try {
            message = FormatToString(ConversionMessage::kHostValueOutOfMemory, rootName);
        } catch (...) {
            message.clear();
        }
    }
    property.Clear();
    FailRead(error, message);
    return false;
}

bool ToHostValue(HostValue& value, const BindingProperty& property,
                 const BindingRegistry* registry) noexcept {
    FreeHostValue(&value);
    try {
        detail::WorkStack<PendingWrite> pending;
        pending.push_back(PendingWrite{&property, &value});
        while (!pending.empty()) {
            const PendingWrite next = pending.back();
            pending.pop_back();
            if (!WriteOne(*next.source, *next.target, registry, pending)) {
                FreeHostValue(&value);
                return false;
            }
        }
        return true;
    } catch (...) {
        FreeHostValue(&value);
        return false;
    }
}

// ------------------------------------------------------- HostValueWriter

bool HostValueWriter::Fail(std::string_view message) {
    if (state_ != State::Writing) return false;
    message_.assign(message);
    state_ = State::Failed;
    return false;
}

bool HostValueWriter::FailOutOfMemory() noexcept {
    if (state_ == State::Writing) state_ = State::OutOfMemory;
    return false;
}

void HostValueWriter::WriteBool(HostValue& target, bool value) noexcept {
    target.type = static_cast<uint32_t>(HostValueType::Bool);
    target.data.boolean = value ? 1 : 0;
}

void HostValueWriter::WriteSigned(HostValue& target, int64_t value) noexcept {
    target.type = static_cast<uint32_t>(HostValueType::Int64);
    target.data.int64 = value;
}

void HostValueWriter::WriteUnsigned(HostValue& target, uint64_t value) noexcept {
    target.type = static_cast<uint32_t>(HostValueType::UInt64);
    target.data.uint64 = value;
}

void HostValueWriter::WriteDouble(HostValue& target, double value) noexcept {
    target.type = static_cast<uint32_t>(HostValueType::Double);
    target.data.float64 = value;
}

bool HostValueWriter::WriteString(HostValue& target, std::string_view text) noexcept {
    return ::Korvo::WriteString(target, text) || FailOutOfMemory();
}

bool HostValueWriter::WriteBlob(HostValue& target, std::span<const uint8_t> bytes) noexcept {
    if (bytes.size() > kMaxHostCount) return FailOutOfMemory();
    auto* const copy = static_cast<uint8_t*>(AllocateRecords(bytes.size(), 1));
    if (copy == nullptr && !bytes.empty()) return FailOutOfMemory();
    if (!bytes.empty()) std::memcpy(copy, bytes.data(), bytes.size());
    target.type = static_cast<uint32_t>(HostValueType::Binary);
    target.data.binary.bytes = copy;
    target.data.binary.count = static_cast<uint32_t>(bytes.size());
    return true;
}

bool HostValueWriter::WriteEnum(HostValue& target, int32_t number, uint32_t typeHash) {
    const char* const name = registry_ != nullptr ? registry_->FindEnumeratorName(typeHash, number) : nullptr;
    if (name != nullptr) return WriteString(target, name);
    WriteSigned(target, number);
    return true;
}

bool HostValueWriter::WriteEnum(HostValue& target, const void* source, size_t storageSize, uint32_t typeHash) {
    return WriteEnum(target, ReadNativeEnum(source, storageSize), typeHash);
}

bool HostValueWriter::WriteProperty(HostValue& target, const BindingProperty& property) noexcept {
    return ToHostValue(target, property, registry_) || FailOutOfMemory();
}

bool HostValueWriter::BeginArray(HostValue& target, size_t count, HostValue*& items) noexcept {
    if (count > kMaxHostCount) return FailOutOfMemory();
    items = static_cast<HostValue*>(AllocateRecords(count, sizeof(HostValue)));
    if (items == nullptr && count != 0) return FailOutOfMemory();
    target.type = static_cast<uint32_t>(HostValueType::Array);
    target.data.array.items = items;
    target.data.array.count = static_cast<uint32_t>(count);
    return true;
}

bool HostValueWriter::BeginObject(HostValue& target, size_t count, HostValueMember*& members) noexcept {
    if (count > kMaxHostCount) return FailOutOfMemory();
    members = static_cast<HostValueMember*>(AllocateRecords(count, sizeof(HostValueMember)));
    if (members == nullptr && count != 0) return FailOutOfMemory();
    target.type = static_cast<uint32_t>(HostValueType::Object);
    target.data.object.members = members;
    target.data.object.count = static_cast<uint32_t>(count);
    return true;
}

bool HostValueWriter::SetKey(HostValueMember& member, std::string_view name) noexcept {
    member.key = Memory::DuplicateText(name);
    if (member.key == nullptr) return FailOutOfMemory();
    member.ownsKey = 1;
    return true;
}

const HostValueWriter::StructPlan& HostValueWriter::PlanOf(const BindingTypeDescriptor& descriptor) noexcept {
    for (const StructPlan& plan : plans_) {
        if (plan.descriptor == &descriptor) return plan;
    }
    StructPlan& plan = plans_[nextPlan_];
    nextPlan_ = (nextPlan_ + 1) % kPlanSlots;
    plan.descriptor = &descriptor;
    const auto& fields = descriptor.fields;
    const size_t count = fields.size();
    plan.direct = count <= kPlanFields;
    for (size_t index = 0; plan.direct && index < count; ++index) {
        if ((fields[index].flags & BindingFieldFlag::kOmitWhenEmpty) != 0) plan.direct = false;
    }
    if (!plan.direct) return plan;
    // Field indexes in member order (bytewise names, as a Structure keeps
    // them); equal names would share one member and take the property route.
    uint8_t order[kPlanFields];
    for (size_t index = 0; index < count; ++index) {
        size_t position = index;
        while (position > 0 && std::string_view(fields[index].name) < std::string_view(fields[order[position - 1]].name)) {
            order[position] = order[position - 1];
            --position;
        }
        order[position] = static_cast<uint8_t>(index);
    }
    for (size_t position = 0; position < count; ++position) {
        if (position > 0 && fields[order[position]].name == fields[order[position - 1]].name) plan.direct = false;
        plan.rank[order[position]] = static_cast<uint8_t>(position);
    }
    return plan;
}

bool HostValueWriter::WritesDirectly(const BindingTypeDescriptor& descriptor) noexcept {
    return PlanOf(descriptor).direct;
}

bool HostValueWriter::WriteStructViaProperty(HostValue& target, const void* source,
                                             const BindingTypeDescriptor* descriptor) {
    BindingResult converted;
    FromNativeStruct(converted, converted.Value(), source, descriptor);
    if (converted.Failed()) return Fail(converted.ErrorMessage());
    return WriteProperty(target, converted.Value());
}

bool HostValueWriter::WriteStruct(HostValue& target, const void* source, const BindingTypeDescriptor* descriptor) {
    if (descriptor == nullptr) return Fail(ConversionMessage::kUnregisteredNativeStructure);
    if (!PlanOf(*descriptor).direct) return WriteStructViaProperty(target, source, descriptor);
    const auto* const base = static_cast<const unsigned char*>(source);
    return WriteStructMembers(target, *descriptor, [this, base](const BindingFieldDescriptor& field, HostValue& value) {
        return WriteField(value, base + field.offset, field);
    });
}

bool HostValueWriter::WriteMembersThrough(HostValue& target, const BindingTypeDescriptor& descriptor, void* context,
                                          MemberWrite write) {
    // A copy: writing the members may plan other structs into its slot.
    const StructPlan plan = PlanOf(descriptor);
    if (!plan.direct) return Fail(ConversionMessage::kUnregisteredNativeStructure);
    const auto& fields = descriptor.fields;
    HostValueMember* members = nullptr;
    if (!BeginObject(target, fields.size(), members)) return false;
    // Converted in registration order, so the first failure is the one a
    // property walk would meet first; each lands at its name's place.
    for (size_t index = 0; index < fields.size(); ++index) {
        const BindingFieldDescriptor& field = fields[index];
        HostValueMember& member = members[plan.rank[index]];
        if (!SetKey(member, field.name)) return false;
        if (!write(context, field, member.value)) return false;
    }
    return true;
}

bool HostValueWriter::WriteField(HostValue& target, const void* source, const BindingFieldDescriptor& field) {
    const BindingNativeContext context{field.registry, field.type.descriptor};
    bool handled = false;
    bool written = true;
    switch (field.type.kind) {
        case BindingTypeKind::Enum:
            if (field.optional || field.type.descriptor == nullptr) break;
            return WriteEnum(target, source, field.type.descriptor->size, field.type.descriptor->hash);
        case BindingTypeKind::Struct:
            if (field.optional) break;
            return WriteStruct(target, source, field.type.descriptor);
        default:
            handled = VisitBuiltInField(field, [&]<typename T>(NativeKindTag<T>) {
                written = BindingNative<T>::ToHostValue(*this, target, *static_cast<const T*>(source), context);
            });
            break;
    }
    if (handled) return written;
    // Nothing knows the member: it stays Null, as its property stays Empty.
    if (field.converter == nullptr) return true;
    if (const auto* direct = dynamic_cast<const HostValueFieldWriter*>(field.converter.get())) {
        return direct->ToHostValue(*this, target, source, field);
    }
    // A custom converter speaks only in properties.
    BindingResult converted;
    field.converter->FromNative(converted, source, field);
    if (converted.Failed()) return Fail(converted.ErrorMessage());
    return WriteProperty(target, converted.Value());
}

}  // namespace Korvo
