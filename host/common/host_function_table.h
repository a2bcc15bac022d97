// host/common/host_function_table.h - the host function table that a
// host-side object hands to the plug-in at Start.
//
// Each entry is a C thunk that finds the object behind the table (the
// plug-in passes the table back as self) and calls the object's member of
// the same name, so a host writes only what its entries do. Owner has these
// members, callable from any thread the plug-in calls on:
//
//   void SendRequest(HostResponseRecord* response, const HostRequestRecord* request);
//   void Reserved1(uint32_t a, uint32_t b);
//   void SendEvent(const HostEventRecord* event);
//   void Subscribe(const char* name, uint32_t pluginHandle, HostEventCallback callback, void* userData,
//                  uint32_t flag);
//   void Unsubscribe(const char* name, uint32_t pluginHandle);
//   void Reserved5(uint32_t a, uint32_t b, uint32_t c, double d, uint32_t e);
//   void Yield();
//   void MarkActivity(const char* label, uint32_t value);
//   uint64_t PollWake();
//   void Log(uint32_t level, const char* message);
//
// (private members need `friend class HostFunctionTable<Owner>`). An
// exception a member lets out ends at its thunk, which then returns as if
// the entry had done nothing (PollWake: 0): nothing thrown reaches the
// plug-in. A member that leaves a record half filled cleans it up itself.
#pragma once

#include <cstdint>

#include "sdk/contract/records.h"

namespace Korvo::Host {

template <typename Owner>
class HostFunctionTable {
public:
    explicit HostFunctionTable(Owner& owner) noexcept {
        table_.owner = &owner;
        table_.functions = HostFunctions{
            &SendRequestThunk,   // SendRequest
            &Reserved1Thunk,     // reserved1
            &SendEventThunk,     // SendEvent
            &SubscribeThunk,     // Subscribe
            &UnsubscribeThunk,   // Unsubscribe
            &Reserved5Thunk,     // reserved5
            &YieldThunk,         // Yield
            &MarkActivityThunk,  // MarkActivity
            &PollWakeThunk,      // PollWake
            &LogThunk,           // Log
        };
    }
    HostFunctionTable(const HostFunctionTable&) = delete;
    HostFunctionTable& operator=(const HostFunctionTable&) = delete;

    const HostFunctions* Functions() const noexcept { return &table_.functions; }
    // What Start receives; valid as long as this object. Not for use while a
    // plug-in already holds it.
    const HostInterface* Interface(uint32_t pluginHandle) noexcept {
        interface_.functions = &table_.functions;
        interface_.pluginHandle = pluginHandle;
        return &interface_;
    }

private:
    struct Table {
        HostFunctions functions;   // first: the plug-in passes &functions back as self
        Owner* owner;
    };

    static Owner& OwnerOf(const HostFunctions* self) noexcept { return *reinterpret_cast<const Table*>(self)->owner; }

    static void KORVO_CDECL SendRequestThunk(const HostFunctions* self, HostResponseRecord* response,
                                             const HostRequestRecord* request) {
        try {
            OwnerOf(self).SendRequest(response, request);
        } catch (...) {
        }
    }
    static void KORVO_CDECL Reserved1Thunk(const HostFunctions* self, uint32_t a, uint32_t b) {
        try {
            OwnerOf(self).Reserved1(a, b);
        } catch (...) {
        }
    }
    static void KORVO_CDECL SendEventThunk(const HostFunctions* self, const HostEventRecord* event) {
        try {
            OwnerOf(self).SendEvent(event);
        } catch (...) {
        }
    }
    static void KORVO_CDECL SubscribeThunk(const HostFunctions* self, const char* name, uint32_t pluginHandle,
                                           HostEventCallback callback, void* userData, uint32_t flag) {
        try {
            OwnerOf(self).Subscribe(name, pluginHandle, callback, userData, flag);
        } catch (...) {
        }
    }
    static void KORVO_CDECL UnsubscribeThunk(const HostFunctions* self, const char* name, uint32_t pluginHandle) {
        try {
            OwnerOf(self).Unsubscribe(name, pluginHandle);
        } catch (...) {
        }
    }
    static void KORVO_CDECL Reserved5Thunk(const HostFunctions* self, uint32_t a, uint32_t b, uint32_t c, double d,
                                           uint32_t e) {
        try {
            OwnerOf(self).Reserved5(a, b, c, d, e);
        } catch (...) {
        }
    }
    static void KORVO_CDECL YieldThunk(const HostFunctions* self) {
        try {
            OwnerOf(self).Yield();
        } catch (...) {
        }
    }
    static void KORVO_CDECL MarkActivityThunk(const HostFunctions* self, const char* label, uint32_t value) {
        try {
            OwnerOf(self).MarkActivity(label, value);
        } catch (...) {
        }
    }
    static uint64_t KORVO_CDECL PollWakeThunk(const HostFunctions* self) {
        try {
            return OwnerOf(self).PollWake();
        } catch (...) {
            return 0;
        }
    }
    static void KORVO_CDECL LogThunk(const HostFunctions* self, uint32_t level, const char* message) {
        try {
            OwnerOf(self).Log(level, message);
        } catch (...) {
        }
    }

    Table table_{};
    HostInterface interface_{};
};

}  // namespace Korvo::Host
