// sdk/binding/host_value_conversion.h - between BindingProperty and the
// HostValue records that cross the boundary with the host.
//
// Every payload the plug-in sends is built by ToHostValue; every payload it
// receives is read by ToProperty. Both walk the tree with an explicit stack,
// never recursion, so a value nested a million levels deep costs heap in
// proportion to its size and no stack. Neither throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "sdk/records/host_value.h"
#include "sdk/values/property.h"

namespace Korvo {

class BindingRegistry;
struct BindingFieldDescriptor;
struct BindingTypeDescriptor;

// Reads what the host sent into property (which is replaced). Type codes:
// Null, Bool, Int64, UInt64, Double; String and BorrowedString (the text up
// to its NUL; a null text reads as empty); Binary and BorrowedBinary (a copy
// of the bytes); Array (a Collection) and Object (a Structure; a null key
// reads as the empty name, a later duplicate key replaces the earlier
// member).
//
// Fails on an unknown type code, and on an Array, Object or Binary whose
// count is not 0 but whose pointer is null, or whose count could not fit in
// the address space. A failure leaves property Empty, frees error.value and
// error.message (a message this layer allocated, or null) and fills error:
// message "Couldn't assign value to '<rootName>' of type object because the
// input is of an incompatible type '<name>'." (name of the offending host
// type: "bool", "signed", "unsigned", "float", "string", "blob",
// "collection", "structure", or empty for an unknown code), flag 1. Running
// out of memory fails the same way with "Out of memory while reading
// '<rootName>'.". On success error is not touched.
//
// registry is accepted for symmetry with ToHostValue and may be null.
[[nodiscard]] bool ToProperty(HostValueResult& error, BindingProperty& property, const HostValue& value,
                              std::string_view rootName, const BindingRegistry* registry) noexcept;

// Builds value from property. value is freed first (it must be Null or a
// record this layer built) and then owns every heap part it receives
// (blocks of the allocation layer, released by FreeHostValue). Kinds: Empty
// Null, Bool, Signed Int64, Unsigned UInt64, Float Double, String String
// (copy and length), Blob Binary (copy and count), Enum the enumerator's
// name as a String when registry (may be null) knows one for the number and
// the enum's hash, else Int64; Collection Array; Structure Object with
// owned key copies, in member order. A kind above 9 gives Null.
//
// Returns false, with value Null, when memory runs out or a container has
// more elements than a 32-bit count holds.
[[nodiscard]] bool ToHostValue(HostValue& value, const BindingProperty& property,
                               const BindingRegistry* registry) noexcept;

// ------------------------------------------------ native to host directly

// Writes native values straight into HostValue records, without the
// BindingProperty tree in between: BindingNative<T>::ToHostValue
// (converter.h) walks the native value with one of these. The records come
// out exactly as FromNative followed by ToHostValue would build them - the
// same types, texts, member order (ascending bytewise names) and counts -
// and a conversion fails with the same first message. Members whose value
// has no direct route (a custom converter's, a struct with omit-when-empty
// or duplicate field names) go through a property for that member alone.
//
// Every Write... operation takes a target that is Null and leaves whatever
// it allocated attached to it, also on failure, so freeing the root with
// FreeHostValue releases everything. A false return means the writer has
// failed: with a message (Failed) or for lack of memory (OutOfMemory), as
// ToHostValue fails for a container too large for a 32-bit count. Only the
// custom-converter route may throw (std::bad_alloc from a property).
//
// One writer serves one conversion on one thread.
class HostValueWriter {
public:
    // registry (may be null) names enumerators, as ToHostValue's does.
    explicit HostValueWriter(const BindingRegistry* registry) noexcept : registry_(registry) {}
    HostValueWriter(const HostValueWriter&) = delete;
    HostValueWriter& operator=(const HostValueWriter&) = delete;

    [[nodiscard]] const BindingRegistry* Registry() const noexcept { return registry_; }

    // ---- failures: the first one is kept; each returns false.
    bool Fail(std::string_view message);
    bool FailOutOfMemory() noexcept;
    [[nodiscard]] bool Failed() const noexcept { return state_ == State::Failed; }
    [[nodiscard]] bool OutOfMemory() const noexcept { return state_ == State::OutOfMemory; }
    // The failure's message; empty unless Failed().
    [[nodiscard]] const std::string& Message() const noexcept { return message_; }

