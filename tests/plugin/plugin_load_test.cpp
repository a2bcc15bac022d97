// Loading the library: what the export writes back, the API it describes,
// the state before Start, and - in the 32-bit build - every record read by
// the offsets the host uses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "sdk/contract/records.h"
#include "tests/plugin/plugin_test_support.h"

namespace Korvo {
namespace {

using Testing::kGet;
using Testing::kPost;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr const char* kPluginTags[] = {"Plugins", "Plugin vbp-be-qem-quorvex-zv"};

std::vector<std::string> Texts(const char* const* texts, uint32_t count) {
    std::vector<std::string> out;
    for (uint32_t i = 0; i < count; ++i) out.emplace_back(texts[i]);
    return out;
}

const HostTypeDescription* FindType(const HostApiDescriptor& descriptor, const std::string& name) {
    for (uint32_t i = 0; i < descriptor.typeCount; ++i) {
        if (name == descriptor.types[i].name) return &descriptor.types[i];
    }
    return nullptr;
}

const HostEventDescription* FindEvent(const HostApiDescriptor& descriptor, const std::string& name) {
    for (uint32_t i = 0; i < descriptor.eventCount; ++i) {
        if (name == descriptor.events[i].name) return &descriptor.events[i];
    }
    return nullptr;
}

class PluginLoadTest : public Testing::PluginFixture {};

TEST_F(PluginLoadTest, ExportWritesVersionEntryPointsNameAndDescriptor) {
    void* plugin = host_.CallLoad(18, 7, 2);
    ASSERT_NE(plugin, nullptr);
    const PluginLoadContext& context = host_.Context();
    EXPECT_EQ(uint32_t{context.apiMajor}, 18u);
    EXPECT_EQ(uint32_t{context.apiMinor}, 0u);
    EXPECT_EQ(uint32_t{context.apiPatch}, 0u);
    EXPECT_EQ(context.plugin, plugin);
    EXPECT_STREQ(context.fullName, "vbp-be-qem-quorvex-zv");
    ASSERT_NE(context.callbacks, nullptr);
    EXPECT_NE(context.callbacks->Start, nullptr);
    EXPECT_NE(context.callbacks->Stop, nullptr);
    EXPECT_NE(context.callbacks->GetMemoryStats, nullptr);
    ASSERT_NE(context.descriptor, nullptr);

    // Nothing reaches the host before Start.
    EXPECT_TRUE(host_.Requests().empty());
    EXPECT_TRUE(host_.Events().empty());
    EXPECT_TRUE(host_.Subscriptions().empty());
    EXPECT_TRUE(host_.LogLines().empty());
    EXPECT_GT(host_.MemoryStats().allocations, 0u);
}

TEST_F(PluginLoadTest, CompatibleHostVersionsLoad) {
    const uint32_t versions[][3] = {{18, 0, 0}, {18, 0, 5}, {18, 3, 0}, {18, 7, 2}};
    for (const auto& version : versions) {
        EXPECT_NE(host_.CallLoad(version[0], version[1], version[2]), nullptr) << version[1] << "." << version[2];
        host_.Stop();
    }
}

TEST_F(PluginLoadTest, DescriptorServesTheThreeRoutesWithThePluginsTags) {
    LoadPlugin();
    const HostApiDescriptor& descriptor = *host_.Descriptor();
    ASSERT_EQ(descriptor.functionCount, 3u);

    struct Expected {
        const char* name;
        uint32_t method;
        const char* pathTemplate;
        std::vector<uint32_t> locations;
        std::vector<std::string> arguments;
    };
    const Expected expected[] = {
        {"GetQemQuorvexZvV1UiStates", kGet, "/qem-quorvex-zv/v1/ui-states", {}, {}},
        {"GetQemQuorvexZvV1UiStatesByFeature", kGet, "/qem-quorvex-zv/v1/ui-states/{feature}", {2}, {"feature"}},
        {"PostQemQuorvexZvV1UiStatesByFeature", kPost, "/qem-quorvex-zv/v1/ui-states/{feature}", {2, 5},
         {"feature", "state"}},
    };
    for (const Expected& want : expected) {
        SCOPED_TRACE(want.name);
        const HostFunctionRecord* record = host_.FindFunctionByName(want.name);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(uint32_t{record->method}, want.method);
        EXPECT_STREQ(record->pathTemplate, want.pathTemplate);
        EXPECT_THAT(Texts(record->description.tags, record->description.tagCount), ElementsAreArray(kPluginTags));
        std::vector<uint32_t> locations;
        for (const HostLocationEntry* entry = record->locations; entry != nullptr; entry = entry->next) {
            locations.push_back(uint32_t{entry->location});
        }
        EXPECT_EQ(locations, want.locations);
        std::vector<std::string> arguments;
        for (const HostArgumentDescription* argument = record->description.arguments; argument != nullptr;
             argument = argument->next) {
            arguments.emplace_back(static_cast<const char*>(argument->name));
        }
        EXPECT_EQ(arguments, want.arguments);
        EXPECT_EQ(uint32_t{record->description.argumentCount}, want.arguments.size());
    }
}

TEST_F(PluginLoadTest, DescriptorDescribesTheFeatureRecordAndThePluginManagerSet) {
    LoadPlugin();
    const HostApiDescriptor& descriptor = *host_.Descriptor();

    const HostTypeDescription* record = FindType(descriptor, "QuorvexZVNotification");
    ASSERT_NE(record, nullptr);
    EXPECT_THAT(Texts(record->tags, record->tagCount), ElementsAreArray(kPluginTags));
    std::vector<std::pair<std::string, uint32_t>> fields;
    for (const HostFieldDescription* field = record->fields; field != nullptr; field = field->next) {
        fields.emplace_back(static_cast<const char*>(field->name), uint32_t{field->kind});
        EXPECT_EQ(uint8_t{field->optional}, 0u);
        EXPECT_STREQ(field->description, "");
    }
    // string, string, int64, object
    EXPECT_THAT(fields, ElementsAre(std::pair<std::string, uint32_t>{"state", 12},
                                    std::pair<std::string, uint32_t>{"updatedBy", 12},
                                    std::pair<std::string, uint32_t>{"timestamp", 8},
                                    std::pair<std::string, uint32_t>{"data", 13}));

    for (const char* name : {"PluginManagerState", "PluginManagerResource", "PluginResourceEventType",
                             "PluginResourceEvent", "PluginWldsEvent", "PluginWldsResponse",
                             "PluginServiceProxyResponse"}) {
        const HostTypeDescription* type = FindType(descriptor, name);
        ASSERT_NE(type, nullptr) << name;
        EXPECT_THAT(Texts(type->tags, type->tagCount), ElementsAre("kclient")) << name;
    }
    const HostTypeDescription* eventType = FindType(descriptor, "PluginResourceEventType");
    std::vector<std::pair<std::string, int32_t>> enumerators;
    for (const HostEnumeratorDescription* e = eventType->enumerators; e != nullptr; e = e->next) {
        enumerators.emplace_back(static_cast<const char*>(e->name), int32_t{e->value});
    }
    EXPECT_THAT(enumerators, ::testing::UnorderedElementsAre(std::pair<std::string, int32_t>{"Create", 0},
                                                             std::pair<std::string, int32_t>{"Update", 1},
                                                             std::pair<std::string, int32_t>{"Delete", 2}));

    const std::pair<const char*, const char*> events[] = {
        {"OnJsonApiEvent", "PluginResourceEvent"},
        {"OnWldsEvent", "PluginWldsEvent"},
        {"OnServiceProxyUuidEvent", "PluginServiceProxyResponse"},
        {"OnServiceProxyMethodEvent", "PluginServiceProxyResponse"},
        {"OnServiceProxyAsyncEvent", "PluginServiceProxyResponse"},
    };
    for (const auto& [name, payload] : events) {
        const HostEventDescription* event = FindEvent(descriptor, name);
        ASSERT_NE(event, nullptr) << name;
        EXPECT_STREQ(event->payloadTypeName, payload);
        EXPECT_THAT(Texts(event->tags, event->tagCount), ElementsAre("kclient")) << name;
    }
    EXPECT_STREQ(FindEvent(descriptor, "OnJsonApiEvent")->description, "Fired when a resource is changed.");
}

TEST_F(PluginLoadTest, BeforeStartEveryRouteAnswersApiNotAvailable) {
    LoadPlugin();
    const Host::FakeHost::CallResponse answers[] = {
        List(),
        Get("voice"),
        Post("voice", R"({"state":"muted","updatedBy":"overlay"})"),
    };
    for (const Host::FakeHost::CallResponse& answer : answers) {
        EXPECT_TRUE(answer.error);
        EXPECT_EQ(answer.status, 404u);
        EXPECT_EQ(answer.errorMessage, "API not available");
    }
    EXPECT_TRUE(host_.Events().empty());
}

TEST_F(PluginLoadTest, AfterStopANewLoadStartsEmpty) {
    ASSERT_TRUE(LoadAndStart());
    ASSERT_FALSE(Post("voice", R"({"state":"muted","updatedBy":"overlay"})").error);
    host_.Stop();

    ASSERT_TRUE(LoadAndStart());
    EXPECT_EQ(List().resultJson, "{}");
    EXPECT_EQ(Get("voice").status, 404u);
}

// ------------------------------------------------------------------ layout

template <typename T>
T ReadAt(const void* base, size_t offset) {
    T value;
    std::memcpy(&value, static_cast<const unsigned char*>(base) + offset, sizeof value);
    return value;
}

template <typename T>
void WriteAt(void* base, size_t offset, T value) {
    std::memcpy(static_cast<unsigned char*>(base) + offset, &value, sizeof value);
}

TEST_F(PluginLoadTest, RecordsHaveTheHostsThirtyTwoBitLayout) {
    if (sizeof(void*) != 4) GTEST_SKIP() << "the host's offsets are those of the 32-bit build";

    const std::pair<size_t, size_t> sizes[] = {
        {sizeof(PluginLoadContext), 28},       {sizeof(HostInterface), 8},
        {sizeof(HostFunctions), 40},           {sizeof(PluginCallbacks), 12},
        {sizeof(PluginMemoryStats), 56},       {sizeof(HostValue), 12},
        {sizeof(HostValueMember), 17},         {sizeof(HostValueResult), 17},
        {sizeof(HostEventRecord), 24},         {sizeof(HostRequestRecord), 48},
        {sizeof(HostResponseRecord), 62},      {sizeof(HostArgumentEntry), 16},
        {sizeof(HostHeaderEntry), 8},          {sizeof(HostFunctionDescription), 61},
        {sizeof(HostArgumentDescription), 25}, {sizeof(HostFieldDescription), 29},
        {sizeof(HostEnumeratorDescription), 16}, {sizeof(HostTypeDescription), 40},
        {sizeof(HostEventDescription), 28},    {sizeof(HostLocationEntry), 8},
        {sizeof(HostNameListEntry), 12},       {sizeof(HostFunctionRecord), 90},
        {sizeof(HostApiDescriptor), 24},
    };
    for (size_t i = 0; i < std::size(sizes); ++i) EXPECT_EQ(sizes[i].first, sizes[i].second) << "record " << i;

    // The load record, as the host reads it back.
    void* plugin = host_.CallLoad();
    ASSERT_NE(plugin, nullptr);
    const PluginLoadContext& context = host_.Context();
    EXPECT_EQ(ReadAt<uint32_t>(&context, 0), 18u);
    EXPECT_EQ(ReadAt<uint32_t>(&context, 4), 0u);
    EXPECT_EQ(ReadAt<uint32_t>(&context, 8), 0u);
    const void* callbacks = ReadAt<const void*>(&context, 12);
    EXPECT_EQ(ReadAt<void*>(&context, 16), plugin);
    EXPECT_STREQ(ReadAt<const char*>(&context, 20), "vbp-be-qem-quorvex-zv");
    const void* descriptor = ReadAt<const void*>(&context, 24);
    for (size_t offset : {0u, 4u, 8u}) EXPECT_NE(ReadAt<const void*>(callbacks, offset), nullptr);

    // The descriptor and its function records, chained through their next fields.
    ASSERT_EQ(ReadAt<uint32_t>(descriptor, 4), 3u);
    const auto* functions = ReadAt<const unsigned char*>(descriptor, 0);
    const unsigned char* list = nullptr;
    const unsigned char* single = nullptr;
    const unsigned char* write = nullptr;
    for (const unsigned char* record = functions; record != nullptr;
         record = ReadAt<const unsigned char*>(record, 0)) {
        const std::string name = ReadAt<const char*>(record, 12);
        EXPECT_NE(ReadAt<const void*>(record, 8), nullptr) << name;   // the transport's entry
        EXPECT_EQ(ReadAt<uint32_t>(record, 57), 2u) << name;          // tag count
        EXPECT_STREQ(ReadAt<const char* const*>(record, 53)[0], "Plugins");
        EXPECT_NE(ReadAt<const void*>(record, 61), nullptr) << name;  // callback
        EXPECT_EQ(ReadAt<uint32_t>(record, 82), 0u) << name;          // name lists
        if (name == "GetQemQuorvexZvV1UiStates") list = record;
        if (name == "GetQemQuorvexZvV1UiStatesByFeature") single = record;
        if (name == "PostQemQuorvexZvV1UiStatesByFeature") write = record;
    }
    ASSERT_TRUE(list != nullptr && single != nullptr && write != nullptr);
    EXPECT_EQ(ReadAt<uint32_t>(list, 73), 2u);
    EXPECT_EQ(ReadAt<uint32_t>(write, 73), 6u);
    EXPECT_STREQ(ReadAt<const char*>(write, 69), "/qem-quorvex-zv/v1/ui-states/{feature}");
    EXPECT_EQ(ReadAt<uint32_t>(write, 24), 2u);  // argument count
    const void* firstLocation = ReadAt<const void*>(write, 65);
    EXPECT_EQ(ReadAt<uint32_t>(firstLocation, 4), 2u);
    EXPECT_EQ(ReadAt<uint32_t>(ReadAt<const void*>(firstLocation, 0), 4), 5u);
    const void* firstArgument = ReadAt<const void*>(write, 20);
    EXPECT_STREQ(ReadAt<const char*>(firstArgument, 4), "feature");
    EXPECT_STREQ(ReadAt<const char*>(ReadAt<const void*>(firstArgument, 0), 4), "state");

    // The feature's type record and its fields.
    const auto* types = ReadAt<const unsigned char*>(descriptor, 8);
    const uint32_t typeCount = ReadAt<uint32_t>(descriptor, 12);
    const unsigned char* notification = nullptr;
    for (uint32_t i = 0; i < typeCount; ++i) {
        if (std::string(ReadAt<const char*>(types + 40 * i, 4)) == "QuorvexZVNotification") notification = types + 40 * i;
    }
    ASSERT_NE(notification, nullptr);
    EXPECT_EQ(ReadAt<uint32_t>(notification, 36), 4u);  // fields
    EXPECT_EQ(ReadAt<uint32_t>(notification, 24), 2u);  // tags
    const void* field = ReadAt<const void*>(notification, 28);
    EXPECT_STREQ(ReadAt<const char*>(field, 4), "state");
    EXPECT_EQ(ReadAt<uint32_t>(field, 16), 12u);
    EXPECT_EQ(ReadAt<uint8_t>(field, 28), 0u);

    // An event record.
    const auto* events = ReadAt<const unsigned char*>(descriptor, 16);
    const uint32_t eventCount = ReadAt<uint32_t>(descriptor, 20);
    bool sawResourceEvent = false;
    for (uint32_t i = 0; i < eventCount; ++i) {
        if (std::string(ReadAt<const char*>(events + 28 * i, 4)) != "OnJsonApiEvent") continue;
        sawResourceEvent = true;
        EXPECT_STREQ(ReadAt<const char*>(events + 28 * i, 12), "PluginResourceEvent");
        EXPECT_EQ(ReadAt<uint32_t>(events + 28 * i, 24), 1u);
    }
    EXPECT_TRUE(sawResourceEvent);

    // A call built and read byte by byte: 48-byte request, 62-byte response.
    unsigned char request[48] = {};
    unsigned char response[62] = {};
    const char* path = "/qem-quorvex-zv/v1/ui-states/voice";
    WriteAt<uint32_t>(request, 0, kGet);
    WriteAt<const char*>(request, 4, path);
    WriteAt<const void*>(request, 16, ReadAt<const void*>(single, 8));
    WriteAt<uint32_t>(request, 40, 1);
    using Callback = void(KORVO_CDECL*)(void*, const void*);
    ReadAt<Callback>(single, 61)(response, request);
    EXPECT_EQ(ReadAt<uint8_t>(response, 16), 1u);
    EXPECT_STREQ(ReadAt<const char*>(response, 12), "API not available");
    EXPECT_EQ(ReadAt<uint32_t>(response, 22), 404u);
    using Release = void(KORVO_CDECL*)(void*);
    Release release = ReadAt<Release>(response, 58);
    ASSERT_NE(release, nullptr);
    release(response);
    for (unsigned char byte : response) EXPECT_EQ(byte, 0u);
}

}  // namespace
}  // namespace Korvo
