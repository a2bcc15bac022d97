#include "host/devhost/dev_server.h"

#include <httplib.h>

#include <atomic>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <utility>

#include "host/common/host_text.h"
#include "host/common/http_status.h"
#include "host/devhost/web_pages.h"

namespace Korvo::Host::Dev {

namespace {

constexpr size_t kKeepAliveRequests = 1000;

// The host's own endpoints and the methods each serves.
enum class OwnEndpoint { Events, Help, Stats, Fixed, OpenApi, LivePage, DocsPage };
struct OwnRoute {
    std::string_view path;
    OwnEndpoint endpoint;
    bool post;  // POST besides GET and HEAD
};
constexpr OwnRoute kOwnRoutes[] = {
    {"/events", OwnEndpoint::Events, false},
    {"/help", OwnEndpoint::Help, false},
    {"/host/stats", OwnEndpoint::Stats, false},
    {"/host/fixed", OwnEndpoint::Fixed, true},
    {"/openapi.json", OwnEndpoint::OpenApi, false},
    {"/", OwnEndpoint::LivePage, false},
    {"/docs", OwnEndpoint::DocsPage, false},
    {"/docs/", OwnEndpoint::DocsPage, false},
};

// Swagger UI's files: /docs/<name>, one level, names of these characters.
constexpr std::string_view kAssetsPrefix = "/docs/";
constexpr const char* kHtmlContentType = "text/html; charset=utf-8";

bool IsAssetName(std::string_view name) {
    if (name.empty() || name[0] == '.') return false;
    for (char c : name) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                             c == '-' || c == '_';
        if (!allowed) return false;
    }
    return true;
}

const char* AssetContentType(std::string_view name) {
    if (name.ends_with(".js")) return "text/javascript; charset=utf-8";
    if (name.ends_with(".css")) return "text/css; charset=utf-8";
    if (name.ends_with(".html")) return kHtmlContentType;
    if (name.ends_with(".png")) return "image/png";
    if (name.ends_with(".map") || name.ends_with(".json")) return "application/json";
    return "application/octet-stream";
}

// ---- who may call: Host and Origin


bool IsIpv4Literal(std::string_view name) {
    int dots = 0;
    for (char c : name) {
        if (c == '.') {
            ++dots;
        } else if (c < '0' || c > '9') {
            return false;
        }
    }
    return dots == 3;
}

// A name no resolver gives out: an attacker's page cannot make the browser
// send it for a host name of its own.
bool IsIpLiteral(std::string_view name) { return IsIpv4Literal(name) || name.starts_with('['); }

bool IsWildcard(std::string_view address) { return address.empty() || address == "0.0.0.0" || address == "::"; }

bool IsLoopback(std::string_view address) {
    return address == "localhost" || address == "::1" || address.starts_with("127.");
}

// The listening address as a Host header names it.
std::string HostName(const std::string& address) {
    return address.find(':') != std::string::npos ? "[" + address + "]" : LowerAscii(address);
}

bool IsWrite(const std::string& method) {
    return method == "POST" || method == "PUT" || method == "PATCH" || method == "DELETE";
}

// POST /host/events/{name}: a host event raised by hand.
constexpr std::string_view kHostEventsPrefix = "/host/events/";

const OwnRoute* FindOwnRoute(std::string_view path) {
    for (const OwnRoute& route : kOwnRoutes) {
        if (route.path == path) return &route;
    }
    return nullptr;
}

constexpr std::string_view kSubscribed = ": subscribed\n\n";
constexpr std::string_view kKeepAlive = ": keep-alive\n\n";
constexpr std::string_view kCutOff = ": cut off, events were dropped\n\n";

void Send(httplib::Response& response, const HttpAnswer& answer) {
    response.status = answer.status;
    for (const auto& [name, value] : answer.headers) response.set_header(name, value);
    if (!answer.contentType.empty()) response.set_content(answer.body, answer.contentType.c_str());
}

bool Write(httplib::DataSink& sink, std::string_view text) { return sink.write(text.data(), text.size()); }

// A request without Content-Length and Transfer-Encoding has no body. The
// server library would instead read a POST, PUT or PATCH without them until
// the client closes the connection and, when the read times out, answer 400
// itself; such a request, and one whose method the library routes nowhere,
// is served before the library looks for a body or a route.
bool ServeBeforeBodyIsRead(const httplib::Request& request) {
    const std::string& method = request.method;
    if (method == "GET" || method == "HEAD" || method == "OPTIONS") return false;
    const bool readsBody = method == "POST" || method == "PUT" || method == "PATCH" || method == "DELETE";
    if (!readsBody) return true;
    return !request.has_header("Content-Length") && !request.has_header("Transfer-Encoding");
}

// What the server library answers on its own carries no body: the same
// {"message": ...} as every other error instead.
std::string LibraryErrorMessage(int status, const httplib::Request& request, size_t maxBodyBytes) {
    switch (status) {
        case HttpStatus::kBadRequest: return "The request could not be read";
        case HttpStatus::kNotFound: return "Nothing is served at " + request.path;
        case HttpStatus::kPayloadTooLarge:
            return "The request body is larger than " + std::to_string(maxBodyBytes) + " bytes";
        case HttpStatus::kUriTooLong: return "The request path is too long";
        default: return "The development host could not answer the request (status " + std::to_string(status) + ")";
    }
}

// The server library files the connection's addresses among the request's
// headers; the client never sent them, so the plug-in does not see them.
bool IsConnectionPseudoHeader(const std::string& name) {
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" || name == "LOCAL_PORT";
}

// The writer of one event stream, run by the server between writes: each
// call writes one piece and returns; false ends the connection.
struct StreamWriter {
    std::shared_ptr<StreamSubscriber> subscriber;
    std::chrono::milliseconds heartbeat;
    bool greeted = false;

