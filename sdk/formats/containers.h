// sdk/formats/containers.h - turning a property into a container for the
// readers' builders (internal to korvo_formats).
#pragma once

#include "sdk/binding/property.h"

namespace Korvo::detail {

// Makes target a Collection; one that already is keeps its elements, so a
// repeated key's array appends to the earlier one.
inline void BecomeCollection(BindingProperty& target) {
    if (!target.Is(BindingPropertyKind::Collection)) target.SetCollection();
}

// Makes target a Structure; one that already is keeps its members.
inline void BecomeStructure(BindingProperty& target) {
    if (!target.Is(BindingPropertyKind::Structure)) target.SetStructure();
}

}  // namespace Korvo::detail
