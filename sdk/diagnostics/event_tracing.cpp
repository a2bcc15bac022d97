// sdk/diagnostics/event_tracing.cpp - provider registration and the
// thread-name event.
#include "sdk/diagnostics/event_tracing.h"

#include <cstring>

#include "sdk/platform/platform.h"

namespace Korvo::Tracing {

namespace {

constexpr uint32_t kControlDisable = 0;
constexpr uint32_t kControlEnable = 1;
constexpr const char* kNullThreadName = "NULL";

struct ProviderDefinition {
    TraceGuid guid;
    uint32_t eventCount;
    TraceEventFilter events[kMaxProviderEvents];
};

constexpr ProviderDefinition kProviders[EventTracing::kProviderCount] = {
    {{0x2F9EFE86, 0x4AF7, 0x4F37, {0xA4, 0x0F, 0x94, 0xB9, 0x09, 0xA1, 0x57, 0xD6}}, 1, {{0x1, 0}}},
    {{0xEA08C559, 0x95A8, 0x4AA2, {0xAF, 0xA6, 0x18, 0x73, 0x8E, 0xEC, 0x6D, 0x37}}, 1, {{0x1, 0}}},
    {{0x10F6728C, 0xEF92, 0x4BF1, {0x83, 0x97, 0x49, 0xE6, 0x93, 0xA6, 0xEB, 0x74}}, 1, {{0x0, 0}}},
    {{0x46DD7F96, 0x60CB, 0x416B, {0x80, 0x85, 0xDA, 0x5C, 0xD8, 0xF4, 0x91, 0xDD}}, 2, {{0x1, 0}, {0x2, 0}}},
};

bool EventMatches(const TraceEventFilter& event, uint8_t level, uint64_t matchAny, uint64_t matchAll) noexcept {
    const bool levelMatches = level == 0 || event.level <= level;
    const bool keywordMatches =
        event.keyword == 0 || ((event.keyword & matchAny) != 0 && (event.keyword & matchAll) == matchAll);
    return levelMatches && keywordMatches;
}

template <class Function>
Function Lookup(void* library, const char* name) noexcept {
    return reinterpret_cast<Function>(Platform::FindSymbol(library, name));
}

}  // namespace

EventTracing::EventTracing() noexcept {
    for (size_t i = 0; i < kProviderCount; ++i) {
        TraceEnableContext& context = providers_[i].context;
        context.eventCount = kProviders[i].eventCount;
        for (uint32_t e = 0; e < context.eventCount; ++e) context.events[e] = kProviders[i].events[e];
    }
}

// The system library stays loaded: unloading it while this library itself
// unloads is not safe on Windows, and the process holds it anyway.
EventTracing::~EventTracing() { Shutdown(); }

const TraceGuid& EventTracing::ProviderGuid(size_t provider) const noexcept { return kProviders[provider].guid; }

bool EventTracing::IsEventEnabled(size_t provider, size_t event) const noexcept {
    return (providers_[provider].context.enableBits.load(std::memory_order_acquire) & (1u << event)) != 0;
}

void EventTracing::Start(const TraceFunctions& functions) noexcept {
    frequency_ = Platform::PerformanceFrequency();
    functions_ = functions;
    for (size_t i = 0; i < kProviderCount; ++i) {
        Provider& provider = providers_[i];
        if (provider.handle == 0 && functions_.eventRegister != nullptr) {
            // The result is not looked at: a failed registration leaves the
            // handle 0 and the provider off.
            functions_.eventRegister(&kProviders[i].guid, &EventTracing::EnableCallback, &provider.context,
                                     &provider.handle);
        }
    }
    WriteThreadName(Platform::CurrentThreadId(), kMainThreadName);
}

void EventTracing::StartWithSystemLibrary() noexcept {
    frequency_ = Platform::PerformanceFrequency();
    if (library_ == nullptr) library_ = Platform::OpenTracingService();
    if (library_ == nullptr) return;
    TraceFunctions functions;
    functions.eventRegister = Lookup<TraceRegisterFunction>(library_, "EventRegister");
    functions.eventWrite = Lookup<TraceWriteFunction>(library_, "EventWrite");
    functions.eventUnregister = Lookup<TraceUnregisterFunction>(library_, "EventUnregister");
    Start(functions);
}

void EventTracing::Shutdown() noexcept {
    for (size_t i = kProviderCount; i-- > 0;) {
        Provider& provider = providers_[i];
        if (provider.handle == 0) continue;
        if (functions_.eventUnregister != nullptr) functions_.eventUnregister(provider.handle);
        provider.handle = 0;
    }
}

void EventTracing::WriteThreadName(uint32_t threadId, const char* name) noexcept {
    const Provider& provider = providers_[kThreadNameProvider];
    if (!IsEventEnabled(kThreadNameProvider, 0) || functions_.eventWrite == nullptr) return;
    const char* text = name != nullptr ? name : kNullThreadName;
    TraceEventData data[2] = {};
    data[0].pointer = reinterpret_cast<uintptr_t>(&threadId);
    data[0].size = sizeof threadId;
    data[1].pointer = reinterpret_cast<uintptr_t>(text);
    data[1].size = static_cast<uint32_t>(std::strlen(text) + 1);
    functions_.eventWrite(provider.handle, &kThreadNameEvent, 2, data);
}

void KORVO_TRACING_CALL EventTracing::EnableCallback(const TraceGuid*, uint32_t controlCode, uint8_t level,
                                                     uint64_t matchAnyKeyword, uint64_t matchAllKeyword, void*,
                                                     void* context) {
    if (context == nullptr) return;
    TraceEnableContext& enable = *static_cast<TraceEnableContext*>(context);
    if (controlCode == kControlDisable) {
        enable.isEnabled.store(false, std::memory_order_relaxed);
        enable.level.store(0, std::memory_order_relaxed);
        enable.matchAnyKeyword.store(0, std::memory_order_relaxed);
        enable.matchAllKeyword.store(0, std::memory_order_relaxed);
        enable.enableBits.store(0, std::memory_order_release);
    } else if (controlCode == kControlEnable) {
        enable.level.store(level, std::memory_order_relaxed);
        enable.matchAnyKeyword.store(matchAnyKeyword, std::memory_order_relaxed);
        enable.matchAllKeyword.store(matchAllKeyword, std::memory_order_relaxed);
        enable.isEnabled.store(true, std::memory_order_relaxed);
        uint32_t bits = 0;
        for (uint32_t e = 0; e < enable.eventCount && e < kMaxProviderEvents; ++e) {
            if (EventMatches(enable.events[e], level, matchAnyKeyword, matchAllKeyword)) bits |= 1u << e;
        }
        enable.enableBits.store(bits, std::memory_order_release);
    }
}

EventTracing& EventTracing::Process() noexcept {
    static EventTracing tracing;
    static const bool started = (tracing.StartWithSystemLibrary(), true);
    (void)started;
    return tracing;
}

}  // namespace Korvo::Tracing
