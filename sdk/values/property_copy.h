// sdk/values/property_copy.h - BindingProperty's copying a tree, and comparing two.
//
// Part of BindingProperty::Operations (property_operations.h, which includes
// this file at its end). Defined inline: the public members call these on
// every insert, append and release, and a call into another translation
// unit costs the readers measurably.
#pragma once

namespace Korvo {

inline InternedString* BindingProperty::Operations::InternCopy(PropertyArena* arena, const BindingProperty& source, const InternedString* entry) {
    auto* mutableEntry = const_cast<InternedString*>(entry);
    if (entry == detail::EmptyInternedString()) return mutableEntry;
    if (source.arena_ == arena) {
        arena->AddReference(mutableEntry);
        return mutableEntry;
    }
    return arena->Intern(entry->View(), entry->hash);
}

// Copies one node into an Empty target whose arena is set when the
// source needs one; children that have payloads of their own are left
// Empty and queued. The target stays a valid tree if this throws.
inline void BindingProperty::Operations::CopyNode(BindingProperty& target, const BindingProperty& source, CopyWork& work) {
    switch (source.kind_) {
        case kString:
            target.payload_ = Payload(InternCopy(target.arena_, source, source.StringEntry()));
            target.kind_ = kString;
            return;
        case kBlob: {
            void* cell = target.arena_->Allocate(sizeof(Blob));
            try {
                new (cell) Blob(*source.Pointer<const Blob>());
            } catch (...) {
                target.arena_->Release(cell, sizeof(Blob));
                throw;
            }
            target.arena_->CountBlob(1);
            target.payload_ = Payload(cell);
            target.kind_ = kBlob;
            return;
        }
        case kEnum: {
            void* cell = target.arena_->Allocate(sizeof(BindingEnumValue));
            new (cell) BindingEnumValue(*source.Pointer<const BindingEnumValue>());
            target.payload_ = Payload(cell);
            target.kind_ = kEnum;
            return;
        }
        case kCollection: {
            const auto* from = source.Pointer<const CollectionHeader>();
            CollectionHeader* to = NewCollection(*target.arena_, from->size);
            target.payload_ = Payload(to);
            target.kind_ = kCollection;
            for (uint32_t i = 0; i < from->size; ++i) {
                const BindingProperty& element = from->Elements()[i];
                BindingProperty* copy = new (&to->Elements()[i]) BindingProperty(detail::ChildTag{}, target.arena_);
                ++to->size;
                if (element.HasHeapPayload()) {
                    work.emplace_back(copy, &element);
                } else {
                    copy->payload_ = element.payload_;
                    copy->kind_ = element.kind_;
                }
            }
            return;
        }
        case kStructure: {
            const auto* from = source.Pointer<const StructureHeader>();
            StructureHeader* to = NewStructure(*target.arena_, from->size);
            target.payload_ = Payload(to);
            target.kind_ = kStructure;
            // In name order, so the copy is one run.
            for (auto at = source.Members().begin(), end = source.Members().end(); at != end; ++at) {
                const BindingProperty& member = at.Value();
                InternedString* copiedName = InternCopy(target.arena_, source, at.Cell()->name);
                MemberCell* cell;
                try {
                    cell = static_cast<MemberCell*>(target.arena_->Allocate(sizeof(MemberCell)));
                } catch (...) {
                    target.arena_->ReleaseString(copiedName);
                    throw;
                }
                cell->name = copiedName;
                new (&cell->value) BindingProperty(detail::ChildTag{}, target.arena_);
                to->Index()[to->size++] = cell;
                to->sorted = to->size;
                BindingProperty& copy = cell->value;
                if (member.HasHeapPayload()) {
                    work.emplace_back(&copy, &member);
                } else {
                    copy.payload_ = member.payload_;
                    copy.kind_ = member.kind_;
                }
            }
            return;
        }
        default:
            target.payload_ = source.payload_;
            target.kind_ = source.kind_;
            return;
    }
}

// Deep copy of source into the Empty target, one node at a time from an
// explicit work list, so the stack does not grow with the depth.
inline void BindingProperty::Operations::CopyTree(BindingProperty& target, const BindingProperty& source) {
    CopyWork work;
    CopyNode(target, source, work);
    while (!work.empty()) {
        auto [to, from] = work.back();
        work.pop_back();
        CopyNode(*to, *from, work);
    }
}

// Whether target lies inside the tree of container (not container itself).
inline bool BindingProperty::Operations::Holds(const BindingProperty& container, const BindingProperty* target) {
    std::vector<const BindingProperty*> pending{&container};
    while (!pending.empty()) {
        const BindingProperty* node = pending.back();
        pending.pop_back();
        if (node->kind_ == kCollection) {
            const auto* header = node->Pointer<const CollectionHeader>();
            if (target >= header->Elements() && target < header->Elements() + header->size) return true;
            for (uint32_t i = 0; i < header->size; ++i) {
                if (IsContainer(header->Elements()[i])) pending.push_back(&header->Elements()[i]);
            }
        } else if (node->kind_ == kStructure) {
            const auto* header = node->Pointer<const StructureHeader>();
            for (uint32_t i = 0; i < header->size; ++i) {
                const BindingProperty& member = header->Index()[i]->value;
                if (&member == target) return true;
                if (IsContainer(member)) pending.push_back(&member);
            }
        }
    }
    return false;
}

inline bool BindingProperty::Operations::EqualNode(const BindingProperty& a, const BindingProperty& b, CompareWork& work) {
    if (a.kind_ != b.kind_) return false;
    switch (a.kind_) {
        case kEmpty:
            return true;
        case Code(BindingPropertyKind::Float):
            return a.AsFloat() == b.AsFloat();
        case kString:
            return a.AsString() == b.AsString();
        case kBlob:
            return *a.Pointer<const Blob>() == *b.Pointer<const Blob>();
        case kEnum:
            return a.AsEnum() == b.AsEnum();
        case kCollection: {
            const auto* left = a.Pointer<const CollectionHeader>();
            const auto* right = b.Pointer<const CollectionHeader>();
            if (left->size != right->size) return false;
            for (uint32_t i = 0; i < left->size; ++i) work.emplace_back(&left->Elements()[i], &right->Elements()[i]);
            return true;
        }
        case kStructure: {
            if (a.Size() != b.Size()) return false;
            auto r = b.Members().begin();
            for (auto l = a.Members().begin(), end = a.Members().end(); l != end; ++l, ++r) {
                if (l.Name() != r.Name()) return false;
                work.emplace_back(&l.Value(), &r.Value());
            }
            return true;
        }
        default:
            return a.payload_ == b.payload_;
    }
}

}  // namespace Korvo
