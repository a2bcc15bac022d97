// sdk/diagnostics/event_tracing.h - registration of the library's event
// tracing providers.
//
// \file
// When the library loads, it registers four event-tracing providers with
// the system's tracing service and, if a running trace already enabled the
// second one, writes one event naming the loading thread "Main thread", so
// that performance tools know the main thread. The service is reached
// without linking against it: Advapi32.dll is loaded at run time and
// EventRegister, EventWrite and EventUnregister are looked up by name. When
// the library or a function is missing (always, off Windows), tracing
// silently does nothing. At unload the providers are unregistered.
//
// EventTracing::Start takes the three functions directly, which is also how
// the tests drive it. Start and Shutdown are meant for load and unload; the
// enable callback may run on any thread the tracing service uses and writes
// only its provider's context.
//
// A plug-in library starts it while it loads, from sdk/plugin_base/plugin_entry.h
// (a static object there refers to Process(), which is what links this file
// into every plug-in); the instance's destruction at unload unregisters.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// The tracing service's functions use the system calling convention, which
// on 32-bit x86 is stdcall.
#if defined(__i386__)
#define KORVO_TRACING_CALL __attribute__((stdcall))
#else
#define KORVO_TRACING_CALL
#endif

namespace Korvo::Tracing {

// The service's records, laid out as it expects them.
struct TraceGuid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};
static_assert(sizeof(TraceGuid) == 16);

struct TraceEventDescriptor {
    uint16_t id;       // +0
    uint8_t version;   // +2
    uint8_t channel;   // +3
    uint8_t level;     // +4
    uint8_t opcode;    // +5
    uint16_t task;     // +6
    uint64_t keyword;  // +8
};
static_assert(sizeof(TraceEventDescriptor) == 16);

struct TraceEventData {
    uint64_t pointer;   // +0  address of the item, widened to 64 bits
    uint32_t size;      // +8  bytes
    uint32_t reserved;  // +12 0
};
static_assert(sizeof(TraceEventData) == 16);

using TraceRegistrationHandle = uint64_t;

// controlCode: 0 disable, 1 enable, others ignored.
using TraceEnableCallback = void(KORVO_TRACING_CALL*)(const TraceGuid* source, uint32_t controlCode, uint8_t level,
                                                      uint64_t matchAnyKeyword, uint64_t matchAllKeyword,
                                                      void* filter, void* context);
using TraceRegisterFunction = uint32_t(KORVO_TRACING_CALL*)(const TraceGuid* provider, TraceEnableCallback callback,
                                                            void* context, TraceRegistrationHandle* handle);
using TraceWriteFunction = uint32_t(KORVO_TRACING_CALL*)(TraceRegistrationHandle handle,
                                                         const TraceEventDescriptor* descriptor, uint32_t count,
                                                         TraceEventData* data);
using TraceUnregisterFunction = uint32_t(KORVO_TRACING_CALL*)(TraceRegistrationHandle handle);

// The three functions; any may be null (that step is then skipped).
struct TraceFunctions {
    TraceRegisterFunction eventRegister;
    TraceWriteFunction eventWrite;
    TraceUnregisterFunction eventUnregister;
};

// One event of a provider's enable table.
struct TraceEventFilter {
    uint64_t keyword;
    uint8_t level;
};

inline constexpr size_t kMaxProviderEvents = 2;

// What the service last asked of a provider, and which events it enabled.
// Written only by the enable callback; read by anyone.
struct TraceEnableContext {
    std::atomic<bool> isEnabled{false};
    std::atomic<uint8_t> level{0};
    std::atomic<uint64_t> matchAnyKeyword{0};
    std::atomic<uint64_t> matchAllKeyword{0};
    uint32_t eventCount = 0;
    std::atomic<uint32_t> enableBits{0};  // bit i: event i enabled
    TraceEventFilter events[kMaxProviderEvents] = {};
};

// The thread-name event: provider 2, Id 103, Opcode 14, Task 2, Keyword 0x1.
inline constexpr size_t kThreadNameProvider = 1;  // 0-based
inline constexpr TraceEventDescriptor kThreadNameEvent = {103, 0, 0, 0, 14, 2, 0x1};
inline constexpr const char* kMainThreadName = "Main thread";

class EventTracing {
public:
    static constexpr size_t kProviderCount = 4;

    EventTracing() noexcept;
    // Unregisters what is still registered.
    ~EventTracing();
    EventTracing(const EventTracing&) = delete;
    EventTracing& operator=(const EventTracing&) = delete;

    // Reads the counter frequency, registers each unregistered provider in
    // order, then writes the thread-name event for the calling thread if
    // the service enabled it meanwhile.
    void Start(const TraceFunctions& functions) noexcept;
    // Start with the functions of the system's tracing service
    // (Platform::OpenTracingService); nothing when it is missing.
    void StartWithSystemLibrary() noexcept;
    // Unregisters the providers from last to first and forgets the handles.
    void Shutdown() noexcept;

    // Writes the thread-name event (a null name is sent as "NULL") when
    // the service enabled it and EventWrite was found.
    void WriteThreadName(uint32_t threadId, const char* name) noexcept;

    TraceRegistrationHandle Handle(size_t provider) const noexcept { return providers_[provider].handle; }
    const TraceEnableContext& Context(size_t provider) const noexcept { return providers_[provider].context; }
    bool IsEventEnabled(size_t provider, size_t event) const noexcept;
    const TraceGuid& ProviderGuid(size_t provider) const noexcept;
    int64_t CounterFrequency() const noexcept { return frequency_; }
    bool HasFunctions() const noexcept { return functions_.eventRegister != nullptr; }

    // The service's callback; context is a TraceEnableContext.
    static void KORVO_TRACING_CALL EnableCallback(const TraceGuid* source, uint32_t controlCode, uint8_t level,
                                                  uint64_t matchAnyKeyword, uint64_t matchAllKeyword, void* filter,
                                                  void* context);

    // The library's own instance, started on first call (while the library
    // loads) and shut down when the library unloads.
    static EventTracing& Process() noexcept;

private:
    struct Provider {
        TraceRegistrationHandle handle = 0;
        TraceEnableContext context;
    };

    int64_t frequency_ = 0;
    TraceFunctions functions_ = {};
    void* library_ = nullptr;
    Provider providers_[kProviderCount];
};

}  // namespace Korvo::Tracing
