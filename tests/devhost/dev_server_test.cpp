// The HTTP server of the development host in-process, over loopback with a
// real HTTP client, against scripted functions: routing, the host's own
// endpoints, and the event stream with clients that read, filter, stall,
// vanish, or are still connected when the server stops.
#include "host/devhost/dev_server.h"

#include <httplib.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/devhost/raw_http.h"
#include "tests/devhost/scripted_api.h"

namespace Korvo::Host::Dev {
namespace {

using namespace std::chrono_literals;
using Testing::ScriptedApi;
using Testing::ScriptedFunction;
using ::testing::EndsWith;
using ::testing::HasSubstr;

constexpr uint32_t kGet = KORVO_METHOD_GET;
constexpr uint32_t kPost = KORVO_METHOD_POST;

// What an event-stream client has received so far, and a way to wait for it.
class StreamClient {
public:
    StreamClient(int port, std::string target) : client_("127.0.0.1", port), target_(std::move(target)) {
        client_.set_read_timeout(30, 0);
        thread_ = std::thread([this] {
            client_.Get(target_, [this](const char* data, size_t length) {
                std::unique_lock<std::mutex> lock(mutex_);
                stalled_.wait(lock, [this] { return !stall_; });
                received_.append(data, length);
                changed_.notify_all();
                return !cancel_;
            });
            std::lock_guard<std::mutex> lock(mutex_);
            ended_ = true;
            changed_.notify_all();
        });
    }
    ~StreamClient() {
        Stall(false);
        Cancel();
        client_.stop();
        thread_.join();
    }

    // Waits (up to 20 s) until the received text contains text.
    bool WaitFor(const std::string& text) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, 20s, [&] { return received_.find(text) != std::string::npos; });
    }
    bool WaitForEnd() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, 20s, [&] { return ended_; });
    }
    std::string Received() {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }
    // A stalled client stops reading: the server's writes back up.
    void Stall(bool stall) {
        std::lock_guard<std::mutex> lock(mutex_);
        stall_ = stall;
        stalled_.notify_all();
    }
    // The next piece received makes the client hang up.
    void Cancel() {
        std::lock_guard<std::mutex> lock(mutex_);
        cancel_ = true;
    }

private:
    httplib::Client client_;
    std::string target_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::condition_variable stalled_;
    std::string received_;
    bool stall_ = false;
    bool cancel_ = false;
    bool ended_ = false;
    std::thread thread_;
};

EventHub::Limits HubLimits(size_t events, size_t subscribers) {
    EventHub::Limits limits;
    limits.queueEvents = events;
    limits.queueBytes = size_t{1} << 20;
    limits.subscribers = subscribers;
    limits.run = "t";
    return limits;
}

class DevServerTest : public ::testing::Test {
protected:
    static constexpr size_t kQueueEvents = 16;

    DevServerTest()
        : write_(api_.Add(kPost, "/v1/items/{id}", "Write")),
          read_(api_.Add(kGet, "/v1/items/{id}", "Read")),
          bridge_(api_.Descriptor()),
          hub_(HubLimits(kQueueEvents, 4)),
          server_(bridge_, hub_, [] { return std::string("{\"help\":1}"); },
                  [] { return std::string("{\"stats\":1}"); },
                  DevHostServer::Settings{100ms, 8, 256, 1 << 16, {"devbox.local"}, {"http://localhost:3000"}, {}}) {
        // The plug-in sends its events from inside the call, on the
        // server's thread, as the real one does.
        write_.during = [this](const Testing::SeenRequest& request) {
            hub_.Publish("Changed", "\"" + request.path + "\"");
            hub_.Publish("Other", "0");
        };
        server_.SetEventDelivery([this](const std::string& name, const std::string& body) {
            raised_.emplace_back(name, body);
            return JsonMessage(200, "raised");
        });
        port_ = server_.Bind("127.0.0.1", 0);
        server_.Start();
    }
    ~DevServerTest() override { server_.Stop(); }

