// sdk/binding/host_value_conversion.cpp - between BindingProperty and
// HostValue, with explicit stacks.
#include "sdk/binding/host_value_conversion.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "sdk/binding/conversion_messages.h"
#include "sdk/binding/registry.h"
#include "sdk/diagnostics/format.h"
#include "sdk/host/allocation.h"

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
                    std::vector<PendingRead>& pending) {
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
            std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(firstPending), pending.end());
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

char* CopyText(std::string_view text) noexcept {
    auto* const copy = static_cast<char*>(Memory::Allocate(text.size() + 1));
    if (copy == nullptr) return nullptr;
    if (!text.empty()) std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

bool WriteString(HostValue& target, std::string_view text) noexcept {
    if (text.size() > kMaxHostCount) return false;
    char* const copy = CopyText(text);
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
              std::vector<PendingWrite>& pending) {
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
                record.key = CopyText(name);
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
        std::vector<PendingRead> pending;
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
        std::vector<PendingWrite> pending;
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

}  // namespace Korvo
