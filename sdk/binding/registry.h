// sdk/binding/registry.h - the registry of native types, events and functions.
//
// Features make their native records, enums, events and functions known to
// the binding layer at start-up; conversion (to_native.h, from_native.h)
// walks the field lists kept here, and the transport finds functions and
// argument types here and describes them to the host.
//
// Registration is register-once: RegisterType/RegisterEvent/RegisterFunction
// return a builder that says whether the name was already taken, and every
// builder operation leaves the registered element alone in that case, so a
// registration routine may run any number of times and only its first run
// defines the element.
//
// What a plug-in author gets wrong at registration is collected, not thrown
// or logged here: registration runs while the plug-in loads, before the
// host's log target exists, so the plug-in base takes the problems
// (TakeRegistrationProblems) and logs them once the host listens. A type
// registered again is built aside and compared with the first definition
// when the problems are taken; a field whose record or enum is not
// registered yet is reported as it is added.
//
// Threads: one mutex guards the four maps for each single lookup, insertion
// or removal. Descriptors returned by lookups are used afterwards without the
// lock, so registration and removal must not overlap conversions that use
// the same descriptors (all registration runs on the start-up thread).
// Builders change their descriptor without the lock for the same reason.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sdk/binding/type_identity.h"
#include "sdk/contract/korvo_plugin.h"
#include "sdk/values/property.h"

namespace Korvo {

class BindingConverter;
class BindingRegistry;
struct BindingTypeDescriptor;
struct BindingFieldDescriptor;

// The native kind of a field, argument or result. The numbers travel to the
// host unchanged in the API description records.
enum class BindingTypeKind : uint32_t {
    None = KORVO_KIND_NONE,
    Bool = KORVO_KIND_BOOL,
    Int8 = KORVO_KIND_INT8,
    UInt8 = KORVO_KIND_UINT8,
    Int16 = KORVO_KIND_INT16,
    UInt16 = KORVO_KIND_UINT16,
    Int32 = KORVO_KIND_INT32,
    UInt32 = KORVO_KIND_UINT32,
    Int64 = KORVO_KIND_INT64,
    UInt64 = KORVO_KIND_UINT64,
    Float = KORVO_KIND_FLOAT,
    Double = KORVO_KIND_DOUBLE,
    String = KORVO_KIND_STRING,
    Object = KORVO_KIND_OBJECT,  // a BindingProperty held natively
    Blob = KORVO_KIND_BLOB,      // a byte vector
    Vector = KORVO_KIND_VECTOR,
    Enum = KORVO_KIND_ENUM,
    Struct = KORVO_KIND_STRUCT,
    Callback = KORVO_KIND_CALLBACK,
    Map = KORVO_KIND_MAP,        // string keys
};

// "bool", "int8", ... "map"; the empty text for any other number.
const char* BindingTypeKindName(BindingTypeKind kind) noexcept;

// The type named by a StaticType::Name<T>() text ("T = Type" inside its
// brackets, as GCC and Clang write it), or the whole text when it has no
// such part.
std::string NativeTypeName(std::string_view signature);

// What a field, argument or result holds. For vector and map, elementKind is
// the kind of the elements (None otherwise). descriptor is the registered
// struct or enum type for kinds Struct and Enum, and for containers whose
// innermost elements are structs or enums; null otherwise (and null when the
// type was not registered before it was referred to).
struct BindingTypeRef {
    BindingTypeKind kind = BindingTypeKind::None;
    BindingTypeKind elementKind = BindingTypeKind::None;
    const BindingTypeDescriptor* descriptor = nullptr;
};

namespace BindingFieldFlag {
// Native to value: a member whose converted value is empty is not written.
inline constexpr uint32_t kOmitWhenEmpty = 1u << 0;
// Value to native: a missing or Empty member is an error.
inline constexpr uint32_t kRequired = 1u << 1;
}  // namespace BindingFieldFlag

// One member of a registered struct.
struct BindingFieldDescriptor {
    std::string name;
    uint32_t nameHash = 0;                 // FNV-1a of name
    std::string description;
    const TypeIdentity* identity = nullptr;  // of the member's native type
    uint32_t offset = 0;                   // of the member inside the record
    BindingTypeRef type;
    uint32_t flags = 0;                    // BindingFieldFlag bits
    std::unique_ptr<BindingConverter> converter;  // owned; may be null
    BindingRegistry* registry = nullptr;
    bool optional = false;                 // the member is a std::optional

