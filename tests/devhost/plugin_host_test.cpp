// plugin-host end to end: the built program with the built plug-in, on an
// ephemeral loopback port, driven by a real HTTP client.
#include <httplib.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/common/host_value_json.h"
#include "host/devhost/dev_server.h"
#include "sdk/contract/korvo_plugin.h"
#include "tests/devhost/plugin_host_process.h"
#include "tests/devhost/raw_http.h"

#ifndef KORVO_PLUGIN_HOST
#error "KORVO_PLUGIN_HOST names the plugin-host program under test"
#endif
#ifndef KORVO_HOST_ANSWERS
#error "KORVO_HOST_ANSWERS names the plug-in's host answers file"
#endif

namespace Korvo::Host {
namespace {

using namespace std::chrono_literals;
using Testing::PluginHostProcess;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kUiStates = "/qem-quorvex-zv/v1/ui-states";
constexpr const char* kFeatureEvent = "OnJsonApiEvent_qem-quorvex-zv_v1_ui-states";

// One running plugin-host and a client for it; the plug-in's answers file
// given unless the test is about its absence.
class RunningHost {
public:
    explicit RunningHost(std::vector<std::string> arguments = {}, bool withAnswers = true) {
        if (withAnswers) arguments.insert(arguments.begin(), {"--host-answers", KORVO_HOST_ANSWERS});
        arguments.insert(arguments.begin(), {"--port", "0"});
        process_ = std::make_unique<PluginHostProcess>(KORVO_PLUGIN_HOST, arguments);
        port_ = process_->WaitForPort();
        client_ = std::make_unique<httplib::Client>("127.0.0.1", port_ > 0 ? port_ : 1);
        client_->set_read_timeout(30, 0);
    }
    ~RunningHost() {
        process_->Terminate();
        process_->WaitForExit();
    }

    bool Up() const { return port_ > 0; }
    int Port() const { return port_; }
    httplib::Client& Client() { return *client_; }
    PluginHostProcess& Process() { return *process_; }

    httplib::Result Post(const std::string& feature, const std::string& body, const char* type) {
        return client_->Post(std::string(kUiStates) + "/" + feature, body, type);
    }
    httplib::Result Get(const std::string& path) { return client_->Get(path); }

private:
    std::unique_ptr<PluginHostProcess> process_;
    int port_ = -1;
    std::unique_ptr<httplib::Client> client_;
};

// An event-stream subscriber on its own thread.
class EventStream {
public:
    EventStream(int port, const std::string& target, httplib::Headers headers = {}) : client_("127.0.0.1", port) {
        client_.set_read_timeout(60, 0);
        thread_ = std::thread([this, target, headers] {
            client_.Get(target, headers, [this](const char* data, size_t length) {
                std::lock_guard<std::mutex> lock(mutex_);
                received_.append(data, length);
                changed_.notify_all();
                return true;
            });
            std::lock_guard<std::mutex> lock(mutex_);
            ended_ = true;
            changed_.notify_all();
        });
    }
    ~EventStream() {
        client_.stop();
        thread_.join();
    }
    // Waits until the text has been received count times.
    bool WaitFor(const std::string& text, size_t count = 1) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, 30s, [&] { return Count(text) >= count; });
    }
    bool WaitForEnd() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, 30s, [&] { return ended_; });
    }
    std::string Received() {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }

private:
    size_t Count(const std::string& text) const {
        size_t count = 0;
        for (size_t at = received_.find(text); at != std::string::npos; at = received_.find(text, at + 1)) ++count;
        return count;
    }

    httplib::Client client_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string received_;
    bool ended_ = false;
    std::thread thread_;
};

// {"state":"muted","updatedBy":"mp","timestamp":42,"data":{"k":[1,true]}}
const std::string kMessagePackRecord(
    "\x84"
    "\xa5" "state" "\xa5" "muted"
    "\xa9" "updatedBy" "\xa2" "mp"
    "\xa9" "timestamp" "\x2a"
    "\xa4" "data" "\x81" "\xa1" "k" "\x92" "\x01" "\xc3",
    48);

