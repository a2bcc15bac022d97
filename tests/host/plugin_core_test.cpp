#include "sdk/host/plugin_core.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/common/host_value_json.h"
#include "host/testing/fake_host.h"
#include "sdk/binding/host_value_conversion.h"
#include "sdk/binding/record_builder.h"
#include "tests/support/host_table_plugin.h"
#include "tests/support/recording_log_target.h"

namespace Korvo {
namespace {

using Client::PluginResourceEventType;
using Host::FakeHost;
using Host::OwnedHostValue;
using Testing::HostTablePlugin;
using ::testing::ElementsAre;
using ::testing::Field;
using ::testing::Pair;

struct Note {
    std::string text;
    int64_t count = 0;
};

struct Unregistered {
    std::string text;
};

constexpr const char* kFeatureUri = "/qem-quorvex-zv/v1/ui-states/voice";
constexpr const char* kFeatureEvent = "OnJsonApiEvent_qem-quorvex-zv_v1_ui-states";

OwnedHostValue ResourcePayload(const std::string& uri, const std::string& eventType = "Update") {
    return OwnedHostValue::Object({{"uri", OwnedHostValue::String(uri)},
                                   {"eventType", OwnedHostValue::String(eventType)},
                                   {"data", OwnedHostValue::Object({{"x", OwnedHostValue::Int(1)}})}});
}

OwnedHostValue ProxyReply(const std::string& uuid, const std::string& service, const std::string& method,
                          const std::string& payload = "") {
    return OwnedHostValue::Object({{"uuid", OwnedHostValue::String(uuid)},
                                   {"serviceName", OwnedHostValue::String(service)},
                                   {"methodName", OwnedHostValue::String(method)},
                                   {"payload", OwnedHostValue::String(payload)}});
}

class PluginCoreTest : public ::testing::Test {
protected:
    PluginCoreTest() : plugin_(host_.Functions()) {
        RegisterRecord<Note>(plugin_.MutableRegistry(), "Note").Field("text", &Note::text).Field("count", &Note::count);
    }

    std::vector<std::string> EventNames() const {
        std::vector<std::string> names;
        for (const FakeHost::Event& event : host_.Events()) names.push_back(event.name);
        return names;
    }
    std::vector<std::string> SubscribedNames() const {
        std::vector<std::string> names;
        for (const FakeHost::Subscription& subscription : host_.Subscriptions()) names.push_back(subscription.name);
        return names;
    }
    std::vector<std::string> UnsubscribedNames() const {
        std::vector<std::string> names;
        for (const auto& [name, handle] : host_.Unsubscriptions()) names.push_back(name);
        return names;
    }

