// sdk/binding/builtin_types.h - the types every registry carries.
#pragma once

#include "sdk/binding/async_state.h"
#include "sdk/binding/help_types.h"
#include "sdk/binding/registry.h"

namespace Korvo {

// The help types (help_types.h), then the asynchronous-operation types
// (async_state.h). Run by BindingRegistry::Initialise; register-once, so a
// second run on the same registry changes nothing.
void RegisterBuiltins(BindingRegistry& registry);

}  // namespace Korvo