TEST(PluginHostTest, WritesReadsAndListsInEveryBodyFormat) {
    RunningHost host;
    ASSERT_TRUE(host.Up()) << host.Process().Errors();

    auto json = host.Post("voice", R"({"state":"talking","updatedBy":"overlay","timestamp":1000,"data":[1,"x"]})",
                          "application/json; charset=utf-8");
    ASSERT_TRUE(json);
    EXPECT_EQ(json->status, 204);
    EXPECT_EQ(json->body, "");
    auto yaml = host.Post("chat", "state: open\nupdatedBy: panel\ntimestamp: 2000\ndata:\n  unread: 3\n",
                          "application/x-yaml");
    ASSERT_TRUE(yaml);
    EXPECT_EQ(yaml->status, 204);
    auto messagePack = host.Post("a%2Fb", kMessagePackRecord, "application/x-msgpack");
    ASSERT_TRUE(messagePack);
    EXPECT_EQ(messagePack->status, 204) << messagePack->body;

    auto voice = host.Get(std::string(kUiStates) + "/voice");
    ASSERT_TRUE(voice);
    EXPECT_EQ(voice->status, 200);
    EXPECT_EQ(voice->get_header_value("Content-Type"), "application/json");
    EXPECT_EQ(voice->body, R"({"data":[1,"x"],"state":"talking","timestamp":1000,"updatedBy":"overlay"})");
    auto decoded = host.Get(std::string(kUiStates) + "/a%2Fb");
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->body, R"({"data":{"k":[1,true]},"state":"muted","timestamp":42,"updatedBy":"mp"})");

    auto list = host.Get(kUiStates);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->status, 200);
    EXPECT_EQ(list->body,
              R"({"a/b":{"data":{"k":[1,true]},"state":"muted","timestamp":42,"updatedBy":"mp"},)"
              R"("chat":{"data":{"unread":3},"state":"open","timestamp":2000,"updatedBy":"panel"},)"
              R"("voice":{"data":[1,"x"],"state":"talking","timestamp":1000,"updatedBy":"overlay"}})");
}

// A request as a client writes it on the wire: Host and "Connection: close"
// always; Content-Type and Content-Length only with a body.
std::string Request(const std::string& method, const std::string& target, std::optional<std::string> body = {},
                    const std::string& type = "application/json") {
    std::string text = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    if (body) text += "Content-Type: " + type + "\r\nContent-Length: " + std::to_string(body->size()) + "\r\n";
    return text + "\r\n" + body.value_or("");
}

std::string Message(const std::string& text) { return R"({"message":")" + text + R"("})"; }

// One request and the whole answer it must get. allow and contentType:
// nullptr when the answer must not have the header at all.
struct AnswerCase {
    const char* what;
    std::string request;
    int status;
    const char* allow;
    const char* contentType;
    std::string body;
};