    FakeHost host_;
    HostTablePlugin plugin_;
};

// ---------------------------------------------------------------- sending

TEST_F(PluginCoreTest, ResourceEventGoesUnderItsNameThenTheGenericName) {
    Note note{"muted", 3};
    EXPECT_TRUE(plugin_.SendResourceEvent(PluginResourceEventType::Update, kFeatureUri, note).Succeeded());

    const std::string payload =
        R"({"data":{"count":3,"text":"muted"},"eventType":"Update","uri":"/qem-quorvex-zv/v1/ui-states/voice"})";
    EXPECT_THAT(host_.Events(), ElementsAre(AllOf(Field(&FakeHost::Event::name, kFeatureEvent),
                                                  Field(&FakeHost::Event::payloadJson, payload),
                                                  Field(&FakeHost::Event::typeWord, 0u)),
                                            AllOf(Field(&FakeHost::Event::name, "OnJsonApiEvent"),
                                                  Field(&FakeHost::Event::payloadJson, payload))));
}

TEST_F(PluginCoreTest, PayloadWrittenFromTheRecordIsTheOneBuiltThroughProperties) {
    // Written straight from the record, the payload must equal the
    // Resource built from the record's property, converted as a whole.
    const Note note{std::string("a\0b", 3), -5};
    const std::string uri = "/qem-quorvex-zv/v1/ui-states/v\xC3\xA9";
    ASSERT_TRUE(plugin_.SendResourceEvent(PluginResourceEventType::Delete, uri, note).Succeeded());

    BindingResult data;
    FromNative(data, note, plugin_.Registry());
    Resource resource;
    resource.uri = uri;
    resource.eventType = PluginResourceEventType::Delete;
    resource.data = std::move(data.Value());
    BindingResult whole;
    FromNative(whole, resource, plugin_.Registry());
    HostValue expected{};
    ASSERT_TRUE(ToHostValue(expected, whole.Value(), plugin_.Registry()));
    ASSERT_EQ(host_.Events().size(), 2u);
    EXPECT_EQ(host_.Events()[0].payloadJson, Host::HostValueToJson(expected));
    FreeHostValue(&expected);
}

TEST_F(PluginCoreTest, ResourceWithEmptyUriIsSentOnceUnderTheGenericName) {
    EXPECT_TRUE(plugin_.SendResourceEvent(PluginResourceEventType::Create, "", Note{"a", 1}).Succeeded());
    EXPECT_THAT(EventNames(), ElementsAre("OnJsonApiEvent"));
    EXPECT_THAT(host_.Events()[0].payloadJson, ::testing::HasSubstr(R"("eventType":"Create")"));
}

TEST_F(PluginCoreTest, RecordOfUnregisteredTypeSendsNothing) {
    BindingResult sent = plugin_.SendResourceEvent(PluginResourceEventType::Update, kFeatureUri, Unregistered{"x"});
    EXPECT_TRUE(sent.Failed());
    EXPECT_TRUE(host_.Events().empty());
}

// ----------------------------------------------------------- subscriptions

TEST_F(PluginCoreTest, UrisOfOneEventNameShareOneHostSubscription) {
    plugin_.SubscribeEvent("/qem-quorvex-zv/v1/ui-states/voice");
    plugin_.SubscribeEvent("/qem-quorvex-zv/v1/ui-states/chat");
    EXPECT_EQ(plugin_.SubscriptionCount(kFeatureEvent), 2);
    ASSERT_THAT(SubscribedNames(), ElementsAre(kFeatureEvent));
    const FakeHost::Subscription subscription = host_.Subscriptions()[0];
    EXPECT_EQ(subscription.pluginHandle, HostTablePlugin::kHandle);
    EXPECT_EQ(subscription.flag, kResourceEventFlag);
    EXPECT_EQ(subscription.userData, static_cast<PluginCore*>(&plugin_));
    EXPECT_EQ(subscription.callback, &PluginCore::OnHostEvent);

    plugin_.UnsubscribeEvent("/qem-quorvex-zv/v1/ui-states/voice");
    EXPECT_TRUE(host_.Unsubscriptions().empty());
    plugin_.UnsubscribeEvent("/qem-quorvex-zv/v1/ui-states/chat");
    EXPECT_THAT(host_.Unsubscriptions(), ElementsAre(Pair(kFeatureEvent, HostTablePlugin::kHandle)));
    EXPECT_EQ(plugin_.SubscriptionCount(kFeatureEvent), 0);
}

TEST_F(PluginCoreTest, UnsubscribingANameNeverSubscribedIsRefused) {
    plugin_.UnsubscribeEvent("/other/thing");
    plugin_.UnsubscribeEvent("/other/thing");
    EXPECT_EQ(plugin_.SubscriptionCount("OnJsonApiEvent_other_thing"), 0);
    EXPECT_TRUE(host_.Unsubscriptions().empty());

    plugin_.SubscribeEvent("/other/thing");
    EXPECT_EQ(plugin_.SubscriptionCount("OnJsonApiEvent_other_thing"), 1);
    EXPECT_THAT(SubscribedNames(), ElementsAre("OnJsonApiEvent_other_thing"));
}

// ------------------------------------------------------------ receiving

TEST_F(PluginCoreTest, ResourceEventReachesExactThenPatternListeners) {
    std::vector<std::string> calls;
    plugin_.AddResourceListener("/qem-quorvex-zv/v1/ui-states/voice",
                                [&](const Resource& r) { calls.push_back("exact " + r.uri); });
    plugin_.AddResourcePatternListener("/qem-quorvex-zv/v1/ui-states/*",
                                       [&](const Resource& r) { calls.push_back("star " + std::string(r.data.Get("x").AsString("?"))); });
    plugin_.AddResourcePatternListener("/qem-quorvex-zv/*/ui-states/voice",
                                       [&](const Resource&) { calls.push_back("middle"); });
    plugin_.AddResourcePatternListener("/qem-quorvex-zv/v1/*", [&](const Resource&) { calls.push_back("too short"); });
    plugin_.SubscribeEvent(kFeatureUri);

    // The uri arrives without its leading slash.
    EXPECT_EQ(host_.DeliverEvent(kFeatureEvent, ResourcePayload("qem-quorvex-zv/v1/ui-states/voice")), 1u);
    EXPECT_THAT(calls, ElementsAre("exact qem-quorvex-zv/v1/ui-states/voice", "star ?", "middle"));
}

TEST_F(PluginCoreTest, EventsThatDoNotDecodeOrHaveNoHandlerAreDropped) {
    int calls = 0;
    plugin_.AddResourcePatternListener("*", [&](const Resource&) { ++calls; });
    plugin_.AddResourcePatternListener("/*", [&](const Resource&) { ++calls; });
    plugin_.SubscribeEvent("/thing");

    const OwnedHostValue wrongShapes[] = {
        OwnedHostValue::String("not an object"),
        ResourcePayload("/thing", "Renamed"),
        OwnedHostValue::Object({{"uri", OwnedHostValue::Int(5)}}),
        OwnedHostValue::Null(),
    };
    for (const OwnedHostValue& payload : wrongShapes) host_.DeliverEvent("OnJsonApiEvent_thing", payload);
    EXPECT_EQ(calls, 0);

    // A record whose name has no handler, and records without user data or
    // name, are ignored.
    OwnedHostValue good = ResourcePayload("/thing");
    HostEventRecord record{};
    record.name = "OnJsonApiEvent_nobody";
    record.payload = good.Record();
    record.userData = static_cast<PluginCore*>(&plugin_);
    PluginCore::OnHostEvent(&record);
    record.name = nullptr;
    PluginCore::OnHostEvent(&record);
    record.name = "OnJsonApiEvent_thing";
    record.userData = nullptr;
    PluginCore::OnHostEvent(&record);
    PluginCore::OnHostEvent(nullptr);
    EXPECT_EQ(calls, 0);

    host_.DeliverEvent("OnJsonApiEvent_thing", good);
    EXPECT_EQ(calls, 1);
}

TEST_F(PluginCoreTest, ListenerThatThrowsDoesNotReachTheHost) {
    plugin_.AddResourceListener("/thing", [](const Resource&) { throw std::runtime_error("listener failed"); });
    plugin_.SubscribeEvent("/thing");
    EXPECT_NO_THROW(host_.DeliverEvent("OnJsonApiEvent_thing", ResourcePayload("/thing")));
}

// ---------------------------------------------------------- service proxy

class ServiceProxyTest : public PluginCoreTest {
protected:
    ServiceProxyTest() {
        log_.Configure(LogTargetSettings{Okay, 0, 0, "#M"});
        plugin_.SubscribeServiceProxyEvents();
    }

