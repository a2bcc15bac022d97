// sdk/binding/registry.cpp - the registry of native types, events and functions.
#include "sdk/binding/registry.h"

#include <functional>
#include <utility>

#include "sdk/binding/builtin_types.h"

namespace Korvo {

namespace {

bool IsVoidIdentity(const TypeIdentity& identity) noexcept {
    return identity.hash == StaticType::None().hash;
}

void AppendTag(std::vector<std::string>& tags, std::string_view tag) {
    if (!tag.empty()) tags.emplace_back(tag);
}

template <typename Map>
auto FindIn(const Map& map, std::string_view name) -> decltype(map.begin()->second.get()) {
    const auto found = map.find(name);
    return found == map.end() ? nullptr : found->second.get();
}

template <typename T, typename Map>
std::vector<const T*> SnapshotOf(const Map& map) {
    std::vector<const T*> snapshot;
    snapshot.reserve(map.size());
    for (const auto& entry : map) snapshot.push_back(entry.second.get());
    return snapshot;
}

bool SameFields(const BindingTypeDescriptor& first, const BindingTypeDescriptor& second) {
    if (first.fields.size() != second.fields.size()) return false;
    for (size_t index = 0; index < first.fields.size(); ++index) {
        const BindingFieldDescriptor& a = first.fields[index];
        const BindingFieldDescriptor& b = second.fields[index];
        const uint32_t aHash = a.identity != nullptr ? a.identity->hash : 0;
        const uint32_t bHash = b.identity != nullptr ? b.identity->hash : 0;
        if (a.name != b.name || aHash != bHash || a.offset != b.offset || a.flags != b.flags ||
            a.optional != b.optional) {
            return false;
        }
    }
    return true;
}

bool SameEnumerators(const BindingTypeDescriptor& first, const BindingTypeDescriptor& second) {
    if (first.enumerators.size() != second.enumerators.size()) return false;
    auto a = first.enumerators.begin();
    for (auto b = second.enumerators.begin(); b != second.enumerators.end(); ++a, ++b) {
        if (a->first != b->first || a->second.value != b->second.value) return false;
    }
    return true;
}

// Descriptions and tags only document a type: a definition is its native
// type, size and members.
bool SameDefinition(const BindingTypeDescriptor& first, const BindingTypeDescriptor& second) {
    return first.isEnum == second.isEnum && first.size == second.size && first.hash == second.hash &&
           SameFields(first, second) && SameEnumerators(first, second);
}

// "enum of 3 enumerators (A, B, C)" or "record of 2 fields (a, b)", with the
// native type named when it differs between the two definitions.
std::string DescribeDefinition(const BindingTypeDescriptor& type, bool withNativeType) {
    std::string text = type.isEnum ? "an enum of " : "a record of ";
    std::string names;
    size_t count = 0;
    auto append = [&](const std::string& name) {
        if (!names.empty()) names += ", ";
        names += name;
        ++count;
    };
    if (type.isEnum) {
        for (const auto& entry : type.enumerators) append(entry.first);
    } else {
        for (const auto& field : type.fields) append(field.name);
    }
    text += std::to_string(count);
    text += type.isEnum ? (count == 1 ? " enumerator" : " enumerators") : (count == 1 ? " field" : " fields");
    if (!names.empty()) text += " (" + names + ")";
    text += ", " + std::to_string(type.size) + " bytes";
    if (withNativeType) text += ", native type " + std::string(type.identity != nullptr ? type.identity->text : "?");
    return text;
}

}  // namespace

std::string NativeTypeName(std::string_view signature) {
    const size_t start = signature.find("T = ");
    if (start == std::string_view::npos) return std::string(signature);
    std::string_view rest = signature.substr(start + 4);
    // The type ends at the bracket closing the signature's parameter list
    // (or a ';' before further parameters); brackets inside it are its own.
    int depth = 0;
    size_t end = 0;
    for (; end < rest.size(); ++end) {
        const char c = rest[end];
        if (c == '[' || c == '<' || c == '(') ++depth;
        else if ((c == ']' || c == '>' || c == ')') && depth > 0) --depth;
        else if ((c == ']' || c == ';') && depth == 0) break;
    }
    return std::string(rest.substr(0, end));
}

const char* BindingTypeKindName(BindingTypeKind kind) noexcept {
    return KorvoTypeKindName(static_cast<uint32_t>(kind));
}

BindingFieldDescriptor::BindingFieldDescriptor() = default;
BindingFieldDescriptor::BindingFieldDescriptor(BindingFieldDescriptor&&) noexcept = default;
BindingFieldDescriptor& BindingFieldDescriptor::operator=(BindingFieldDescriptor&&) noexcept = default;
BindingFieldDescriptor::~BindingFieldDescriptor() = default;

// ------------------------------------------------------------ descriptors

const BindingEnumerator* BindingTypeDescriptor::FindEnumerator(
    std::string_view enumeratorName) const noexcept {
    const auto found = enumerators.find(enumeratorName);
    return found == enumerators.end() ? nullptr : &found->second;
}

const BindingEnumerator* BindingTypeDescriptor::FindEnumeratorByValue(
    int64_t value) const noexcept {
    for (const auto& entry : enumerators) {
        if (entry.second.value == value) return &entry.second;
    }
    return nullptr;
}

bool BindingTypeDescriptor::HasTag(std::string_view tag) const noexcept {
    for (const auto& own : tags) {
        if (own == tag) return true;
    }
    return false;
}

// --------------------------------------------------------------- builders

BindingTypeBuilder& BindingTypeBuilder::AddField(std::string_view name,
                                                 std::string_view description, uint32_t offset,
                                                 const TypeIdentity& identity,
                                                 BindingTypeRef type, uint32_t flags,
                                                 std::unique_ptr<BindingConverter> converter,
                                                 bool optional, std::string_view missingType) {
    BindingTypeDescriptor* const target = Target();
    if (target == nullptr) return *this;
    // A repeat's fields were reported with its first definition.
    if (!missingType.empty() && !alreadyRegistered_) {
        registry_->ReportRegistrationProblem(
            "Field '" + std::string(name) + "' of type '" + descriptor_->name + "' refers to '" +
            std::string(missingType) +
            "', which is not registered yet: its values will not convert. Register '" + std::string(missingType) +
            "' (a record or enum) before '" + descriptor_->name + "'.");
    }
    BindingFieldDescriptor field;
    field.name.assign(name);
    field.nameHash = Fnv1a(name);
    field.description.assign(description);
    field.identity = &identity;
    field.offset = offset;
    field.type = type;
    field.flags = flags;
    field.converter = std::move(converter);
    field.registry = registry_;
    field.optional = optional;
    target->fields.push_back(std::move(field));
    return *this;
}

BindingTypeBuilder& BindingTypeBuilder::AddEnumerator(std::string_view name, int32_t value,
                                                      std::string_view description) {
    BindingTypeDescriptor* const target = Target();
    if (target == nullptr) return *this;
    BindingEnumerator enumerator;
    enumerator.name.assign(name);
    enumerator.description.assign(description);
    enumerator.value = value;
    enumerator.registry = registry_;
    target->enumerators.emplace(std::string(name), std::move(enumerator));
    return *this;
}

BindingTypeBuilder& BindingTypeBuilder::SetDescription(std::string_view description) {
    if (!alreadyRegistered_) descriptor_->description.assign(description);
    return *this;
}

BindingTypeBuilder& BindingTypeBuilder::SetNamespace(std::string_view nameSpace) {
    if (!alreadyRegistered_) descriptor_->nameSpace.assign(nameSpace);
    return *this;
}

BindingTypeBuilder& BindingTypeBuilder::AddTag(std::string_view tag) {
    if (!alreadyRegistered_) AppendTag(descriptor_->tags, tag);
    return *this;
}

BindingEventBuilder& BindingEventBuilder::SetDescription(std::string_view description) {
    if (!alreadyRegistered_) descriptor_->description.assign(description);
    return *this;
}

BindingEventBuilder& BindingEventBuilder::SetNamespace(std::string_view nameSpace) {
    if (!alreadyRegistered_) descriptor_->nameSpace.assign(nameSpace);
    return *this;
}

BindingEventBuilder& BindingEventBuilder::AddTag(std::string_view tag) {
    if (!alreadyRegistered_) AppendTag(descriptor_->tags, tag);
    return *this;
}

BindingFunctionBuilder& BindingFunctionBuilder::SetArgument(uint32_t index, std::string_view name,
                                                            std::string_view description,
                                                            BindingTypeRef type, bool optional) {
    if (alreadyRegistered_ || index >= descriptor_->arguments.size()) return *this;
    BindingArgumentDescriptor& argument = descriptor_->arguments[index];
    argument.name.assign(name);
    argument.nameHash = Fnv1a(name);
    argument.description.assign(description);
    argument.type = type;
    argument.optional = optional;
    return *this;
}

BindingFunctionBuilder& BindingFunctionBuilder::SetReturnType(BindingTypeRef type) {
    if (!alreadyRegistered_) descriptor_->returnType = type;
    return *this;
}

BindingFunctionBuilder& BindingFunctionBuilder::SetDescription(std::string_view description) {
    if (!alreadyRegistered_) descriptor_->description.assign(description);
    return *this;
}

BindingFunctionBuilder& BindingFunctionBuilder::SetHelp(std::string_view help) {
    if (!alreadyRegistered_) descriptor_->help.assign(help);
    return *this;
}

BindingFunctionBuilder& BindingFunctionBuilder::SetNamespace(std::string_view nameSpace) {
    if (!alreadyRegistered_) descriptor_->nameSpace.assign(nameSpace);
    return *this;
}

BindingFunctionBuilder& BindingFunctionBuilder::SetThreadSafe(bool threadSafe) {
    if (!alreadyRegistered_) descriptor_->threadSafe = threadSafe;
    return *this;
}

BindingFunctionBuilder& BindingFunctionBuilder::SetAsync(bool async) {
    if (!alreadyRegistered_) descriptor_->async = async;
    return *this;
}

BindingFunctionBuilder& BindingFunctionBuilder::AddTag(std::string_view tag) {
    if (!alreadyRegistered_) AppendTag(descriptor_->tags, tag);
    return *this;
}

// --------------------------------------------------------------- registry

size_t BindingRegistry::NameHash::operator()(std::string_view text) const noexcept {
    return std::hash<std::string_view>{}(text);
}

BindingRegistry::BindingRegistry() = default;

BindingRegistry::~BindingRegistry() {
    std::lock_guard<std::mutex> lock(mutex_);
    RemoveAllLocked();
}

BindingTypeBuilder BindingRegistry::RegisterType(std::string_view name, uint32_t size,
                                                 const TypeIdentity& identity, bool isEnum) {
    auto descriptor = std::make_unique<BindingTypeDescriptor>();
    descriptor->size = size;
    descriptor->isEnum = isEnum;
    descriptor->name.assign(name);
    descriptor->hash = identity.hash;
    descriptor->identity = &identity;
    descriptor->registry = this;
    std::lock_guard<std::mutex> lock(mutex_);
    if (const auto found = types_.find(name); found != types_.end()) {
        // The second definition is built aside, so that it can be compared.
        BindingTypeDescriptor* const repeat = descriptor.get();
        typeRepeats_.push_back(TypeRepeat{found->second.get(), std::move(descriptor)});
        return BindingTypeBuilder(this, found->second.get(), true, repeat);
    }
    BindingTypeDescriptor* const entered = descriptor.get();
    types_.emplace(std::string(name), std::move(descriptor));
    if (!IsVoidIdentity(identity)) typesByHash_.emplace(identity.hash, entered);
    return BindingTypeBuilder(this, entered, false);
}

BindingEventBuilder BindingRegistry::RegisterEvent(std::string_view name,
                                                   const TypeIdentity& payload) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (const auto found = events_.find(name); found != events_.end()) {
        return BindingEventBuilder(found->second.get(), true);
    }
    auto descriptor = std::make_unique<BindingEventDescriptor>();
    descriptor->name.assign(name);
    descriptor->payloadIdentity = &payload;
    if (const auto type = typesByHash_.find(payload.hash); type != typesByHash_.end()) {
        descriptor->payload = type->second;
    }
    descriptor->registry = this;
    BindingEventDescriptor* const entered = descriptor.get();
    events_.emplace(std::string(name), std::move(descriptor));
    return BindingEventBuilder(entered, false);
}