TEST(PluginHostTest, EveryAnswerIsWhatAnHttpClientExpects) {
    RunningHost host;
    ASSERT_TRUE(host.Up()) << host.Process().Errors();
    const std::string list = kUiStates;
    const std::string voice = list + "/voice";
    const std::string written = R"({"state":"s","updatedBy":"u","timestamp":5})";
    const char* json = "application/json";
    const char* featureAllow = "HEAD, GET, POST, OPTIONS";
    const char* listAllow = "HEAD, GET, OPTIONS";
    const char* ownAllow = "GET, HEAD, OPTIONS";
    const std::string notServed = "No function of the plug-in serves ";
    constexpr size_t kMaxBody = size_t{16} << 20;

    const AnswerCase cases[] = {
        {"a write", Request("POST", voice, written), 204, nullptr, nullptr, ""},
        {"a read", Request("GET", voice), 200, nullptr, json,
         R"({"data":null,"state":"s","timestamp":5,"updatedBy":"u"})"},
        {"a read without the body", Request("HEAD", voice), 200, nullptr, json, ""},
        {"the methods of a path", Request("OPTIONS", voice), 204, featureAllow, nullptr, ""},

        // A method no function serves, with and without a body of any kind.
        {"PUT without a body", Request("PUT", voice), 405, featureAllow, json, Message(notServed + "PUT " + voice)},
        {"PUT with a body", Request("PUT", voice, written), 405, featureAllow, json,
         Message(notServed + "PUT " + voice)},
        {"PUT with a chunked body",
         "PUT " + voice + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nTransfer-Encoding: chunked\r\n"
         "Content-Type: application/json\r\n\r\n2\r\n{}\r\n0\r\n\r\n",
         405, featureAllow, json, Message(notServed + "PUT " + voice)},
        {"PATCH without a body", Request("PATCH", voice), 405, featureAllow, json,
         Message(notServed + "PATCH " + voice)},
        {"PATCH with a body", Request("PATCH", voice, written), 405, featureAllow, json,
         Message(notServed + "PATCH " + voice)},
        {"DELETE without a body", Request("DELETE", voice), 405, featureAllow, json,
         Message(notServed + "DELETE " + voice)},
        {"DELETE with a body", Request("DELETE", voice, "{}"), 405, featureAllow, json,
         Message(notServed + "DELETE " + voice)},
        {"a method the server library routes nowhere", Request("TRACE", voice), 405, featureAllow, json,
         Message(notServed + "TRACE " + voice)},
        {"POST on the list", Request("POST", list, written), 405, listAllow, json, Message(notServed + "POST " + list)},
        {"PUT on a path of the host", Request("PUT", "/help"), 405, ownAllow, json,
         Message("The development host does not serve PUT /help")},
        {"POST with a body on a path of the host", Request("POST", "/events", "{}"), 405, ownAllow, json,
         Message("The development host does not serve POST /events")},
        {"the methods of a path of the host", Request("OPTIONS", "/host/fixed"), 204, "GET, HEAD, POST, OPTIONS",
         nullptr, ""},
        {"POST without a body where one is served", Request("POST", "/host/fixed"), 200, nullptr, json,
         Dev::kFixedAnswer},

        // Paths nobody serves.
        {"an unknown path", Request("GET", "/nothing"), 404, nullptr, json, Message(notServed + "/nothing")},
        {"an unknown path, PUT without a body", Request("PUT", "/nothing"), 404, nullptr, json,
         Message(notServed + "/nothing")},
        {"an unknown version", Request("GET", "/qem-quorvex-zv/v2/nothing"), 404, nullptr, json,
         Message(notServed + "/qem-quorvex-zv/v2/nothing")},
        // The query of a literal route reaches the plug-in as named
        // arguments, which it checks like any others.
        {"a query on a literal route", Request("GET", list + "?all=1"), 400, nullptr, json,
         Message("Unknown argument 'all' for 'GetQemQuorvexZvV1UiStates'.")},

        // The plug-in's own refusals.
        {"an unknown feature", Request("GET", list + "/Voice"), 404, nullptr, json,
         Message("Cannot find UI State for feature Voice")},
        {"a write without a body", Request("POST", voice), 400, nullptr, json,
         Message("A value for 'state' is required.")},
        {"an invalid record", Request("POST", voice, R"({"state":"","updatedBy":"u"})"), 400, nullptr, json,
         Message("Valid fields required: state, updatedBy")},
        {"an incomplete YAML record", Request("POST", voice, "state: s\n", "application/x-yaml"), 400, nullptr, json,
         Message("Valid fields required: state, updatedBy")},

        // What the server library refuses before any handler.
        {"a body too large", Request("POST", voice, std::string(kMaxBody + 1, ' ')), 413, nullptr, json,
         Message("The request body is larger than " + std::to_string(kMaxBody) + " bytes")},
        {"a path too long", Request("GET", "/" + std::string(3000, 'x')), 414, nullptr, json,
         Message("The request path is too long")},
        {"a request line that is not HTTP", "NONSENSE\r\n\r\n", 400, nullptr, json,
         Message("The request could not be read")},
    };
    std::vector<OwnedHostValue> recorded;
    for (const AnswerCase& expected : cases) {
        std::optional<Testing::RawAnswer> answer = Testing::ExchangeRaw(host.Port(), expected.request);
        ASSERT_TRUE(answer) << expected.what;
        const std::string line = expected.request.substr(0, expected.request.find("\r\n"));
        const size_t space = line.find(' ');
        const std::string method = line.substr(0, space);
        const std::string path = space == std::string::npos ? "" : line.substr(space + 1, line.find(' ', space + 1) - space - 1);
        recorded.push_back(OwnedHostValue::Object({
            {"what", OwnedHostValue::String(expected.what)},
            {"method", OwnedHostValue::String(method)},
            {"path", OwnedHostValue::String(path)},
            {"status", OwnedHostValue::Int(answer->status)},
            {"contentType", OwnedHostValue::String(answer->Header("Content-Type").value_or(""))},
            {"body", OwnedHostValue::String(answer->body)},
        }));
        EXPECT_EQ(answer->status, expected.status) << expected.what;
        EXPECT_EQ(answer->Header("Allow").value_or("(none)"), expected.allow ? expected.allow : "(none)")
            << expected.what;
        EXPECT_EQ(answer->Header("Content-Type").value_or("(none)"),
                  expected.contentType ? expected.contentType : "(none)")
            << expected.what;
        EXPECT_EQ(answer->body, expected.body) << expected.what;
    }

    // The answers, for the check of each against the schemas of the OpenAPI
    // document (tests/web/api_test.mjs).
    if (const char* folder = std::getenv("KORVO_ANSWERS_OUT")) {
        std::filesystem::create_directories(folder);
        std::ofstream(std::filesystem::path(folder) / "answers.json")
            << HostValueToJson(OwnedHostValue::Array(std::move(recorded)).Record());
    }

    // Bodies the plug-in cannot read: its reader's message, status 400.
    for (auto [body, type] : {std::pair{"{\"state\":", "application/json"}, std::pair{"\xc1", "application/x-msgpack"},
                              std::pair{"{\"state\":\"s\"}", "text/plain"}}) {
        auto unreadable = host.Post("voice", body, type);
        ASSERT_TRUE(unreadable);
        EXPECT_EQ(unreadable->status, 400) << type;
        EXPECT_THAT(unreadable->body, HasSubstr("{\"message\":\"")) << type;
    }
    // Refused writes changed nothing.
    auto stored = host.Get(voice);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->body, R"({"data":null,"state":"s","timestamp":5,"updatedBy":"u"})");
}

