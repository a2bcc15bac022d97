// host/devhost/dev_server.h - the HTTP/1.1 server of the development host.
//
//   GET /events[?name=N]  a Server-Sent Events stream of the plug-in's events
//                         (all, or those named N). It opens with the comment
//                         ": subscribed" once the subscription is in place and
//                         carries ": keep-alive" comments while idle, which is
//                         also how a vanished client is noticed. Every event
//                         has an id; a client that sends Last-Event-ID
//                         resumes after that event, or first gets a "resync"
//                         event telling it to re-read the state. A client
//                         cut off for falling behind (see EventHub) gets a
//                         "resync" event, the comment ": cut off, events were
//                         dropped" and the end of the stream.
//   GET /help             the help document (application/json)
//   GET /host/stats       the stats document (application/json)
//   GET|POST /host/fixed  kFixedAnswer (application/json), without the plug-in:
//                         what this server costs on its own, the baseline a
//                         load test holds the plug-in's answers against (a
//                         body sent with a POST is read and dropped)
//   anything else         the plug-in's functions, through PluginHttpBridge
//
// Another method on one of the host's own paths gets 405 with Allow (OPTIONS
// 204 with Allow), as the plug-in's paths do. Paths longer than
// Settings::maxPathBytes get 414 and bodies longer than Settings::maxBodyBytes
// 413 before any routing. A request without Content-Length or
// Transfer-Encoding has no body, whatever its method. Every error answer,
// the server library's own included, is JSON {"message": ...}. Requests are served by a
// fixed pool of Settings::threads threads; each event-stream client holds one
// for as long as it stays, so the hub's subscriber limit must stay below it.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host/devhost/event_hub.h"
#include "host/devhost/http_bridge.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}

namespace Korvo::Host::Dev {

// The same shape and about the size of the plug-in's answer to a single
// read, so that a comparison measures the call and not the bytes.
inline constexpr const char* kFixedAnswer =
    R"({"data":null,"state":"fixed","timestamp":1700000000000,"updatedBy":"plugin-host"})";

class DevHostServer {
public:
    struct Settings {
        std::chrono::milliseconds heartbeat{15000};
        size_t threads = 64;
        size_t maxPathBytes = 2048;
        size_t maxBodyBytes = size_t{16} << 20;
        // Host header names served besides the listening address and
        // localhost (with the bound port), and the origins whose pages may
        // call (CORS). Everything else a browser could send is refused.
        std::vector<std::string> allowedHosts;
        std::vector<std::string> corsOrigins;
        // Swagger UI's files (swagger-ui-dist), served under /docs/; empty:
        // /docs says how to install them.
        std::string webAssets;
    };
    using DocumentFn = std::function<std::string()>;

    // bridge, hub and both functions must outlive the server.
    DevHostServer(const PluginHttpBridge& bridge, EventHub& hub, DocumentFn help, DocumentFn stats);
    DevHostServer(const PluginHttpBridge& bridge, EventHub& hub, DocumentFn help, DocumentFn stats, Settings settings);
    ~DevHostServer();
    DevHostServer(const DevHostServer&) = delete;
    DevHostServer& operator=(const DevHostServer&) = delete;

    // Serves POST /host/events/{name}: the body (JSON) is delivered to the
    // plug-in as the payload of host event name. Set before Start; without
    // it the path answers 404.
    using EventDeliveryFn = std::function<HttpAnswer(const std::string& name, const std::string& body)>;
    void SetEventDelivery(EventDeliveryFn deliver) { deliverEvent_ = std::move(deliver); }

    // Serves GET /openapi.json. Set before Start.
    void SetOpenApi(DocumentFn openApi) { openApi_ = std::move(openApi); }

    // Binds address and port (0: any free port); returns the bound port, or
    // -1 when the address cannot be bound.
    int Bind(const std::string& address, int port);
    // Serves on a thread of its own until Stop.
    void Start();
    // Ends every event stream (the hub refuses new subscribers from then
    // on), stops accepting and waits for the requests in progress.
    void Stop();

private:
    void Route();
    void Serve(const httplib::Request& request, httplib::Response& response);
    void ServeEvents(const httplib::Request& request, httplib::Response& response);
    void ServeHostEvent(const httplib::Request& request, httplib::Response& response);
    void ServeAsset(const httplib::Request& request, httplib::Response& response);
    void ToPlugin(const httplib::Request& request, httplib::Response& response) const;
    // Why a request that a web page could have sent is refused, or nothing:
    // a Host that is not this server's (DNS rebinding), or a write or event
    // stream from a foreign Origin.
    std::optional<HttpAnswer> Refusal(const httplib::Request& request) const;
    bool IsCorsOrigin(const std::string& origin) const;

    const PluginHttpBridge& bridge_;
    EventHub& hub_;
    DocumentFn help_;
    DocumentFn stats_;
    EventDeliveryFn deliverEvent_;
    DocumentFn openApi_;
    Settings settings_;
    std::string listenAddress_;
    int port_ = -1;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
};

}  // namespace Korvo::Host::Dev
