// sdk/binding/async_state.h - the vocabulary of asynchronous operations and
// callbacks: the state of an operation, the payload records of the generic,
// callback and asynchronous events, and the builtin event "OnCallback".
//
// The records are registered by every registry (builtin_types.h); sending
// the events and tracking running operations belong to the remoting and
// async layers. An asynchronous operation token is an unsigned 32-bit number
// that identifies one running operation to the client. Layout comments give
// the offsets of the 32-bit Windows build.
// The host reads these descriptions by name and offset: their shape is the
// contract's, not to be tidied up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sdk/values/property.h"

namespace Korvo {

class BindingRegistry;

struct BindingAsyncState {
    // Registered as "BindingAsyncState".
    enum class Type : int32_t {
        None = 0,        // invalid state
        Running = 1,     // the operation is in flight
        Cancelling = 2,  // a request to cancel it has been made
        Cancelled = 3,
        Succeeded = 4,
        Failed = 5,
    };
};

// 16 bytes.
struct BindingGenericEvent {
    BindingProperty data;  // +0
};

// 16 bytes. The parameters are the callback's arguments in call order.
struct BindingCallbackEvent {
    uint32_t id = 0;                         // +0
    std::vector<BindingProperty> parameters; // +4
};

// 24 bytes.
struct BindingGenericAsyncEvent {
    uint32_t asyncToken = 0;  // +0
    BindingProperty data;     // +8
};

// 28 bytes.
struct BindingAsyncFailureEvent {
    uint32_t asyncToken = 0;  // +0
    std::string error;        // +4
};

// 4 bytes.
struct BindingAsyncCancelEvent {
    uint32_t asyncToken = 0;  // +0
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(BindingAsyncState::Type) == 4);
static_assert(sizeof(BindingGenericEvent) == 16);
static_assert(sizeof(BindingCallbackEvent) == 16);
static_assert(sizeof(BindingGenericAsyncEvent) == 24);
static_assert(sizeof(BindingAsyncFailureEvent) == 28);
static_assert(sizeof(BindingAsyncCancelEvent) == 4);
#endif

// Registers "BindingAsyncState" with its six enumerators, then
// "BindingGenericEvent" and "BindingCallbackEvent" (tag "$builtin"), then
// "BindingGenericAsyncEvent", "BindingAsyncFailureEvent" and
// "BindingAsyncCancelEvent" (tags "$builtin", "async"). Register-once.
void RegisterAsyncTypes(BindingRegistry& registry);

}  // namespace Korvo