TEST(PluginHostTest, AnEventStreamSeesEveryWriteAsTwoEvents) {
    RunningHost host;
    ASSERT_TRUE(host.Up()) << host.Process().Errors();
    EventStream all(host.Port(), "/events");
    EventStream generic(host.Port(), "/events?name=OnJsonApiEvent");
    ASSERT_TRUE(all.WaitFor(": subscribed"));
    ASSERT_TRUE(generic.WaitFor(": subscribed"));

    ASSERT_EQ(host.Post("voice", R"({"state":"muted","updatedBy":"overlay","timestamp":7})", "application/json")
                  ->status,
              204);
    ASSERT_EQ(host.Post("voice", R"({"state":"","updatedBy":"overlay"})", "application/json")->status, 400);
    ASSERT_EQ(host.Post("chat", "state: open\nupdatedBy: panel\ntimestamp: 8\n", "application/x-yaml")->status, 204);

    const std::string voice =
        R"(data: {"data":{"data":null,"state":"muted","timestamp":7,"updatedBy":"overlay"},)"
        R"("eventType":"Update","uri":"/qem-quorvex-zv/v1/ui-states/voice"})"
        "\n\n";
    const std::string chat =
        R"(data: {"data":{"data":null,"state":"open","timestamp":8,"updatedBy":"panel"},)"
        R"("eventType":"Update","uri":"/qem-quorvex-zv/v1/ui-states/chat"})"
        "\n\n";
    ASSERT_TRUE(all.WaitFor("event: OnJsonApiEvent\n", 2));
    // Every event has an id, "<run of this host>.<sequence>", the same on
    // every stream that carries it.
    const std::string received = all.Received();
    const size_t runAt = received.find("id: ");
    ASSERT_NE(runAt, std::string::npos) << received;
    const std::string run = received.substr(runAt + 4, received.find('.', runAt) - runAt - 4);
    auto id = [&run](int sequence) { return "id: " + run + "." + std::to_string(sequence) + "\n"; };
    EXPECT_EQ(received, ": subscribed\n\n" +
                            id(1) + "event: " + std::string(kFeatureEvent) + "\n" + voice +
                            id(2) + "event: OnJsonApiEvent\n" + voice +
                            id(3) + "event: " + kFeatureEvent + "\n" + chat +
                            id(4) + "event: OnJsonApiEvent\n" + chat);
    ASSERT_TRUE(generic.WaitFor("event: OnJsonApiEvent\n", 2));
    EXPECT_EQ(generic.Received(),
              ": subscribed\n\n" + id(2) + "event: OnJsonApiEvent\n" + voice + id(4) + "event: OnJsonApiEvent\n" + chat);
}

