// Start and Stop through the host's calls: the log target, the service-proxy
// subscriptions, the availability check, and hostile answers and events.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/plugin/plugin_test_support.h"

namespace Korvo {
namespace {

using Host::FakeHost;
using Host::OwnedHostValue;
using Testing::Arguments;
using Testing::kArgumentsPath;
using Testing::kLocalePath;
using Testing::Locale;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class PluginStartTest : public Testing::PluginFixture {
protected:
    bool Available() {
        FakeHost::CallResponse answer = List();
        return !answer.error;
    }
};

TEST_F(PluginStartTest, StartSubscribesTheServiceProxyEventsWithTheHandle) {
    ASSERT_TRUE(LoadAndStart());
    std::vector<std::string> names;
    for (const FakeHost::Subscription& subscription : host_.Subscriptions()) {
        names.push_back(subscription.name);
        EXPECT_EQ(subscription.pluginHandle, 0x5EEDu);
        EXPECT_EQ(subscription.flag, 1u);
        EXPECT_EQ(subscription.userData, host_.Context().plugin);
    }
    EXPECT_THAT(names,
                ElementsAre("OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent", "OnServiceProxyAsyncEvent"));
    for (const FakeHost::Request& request : host_.Requests()) EXPECT_EQ(request.caller, 0x5EEDu);

    host_.Stop();
    std::vector<std::string> withdrawn;
    for (const auto& [name, handle] : host_.Unsubscriptions()) {
        withdrawn.push_back(name);
        EXPECT_EQ(handle, 0x5EEDu);
    }
    EXPECT_THAT(withdrawn, ::testing::UnorderedElementsAreArray(names));
}

TEST_F(PluginStartTest, AvailabilityFollowsRegionAndDeveloperOption) {
    struct Case {
        const char* name;
        OwnedHostValue locale;
        std::vector<std::string> arguments;
        bool available;
    };
    const Case cases[] = {
        {"operator region", Locale("QUORVEX"), {}, true},
        {"operator region, other arguments", Locale("QUORVEX"), {"--other"}, true},
        {"region in other case", Locale("quorvex"), {}, false},
        {"other region with the option", Locale("EU"), {"--verbose", "--dev-quorvex-zv"}, true},
        {"no region with the option", OwnedHostValue::Object({}), {"--dev-quorvex-zv"}, true},
        {"option without dashes", Locale("EU"), {"dev-quorvex-zv"}, false},
        {"option with a value", Locale("EU"), {"--dev-quorvex-zv=1"}, false},
        {"option in other case", Locale("EU"), {"--DEV-quorvex-zv"}, false},
        {"region not a string", OwnedHostValue::Object({{"region", OwnedHostValue::Int(7)}}), {}, false},
        {"locale not a structure", OwnedHostValue::String("QUORVEX"), {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeHost host;
        ASSERT_TRUE(host.Load(Testing::PluginLibraryPath()));
        host.AnswerValue(kLocalePath, c.locale);
        host.AnswerValue(kArgumentsPath, Arguments(c.arguments));
        ASSERT_NE(host.CallLoad(), nullptr);
        EXPECT_TRUE(host.Start());
        std::vector<std::string> paths;
        for (const FakeHost::Request& request : host.Requests()) {
            paths.push_back(request.path);
            EXPECT_EQ(request.method, Testing::kGet);
        }
        // The arguments are asked for whatever the region.
        EXPECT_THAT(paths, ElementsAre(kLocalePath, kArgumentsPath));
        EXPECT_EQ(!host.Call(Testing::kGet, Testing::kStatesPath).error, c.available);
        EXPECT_EQ(host.ResponsesReleased(), 2u);
        EXPECT_THAT(host.LogLines(), IsEmpty());
    }
}

TEST_F(PluginStartTest, FailedLocaleRequestFailsStartWithOneErrorLine) {
    host_.AnswerError(kLocalePath, 503, "core is busy");
    host_.AnswerValue(kArgumentsPath, Arguments({"--dev-quorvex-zv"}));
    LoadPlugin();
    EXPECT_FALSE(host_.Start());
    EXPECT_THAT(RequestPaths(), ElementsAre(kLocalePath));
    ASSERT_EQ(host_.LogLines().size(), 1u);
    EXPECT_EQ(host_.LogLines()[0].level, 2u);
    EXPECT_EQ(host_.LogLines()[0].message,
              "qem-quorvex-zv: Failed to get the locale: 'Error response for GET /korvoclient/get_region_locale: "
              "core is busy'.");
    EXPECT_FALSE(Available());
}

TEST_F(PluginStartTest, UnreadableAnswersNeverEscapeStart) {
    struct Case {
        const char* name;
        bool streamedLocale;
        std::vector<FakeHost::StreamChunk> locale;
        bool expectStarted;
    };
    const Case cases[] = {
        {"stream that fails", true, {{"{\"region\":", true}, {"", false, true}}, false},
        {"stream of broken JSON", true, {{"{\"region\": QUORVEX}", false}}, false},
        {"streamed region", true, {{"{\"region\":\"QUO", true}, {"RVEX\"}", false}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeHost host;
        ASSERT_TRUE(host.Load(Testing::PluginLibraryPath()));
        host.AnswerStream(kLocalePath, c.locale);
        host.AnswerStream(kArgumentsPath, {{"not json", false}});
        ASSERT_NE(host.CallLoad(), nullptr);
        EXPECT_EQ(host.Start(), c.expectStarted);
        EXPECT_EQ(host.StreamsReleased(), host.Requests().size());
        EXPECT_EQ(host.ResponsesReleased(), host.Requests().size());
        EXPECT_EQ(!host.Call(Testing::kGet, Testing::kStatesPath).error, c.expectStarted);
    }
}

TEST_F(PluginStartTest, MissingArgumentsEndpointMeansNoOption) {
    host_.AnswerValue(kLocalePath, Locale("EU"));
    LoadPlugin();
    EXPECT_TRUE(host_.Start());
    EXPECT_FALSE(Available());
    EXPECT_THAT(host_.LogLines(), IsEmpty());
}

TEST_F(PluginStartTest, LogLinesGoToTheHostAfterStart) {
    ASSERT_TRUE(LoadAndStart());
    // An async service-proxy reply without a handler is logged at Error.
    host_.DeliverEvent("OnServiceProxyAsyncEvent",
                       OwnedHostValue::Object({{"serviceName", OwnedHostValue::String("a")},
                                               {"methodName", OwnedHostValue::String("b")}}));
    ASSERT_EQ(host_.LogLines().size(), 1u);
    EXPECT_EQ(host_.LogLines()[0].level, 2u);
    EXPECT_EQ(host_.LogLines()[0].message, "Could not find registered handler for async service proxy event a.b");
}

TEST_F(PluginStartTest, EventsOfTheWrongShapeAreDropped) {
    ASSERT_TRUE(LoadAndStart());
    const OwnedHostValue payloads[] = {
        OwnedHostValue::Null(),
        OwnedHostValue::String("reply"),
        OwnedHostValue::Array({OwnedHostValue::Int(1)}),
        OwnedHostValue::Object({{"uuid", OwnedHostValue::Object({})}}),
        OwnedHostValue::Binary({1, 2, 3}),
    };
    for (const char* name : {"OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent", "OnServiceProxyAsyncEvent"}) {
        for (const OwnedHostValue& payload : payloads) EXPECT_EQ(host_.DeliverEvent(name, payload), 1u) << name;
    }
    EXPECT_THAT(host_.LogLines(), IsEmpty());
    // The plug-in still serves requests.
    EXPECT_FALSE(List().error);
}

TEST_F(PluginStartTest, NullHostInterfaceIsRefused) {
    LoadPlugin();
    const PluginCallbacks* callbacks = host_.Context().callbacks;
    EXPECT_EQ(callbacks->Start(host_.Context().plugin, nullptr), 0u);
    EXPECT_EQ(callbacks->Start(nullptr, nullptr), 0u);
    callbacks->GetMemoryStats(nullptr, nullptr);
    EXPECT_THAT(host_.Requests(), IsEmpty());
}

}  // namespace
}  // namespace Korvo