    bool operator()(size_t, httplib::DataSink& sink) {
        if (!greeted) {
            greeted = true;
            return Write(sink, kSubscribed);
        }
        std::string frame;
        switch (subscriber->Next(frame, heartbeat)) {
            case StreamSubscriber::Wait::Frame: return Write(sink, frame);
            case StreamSubscriber::Wait::Timeout: return Write(sink, kKeepAlive);
            case StreamSubscriber::Wait::Closed:
                if (subscriber->Overflowed()) Write(sink, kCutOff);
                sink.done();
                return true;
        }
        return false;
    }
};

}  // namespace

DevHostServer::DevHostServer(const PluginHttpBridge& bridge, EventHub& hub, DocumentFn help, DocumentFn stats)
    : DevHostServer(bridge, hub, std::move(help), std::move(stats), Settings{}) {}

DevHostServer::DevHostServer(const PluginHttpBridge& bridge, EventHub& hub, DocumentFn help, DocumentFn stats,
                             Settings settings)
    : bridge_(bridge),
      hub_(hub),
      help_(std::move(help)),
      stats_(std::move(stats)),
      settings_(settings),
      server_(std::make_unique<httplib::Server>()) {
    Route();
}

DevHostServer::~DevHostServer() { Stop(); }

void DevHostServer::Route() {
    httplib::Server& server = *server_;
    const size_t threads = settings_.threads;
    server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    server.set_keep_alive_max_count(kKeepAliveRequests);
    server.set_payload_max_length(settings_.maxBodyBytes);
    server.set_tcp_nodelay(true);

    // Before any routing: the server's own routes are regular expressions,
    // whose matcher recurses once per character of the path.
    const size_t maxPath = settings_.maxPathBytes;
    server.set_pre_routing_handler([this, maxPath](const httplib::Request& request, httplib::Response& response) {
        if (std::optional<HttpAnswer> refusal = Refusal(request)) {
            Send(response, *refusal);
            return httplib::Server::HandlerResponse::Handled;
        }
        const std::string origin = request.get_header_value("Origin");
        if (request.method == "OPTIONS" && request.has_header("Access-Control-Request-Method") &&
            IsCorsOrigin(origin)) {
            // A preflight from a page of an origin that may call.
            response.status = HttpStatus::kNoContent;
            response.set_header("Access-Control-Allow-Methods", "GET, HEAD, POST, PUT, PATCH, DELETE, OPTIONS");
            const std::string asked = request.get_header_value("Access-Control-Request-Headers");
            if (!asked.empty()) response.set_header("Access-Control-Allow-Headers", asked);
            response.set_header("Access-Control-Max-Age", "600");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (request.path.size() > maxPath) {
            Send(response, JsonMessage(HttpStatus::kUriTooLong, "The request path is too long"));
            return httplib::Server::HandlerResponse::Handled;
        }
        if (!ServeBeforeBodyIsRead(request)) return httplib::Server::HandlerResponse::Unhandled;
        Serve(request, response);
        return httplib::Server::HandlerResponse::Handled;
    });
    server.set_post_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
        const std::string origin = request.get_header_value("Origin");
        if (!IsCorsOrigin(origin)) return;
        response.set_header("Access-Control-Allow-Origin", origin);
        response.set_header("Vary", "Origin");
    });
    server.set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
        Send(response, JsonMessage(HttpStatus::kInternalServerError, "The development host failed to answer"));
    });
    const size_t maxBody = settings_.maxBodyBytes;
    server.set_error_handler(httplib::Server::HandlerWithResponse([maxBody](const httplib::Request& request,
                                                                            httplib::Response& response) {
        // Answers made here already have their body; only the library's own
        // are empty.
        if (!response.body.empty() || response.has_header("Content-Type")) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        Send(response, JsonMessage(response.status, LibraryErrorMessage(response.status, request, maxBody)));
        return httplib::Server::HandlerResponse::Handled;
    }));

    auto serve = [this](const httplib::Request& request, httplib::Response& response) { Serve(request, response); };
    server.Get(".*", serve);
    server.Post(".*", serve);
    server.Put(".*", serve);
    server.Patch(".*", serve);
    server.Delete(".*", serve);
    server.Options(".*", serve);
}