TEST(PluginHostTest, AStreamThatComesBackResumesOrIsToldToReRead) {
    RunningHost host;
    ASSERT_TRUE(host.Up()) << host.Process().Errors();
    std::string firstId;
    {
        EventStream stream(host.Port(), "/events?name=OnJsonApiEvent");
        ASSERT_TRUE(stream.WaitFor(": subscribed"));
        ASSERT_EQ(host.Post("voice", R"({"state":"muted","updatedBy":"a"})", "application/json")->status, 204);
        ASSERT_TRUE(stream.WaitFor("event: OnJsonApiEvent\n"));
        const std::string received = stream.Received();
        const size_t at = received.find("id: ") + 4;
        firstId = received.substr(at, received.find('\n', at) - at);
    }
    // Written while nobody was listening.
    ASSERT_EQ(host.Post("chat", R"({"state":"open","updatedBy":"b"})", "application/json")->status, 204);

    EventStream resumed(host.Port(), "/events?name=OnJsonApiEvent", {{"Last-Event-ID", firstId}});
    ASSERT_TRUE(resumed.WaitFor("event: OnJsonApiEvent\n"));
    EXPECT_NE(resumed.Received().find(R"("updatedBy":"b")"), std::string::npos) << resumed.Received();
    EXPECT_EQ(resumed.Received().find(R"("updatedBy":"a")"), std::string::npos) << resumed.Received();
    EXPECT_EQ(resumed.Received().find("event: resync"), std::string::npos) << resumed.Received();

    for (const std::string& lastId : {std::string("00000000.1"), std::string("not an id"), firstId + "9"}) {
        EventStream stranger(host.Port(), "/events", {{"Last-Event-ID", lastId}});
        ASSERT_TRUE(stranger.WaitFor("event: resync\n")) << lastId;
        EXPECT_NE(stranger.Received().find(R"(data: {"reason":"unknown"})"), std::string::npos) << lastId;
    }
}

struct AvailabilityCase {
    std::vector<std::string> arguments;
    bool available;
    bool withAnswers = true;
};

// The plug-in asks the host for the region and the command line: what it
// gets is the answers file's region, unless the command line says otherwise.
TEST(PluginHostTest, RegionAndDeveloperOptionDecideAvailability) {
    const AvailabilityCase cases[] = {
        {{}, true},
        {{"--region", "OTHER"}, false},
        {{"--region", "quorvex"}, false},
        {{"--region", "OTHER", "--dev-quorvex-zv"}, true},
        {{"--region=", "--", "--dev-quorvex-zv"}, true},
        {{"--region", "OTHER", "--", "dev-quorvex-zv"}, false},
        {{"--region", "OTHER", "--", "--dev-quorvex-zv=1"}, false},
        {{"--region", "OTHER", "--", "--DEV-QUORVEX-ZV"}, false},
        {{}, false, false},
        {{"--host-answer", R"(/korvoclient/get_region_locale={"region":"QUORVEX","locale":"en_US"})"}, true, false},
        {{"--", "--dev-quorvex-zv"}, true, false},
    };
    for (const AvailabilityCase& availability : cases) {
        std::string described = availability.withAnswers ? "(answers file) " : "";
        for (const std::string& argument : availability.arguments) described += argument + " ";
        RunningHost host(availability.arguments, availability.withAnswers);
        ASSERT_TRUE(host.Up()) << described << host.Process().Errors();
        auto written = host.Post("voice", R"({"state":"s","updatedBy":"u"})", "application/json");
        auto list = host.Get(kUiStates);
        ASSERT_TRUE(written && list) << described;
        if (availability.available) {
            EXPECT_EQ(written->status, 204) << described;
            EXPECT_EQ(list->status, 200) << described;
        } else {
            EXPECT_EQ(written->status, 404) << described;
            EXPECT_EQ(written->body, R"({"message":"API not available"})") << described;
            EXPECT_EQ(list->status, 404) << described;
            EXPECT_EQ(list->body, R"({"message":"API not available"})") << described;
        }
    }
}