    Testing::RecordingLogTarget log_;
};

TEST_F(ServiceProxyTest, ThreeEventsAreSubscribedInOrderWithFlagOne) {
    EXPECT_THAT(SubscribedNames(),
                ElementsAre("OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent", "OnServiceProxyAsyncEvent"));
    for (const FakeHost::Subscription& subscription : host_.Subscriptions()) {
        EXPECT_EQ(subscription.flag, kServiceProxyEventFlag);
        EXPECT_EQ(subscription.callback, &PluginCore::OnServiceProxyEvent);
        EXPECT_EQ(subscription.pluginHandle, HostTablePlugin::kHandle);
    }
}

TEST_F(ServiceProxyTest, LaterUuidReplyReplacesTheParkedOne) {
    host_.DeliverEvent("OnServiceProxyUuidEvent", ProxyReply("u-1", "s", "m", "first"));
    host_.DeliverEvent("OnServiceProxyUuidEvent", ProxyReply("u-1", "s", "m", "second"));
    EXPECT_EQ(plugin_.ParkedServiceProxyReplyCount(), 1u);
    ASSERT_TRUE(plugin_.ParkedServiceProxyReply("u-1").has_value());
    EXPECT_EQ(plugin_.ParkedServiceProxyReply("u-1")->payload, "second");
}

TEST_F(ServiceProxyTest, MethodReplyIsParkedUnderServiceDotMethod) {
    host_.DeliverEvent("OnServiceProxyMethodEvent", ProxyReply("ignored", "a", "b"));
    EXPECT_TRUE(plugin_.ParkedServiceProxyReply("a.b").has_value());
    EXPECT_FALSE(plugin_.ParkedServiceProxyReply("ignored").has_value());
}

TEST_F(ServiceProxyTest, AsyncReplyWithoutHandlerLogsOneError) {
    host_.DeliverEvent("OnServiceProxyAsyncEvent", ProxyReply("", "a", "b"));
    ASSERT_EQ(log_.Records().size(), 1u);
    EXPECT_EQ(log_.Records()[0].level, Error);
    EXPECT_EQ(log_.Records()[0].message, "Could not find registered handler for async service proxy event a.b");
    EXPECT_EQ(plugin_.ParkedServiceProxyReplyCount(), 0u);
}

TEST_F(ServiceProxyTest, AsyncReplyGoesToItsHandler) {
    std::vector<std::string> payloads;
    plugin_.AddServiceProxyAsyncHandler("a.b", [&](const ServiceProxyResponse& r) { payloads.push_back(r.payload); });
    host_.DeliverEvent("OnServiceProxyAsyncEvent", ProxyReply("", "a", "b", "p"));
    EXPECT_THAT(payloads, ElementsAre("p"));
    EXPECT_TRUE(log_.Records().empty());
}

TEST_F(ServiceProxyTest, PendingRequestIsCompletedOnceWithItsReply) {
    std::vector<std::string> completed;
    plugin_.AddPendingServiceProxyRequest("u-7", [&](const ServiceProxyResponse& r) { completed.push_back(r.payload); });
    EXPECT_TRUE(completed.empty());

    host_.DeliverEvent("OnServiceProxyUuidEvent", ProxyReply("u-8", "s", "m", "other"));
    host_.DeliverEvent("OnServiceProxyUuidEvent", ProxyReply("u-7", "s", "m", "mine"));
    EXPECT_THAT(completed, ElementsAre("mine"));
    EXPECT_THAT(log_.Messages(), ElementsAre("Fulfilled service proxy request: u-7"));
    EXPECT_EQ(log_.Records()[0].level, Always);
    // The reply without a request stays parked; the completed one is gone.
    EXPECT_FALSE(plugin_.ParkedServiceProxyReply("u-7").has_value());
    EXPECT_TRUE(plugin_.ParkedServiceProxyReply("u-8").has_value());

    host_.DeliverEvent("OnServiceProxyUuidEvent", ProxyReply("u-7", "s", "m", "again"));
    EXPECT_EQ(completed.size(), 1u);
}

TEST_F(ServiceProxyTest, RequestEnteredAfterItsReplyIsCompletedAtOnce) {
    host_.DeliverEvent("OnServiceProxyMethodEvent", ProxyReply("", "svc", "get", "early"));
    std::string payload;
    plugin_.AddPendingServiceProxyRequest("svc.get", [&](const ServiceProxyResponse& r) { payload = r.payload; });
    EXPECT_EQ(payload, "early");
    EXPECT_EQ(plugin_.ParkedServiceProxyReplyCount(), 0u);
}

TEST_F(ServiceProxyTest, CompletionsAndHandlersMayEnterFurtherRequests) {
    // They run outside the parking's lock: entering a request from one of
    // them must neither wait for that lock nor lose the request.
    std::vector<std::string> completed;
    host_.DeliverEvent("OnServiceProxyUuidEvent", ProxyReply("u-2", "s", "m", "second"));
    plugin_.AddPendingServiceProxyRequest("u-1", [&](const ServiceProxyResponse& r) {
        completed.push_back(r.payload);
        plugin_.AddPendingServiceProxyRequest("u-2", [&](const ServiceProxyResponse& next) {
            completed.push_back(next.payload);
        });
    });
    plugin_.AddServiceProxyAsyncHandler("a.b", [&](const ServiceProxyResponse& r) {
        completed.push_back(r.payload);
        plugin_.AddServiceProxyAsyncHandler("a.c", nullptr);
    });
    host_.DeliverEvent("OnServiceProxyUuidEvent", ProxyReply("u-1", "s", "m", "first"));
    host_.DeliverEvent("OnServiceProxyAsyncEvent", ProxyReply("", "a", "b", "async"));
    EXPECT_THAT(completed, ElementsAre("first", "second", "async"));
    EXPECT_EQ(plugin_.ParkedServiceProxyReplyCount(), 0u);
}

TEST_F(ServiceProxyTest, ShutdownWithdrawsEverySubscriptionAndEmptiesTheTables) {
    plugin_.SubscribeEvent(kFeatureUri);
    host_.DeliverEvent("OnServiceProxyUuidEvent", ProxyReply("u-1", "s", "m"));
    plugin_.Shutdown();
    EXPECT_THAT(UnsubscribedNames(),
                ::testing::UnorderedElementsAre("OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent",
                                                "OnServiceProxyAsyncEvent", kFeatureEvent));
    EXPECT_EQ(plugin_.ParkedServiceProxyReplyCount(), 0u);

    // Nothing is delivered any more, even if the host still tried.
    HostEventRecord record{};
    OwnedHostValue reply = ProxyReply("u-2", "s", "m");
    record.name = "OnServiceProxyUuidEvent";
    record.payload = reply.Record();
    record.userData = static_cast<PluginCore*>(&plugin_);
    PluginCore::OnServiceProxyEvent(&record);
    EXPECT_EQ(plugin_.ParkedServiceProxyReplyCount(), 0u);
}

TEST_F(PluginCoreTest, ShutdownWithoutSubscriptionsSendsNothing) {
    plugin_.Shutdown();
    EXPECT_TRUE(host_.Unsubscriptions().empty());
    EXPECT_TRUE(host_.Events().empty());
}

}  // namespace
}  // namespace Korvo