    BindingFieldDescriptor();
    BindingFieldDescriptor(BindingFieldDescriptor&&) noexcept;
    BindingFieldDescriptor& operator=(BindingFieldDescriptor&&) noexcept;
    ~BindingFieldDescriptor();
};

struct BindingEnumerator {
    std::string name;
    std::string description;
    int32_t value = 0;
    BindingRegistry* registry = nullptr;
};

// One registered struct or enum type. Owned by the registry.
struct BindingTypeDescriptor {
    uint32_t size = 0;          // native size; an enum's storage size (1, 2, 4, 8)
    bool isEnum = false;
    std::string name;           // the registry's key
    std::string nameSpace;
    uint32_t hash = 0;          // identity->hash
    const TypeIdentity* identity = nullptr;
    std::string description;
    std::vector<std::string> tags;
    std::vector<BindingFieldDescriptor> fields;  // structs, in registration order
    // Enums: by name, in byte order of the names.
    std::map<std::string, BindingEnumerator, std::less<>> enumerators;
    BindingRegistry* registry = nullptr;

    // The enumerator called name, or null.
    const BindingEnumerator* FindEnumerator(std::string_view enumeratorName) const noexcept;
    // The first enumerator in name order whose value is value, or null.
    const BindingEnumerator* FindEnumeratorByValue(int64_t value) const noexcept;
    bool HasTag(std::string_view tag) const noexcept;
};

struct BindingEventDescriptor {
    std::string name;
    std::string nameSpace;
    const TypeIdentity* payloadIdentity = nullptr;
    const BindingTypeDescriptor* payload = nullptr;  // found by identity; may be null
    std::string description;
    std::vector<std::string> tags;
    BindingRegistry* registry = nullptr;
};

struct BindingArgumentDescriptor {
    std::string name;
    uint32_t nameHash = 0;
    std::string description;
    BindingTypeRef type;          // derived from the native signature
    BindingTypeRef declaredType;  // declared explicitly; used when its kind is not None
    bool optional = false;
    std::string details;          // further description data the transport may attach

    // declaredType when its kind is set, else type.
    const BindingTypeRef& EffectiveType() const noexcept {
        return declaredType.kind != BindingTypeKind::None ? declaredType : type;
    }
};

struct BindingFunctionDescriptor {
    std::string name;
    std::string nameSpace;
    std::string description;
    std::string help;
    bool threadSafe = false;
    bool async = false;
    BindingTypeRef returnType;          // derived from the native signature
    BindingTypeRef declaredReturnType;  // used when its kind is not None
    std::vector<std::string> tags;
    std::vector<BindingArgumentDescriptor> arguments;  // sized at registration
    BindingRegistry* registry = nullptr;

    const BindingTypeRef& EffectiveReturnType() const noexcept {
        return declaredReturnType.kind != BindingTypeKind::None ? declaredReturnType
                                                                : returnType;
    }
};

// Builds a registered struct or enum. Every operation does nothing when the
// type already existed before RegisterType.
class BindingTypeBuilder {
public:
    // repeat, for a name already registered, is where the second definition
    // is built for comparison (owned by the registry; may be null).
    BindingTypeBuilder(BindingRegistry* registry, BindingTypeDescriptor* descriptor,
                       bool alreadyRegistered, BindingTypeDescriptor* repeat = nullptr) noexcept
        : registry_(registry), descriptor_(descriptor), alreadyRegistered_(alreadyRegistered),
          repeat_(repeat) {}