BindingFunctionBuilder BindingRegistry::RegisterFunction(std::string_view name,
                                                         uint32_t argumentCount) {
    auto descriptor = std::make_unique<BindingFunctionDescriptor>();
    descriptor->name.assign(name);
    descriptor->arguments.resize(argumentCount);
    descriptor->registry = this;
    std::lock_guard<std::mutex> lock(mutex_);
    if (const auto found = functions_.find(name); found != functions_.end()) {
        return BindingFunctionBuilder(found->second.get(), true);
    }
    BindingFunctionDescriptor* const entered = descriptor.get();
    functions_.emplace(std::string(name), std::move(descriptor));
    ++changeCount_;
    return BindingFunctionBuilder(entered, false);
}

const BindingTypeDescriptor* BindingRegistry::FindType(const TypeIdentity& identity) const {
    return FindTypeByHash(identity.hash);
}

const BindingTypeDescriptor* BindingRegistry::FindTypeByHash(uint32_t hash) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = typesByHash_.find(hash);
    return found == typesByHash_.end() ? nullptr : found->second;
}

const BindingTypeDescriptor* BindingRegistry::FindTypeByName(std::string_view name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return FindIn(types_, name);
}

const BindingEventDescriptor* BindingRegistry::FindEvent(std::string_view name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return FindIn(events_, name);
}