    httplib::Client Client() { return httplib::Client("127.0.0.1", port_); }

    bool WaitForSubscribers(size_t count) {
        for (int i = 0; i < 2000; ++i) {
            if (hub_.Snapshot().subscribers == count) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    ScriptedApi api_;
    ScriptedFunction& write_;
    ScriptedFunction& read_;
    PluginHttpBridge bridge_;
    EventHub hub_;
    DevHostServer server_;
    std::vector<std::pair<std::string, std::string>> raised_;  // by the server's one worker at a time
    int port_ = -1;
};

TEST_F(DevServerTest, ServesFunctionsAndItsOwnEndpoints) {
    ASSERT_GT(port_, 0);
    read_.answer.value = OwnedHostValue::Int(5);
    auto client = Client();
    auto read = client.Get("/v1/items/9");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->status, 200);
    EXPECT_EQ(read->body, "5");
    EXPECT_EQ(read->get_header_value("Content-Type"), "application/json");

    auto help = client.Get("/help");
    ASSERT_TRUE(help);
    EXPECT_EQ(help->body, "{\"help\":1}");
    auto stats = client.Get("/host/stats");
    ASSERT_TRUE(stats);
    EXPECT_EQ(stats->body, "{\"stats\":1}");

    auto missing = client.Delete("/v1/items/9");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 405);
}

// POST /host/events/{name} raises a host event by hand; nothing else there is
// served, and the plug-in never sees the request.
TEST_F(DevServerTest, AHostEventIsRaisedByName) {
    auto client = Client();
    auto raised = client.Post("/host/events/OnSomething", "{\"a\":1}", "application/json");
    ASSERT_TRUE(raised);
    EXPECT_EQ(raised->status, 200);
    EXPECT_THAT(raised_, ::testing::ElementsAre(::testing::Pair("OnSomething", "{\"a\":1}")));

    auto read = client.Get("/host/events/OnSomething");
    ASSERT_TRUE(read);
    EXPECT_EQ(read->status, 405);
    EXPECT_EQ(read->get_header_value("Allow"), "POST, OPTIONS");
    for (const char* path : {"/host/events/", "/host/events/a/b"}) {
        auto wrong = client.Post(path, "{}", "application/json");
        ASSERT_TRUE(wrong);
        EXPECT_EQ(wrong->status, 404) << path;
    }
    EXPECT_EQ(raised_.size(), 1u);
    EXPECT_TRUE(read_.Calls().empty());
    EXPECT_TRUE(write_.Calls().empty());
}