void DevHostServer::Serve(const httplib::Request& request, httplib::Response& response) {
    if (request.path.starts_with(kHostEventsPrefix) && deliverEvent_) {
        ServeHostEvent(request, response);
        return;
    }
    if (request.path.size() > kAssetsPrefix.size() && request.path.starts_with(kAssetsPrefix) &&
        (request.method == "GET" || request.method == "HEAD")) {
        ServeAsset(request, response);
        return;
    }
    const OwnRoute* own = FindOwnRoute(request.path);
    if (own == nullptr) {
        ToPlugin(request, response);
        return;
    }
    const std::string& method = request.method;
    const bool isGet = method == "GET" || method == "HEAD";
    if (!isGet && !(own->post && method == "POST")) {
        const char* allow = own->post ? "GET, HEAD, POST, OPTIONS" : "GET, HEAD, OPTIONS";
        if (method == "OPTIONS") {
            response.status = HttpStatus::kNoContent;
        } else {
            Send(response, JsonMessage(HttpStatus::kMethodNotAllowed,
                                       "The development host does not serve " + method + " " + request.path));
        }
        response.set_header("Allow", allow);
        return;
    }
    switch (own->endpoint) {
        case OwnEndpoint::Events: ServeEvents(request, response); return;
        case OwnEndpoint::Help: response.set_content(help_(), kJsonContentType); return;
        case OwnEndpoint::Stats: response.set_content(stats_(), kJsonContentType); return;
        // A body sent with a POST is read and dropped.
        case OwnEndpoint::Fixed: response.set_content(kFixedAnswer, kJsonContentType); return;
        case OwnEndpoint::LivePage:
            response.set_header("X-Content-Type-Options", "nosniff");
            response.set_content(Web::kLivePage, kHtmlContentType);
            return;
        case OwnEndpoint::DocsPage:
            if (settings_.webAssets.empty()) {
                Send(response, JsonMessage(HttpStatus::kNotFound,
                                           "Swagger UI is not installed here: scripts/install-deps "
                                           "installs it, --web-assets DIR names its folder"));
                return;
            }
            response.set_header("X-Content-Type-Options", "nosniff");
            response.set_content(Web::kDocsPage, kHtmlContentType);
            return;
        case OwnEndpoint::OpenApi:
            if (!openApi_) {
                Send(response, JsonMessage(HttpStatus::kNotFound, "This host has no OpenAPI document"));
                return;
            }
            response.set_content(openApi_(), kJsonContentType);
            return;
    }
}

void DevHostServer::ServeHostEvent(const httplib::Request& request, httplib::Response& response) {
    if (request.method != "POST") {
        if (request.method == "OPTIONS") {
            response.status = HttpStatus::kNoContent;
        } else {
            Send(response, JsonMessage(HttpStatus::kMethodNotAllowed,
                                       "The development host does not serve " + request.method + " " + request.path));
        }
        response.set_header("Allow", "POST, OPTIONS");
        return;
    }
    const std::string name = request.path.substr(kHostEventsPrefix.size());
    if (name.empty() || name.find('/') != std::string::npos) {
        Send(response, JsonMessage(HttpStatus::kNotFound, "A host event is raised at /host/events/{name}"));
        return;
    }
    Send(response, deliverEvent_(name, request.body));
}

void DevHostServer::ServeAsset(const httplib::Request& request, httplib::Response& response) {
    const std::string name = request.path.substr(kAssetsPrefix.size());
    std::string content;
    if (!settings_.webAssets.empty() && IsAssetName(name)) {
        std::ifstream file(std::filesystem::path(settings_.webAssets) / name, std::ios::binary);
        if (file) content.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        if (!file.bad() && file.is_open()) {
            response.set_header("X-Content-Type-Options", "nosniff");
            response.set_header("Cache-Control", "max-age=3600");
            response.set_content(std::move(content), AssetContentType(name));
            return;
        }
    }
    Send(response, JsonMessage(HttpStatus::kNotFound, "Nothing is served at " + request.path));
}

