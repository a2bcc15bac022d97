// Tests of event-tracing registration, the enable callback and the
// thread-name event, driven through a fake tracing service.
#include "sdk/diagnostics/event_tracing.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sdk/platform/platform.h"

namespace Korvo::Tracing {
namespace {

constexpr uint32_t kEnable = 1;
constexpr uint32_t kDisable = 0;
constexpr TraceRegistrationHandle kFirstHandle = 100;

struct WrittenEvent {
    TraceRegistrationHandle handle;
    TraceEventDescriptor descriptor;
    uint32_t count;
    uint32_t threadId;
    uint32_t threadIdSize;
    std::string name;
    uint32_t nameSize;
};

// The tracing service as the tests script it. Plain function pointers carry
// no context, hence one instance for the program.
struct FakeService {
    std::vector<TraceGuid> registered;
    std::vector<TraceRegistrationHandle> unregistered;
    std::vector<WrittenEvent> written;
    TraceRegistrationHandle nextHandle = kFirstHandle;
    // A running trace that enables this provider as soon as it registers.
    const TraceGuid* enableOnRegistration = nullptr;
    uint8_t level = 0;
    uint64_t matchAny = 0;
    uint64_t matchAll = 0;
};
FakeService gService;

bool SameGuid(const TraceGuid& a, const TraceGuid& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

uint32_t KORVO_TRACING_CALL FakeRegister(const TraceGuid* provider, TraceEnableCallback callback, void* context,
                                         TraceRegistrationHandle* handle) {
    gService.registered.push_back(*provider);
    *handle = gService.nextHandle++;
    if (gService.enableOnRegistration != nullptr && SameGuid(*gService.enableOnRegistration, *provider)) {
        callback(provider, kEnable, gService.level, gService.matchAny, gService.matchAll, nullptr, context);
    }
    return 0;
}

uint32_t KORVO_TRACING_CALL FakeWrite(TraceRegistrationHandle handle, const TraceEventDescriptor* descriptor,
                                      uint32_t count, TraceEventData* data) {
    WrittenEvent event{handle, *descriptor, count, 0, 0, {}, 0};
    if (count == 2) {
        std::memcpy(&event.threadId, reinterpret_cast<const void*>(static_cast<uintptr_t>(data[0].pointer)),
                    sizeof event.threadId);
        event.threadIdSize = data[0].size;
        const char* name = reinterpret_cast<const char*>(static_cast<uintptr_t>(data[1].pointer));
        event.name.assign(name, data[1].size);
        event.nameSize = data[1].size;
    }
    gService.written.push_back(event);
    return 0;
}

uint32_t KORVO_TRACING_CALL FakeUnregister(TraceRegistrationHandle handle) {
    gService.unregistered.push_back(handle);
    return 0;
}

constexpr TraceFunctions kFakeFunctions = {&FakeRegister, &FakeWrite, &FakeUnregister};

class EventTracingTest : public ::testing::Test {
protected:
    void SetUp() override { gService = FakeService(); }
};

TEST_F(EventTracingTest, WithoutARunningTraceRegistersFourProvidersAndWritesNothing) {
    EventTracing tracing;
    tracing.Start(kFakeFunctions);
    ASSERT_EQ(gService.registered.size(), EventTracing::kProviderCount);
    for (size_t i = 0; i < EventTracing::kProviderCount; ++i) {
        EXPECT_TRUE(SameGuid(gService.registered[i], tracing.ProviderGuid(i))) << i;
        EXPECT_EQ(tracing.Handle(i), kFirstHandle + i);
    }
    const TraceGuid second = {0xEA08C559, 0x95A8, 0x4AA2, {0xAF, 0xA6, 0x18, 0x73, 0x8E, 0xEC, 0x6D, 0x37}};
    EXPECT_TRUE(SameGuid(gService.registered[1], second));
    EXPECT_TRUE(gService.written.empty());
    EXPECT_GT(tracing.CounterFrequency(), 0);

    // Starting again registers nothing twice.
    tracing.Start(kFakeFunctions);
    EXPECT_EQ(gService.registered.size(), EventTracing::kProviderCount);

    tracing.Shutdown();
    EXPECT_EQ(gService.unregistered,
              (std::vector<TraceRegistrationHandle>{kFirstHandle + 3, kFirstHandle + 2, kFirstHandle + 1, kFirstHandle}));
    for (size_t i = 0; i < EventTracing::kProviderCount; ++i) EXPECT_EQ(tracing.Handle(i), 0u);
    tracing.Shutdown();
    EXPECT_EQ(gService.unregistered.size(), EventTracing::kProviderCount);
}

TEST_F(EventTracingTest, DestructionUnregisters) {
    {
        EventTracing tracing;
        tracing.Start(kFakeFunctions);
    }
    EXPECT_EQ(gService.unregistered.size(), EventTracing::kProviderCount);
}

TEST_F(EventTracingTest, TraceRunningBeforeLoadReceivesTheMainThreadEvent) {
    EventTracing tracing;
    gService.enableOnRegistration = &tracing.ProviderGuid(kThreadNameProvider);
    gService.level = 4;
    gService.matchAny = 0x1;
    tracing.Start(kFakeFunctions);
    ASSERT_EQ(gService.written.size(), 1u);
    const WrittenEvent& event = gService.written[0];
    EXPECT_EQ(event.handle, kFirstHandle + 1);
    EXPECT_EQ(event.descriptor.id, 103);
    EXPECT_EQ(event.descriptor.version, 0);
    EXPECT_EQ(event.descriptor.channel, 0);
    EXPECT_EQ(event.descriptor.level, 0);
    EXPECT_EQ(event.descriptor.opcode, 14);
    EXPECT_EQ(event.descriptor.task, 2);
    EXPECT_EQ(event.descriptor.keyword, 0x1u);
    EXPECT_EQ(event.count, 2u);
    EXPECT_EQ(event.threadId, Platform::CurrentThreadId());
    EXPECT_EQ(event.threadIdSize, 4u);
    EXPECT_EQ(event.name, std::string("Main thread", 12));  // with its NUL
    EXPECT_TRUE(tracing.Context(kThreadNameProvider).isEnabled.load());
    EXPECT_EQ(tracing.Context(kThreadNameProvider).level.load(), 4);
}

TEST_F(EventTracingTest, TraceThatEnablesLaterReceivesNothing) {
    EventTracing tracing;
    tracing.Start(kFakeFunctions);
    EventTracing::EnableCallback(&tracing.ProviderGuid(kThreadNameProvider), kEnable, 0, 0x1, 0, nullptr,
                                 const_cast<TraceEnableContext*>(&tracing.Context(kThreadNameProvider)));
    EXPECT_TRUE(tracing.IsEventEnabled(kThreadNameProvider, 0));
    EXPECT_TRUE(gService.written.empty());
}

TEST_F(EventTracingTest, TraceOfAnotherProviderDoesNotEnableTheEvent) {
    EventTracing tracing;
    gService.enableOnRegistration = &tracing.ProviderGuid(0);
    gService.matchAny = 0x1;
    tracing.Start(kFakeFunctions);
    EXPECT_TRUE(tracing.IsEventEnabled(0, 0));
    EXPECT_TRUE(gService.written.empty());
}

TEST_F(EventTracingTest, ThreadNameEventWithoutANameSendsNull) {
    EventTracing tracing;
    gService.enableOnRegistration = &tracing.ProviderGuid(kThreadNameProvider);
    gService.matchAny = 0x1;
    tracing.Start(kFakeFunctions);
    tracing.WriteThreadName(0x1234, nullptr);
    ASSERT_EQ(gService.written.size(), 2u);
    EXPECT_EQ(gService.written[1].threadId, 0x1234u);
    EXPECT_EQ(gService.written[1].name, std::string("NULL", 5));
}

TEST_F(EventTracingTest, MissingFunctionsLeaveTracingOff) {
    EventTracing none;
    none.Start(TraceFunctions{nullptr, nullptr, nullptr});
    EXPECT_FALSE(none.HasFunctions());
    for (size_t i = 0; i < EventTracing::kProviderCount; ++i) EXPECT_EQ(none.Handle(i), 0u);
    none.Shutdown();

    // Registered and enabled, but nothing to write with or unregister by.
    EventTracing registerOnly;
    gService.enableOnRegistration = &registerOnly.ProviderGuid(kThreadNameProvider);
    gService.matchAny = 0x1;
    registerOnly.Start(TraceFunctions{&FakeRegister, nullptr, nullptr});
    EXPECT_TRUE(registerOnly.IsEventEnabled(kThreadNameProvider, 0));
    registerOnly.Shutdown();
    EXPECT_TRUE(gService.written.empty());
    EXPECT_TRUE(gService.unregistered.empty());
    EXPECT_EQ(registerOnly.Handle(0), 0u);
}

struct EnableCase {
    uint32_t controlCode;
    uint8_t level;
    uint64_t matchAny;
    uint64_t matchAll;
    uint32_t enableBits;  // of the fourth provider: keywords 0x1 and 0x2
};

TEST_F(EventTracingTest, EnableCallbackRules) {
    const EnableCase cases[] = {
        {kEnable, 4, 0x1, 0, 0b01},
        {kEnable, 4, 0x2, 0, 0b10},
        {kEnable, 0, 0x3, 0, 0b11},
        {kEnable, 0, 0x3, 0x1, 0b01},  // must contain every bit of match-all
        {kEnable, 0, 0x3, 0x3, 0b00},
        {kEnable, 0, 0, 0, 0b00},  // no keyword matches nothing
        {kDisable, 4, 0x3, 0, 0b00},
    };
    for (const EnableCase& c : cases) {
        EventTracing tracing;
        TraceEnableContext& context = const_cast<TraceEnableContext&>(tracing.Context(3));
        EventTracing::EnableCallback(nullptr, kEnable, 1, 0x3, 0, nullptr, &context);
        EventTracing::EnableCallback(nullptr, c.controlCode, c.level, c.matchAny, c.matchAll, nullptr, &context);
        EXPECT_EQ(context.enableBits.load(), c.enableBits)
            << "code " << c.controlCode << " level " << int(c.level) << " any " << c.matchAny << " all " << c.matchAll;
        EXPECT_EQ(context.isEnabled.load(), c.controlCode == kEnable);
        EXPECT_EQ(context.level.load(), c.controlCode == kEnable ? c.level : 0);
        EXPECT_EQ(context.matchAnyKeyword.load(), c.controlCode == kEnable ? c.matchAny : 0u);
        EXPECT_EQ(context.matchAllKeyword.load(), c.controlCode == kEnable ? c.matchAll : 0u);
    }
}

TEST_F(EventTracingTest, EventWithoutKeywordIsEnabledByAnyEnable) {
    EventTracing tracing;
    TraceEnableContext& context = const_cast<TraceEnableContext&>(tracing.Context(2));
    EventTracing::EnableCallback(nullptr, kEnable, 0, 0, 0x80, nullptr, &context);
    EXPECT_EQ(context.enableBits.load(), 0b1u);
}

TEST_F(EventTracingTest, EnableCallbackLevelRule) {
    TraceEnableContext context;
    context.eventCount = 1;
    context.events[0] = {0x1, 5};
    EventTracing::EnableCallback(nullptr, kEnable, 4, 0x1, 0, nullptr, &context);
    EXPECT_EQ(context.enableBits.load(), 0u);
    EventTracing::EnableCallback(nullptr, kEnable, 5, 0x1, 0, nullptr, &context);
    EXPECT_EQ(context.enableBits.load(), 1u);
    EventTracing::EnableCallback(nullptr, kEnable, 0, 0x1, 0, nullptr, &context);
    EXPECT_EQ(context.enableBits.load(), 1u);
}

TEST_F(EventTracingTest, OtherControlCodesChangeNothing) {
    TraceEnableContext context;
    context.eventCount = 1;
    context.events[0] = {0x1, 0};
    EventTracing::EnableCallback(nullptr, kEnable, 3, 0x1, 0, nullptr, &context);
    EventTracing::EnableCallback(nullptr, 2, 0, 0, 0, nullptr, &context);
    EXPECT_TRUE(context.isEnabled.load());
    EXPECT_EQ(context.level.load(), 3);
    EXPECT_EQ(context.enableBits.load(), 1u);
    EventTracing::EnableCallback(nullptr, kEnable, 0, 0, 0, nullptr, nullptr);  // no context: ignored
}

TEST(ProcessEventTracingTest, StartedWhenTheLibraryLoaded) {
    // Off Windows the system library is absent and nothing registers; on
    // Windows the providers register when the library offers the functions.
    EventTracing& tracing = EventTracing::Process();
    EXPECT_EQ(&tracing, &EventTracing::Process());
    EXPECT_GT(tracing.CounterFrequency(), 0);
    if (!tracing.HasFunctions()) {
        for (size_t i = 0; i < EventTracing::kProviderCount; ++i) EXPECT_EQ(tracing.Handle(i), 0u);
    }
    RecordProperty("registered", tracing.HasFunctions() && tracing.Handle(0) != 0 ? "yes" : "no");
}

}  // namespace
}  // namespace Korvo::Tracing