TEST(PluginHostTest, TheHostsOwnEndpointsDescribeThePlugin) {
    RunningHost host({"--api-version", "18.4.1"});
    ASSERT_TRUE(host.Up()) << host.Process().Errors();
    auto help = host.Get("/help");
    ASSERT_TRUE(help);
    EXPECT_EQ(help->status, 200);
    EXPECT_EQ(help->get_header_value("Content-Type"), "application/json");
    for (const char* expected :
         {R"({"plugin":"vbp-be-qem-quorvex-zv","apiVersion":"18.0.0",)",
          R"({"name":"GetQemQuorvexZvV1UiStates","method":"GET","path":"/qem-quorvex-zv/v1/ui-states",)",
          R"("result":{"type":"map<QuorvexZVNotification>")",
          R"({"name":"PostQemQuorvexZvV1UiStatesByFeature","method":"POST","path":"/qem-quorvex-zv/v1/ui-states/{feature}",)",
          R"({"name":"state","location":"body","description":"","optional":false,"type":"QuorvexZVNotification")",
          R"({"name":"QuorvexZVNotification",)", R"({"name":"timestamp","description":"",)",
          R"({"name":"Update","description":"","value":1})", R"("payloadType":"PluginResourceEvent")"}) {
        EXPECT_THAT(help->body, HasSubstr(expected));
    }

    auto stats = host.Get("/host/stats");
    ASSERT_TRUE(stats);
    EXPECT_THAT(stats->body, HasSubstr(R"("started":true)"));
    EXPECT_THAT(stats->body, HasSubstr(R"("subscriptions":["OnServiceProxyUuidEvent","OnServiceProxyMethodEvent",)"
                                       R"("OnServiceProxyAsyncEvent"])"));
    EXPECT_THAT(stats->body, HasSubstr(R"("hostRequests":2)"));
}

TEST(PluginHostTest, SigtermStopsThePluginCleanly) {
    RunningHost host;
    ASSERT_TRUE(host.Up()) << host.Process().Errors();
    EventStream stream(host.Port(), "/events");
    ASSERT_TRUE(stream.WaitFor(": subscribed"));
    ASSERT_EQ(host.Post("voice", R"({"state":"s","updatedBy":"u"})", "application/json")->status, 204);

    host.Process().Terminate();
    std::optional<int> status = host.Process().WaitForExit();
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0) << host.Process().Errors();
    EXPECT_TRUE(stream.WaitForEnd());
    EXPECT_THAT(host.Process().Output(), EndsWith("plugin-host: stopped\n"));
    // The plug-in withdrew every subscription in its Stop.
    EXPECT_THAT(host.Process().Errors(), Not(HasSubstr("left its subscription")));
}

TEST(PluginHostTest, SigintStopsToo) {
    RunningHost host;
    ASSERT_TRUE(host.Up()) << host.Process().Errors();
    host.Process().Interrupt();
    std::optional<int> status = host.Process().WaitForExit();
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0);
}