    BindingRegistry* Registry() const noexcept { return registry_; }
    BindingTypeDescriptor* Descriptor() const noexcept { return descriptor_; }
    bool AlreadyRegistered() const noexcept { return alreadyRegistered_; }

    // Appends a field. The builder takes the converter (kept only with the
    // comparison copy when the type already existed). missingType, when not
    // empty, names the record or enum the field refers to that is not
    // registered: the registry records that as a problem.
    BindingTypeBuilder& AddField(std::string_view name, std::string_view description,
                                 uint32_t offset, const TypeIdentity& identity,
                                 BindingTypeRef type, uint32_t flags,
                                 std::unique_ptr<BindingConverter> converter,
                                 bool optional = false, std::string_view missingType = {});
    // Inserts an enumerator; a name already present keeps its first value.
    BindingTypeBuilder& AddEnumerator(std::string_view name, int32_t value,
                                      std::string_view description = {});
    BindingTypeBuilder& SetDescription(std::string_view description);
    BindingTypeBuilder& SetNamespace(std::string_view nameSpace);
    // Appends tag unless it is empty.
    BindingTypeBuilder& AddTag(std::string_view tag);

private:
    // The descriptor builder operations change: the registered one for a
    // new type, the comparison copy for a repeat (null without one).
    BindingTypeDescriptor* Target() const noexcept { return alreadyRegistered_ ? repeat_ : descriptor_; }

    BindingRegistry* registry_;
    BindingTypeDescriptor* descriptor_;
    bool alreadyRegistered_;
    BindingTypeDescriptor* repeat_;
};

class BindingEventBuilder {
public:
    BindingEventBuilder(BindingEventDescriptor* descriptor, bool alreadyRegistered) noexcept
        : descriptor_(descriptor), alreadyRegistered_(alreadyRegistered) {}

    BindingEventDescriptor* Descriptor() const noexcept { return descriptor_; }
    bool AlreadyRegistered() const noexcept { return alreadyRegistered_; }

    BindingEventBuilder& SetDescription(std::string_view description);
    BindingEventBuilder& SetNamespace(std::string_view nameSpace);
    BindingEventBuilder& AddTag(std::string_view tag);

private:
    BindingEventDescriptor* descriptor_;
    bool alreadyRegistered_;
};

class BindingFunctionBuilder {
public:
    BindingFunctionBuilder(BindingFunctionDescriptor* descriptor, bool alreadyRegistered) noexcept
        : descriptor_(descriptor), alreadyRegistered_(alreadyRegistered) {}

    BindingFunctionDescriptor* Descriptor() const noexcept { return descriptor_; }
    bool AlreadyRegistered() const noexcept { return alreadyRegistered_; }

    // Fills argument slot index (ignored when index is outside the slots).
    BindingFunctionBuilder& SetArgument(uint32_t index, std::string_view name,
                                        std::string_view description, BindingTypeRef type,
                                        bool optional = false);
    BindingFunctionBuilder& SetReturnType(BindingTypeRef type);
    BindingFunctionBuilder& SetDescription(std::string_view description);
    BindingFunctionBuilder& SetHelp(std::string_view help);
    BindingFunctionBuilder& SetNamespace(std::string_view nameSpace);
    BindingFunctionBuilder& SetThreadSafe(bool threadSafe);
    BindingFunctionBuilder& SetAsync(bool async);
    BindingFunctionBuilder& AddTag(std::string_view tag);

private:
    BindingFunctionDescriptor* descriptor_;
    bool alreadyRegistered_;
};

class BindingRegistry {
public:
    BindingRegistry();
    virtual ~BindingRegistry();
    BindingRegistry(const BindingRegistry&) = delete;
    BindingRegistry& operator=(const BindingRegistry&) = delete;