void DevHostServer::ServeEvents(const httplib::Request& request, httplib::Response& response) {
    response.set_header("Cache-Control", "no-cache");
    if (request.method == "HEAD") {
        response.set_header("Content-Type", "text/event-stream");
        return;
    }
    // A client coming back (EventSource does it by itself) names the last
    // event it saw; it resumes after it or is told to re-read the state.
    std::shared_ptr<StreamSubscriber> subscriber =
        request.has_header("Last-Event-ID")
            ? hub_.Subscribe(request.get_param_value("name"), request.get_header_value("Last-Event-ID"))
            : hub_.Subscribe(request.get_param_value("name"));
    if (!subscriber) {
        Send(response, JsonMessage(HttpStatus::kServiceUnavailable, "No room for another event-stream client"));
        return;
    }
    EventHub* hub = &hub_;
    response.set_chunked_content_provider("text/event-stream", StreamWriter{subscriber, settings_.heartbeat},
                                          [hub, subscriber](bool) { hub->Unsubscribe(subscriber); });
}

void DevHostServer::ToPlugin(const httplib::Request& request, httplib::Response& response) const {
    HttpRequestData data;
    data.method = request.method;
    data.target = request.target;
    for (const auto& [name, value] : request.headers) {
        if (!IsConnectionPseudoHeader(name)) data.headers.emplace_back(name, value);
    }
    data.contentType = request.get_header_value("Content-Type");
    data.hasBody = !request.body.empty() || request.has_header("Content-Length") ||
                   request.has_header("Transfer-Encoding");
    data.body = request.body;
    Send(response, bridge_.Handle(data));
}

int DevHostServer::Bind(const std::string& address, int port) {
    listenAddress_ = address;
    port_ = port == 0 ? server_->bind_to_any_port(address) : (server_->bind_to_port(address, port) ? port : -1);
    return port_;
}

bool DevHostServer::IsCorsOrigin(const std::string& origin) const {
    if (origin.empty()) return false;
    for (const std::string& allowed : settings_.corsOrigins) {
        if (LowerAscii(allowed) == LowerAscii(origin)) return true;
    }
    return false;
}

std::optional<HttpAnswer> DevHostServer::Refusal(const httplib::Request& request) const {
    // A client that sends no Host at all is no browser.
    if (!request.has_header("Host")) return std::nullopt;
    const std::string host = LowerAscii(request.get_header_value("Host"));
    const std::string port = std::to_string(port_);
    const size_t colon = host.rfind(':');
    const bool hasPort = colon != std::string::npos && host.find(']', colon) == std::string::npos;
    const std::string name = hasPort ? host.substr(0, colon) : host;
    // Browsers always name the port of the address they connect to; the
    // name is what a rebinding page cannot get right.
    const std::string givenPort = hasPort ? host.substr(colon + 1) : port;

    bool known = name == "localhost" || name == HostName(listenAddress_) ||
                 (IsWildcard(listenAddress_) && IsIpLiteral(name)) ||
                 (IsLoopback(listenAddress_) && (name == "[::1]" || name.starts_with("127.")));
    for (const std::string& allowed : settings_.allowedHosts) known = known || name == LowerAscii(allowed);
    if (!known || givenPort != port) {
        return JsonMessage(HttpStatus::kForbidden, "The development host does not serve the host '" + host +
                                                             "': it answers for " + HostName(listenAddress_) + ":" +
                                                             port + " and localhost:" + port +
                                                             " (--allow-host NAME adds a name)");
    }

    // A page's script may send a read, but the browser keeps the answer from
    // a foreign page; a write acts, and an event stream is read as it comes,
    // so both need the page to be this server's or a named origin's.
    if (!IsWrite(request.method) && request.path != "/events") return std::nullopt;
    if (!request.has_header("Origin")) return std::nullopt;
    const std::string origin = request.get_header_value("Origin");
    if (LowerAscii(origin) == "http://" + host || IsCorsOrigin(origin)) return std::nullopt;
    return JsonMessage(HttpStatus::kForbidden, "A page of '" + origin + "' may not " +
                                                         (IsWrite(request.method) ? "write" : "listen") +
                                                         " here (--cors-origin ORIGIN lets one)");
}

void DevHostServer::Start() {
    auto finished = std::make_shared<std::atomic<bool>>(false);
    thread_ = std::thread([this, finished] {
        server_->listen_after_bind();
        finished->store(true);
    });
    // A Stop that came before the server runs would find nothing to stop
    // and then wait for it for ever.
    while (!server_->is_running() && !finished->load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void DevHostServer::Stop() {
    hub_.CloseAll();
    server_->stop();
    if (thread_.joinable()) thread_.join();
}

}  // namespace Korvo::Host::Dev