// What a page in the user's browser could send. Only this server's own names
// are served (a page's own name pointed at loopback is DNS rebinding);
// writes and the event stream refuse a page of a foreign origin; CORS headers
// go only to the origin named for them.
TEST_F(DevServerTest, RequestsAWebPageCouldSendAreRefusedUnlessTheyComeFromHere) {
    const std::string port = std::to_string(port_);
    struct Case {
        const char* what;
        std::string method;
        std::string path;
        std::string host;  // empty: no Host header
        std::string origin;
        int status;
        const char* allowOrigin;  // the CORS header expected, or null
        const char* messagePart;
    };
    const std::string items = "/v1/items/7";
    const Case cases[] = {
        {"the listening address", "GET", items, "127.0.0.1:" + port, "", 204, nullptr, nullptr},
        {"localhost, any case", "GET", items, "LocalHost:" + port, "", 204, nullptr, nullptr},
        {"a name allowed by flag", "GET", items, "devbox.local:" + port, "", 204, nullptr, nullptr},
        {"no Host at all (no browser)", "GET", items, "", "", 204, nullptr, nullptr},
        {"a rebinding name", "GET", items, "evil.example:" + port, "", 403, nullptr, "does not serve the host"},
        {"the right name, another port", "GET", items, "127.0.0.1:1", "", 403, nullptr, "--allow-host"},
        {"a known name without a port", "GET", items, "localhost", "", 204, nullptr, nullptr},
        {"a rebinding name, own endpoint", "GET", "/help", "evil.example:" + port, "", 403, nullptr, nullptr},
        {"a same-origin write", "POST", items, "localhost:" + port, "http://localhost:" + port, 204, nullptr, nullptr},
        {"a foreign write", "POST", items, "localhost:" + port, "http://evil.example", 403, nullptr,
         "may not write here"},
        {"a foreign read is answered, without CORS", "GET", items, "localhost:" + port, "http://evil.example", 204,
         nullptr, nullptr},
        {"a foreign event stream", "GET", "/events", "localhost:" + port, "http://evil.example", 403, nullptr,
         "may not listen here"},
        {"a named origin reads", "GET", items, "localhost:" + port, "http://localhost:3000", 204,
         "http://localhost:3000", nullptr},
        {"a named origin writes", "POST", items, "localhost:" + port, "http://localhost:3000", 204,
         "http://localhost:3000", nullptr},
        {"a named origin's preflight", "OPTIONS", items, "localhost:" + port, "http://localhost:3000", 204,
         nullptr, nullptr},
        {"a foreign preflight gets no CORS", "OPTIONS", items, "localhost:" + port, "http://evil.example", 204,
         nullptr, nullptr},
    };
    for (const Case& c : cases) {
        std::string request = c.method + " " + c.path + " HTTP/1.1\r\n";
        if (!c.host.empty()) request += "Host: " + c.host + "\r\n";
        if (!c.origin.empty()) request += "Origin: " + c.origin + "\r\n";
        if (c.method == "POST") request += "Content-Type: application/json\r\nContent-Length: 2\r\n";
        if (c.method == "OPTIONS") request += "Access-Control-Request-Method: POST\r\n";
        request += "Connection: close\r\n\r\n";
        if (c.method == "POST") request += "{}";
        const std::optional<Testing::RawAnswer> answer = Testing::ExchangeRaw(port_, request);
        ASSERT_TRUE(answer) << c.what;
        EXPECT_EQ(answer->status, c.status) << c.what << "\n" << answer->body;
        const std::optional<std::string> allowOrigin = answer->Header("Access-Control-Allow-Origin");
        if (c.allowOrigin != nullptr) {
            EXPECT_EQ(allowOrigin.value_or(""), c.allowOrigin) << c.what;
        } else if (c.method != "OPTIONS") {
            EXPECT_FALSE(allowOrigin) << c.what;
        }
        if (c.messagePart != nullptr) {
            EXPECT_THAT(answer->body, ::testing::HasSubstr(c.messagePart)) << c.what;
        }
    }
    const std::optional<Testing::RawAnswer> preflight = Testing::ExchangeRaw(
        port_, "OPTIONS " + items + " HTTP/1.1\r\nHost: localhost:" + port +
                   "\r\nOrigin: http://localhost:3000\r\nAccess-Control-Request-Method: POST\r\n"
                   "Access-Control-Request-Headers: content-type\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(preflight);
    EXPECT_EQ(preflight->Header("Access-Control-Allow-Headers").value_or(""), "content-type");
    EXPECT_THAT(preflight->Header("Access-Control-Allow-Methods").value_or(""), ::testing::HasSubstr("POST"));
    const std::optional<Testing::RawAnswer> foreign = Testing::ExchangeRaw(
        port_, "OPTIONS " + items + " HTTP/1.1\r\nHost: localhost:" + port +
                   "\r\nOrigin: http://evil.example\r\nAccess-Control-Request-Method: POST\r\n"
                   "Connection: close\r\n\r\n");
    ASSERT_TRUE(foreign);
    EXPECT_FALSE(foreign->Header("Access-Control-Allow-Origin"));
    EXPECT_FALSE(foreign->Header("Access-Control-Allow-Methods"));
}

TEST_F(DevServerTest, TheFixedAnswerNeverReachesThePlugin) {
    auto client = Client();
    auto got = client.Get("/host/fixed");
    ASSERT_TRUE(got);
    EXPECT_EQ(got->status, 200);
    EXPECT_EQ(got->body, kFixedAnswer);
    EXPECT_EQ(got->get_header_value("Content-Type"), "application/json");
    auto posted = client.Post("/host/fixed", "{\"state\":\"s\",\"updatedBy\":\"u\"}", "application/json");
    ASSERT_TRUE(posted);
    EXPECT_EQ(posted->status, 200);
    EXPECT_EQ(posted->body, kFixedAnswer);
    // Its neighbours still go to the plug-in, which serves none of them.
    auto neighbour = client.Get("/host/fixed/1");
    ASSERT_TRUE(neighbour);
    EXPECT_EQ(neighbour->status, 404);
    EXPECT_TRUE(write_.Calls().empty());
    EXPECT_TRUE(read_.Calls().empty());
    EXPECT_EQ(hub_.Snapshot().published, 0u);
}

TEST_F(DevServerTest, BodiesArriveAsBytesWithTheirType) {
    auto client = Client();
    const std::string body("\x82\xa5state\xa1s\xa9updatedBy\xa1u", 22);
    auto written = client.Post("/v1/items/a%2Fb?x=1", httplib::Headers{{"X-Trace", "t 1"}}, body,
                               "application/x-msgpack");
    ASSERT_TRUE(written);
    EXPECT_EQ(written->status, 204);
    ASSERT_EQ(write_.Calls().size(), 1u);
    // The client's headers, named in lower case, and nothing the server
    // library adds.
    const std::vector<Testing::SeenRequest> calls = write_.Calls();
    std::vector<std::string> names;
    for (const auto& [name, value] : calls[0].headers) names.push_back(name);
    EXPECT_THAT(names, ::testing::UnorderedElementsAre("accept", "connection", "content-length", "content-type",
                                                       "host", "user-agent", "x-trace"));
    EXPECT_EQ(write_.Calls()[0].path, "/v1/items/a%2Fb?x=1");
    EXPECT_EQ(write_.Calls()[0].body, body);
    EXPECT_EQ(write_.Calls()[0].contentType, "application/x-msgpack");
}

TEST_F(DevServerTest, OverlongPathsAndBodiesAreRefusedBeforeRouting) {
    auto client = Client();
    auto longPath = client.Get("/v1/items/" + std::string(300, 'x'));
    ASSERT_TRUE(longPath);
    EXPECT_EQ(longPath->status, 414);
    EXPECT_EQ(longPath->body, "{\"message\":\"The request path is too long\"}");

    auto bigBody = client.Post("/v1/items/1", std::string(size_t{1} << 17, 'x'), "application/json");
    ASSERT_TRUE(bigBody);
    EXPECT_EQ(bigBody->status, 413);
    EXPECT_TRUE(write_.Calls().empty());
}

TEST_F(DevServerTest, EveryEventReachesTheStreamAndTheFilterSelects) {
    StreamClient all(port_, "/events");
    StreamClient filtered(port_, "/events?name=Other");
    ASSERT_TRUE(all.WaitFor(": subscribed\n\n"));
    ASSERT_TRUE(filtered.WaitFor(": subscribed\n\n"));

    auto client = Client();
    ASSERT_TRUE(client.Post("/v1/items/1", "{}", "application/json"));
    ASSERT_TRUE(all.WaitFor("event: Other\ndata: 0\n\n"));
    EXPECT_EQ(all.Received(),
              ": subscribed\n\nid: t.1\nevent: Changed\ndata: \"/v1/items/1\"\n\nid: t.2\nevent: Other\ndata: 0\n\n");
    ASSERT_TRUE(filtered.WaitFor("event: Other\ndata: 0\n\n"));
    EXPECT_EQ(filtered.Received(), ": subscribed\n\nid: t.2\nevent: Other\ndata: 0\n\n");
}

TEST_F(DevServerTest, AnIdleStreamCarriesKeepAliveComments) {
    StreamClient idle(port_, "/events");
    EXPECT_TRUE(idle.WaitFor(": keep-alive\n\n"));
}

TEST_F(DevServerTest, AStalledClientIsCutOffWithoutHoldingUpTheCalls) {
    StreamClient stalled(port_, "/events");
    ASSERT_TRUE(stalled.WaitFor(": subscribed\n\n"));
    stalled.Stall(true);
    // Every write sends two events; the stalled client stops draining its
    // queue once the socket buffers are full, and is cut off.
    auto client = Client();
    const std::string big(size_t{1} << 16, 'b');
    write_.during = [this, &big](const Testing::SeenRequest&) {
        hub_.Publish("Changed", big);
        hub_.Publish("Changed", big);
    };
    for (int i = 0; i < 2000 && hub_.Snapshot().cutOff == 0; ++i) {
        auto written = client.Post("/v1/items/1", "{}", "application/json");
        ASSERT_TRUE(written);
        ASSERT_EQ(written->status, 204);
    }
    EXPECT_EQ(hub_.Snapshot().cutOff, 1u);
    stalled.Stall(false);
    ASSERT_TRUE(stalled.WaitForEnd());
    // A browser's EventSource shows events, not comments: the resync event
    // is what tells its page to re-read.
    EXPECT_THAT(stalled.Received(), EndsWith("event: resync\ndata: {\"reason\":\"behind\"}\n\n"
                                             ": cut off, events were dropped\n\n"));
    EXPECT_TRUE(WaitForSubscribers(0));
}

TEST_F(DevServerTest, AVanishedClientIsNoticedAndForgotten) {
    {
        StreamClient leaving(port_, "/events");
        ASSERT_TRUE(leaving.WaitFor(": subscribed\n\n"));
        ASSERT_EQ(hub_.Snapshot().subscribers, 1u);
        leaving.Cancel();
    }
    // The next keep-alive write fails and ends the stream.
    EXPECT_TRUE(WaitForSubscribers(0));
    auto client = Client();
    auto written = client.Post("/v1/items/1", "{}", "application/json");
    ASSERT_TRUE(written);
    EXPECT_EQ(written->status, 204);
}

TEST_F(DevServerTest, StoppingEndsOpenStreamsAndRefusesNewOnes) {
    StreamClient open(port_, "/events");
    ASSERT_TRUE(open.WaitFor(": subscribed\n\n"));
    server_.Stop();
    EXPECT_TRUE(open.WaitForEnd());
    EXPECT_EQ(hub_.Subscribe(""), nullptr);
    auto client = Client();
    EXPECT_FALSE(client.Get("/help"));
}

TEST(DevServerLimitsTest, TooManyStreamClientsGet503) {
    ScriptedApi api;
    PluginHttpBridge bridge(api.Descriptor());
    EventHub hub(HubLimits(16, 1));
    DevHostServer server(bridge, hub, [] { return std::string(); }, [] { return std::string(); },
                         DevHostServer::Settings{100ms, 4, 256, 1024, {}, {}, {}});
    int port = server.Bind("127.0.0.1", 0);
    server.Start();
    {
        StreamClient first(port, "/events");
        ASSERT_TRUE(first.WaitFor(": subscribed\n\n"));
        httplib::Client client("127.0.0.1", port);
        auto second = client.Get("/events");
        ASSERT_TRUE(second);
        EXPECT_EQ(second->status, 503);
        EXPECT_THAT(second->body, HasSubstr("No room for another event-stream client"));
    }
    server.Stop();
}

}  // namespace
}  // namespace Korvo::Host::Dev