    // A new type is entered by name, and by identity unless identity is that
    // of void (a native type already entered by identity under another name
    // keeps that entry). An existing name returns its descriptor, flagged.
    BindingTypeBuilder RegisterType(std::string_view name, uint32_t size,
                                    const TypeIdentity& identity, bool isEnum);
    // A new event is entered by name; its payload type is found by identity
    // now, so the payload type must be registered first.
    BindingEventBuilder RegisterEvent(std::string_view name, const TypeIdentity& payload);
    // A new function gets argumentCount empty argument slots and bumps the
    // change counter; an existing name returns its descriptor, flagged.
    BindingFunctionBuilder RegisterFunction(std::string_view name, uint32_t argumentCount);

    // Lookups: null when absent.
    const BindingTypeDescriptor* FindType(const TypeIdentity& identity) const;
    const BindingTypeDescriptor* FindTypeByHash(uint32_t hash) const;
    const BindingTypeDescriptor* FindTypeByName(std::string_view name) const;
    const BindingEventDescriptor* FindEvent(std::string_view name) const;
    const BindingFunctionDescriptor* FindFunction(std::string_view name) const;

    // The name of the first enumerator, in name order, of the enum with
    // identity hash enumHash whose value is value; null when there is none.
    // The text lives as long as the type.
    const char* FindEnumeratorName(uint32_t enumHash, int32_t value) const;

    // Copies of the name maps' contents, in the maps' order.
    std::vector<const BindingFunctionDescriptor*> FunctionsSnapshot() const;
    std::vector<const BindingEventDescriptor*> EventsSnapshot() const;
    std::vector<const BindingTypeDescriptor*> TypesSnapshot() const;

    // Removal frees the element (a type with its field converters). Types
    // whose fields refer to a removed type are left pointing at it: remove
    // them too. False when the name is unknown.
    bool RemoveFunction(std::string_view name);
    bool RemoveEvent(std::string_view name);
    bool RemoveType(std::string_view name);

    // Registers the builtin help and asynchronous-operation types and the
    // event "OnCallback". A second call first removes every event, then
    // every type, then every function, so only the builtins remain.
    void Initialise();
    bool IsInitialised() const;

    // Bumped by every function registration and removal.
    uint32_t ChangeCount() const;

    // Records a registration mistake: one sentence naming what is wrong, the
    // names involved and what to do.
    void ReportRegistrationProblem(std::string text);
    // Compares every type registered again with its first definition, then
    // hands over (and forgets) the problems recorded so far, in order.
    std::vector<std::string> TakeRegistrationProblems();

private:
    struct NameHash {
        using is_transparent = void;
        size_t operator()(std::string_view text) const noexcept;
    };
    template <typename T>
    using NameMap = std::unordered_map<std::string, std::unique_ptr<T>, NameHash, std::equal_to<>>;

    void RemoveAllLocked();

    mutable std::mutex mutex_;  // guards the four maps, the counter and the flag
    NameMap<BindingFunctionDescriptor> functions_;
    uint32_t changeCount_ = 0;
    NameMap<BindingEventDescriptor> events_;
    NameMap<BindingTypeDescriptor> types_;
    std::unordered_map<uint32_t, BindingTypeDescriptor*> typesByHash_;
    bool initialised_ = false;
    // A type registered again: the registered descriptor and the second
    // definition, built aside until the problems are taken.
    struct TypeRepeat {
        const BindingTypeDescriptor* first = nullptr;
        std::unique_ptr<BindingTypeDescriptor> second;
    };
    std::vector<TypeRepeat> typeRepeats_;
    std::vector<std::string> problems_;
};

// The abstract converter of one field's native type, owned by the field
// descriptor. ToNative converts a value into the native member at
// destination; FromNative converts the native member at source into
// result's property. Both follow the failure rules of to_native.h: nothing is
// done once result has failed, and the first failure is the one kept.
// The built-in classes (converter.h) forward to the conversion routines.
class BindingConverter {
public:
    virtual void ToNative(BindingResult& result, void* destination, const BindingProperty& input,
                          std::string_view name, const BindingFieldDescriptor& field) const = 0;
    virtual void FromNative(BindingResult& result, const void* source,
                            const BindingFieldDescriptor& field) const = 0;
    virtual ~BindingConverter() = default;
};

}  // namespace Korvo