const BindingFunctionDescriptor* BindingRegistry::FindFunction(std::string_view name) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return FindIn(functions_, name);
}

const char* BindingRegistry::FindEnumeratorName(uint32_t enumHash, int32_t value) const {
    const BindingTypeDescriptor* const type = FindTypeByHash(enumHash);
    if (type == nullptr) return nullptr;
    const BindingEnumerator* const enumerator = type->FindEnumeratorByValue(value);
    return enumerator == nullptr ? nullptr : enumerator->name.c_str();
}

std::vector<const BindingFunctionDescriptor*> BindingRegistry::FunctionsSnapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return SnapshotOf<BindingFunctionDescriptor>(functions_);
}

std::vector<const BindingEventDescriptor*> BindingRegistry::EventsSnapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return SnapshotOf<BindingEventDescriptor>(events_);
}

std::vector<const BindingTypeDescriptor*> BindingRegistry::TypesSnapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return SnapshotOf<BindingTypeDescriptor>(types_);
}

bool BindingRegistry::RemoveFunction(std::string_view name) {
    std::unique_ptr<BindingFunctionDescriptor> removed;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = functions_.find(name);
        if (found == functions_.end()) return false;
        removed = std::move(found->second);
        functions_.erase(found);
        ++changeCount_;
    }
    return true;
}

