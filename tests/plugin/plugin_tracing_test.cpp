// Event tracing in the built plug-in library: loading the library registers
// the four providers and, when a running trace has the thread-name provider
// enabled, names the loading thread "Main thread"; unloading it unregisters
// them, last first. On this system the library finds the tracing functions
// among the host process's own symbols, so this test binary exports them and
// plays the tracing service.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sdk/diagnostics/event_tracing.h"
#include "sdk/platform/platform.h"
#include "tests/plugin/plugin_test_support.h"

namespace {

using Korvo::Tracing::TraceEnableCallback;
using Korvo::Tracing::TraceEventData;
using Korvo::Tracing::TraceEventDescriptor;
using Korvo::Tracing::TraceGuid;
using Korvo::Tracing::TraceRegistrationHandle;

struct Written {
    TraceRegistrationHandle handle;
    uint16_t id;
    uint8_t opcode;
    uint16_t task;
    uint64_t keyword;
    uint32_t threadId;
    std::string name;  // with its terminating NUL
};

// What the library did with the service; the library calls it only while
// it loads and unloads, on the test's thread.
struct Service {
    std::vector<TraceGuid> registered;
    std::vector<TraceRegistrationHandle> unregistered;
    std::vector<Written> written;
    bool traceRunning = false;  // enables the thread-name provider on registration
};
Service gService;

constexpr TraceGuid kThreadNameProvider = {0xEA08C559, 0x95A8, 0x4AA2, {0xAF, 0xA6, 0x18, 0x73, 0x8E, 0xEC, 0x6D, 0x37}};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) uint32_t EventRegister(const TraceGuid* provider,
                                                              TraceEnableCallback callback, void* context,
                                                              TraceRegistrationHandle* handle) {
    gService.registered.push_back(*provider);
    *handle = 0x1000 + gService.registered.size();
    if (gService.traceRunning && std::memcmp(provider, &kThreadNameProvider, sizeof *provider) == 0) {
        callback(provider, 1, 0, 0x1, 0, nullptr, context);
    }
    return 0;
}

__attribute__((visibility("default"))) uint32_t EventWrite(TraceRegistrationHandle handle,
                                                           const TraceEventDescriptor* descriptor, uint32_t count,
                                                           TraceEventData* data) {
    Written event{handle, descriptor->id, descriptor->opcode, descriptor->task, descriptor->keyword, 0, {}};
    if (count == 2 && data[0].size == sizeof(uint32_t)) {
        std::memcpy(&event.threadId, reinterpret_cast<const void*>(static_cast<uintptr_t>(data[0].pointer)), 4);
        event.name.assign(reinterpret_cast<const char*>(static_cast<uintptr_t>(data[1].pointer)), data[1].size);
    }
    gService.written.push_back(event);
    return 0;
}

__attribute__((visibility("default"))) uint32_t EventUnregister(TraceRegistrationHandle handle) {
    gService.unregistered.push_back(handle);
    return 0;
}

}  // extern "C"

namespace {

constexpr TraceGuid kProviders[] = {
    {0x2F9EFE86, 0x4AF7, 0x4F37, {0xA4, 0x0F, 0x94, 0xB9, 0x09, 0xA1, 0x57, 0xD6}},
    kThreadNameProvider,
    {0x10F6728C, 0xEF92, 0x4BF1, {0x83, 0x97, 0x49, 0xE6, 0x93, 0xA6, 0xEB, 0x74}},
    {0x46DD7F96, 0x60CB, 0x416B, {0x80, 0x85, 0xDA, 0x5C, 0xD8, 0xF4, 0x91, 0xDD}},
};

class PluginTracingTest : public ::testing::Test {
protected:
    void SetUp() override { gService = Service{}; }

    // Loads and unloads the built library; true when it loaded.
    static bool LoadAndUnload() {
        void* library = Korvo::Platform::LoadSharedLibrary(Korvo::Testing::PluginLibraryPath().c_str());
        if (library == nullptr) return false;
        Korvo::Platform::UnloadSharedLibrary(library);
        return true;
    }

    static void ExpectProvidersRegisteredAndUnregistered() {
        ASSERT_EQ(gService.registered.size(), std::size(kProviders));
        for (size_t i = 0; i < std::size(kProviders); ++i) {
            EXPECT_EQ(std::memcmp(&gService.registered[i], &kProviders[i], sizeof(TraceGuid)), 0) << "provider " << i;
        }
        const std::vector<TraceRegistrationHandle> lastFirst = {0x1004, 0x1003, 0x1002, 0x1001};
        EXPECT_EQ(gService.unregistered, lastFirst);
    }
};

TEST_F(PluginTracingTest, LoadingUnderARunningTraceNamesTheLoadingThread) {
    gService.traceRunning = true;
    ASSERT_TRUE(LoadAndUnload()) << Korvo::Testing::PluginLibraryPath();
    ExpectProvidersRegisteredAndUnregistered();
    ASSERT_EQ(gService.written.size(), 1u);
    const Written& event = gService.written[0];
    EXPECT_EQ(event.handle, 0x1002u);
    EXPECT_EQ(event.id, 103);
    EXPECT_EQ(event.opcode, 14);
    EXPECT_EQ(event.task, 2);
    EXPECT_EQ(event.keyword, 0x1u);
    EXPECT_EQ(event.threadId, Korvo::Platform::CurrentThreadId());
    EXPECT_EQ(event.name, std::string("Main thread", 12));
}

TEST_F(PluginTracingTest, LoadingWithoutATraceRegistersAndWritesNothing) {
    ASSERT_TRUE(LoadAndUnload()) << Korvo::Testing::PluginLibraryPath();
    ExpectProvidersRegisteredAndUnregistered();
    EXPECT_TRUE(gService.written.empty());
}

}  // namespace
