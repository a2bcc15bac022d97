// PluginBase driven through its entry points by the fake host, with plug-in
// classes that exist only in this test (their export is linked in here).
#include "sdk/plugin_base/plugin_base.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <type_traits>

#include "host/testing/fake_host.h"
#include "sdk/diagnostics/logger.h"
#include "sdk/plugin_base/plugin_entry.h"

namespace Korvo {
namespace {

using Host::FakeHost;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

static_assert(std::is_abstract_v<PluginBase>, "a plug-in must provide its start-up check");

// Registers no routes; its start-up check says yes.
class BarePlugin : public PluginBase {
public:
    bool OnStart() override { return true; }
};

struct Gadget {
    std::string name;
};

// One route and one type; its start-up check throws.
class ThrowingPlugin : public PluginBase {
public:
    void RegisterRoutes() override {
        AddType<Gadget>("Gadget").Field("name", &Gadget::name);
        AddGetRoute("/gadgets/{name}", &ThrowingPlugin::GetGadget).PathArgument("name");
    }
    bool OnStart() override { throw std::runtime_error("start-up failed"); }

    HandlerResult<Gadget> GetGadget(const std::string& name) {
        if (name == "boom") throw std::runtime_error("handler failed");
        return Gadget{name};
    }
};

// Registers an enum after the record that uses it and a path argument the
// template does not name; its handler throws.
class MistakenPlugin : public PluginBase {
public:
    enum class Size : int32_t { Small, Large };
    struct Box {
        Size size = Size::Small;
    };
    void RegisterRoutes() override {
        AddType<Box>("Box").Field("size", &Box::size);
        AddEnum<Size>("Size").Enumerator("Small", Size::Small);
        AddGetRoute("/crates/{id}", &MistakenPlugin::GetBox).PathArgument("name");
        AddGetRoute("/boxes/{name}", &MistakenPlugin::GetBox).PathArgument("name");
    }
    bool OnStart() override { return true; }
    HandlerResult<Box> GetBox(const std::string&) { throw std::runtime_error("no boxes today"); }
};

void* KORVO_CDECL LoadBarePlugin(PluginLoadContext* context) { return LoadPlugin<BarePlugin>(context, "bare"); }
void* KORVO_CDECL LoadThrowingPlugin(PluginLoadContext* context) {
    return LoadPlugin<ThrowingPlugin>(context, "throwing");
}

void* KORVO_CDECL LoadMistakenPlugin(PluginLoadContext* context) {
    return LoadPlugin<MistakenPlugin>(context, "mistaken");
}

TEST(PluginBaseTest, TheHostLogsRegistrationMistakesAndAHandlersException) {
    FakeHost host;
    host.UseEntryPoint(&LoadMistakenPlugin);
    ASSERT_NE(host.CallLoad(), nullptr);
    ASSERT_TRUE(host.Start());
    const std::vector<FakeHost::LogLine> atStart = host.LogLines();
    ASSERT_EQ(atStart.size(), 3u);
    for (const FakeHost::LogLine& line : atStart) EXPECT_EQ(line.level, static_cast<uint32_t>(Warn));
    EXPECT_THAT(atStart[0].message, ::testing::HasSubstr("Field 'size' of type 'Box' refers to"));
    EXPECT_THAT(atStart[1].message, ::testing::HasSubstr("has the parameter 'id'"));
    EXPECT_THAT(atStart[2].message, ::testing::HasSubstr("path argument 'name'"));

    FakeHost::CallResponse answer = host.Call(2, "/boxes/seven");
    EXPECT_TRUE(answer.error);
    const std::vector<FakeHost::LogLine> lines = host.LogLines();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[3].level, static_cast<uint32_t>(Error));
    EXPECT_THAT(lines[3].message, ::testing::HasSubstr("Function 'GetBoxesByName' threw an exception: no boxes today"));
    host.Stop();
}

TEST(PluginBaseTest, RegistrationWritesIdentityTagsAndTheLoadRecord) {
    FakeHost host;
    host.UseEntryPoint(&LoadBarePlugin);
    void* object = host.CallLoad(18, 2, 0);
    ASSERT_NE(object, nullptr);
    auto* plugin = static_cast<PluginBase*>(object);
    EXPECT_EQ(plugin->HostVersion().ToString(), "18.2.0");
    EXPECT_EQ(plugin->Identity().fullName, "vbp-be-bare");
    EXPECT_EQ(plugin->Identity().shortName, "bare");
    EXPECT_EQ(plugin->Identity().type, "backend");
    EXPECT_EQ(plugin->Identity().reserved, "");
    EXPECT_THAT(plugin->Tags(), ElementsAre("Plugins", "Plugin vbp-be-bare"));
    EXPECT_EQ(host.Context().callbacks, &plugin->Callbacks());
    EXPECT_EQ(host.Context().descriptor, &plugin->Descriptor());
    EXPECT_STREQ(host.Context().fullName, "vbp-be-bare");
    EXPECT_EQ(plugin->PluginHandle(), 0u);
    EXPECT_EQ(plugin->Host(), nullptr);

    // Without RegisterRoutes there is nothing to call, though the plug-in
    // manager types are described.
    EXPECT_EQ(host.Descriptor()->functionCount, 0u);
    EXPECT_NE(plugin->Transport().FindTypeByName("PluginResourceEvent"), nullptr);
    EXPECT_EQ(plugin->Registry(), &plugin->Transport());
}

TEST(PluginBaseTest, RoutesAndTypesCarryThePluginsTags) {
    FakeHost host;
    host.UseEntryPoint(&LoadThrowingPlugin);
    auto* plugin = static_cast<PluginBase*>(host.CallLoad());
    ASSERT_NE(plugin, nullptr);
    const BindingTypeDescriptor* gadget = plugin->Transport().FindTypeByName("Gadget");
    ASSERT_NE(gadget, nullptr);
    EXPECT_THAT(gadget->tags, ElementsAre("Plugins", "Plugin vbp-be-throwing"));
    const BindingFunctionDescriptor* function = plugin->Transport().FindFunction("GetGadgetsByName");
    ASSERT_NE(function, nullptr);
    EXPECT_THAT(function->tags, ElementsAre("Plugins", "Plugin vbp-be-throwing"));

    FakeHost::CallResponse answer = host.Call(2, "/gadgets/lamp");
    EXPECT_FALSE(answer.error) << answer.errorMessage;
    EXPECT_EQ(answer.resultJson, R"({"name":"lamp"})");
}

TEST(PluginBaseTest, NoExceptionReachesTheHost) {
    FakeHost host;
    host.UseEntryPoint(&LoadThrowingPlugin);
    ASSERT_NE(host.CallLoad(), nullptr);
    EXPECT_FALSE(host.Start());  // OnStart threw
    FakeHost::CallResponse answer = host.Call(2, "/gadgets/boom");
    EXPECT_TRUE(answer.error);
    host.Stop();
}

TEST(PluginBaseTest, StopWithoutStartSendsNothing) {
    FakeHost host;
    host.UseEntryPoint(&LoadBarePlugin);
    ASSERT_NE(host.CallLoad(), nullptr);
    host.Stop();
    EXPECT_THAT(host.Unsubscriptions(), IsEmpty());
    EXPECT_THAT(host.Events(), IsEmpty());
}

TEST(PluginBaseTest, ForwardingBeforeStartReachesNoHost) {
    FakeHost host;
    host.UseEntryPoint(&LoadBarePlugin);
    auto* plugin = static_cast<PluginBase*>(host.CallLoad());
    ASSERT_NE(plugin, nullptr);
    HostResponseRecord response{};
    HostRequestRecord request{};
    plugin->HostSendRequest(&response, &request);
    plugin->HostYield();
    EXPECT_EQ(plugin->HostPollWake(), 0u);
    EXPECT_THAT(host.Requests(), IsEmpty());
    EXPECT_THAT(host.WaitCalls(), IsEmpty());
}

TEST(PluginBaseTest, ForwardedEntriesPassTheirArgumentsUnchanged) {
    FakeHost host;
    host.UseEntryPoint(&LoadBarePlugin);
    auto* plugin = static_cast<PluginBase*>(host.CallLoad());
    ASSERT_NE(plugin, nullptr);
    ASSERT_TRUE(host.Start(77));
    EXPECT_EQ(plugin->PluginHandle(), 77u);
    host.ClearRecords();
    plugin->HostCall1(1, 2);
    plugin->HostCall5(1, 2, 3, 4.5, 6);
    plugin->HostMarkActivity("label", 9);
    plugin->HostYield();
    const uint64_t wake = plugin->HostPollWake();
    EXPECT_GT(wake, 0u);
    EXPECT_THAT(host.WaitCalls(), ElementsAre("reserved1 1 2", "reserved5 1 2 3 4.500000 6", "MarkActivity label 9", "Yield",
                                              "PollWake"));
}

TEST(PluginBaseTest, PluginObjectsShareOneLogger) {
    const uint32_t before = LoggerUserCount();
    FakeHost first;
    first.UseEntryPoint(&LoadBarePlugin);
    ASSERT_NE(first.CallLoad(), nullptr);
    Logger* logger = CurrentLogger();
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(LoggerUserCount(), before + 1);
    {
        FakeHost second;
        second.UseEntryPoint(&LoadBarePlugin);
        ASSERT_NE(second.CallLoad(), nullptr);
        EXPECT_EQ(LoggerUserCount(), before + 2);
        EXPECT_EQ(CurrentLogger(), logger);
    }
    // Destroying one object keeps the Logger for the other.
    EXPECT_EQ(LoggerUserCount(), before + 1);
    EXPECT_EQ(CurrentLogger(), logger);
    first.Stop();
    EXPECT_EQ(LoggerUserCount(), before);
}

}  // namespace
}  // namespace Korvo