    // ---- leaves
    static void WriteBool(HostValue& target, bool value) noexcept;
    static void WriteSigned(HostValue& target, int64_t value) noexcept;
    static void WriteUnsigned(HostValue& target, uint64_t value) noexcept;
    static void WriteDouble(HostValue& target, double value) noexcept;
    // String with a heap copy of text (embedded NULs included) and a NUL.
    bool WriteString(HostValue& target, std::string_view text) noexcept;
    // Binary with a heap copy of bytes (no block for none).
    bool WriteBlob(HostValue& target, std::span<const uint8_t> bytes) noexcept;
    // The enumerator's name when the registry knows one for (typeHash,
    // number), else Int64.
    bool WriteEnum(HostValue& target, int32_t number, uint32_t typeHash);
    // An enum stored in storageSize bytes at source, read as FromNativeEnum
    // reads it.
    bool WriteEnum(HostValue& target, const void* source, size_t storageSize, uint32_t typeHash);
    // A whole property, as ToHostValue writes it.
    bool WriteProperty(HostValue& target, const BindingProperty& property) noexcept;

    // ---- containers: target becomes an Array or Object of count zeroed
    // records (null for none), returned through items or members.
    bool BeginArray(HostValue& target, size_t count, HostValue*& items) noexcept;
    bool BeginObject(HostValue& target, size_t count, HostValueMember*& members) noexcept;
    // Gives a member its owned key (a copy of name, embedded NULs included).
    bool SetKey(HostValueMember& member, std::string_view name) noexcept;

    // ---- registered records
    // The struct at source described by descriptor (null: unregistered).
    bool WriteStruct(HostValue& target, const void* source, const BindingTypeDescriptor* descriptor);
    // The member of field's type at source, as FromNativeField dispatches it.
    bool WriteField(HostValue& target, const void* source, const BindingFieldDescriptor& field);

    // The struct of descriptor as an object, each member's value written by
    // writeMember(field, value) - in registration order, so the first failure
    // is the one a property walk would meet first, each at its name's place.
    // Only for descriptors that WritesDirectly; false at the first member
    // that writeMember fails (or when the object cannot be allocated).
    template <typename WriteMember>
    bool WriteStructMembers(HostValue& target, const BindingTypeDescriptor& descriptor, WriteMember&& writeMember);
    // Whether the members of descriptor's records are written directly
    // (else through a property of the whole record, which
    // WriteStructMembers cannot take part in).
    [[nodiscard]] bool WritesDirectly(const BindingTypeDescriptor& descriptor) noexcept;

private:
    enum class State : uint8_t { Writing, Failed, OutOfMemory };

    // The order of a struct's members: rank[i] is the position of field i
    // among the names sorted bytewise. direct is false for structs that
    // take the property route (omit-when-empty flags, equal names, or more
    // fields than a plan holds).
    static constexpr size_t kPlanFields = 32;
    static constexpr size_t kPlanSlots = 4;
    struct StructPlan {
        const BindingTypeDescriptor* descriptor = nullptr;
        bool direct = false;
        uint8_t rank[kPlanFields] = {};
    };
    const StructPlan& PlanOf(const BindingTypeDescriptor& descriptor) noexcept;
    bool WriteStructViaProperty(HostValue& target, const void* source, const BindingTypeDescriptor* descriptor);
    // WriteStructMembers with the caller's routine behind a plain pointer.
    using MemberWrite = bool (*)(void* context, const BindingFieldDescriptor& field, HostValue& value);
    bool WriteMembersThrough(HostValue& target, const BindingTypeDescriptor& descriptor, void* context,
                             MemberWrite write);

    const BindingRegistry* registry_;
    State state_ = State::Writing;
    std::string message_;
    StructPlan plans_[kPlanSlots];
    size_t nextPlan_ = 0;
};

template <typename WriteMember>
bool HostValueWriter::WriteStructMembers(HostValue& target, const BindingTypeDescriptor& descriptor,
                                         WriteMember&& writeMember) {
    return WriteMembersThrough(target, descriptor, &writeMember,
                               [](void* context, const BindingFieldDescriptor& field, HostValue& value) -> bool {
                                   return (*static_cast<std::remove_reference_t<WriteMember>*>(context))(field, value);
                               });
}

// Implemented by the built-in field converters (BindingNativeConverter<T>,
// converter.h), so that a member of a type that only its converter knows -
// an optional, a container of records - is written directly as well.
class HostValueFieldWriter {
public:
    virtual bool ToHostValue(HostValueWriter& writer, HostValue& target, const void* source,
                             const BindingFieldDescriptor& field) const = 0;

protected:
    ~HostValueFieldWriter() = default;
};

// A HostValue that frees what it holds when it goes (for the direct
// writers' callers).
class OwnedHostValueRecord {
public:
    OwnedHostValueRecord() noexcept = default;
    ~OwnedHostValueRecord() { FreeHostValue(&value_); }
    OwnedHostValueRecord(const OwnedHostValueRecord&) = delete;
    OwnedHostValueRecord& operator=(const OwnedHostValueRecord&) = delete;

    [[nodiscard]] HostValue& Value() noexcept { return value_; }
    // Hands the record over; this one is left Null.
    [[nodiscard]] HostValue Release() noexcept {
        const HostValue value = value_;
        value_ = HostValue{};
        return value;
    }

private:
    HostValue value_{};
};

}  // namespace Korvo