bool BindingRegistry::RemoveEvent(std::string_view name) {
    std::unique_ptr<BindingEventDescriptor> removed;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = events_.find(name);
        if (found == events_.end()) return false;
        removed = std::move(found->second);
        events_.erase(found);
    }
    return true;
}

bool BindingRegistry::RemoveType(std::string_view name) {
    std::unique_ptr<BindingTypeDescriptor> removed;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = types_.find(name);
        if (found == types_.end()) return false;
        removed = std::move(found->second);
        types_.erase(found);
        // Only drop the identity entry if it is this type's: the same native
        // type may have been registered under a second name.
        const auto byHash = typesByHash_.find(removed->hash);
        if (byHash != typesByHash_.end() && byHash->second == removed.get()) {
            typesByHash_.erase(byHash);
        }
        std::erase_if(typeRepeats_, [&](const TypeRepeat& repeat) { return repeat.first == removed.get(); });
    }
    return true;
}

void BindingRegistry::RemoveAllLocked() {
    typeRepeats_.clear();
    events_.clear();
    typesByHash_.clear();
    types_.clear();
    changeCount_ += static_cast<uint32_t>(functions_.size());
    functions_.clear();
}

void BindingRegistry::Initialise() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (initialised_) RemoveAllLocked();
    }
    RegisterBuiltins(*this);
    RegisterEvent("OnCallback", StaticType::HashCode<BindingCallbackEvent>())
        .SetDescription("Fired when a callback is invoked.")
        .AddTag("$builtin");
    std::lock_guard<std::mutex> lock(mutex_);
    initialised_ = true;
}

bool BindingRegistry::IsInitialised() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return initialised_;
}

uint32_t BindingRegistry::ChangeCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return changeCount_;
}

void BindingRegistry::ReportRegistrationProblem(std::string text) {
    std::lock_guard<std::mutex> lock(mutex_);
    problems_.push_back(std::move(text));
}

std::vector<std::string> BindingRegistry::TakeRegistrationProblems() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const TypeRepeat& repeat : typeRepeats_) {
        const BindingTypeDescriptor& first = *repeat.first;
        const BindingTypeDescriptor& second = *repeat.second;
        if (SameDefinition(first, second)) continue;
        const bool otherNative = first.hash != second.hash;
        problems_.push_back("Type '" + first.name + "' is registered twice with different definitions: the first, " +
                            DescribeDefinition(first, otherNative) + ", stays; the second, " +
                            DescribeDefinition(second, otherNative) +
                            ", is ignored. Register each type once, or give the second one another name.");
    }
    typeRepeats_.clear();
    return std::exchange(problems_, {});
}

}  // namespace Korvo
