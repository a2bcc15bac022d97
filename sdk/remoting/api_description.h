// sdk/remoting/api_description.h - the packed records that describe the
// plug-in's API to the host: functions with their arguments, struct and enum
// types with their fields or enumerators, and events.
//
// \file
// Built once at load from snapshots of the registry, then read-only and
// readable from any thread. Each kind of record lies in one contiguous array
// whose records are also chained through their next field (null after the last).
// Texts point into the registry's descriptors (which must outlive the
// records and stay unchanged) or at one static empty text, never null. Kind
// fields carry BindingTypeKind numbers 1 to 19, any other value as 0; type
// names are given for vector, enum, struct and map kinds with a known
// descriptor, else the empty text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

#include "sdk/binding/registry.h"
#include "sdk/contract/records.h"

namespace Korvo {

// The six words of a description: the three arrays and their counts.
struct ApiDescription {
    const HostFunctionDescription* functions = nullptr;
    uint32_t functionCount = 0;
    const HostTypeDescription* types = nullptr;
    uint32_t typeCount = 0;
    const HostEventDescription* events = nullptr;
    uint32_t eventCount = 0;
};

// Links each of count consecutive description records to the one after it,
// and the last to null: the records of one array are also a chain. The link
// is at offset 0, in a function record's embedded description. (Assigned in
// place: the records are packed, so their fields take no reference.)
template <typename Record>
void ChainRecords(Record* first, size_t count) noexcept {
    for (size_t index = 0; index < count; ++index) {
        Record* following = index + 1 < count ? &first[index + 1] : nullptr;
        if constexpr (std::is_same_v<Record, HostFunctionRecord>) {
            first[index].description.next = following;
        } else {
            first[index].next = following;
        }
    }
}

// Owns the records of the last description it built.
class ApiDescriptionBuilder {
public:
    // Rebuilds every array from the three snapshots (in their order);
    // records of an earlier call are freed. Throws only std::bad_alloc.
    ApiDescription BuildDescription(std::span<const BindingFunctionDescriptor* const> functions,
                                    std::span<const BindingTypeDescriptor* const> types,
                                    std::span<const BindingEventDescriptor* const> events);

    // The function record named name, or null.
    const HostFunctionDescription* FindFunction(std::string_view name) const noexcept;

    // The static empty text of every record.
    static const char* EmptyText() noexcept;

private:
    std::vector<HostFunctionDescription> functions_;
    std::vector<HostArgumentDescription> arguments_;
    std::vector<HostTypeDescription> types_;
    std::vector<HostFieldDescription> fields_;
    std::vector<HostEnumeratorDescription> enumerators_;
    std::vector<HostEventDescription> events_;
    std::vector<const char*> tags_;  // every tag array, back to back
};

}  // namespace Korvo
