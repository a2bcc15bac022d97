// Host threads deliver events while subscriptions change, resources are
// broadcast and service-proxy requests are entered.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "host/testing/fake_host.h"
#include "sdk/binding/record_builder.h"
#include "sdk/host/plugin_core.h"
#include "tests/support/host_table_plugin.h"

namespace Korvo {
namespace {

using Host::FakeHost;
using Host::OwnedHostValue;

constexpr int kRounds = 300;
constexpr int kDeliveringThreads = 3;

struct Note {
    std::string text;
};

OwnedHostValue ResourcePayload(const std::string& uri) {
    return OwnedHostValue::Object({{"uri", OwnedHostValue::String(uri)},
                                   {"eventType", OwnedHostValue::String("Update")},
                                   {"data", OwnedHostValue::Null()}});
}

// Delivers payload under name straight to the plug-in's callback, as the
// host does on its own threads.
void Deliver(PluginCore& plugin, HostEventCallback callback, const char* name, const OwnedHostValue& payload) {
    HostEventRecord record{};
    record.name = name;
    record.payload = payload.Record();
    record.userData = &plugin;
    callback(&record);
}

TEST(PluginCoreConcurrencyTest, EventsSubscriptionsAndRepliesOnManyThreads) {
    FakeHost host;
    Testing::HostTablePlugin plugin(host.Functions());
    RegisterRecord<Note>(plugin.MutableRegistry(), "Note").Field("text", &Note::text);

    std::atomic<int> steady{0};
    std::atomic<int> flickering{0};
    std::atomic<int> completed{0};
    plugin.AddResourceListener("/things/steady", [&](const Resource&) { ++steady; });
    plugin.AddResourcePatternListener("/things/*", [&](const Resource& r) {
        if (r.uri == "/things/flicker") ++flickering;
    });
    plugin.SubscribeEvent("/things/steady");
    plugin.SubscribeServiceProxyEvents();

    const OwnedHostValue steadyPayload = ResourcePayload("/things/steady");
    const OwnedHostValue flickerPayload = ResourcePayload("/things/flicker");
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        for (int i = 0; i < kRounds; ++i) {
            plugin.SubscribeEvent("/things/flicker");
            plugin.UnsubscribeEvent("/things/flicker");
        }
    });
    for (int t = 0; t < kDeliveringThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                Deliver(plugin, &PluginCore::OnHostEvent, "OnJsonApiEvent_things_steady", steadyPayload);
                Deliver(plugin, &PluginCore::OnHostEvent, "OnJsonApiEvent_things_flicker", flickerPayload);
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < kRounds; ++i) {
            (void)plugin.SendResourceEvent(Client::PluginResourceEventType::Update, "/things/steady", Note{"n"});
        }
    });
    threads.emplace_back([&] {
        for (int i = 0; i < kRounds; ++i) {
            plugin.AddPendingServiceProxyRequest("u" + std::to_string(i), [&](const ServiceProxyResponse&) { ++completed; });
        }
    });
    threads.emplace_back([&] {
        for (int i = 0; i < kRounds; ++i) {
            Deliver(plugin, &PluginCore::OnServiceProxyEvent, "OnServiceProxyUuidEvent",
                    OwnedHostValue::Object({{"uuid", OwnedHostValue::String("u" + std::to_string(i))}}));
        }
    });
    for (std::thread& thread : threads) thread.join();

    EXPECT_EQ(steady.load(), kDeliveringThreads * kRounds);
    EXPECT_LE(flickering.load(), kDeliveringThreads * kRounds);
    EXPECT_EQ(completed.load(), kRounds);
    EXPECT_EQ(plugin.ParkedServiceProxyReplyCount(), 0u);
    EXPECT_EQ(plugin.SubscriptionCount("OnJsonApiEvent_things_flicker"), 0);
    EXPECT_EQ(host.Events().size(), static_cast<size_t>(2 * kRounds));

    size_t subscribed = 0;
    for (const FakeHost::Subscription& s : host.Subscriptions()) subscribed += s.name == "OnJsonApiEvent_things_flicker";
    size_t unsubscribed = 0;
    for (const auto& [name, handle] : host.Unsubscriptions()) unsubscribed += name == "OnJsonApiEvent_things_flicker";
    EXPECT_EQ(subscribed, static_cast<size_t>(kRounds));
    EXPECT_EQ(unsubscribed, static_cast<size_t>(kRounds));
}

}  // namespace
}  // namespace Korvo