TEST(PluginHostTest, HelpAndBadCommandLines) {
    PluginHostProcess help(KORVO_PLUGIN_HOST, {"--help"});
    EXPECT_EQ(help.WaitForExit(), 0);
    for (const char* option : {"--plugin PATH", "--export NAME", "--api-version X.Y.Z", "--region NAME",
                               "--locale NAME", "--port N", "--listen ADDRESS", "--host-answers FILE", "-h, --help"}) {
        EXPECT_THAT(help.Output(), HasSubstr(option));
    }
    EXPECT_THAT(help.Output(), HasSubstr("GET|POST /host/fixed"));
    const std::string apiVersion = std::to_string(KORVO_PLUGIN_API_MAJOR) + "." +
                                   std::to_string(KORVO_PLUGIN_API_MINOR) + "." +
                                   std::to_string(KORVO_PLUGIN_API_PATCH);
    EXPECT_THAT(help.Output(), HasSubstr("(default: " + apiVersion + ")"));
    // Nothing of one plug-in but the library this build made, as the default.
    std::string general = help.Output();
    general.erase(general.find(KORVO_PLUGIN_LIBRARY), std::string_view(KORVO_PLUGIN_LIBRARY).size());
    for (const char* word : {"quorvex", "QUORVEX", "dev-", "ui-states"}) EXPECT_THAT(general, Not(HasSubstr(word)));

    // The plug-in's own options come from its answers file.
    PluginHostProcess pluginHelp(KORVO_PLUGIN_HOST, {"--host-answers", KORVO_HOST_ANSWERS, "--help"});
    EXPECT_EQ(pluginHelp.WaitForExit(), 0);
    EXPECT_THAT(pluginHelp.Output(), HasSubstr("The plug-in's options (from its answers file):\n  --dev-quorvex-zv"));
    PluginHostProcess notDeclared(KORVO_PLUGIN_HOST, {"--port", "0", "--dev-quorvex-zv"});
    EXPECT_EQ(notDeclared.WaitForExit(), 2);
    EXPECT_EQ(notDeclared.Errors(), "plugin-host: unknown option '--dev-quorvex-zv' (see plugin-host --help)\n");

    const std::filesystem::path badAnswers =
        std::filesystem::temp_directory_path() / ("plugin-host-answers-" + std::to_string(::getpid()) + ".txt");
    std::ofstream(badAnswers) << "# the region\n/korvoclient/get_region_locale={\"region\":\"X\"\n";
    PluginHostProcess badFile(KORVO_PLUGIN_HOST, {"--port", "0", "--host-answers", badAnswers.string()});
    EXPECT_EQ(badFile.WaitForExit(), 2);
    EXPECT_THAT(badFile.Errors(), HasSubstr("plugin-host: " + badAnswers.string() +
                                            ":2: the answer for /korvoclient/get_region_locale is not JSON: "));
    EXPECT_EQ(badFile.Output(), "");
    std::filesystem::remove(badAnswers);

    PluginHostProcess unknown(KORVO_PLUGIN_HOST, {"--port", "0", "--verbose"});
    EXPECT_EQ(unknown.WaitForExit(), 2);
    EXPECT_EQ(unknown.Errors(), "plugin-host: unknown option '--verbose' (see plugin-host --help)\n");
    EXPECT_EQ(unknown.Output(), "");

    PluginHostProcess badPort(KORVO_PLUGIN_HOST, {"--port", "http"});
    EXPECT_EQ(badPort.WaitForExit(), 2);

    PluginHostProcess noLibrary(KORVO_PLUGIN_HOST, {"--port", "0", "--plugin", "/nonexistent/libplugin.so"});
    EXPECT_EQ(noLibrary.WaitForExit(), 1);
    EXPECT_THAT(noLibrary.Errors(), HasSubstr("cannot load the plug-in library /nonexistent/libplugin.so"));
}

TEST(PluginHostTest, AnyLibraryLoadsThroughTheExportItsNameOrExportGives) {
    // The library under a name that says nothing about its export.
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("plugin-host-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::filesystem::path copy = folder / "renamed.so";
    std::filesystem::copy_file(KORVO_PLUGIN_LIBRARY, copy, std::filesystem::copy_options::overwrite_existing);

    PluginHostProcess derived(KORVO_PLUGIN_HOST, {"--port", "0", "--plugin", copy.string()});
    EXPECT_EQ(derived.WaitForExit(), 1);
    EXPECT_THAT(derived.Errors(), HasSubstr("load_renamed"));
    {
        RunningHost named({"--plugin", copy.string(), "--export", "load_qem_quorvex_zv"});
        ASSERT_TRUE(named.Up()) << named.Process().Errors();
        auto list = named.Get(kUiStates);
        ASSERT_TRUE(list);
        EXPECT_EQ(list->status, 200);
    }
    std::filesystem::remove_all(folder);
}

TEST(PluginHostTest, AnIncompatibleApiVersionEndsTheProcessInThePlugin) {
    PluginHostProcess host(KORVO_PLUGIN_HOST, {"--port", "0", "--api-version", "19.0.0"});
    std::optional<int> status = host.WaitForExit();
    ASSERT_TRUE(status.has_value());
    EXPECT_NE(*status, 0);
    EXPECT_THAT(host.Errors(), HasSubstr("ALE-EECF0606"));
    EXPECT_THAT(host.Output(), Not(HasSubstr("listening")));
}

}  // namespace
}  // namespace Korvo::Host
