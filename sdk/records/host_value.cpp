#include "sdk/records/host_value.h"

#include <cstring>

#include "sdk/allocation/allocation.h"

namespace Korvo {

namespace {

constexpr uint32_t Code(HostValueType type) noexcept { return static_cast<uint32_t>(type); }

bool IsContainer(const HostValue& value) noexcept {
    return value.type == Code(HostValueType::Array) || value.type == Code(HostValueType::Object);
}

// Frees what a record that is not a container owns.
void FreeLeaf(HostValue& value) noexcept {
    if (value.type == Code(HostValueType::String)) {
        Memory::Free(value.data.string.text);
    } else if (value.type == Code(HostValueType::Binary)) {
        Memory::Free(value.data.binary.bytes);
    }
}

// The value record of item index of a container's array.
HostValue* ItemAt(uint32_t type, void* items, uint32_t index) noexcept {
    if (type == Code(HostValueType::Array)) return static_cast<HostValue*>(items) + index;
    return &(static_cast<HostValueMember*>(items) + index)->value;
}

// The start of the array that holds slot as its item index (inverse of ItemAt).
void* ItemsOf(uint32_t type, HostValue* slot, uint32_t index) noexcept {
    if (type == Code(HostValueType::Array)) return slot - index;
    auto* member = reinterpret_cast<HostValueMember*>(reinterpret_cast<unsigned char*>(slot) -
                                                      offsetof(HostValueMember, value));
    return member - index;
}

}  // namespace

// Items are freed from the last to the first. Descending into a nested
// container stores the way back in that container's own record, which is no
// longer needed once its array pointer and count are held here: the type
// word keeps the parent's type, the pointer the parent's own record, the
// count the item's index (so the parent's array start is found again from
// the record's address). Nothing is allocated and the stack does not grow.
void FreeHostValue(HostValue* root) noexcept {
    if (root == nullptr) return;
    if (!IsContainer(*root)) {
        FreeLeaf(*root);
        std::memset(static_cast<void*>(root), 0, sizeof(HostValue));
        return;
    }
    HostValue* slot = root;  // the record of the container being emptied
    uint32_t type = root->type;
    void* items = type == Code(HostValueType::Array) ? static_cast<void*>(root->data.array.items)
                                                    : static_cast<void*>(root->data.object.members);
    uint32_t remaining = type == Code(HostValueType::Array) ? root->data.array.count : root->data.object.count;
    for (;;) {
        bool descended = false;
        while (remaining != 0 && items != nullptr) {
            const uint32_t index = remaining - 1;
            if (type == Code(HostValueType::Object)) {
                HostValueMember& member = static_cast<HostValueMember*>(items)[index];
                if (member.ownsKey != 0) Memory::Free(member.key);
                member.key = nullptr;
                member.ownsKey = 0;
            }
            HostValue* item = ItemAt(type, items, index);
            if (IsContainer(*item)) {
                const uint32_t itemType = item->type;
                void* itemItems = itemType == Code(HostValueType::Array) ? static_cast<void*>(item->data.array.items)
                                                                         : static_cast<void*>(item->data.object.members);
                const uint32_t itemCount = itemType == Code(HostValueType::Array) ? item->data.array.count
                                                                                   : item->data.object.count;
                item->type = type;
                item->data.array.items = slot;
                item->data.array.count = index;
                slot = item;
                type = itemType;
                items = itemItems;
                remaining = itemCount;
                descended = true;
                break;
            }
            FreeLeaf(*item);
            remaining = index;
        }
        if (descended) continue;
        Memory::Free(items);
        if (slot == root) break;
        // Back to the parent, which continues below the item just emptied.
        HostValue* child = slot;
        const uint32_t parentType = child->type;
        const uint32_t index = child->data.array.count;
        slot = child->data.array.items;
        type = parentType;
        items = ItemsOf(parentType, child, index);
        remaining = index;
    }
    std::memset(static_cast<void*>(root), 0, sizeof(HostValue));
}

}  // namespace Korvo
