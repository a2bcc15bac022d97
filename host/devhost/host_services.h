// host/devhost/host_services.h - the host function table the development host
// hands to the plug-in at Start, doing what the host core does for it.
//
//   SendRequest   answers the host's own endpoints from the host's state:
//                 GET "/korvoclient/get_region_locale" -> {"region", "locale"}
//                 GET "/korvoclient/command-line-args" -> the host's argv as
//                 an Array of Strings;
//                 GET "/korvoclient/v1/chat/canned-replies" -> the client's
//                 stock chat replies, answered as a stream of JSON text read
//                 a few bytes at a time, as the host core answers long
//                 documents; any other path with the plug-in's answer for
//                 it (Settings::answers), or else an error with 404;
//                 another method an error with 405.
//   SendEvent     renders the payload as JSON and fans it out to the event
//                 stream (EventHub); the plug-in is never made to wait.
//   Subscribe / Unsubscribe   a table of the plug-in's subscriptions. This
//                 host has no other component that raises events; a
//                 developer raises one with DeliverEvent (the server's
//                 POST /host/events/{name}), which reaches every
//                 subscription of that name.
//   Yield         lets other threads run; MarkActivity does nothing;
//   PollWake      returns a counter that grows by one per call.
//   Log           writes "<level>| <message>" lines to the log sink.
//
// Every entry may be called from any thread at once. The answers are built
// once and shared read-only, so responses point into them; a response's
// release function frees only its error text.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/common/host_function_table.h"
#include "host/common/host_value_json.h"
#include "host/devhost/event_hub.h"
#include "sdk/contract/records.h"

namespace Korvo::Host::Dev {

inline constexpr const char* kRegionLocalePath = "/korvoclient/get_region_locale";
inline constexpr const char* kCommandLineArgsPath = "/korvoclient/command-line-args";
inline constexpr const char* kCannedRepliesPath = "/korvoclient/v1/chat/canned-replies";
// The bytes one read of a streamed answer gives at most: small, so that a
// plug-in meets the partial reads a real host makes.
inline constexpr uint32_t kStreamedAnswerReadBytes = 64;

// The level names of the plug-in's log lines (0 to 3); "Level<n>" beyond.
std::string LogLevelName(uint32_t level);

class HostServices {
public:
    struct Settings {
        std::string region;
        std::string locale;
        std::vector<std::string> commandLine;
        // Fixed answers by path, for paths other than the three above; a
        // later one for a path wins.
        std::vector<std::pair<std::string, OwnedHostValue>> answers;
    };
    struct Subscription {
        std::string name;
        uint32_t pluginHandle;
        uint32_t flag;
        HostEventCallback callback;
        void* userData;
    };
    using LogSink = std::function<void(uint32_t level, std::string_view line)>;

    HostServices(Settings settings, EventHub& hub, LogSink log);
    HostServices(const HostServices&) = delete;
    HostServices& operator=(const HostServices&) = delete;

    // What Start receives; valid as long as this object.
    const HostInterface* Interface(uint32_t pluginHandle) noexcept { return table_.Interface(pluginHandle); }
    const HostFunctions* Functions() const noexcept { return table_.Functions(); }

    std::vector<Subscription> Subscriptions() const;
    // Delivers an event named name with payload to every subscription of
    // that name, on the calling thread and outside any lock (a callback may
    // subscribe or request); returns how many it reached.
    size_t DeliverEvent(const std::string& name, const OwnedHostValue& payload);
    uint64_t RequestsAnswered() const noexcept { return requests_.load(std::memory_order_relaxed); }
    // Responses released through their release function, by every
    // HostServices of the process (the release function gets only the
    // record).
    static uint64_t ResponsesReleased() noexcept { return released_.load(std::memory_order_relaxed); }

private:
    friend class HostFunctionTable<HostServices>;

    // The table's entries (host/common/host_function_table.h).
    void SendRequest(HostResponseRecord* response, const HostRequestRecord* request);
    void Reserved1(uint32_t, uint32_t) {}
    void SendEvent(const HostEventRecord* event);
    void Subscribe(const char* name, uint32_t pluginHandle, HostEventCallback callback, void* userData, uint32_t flag);
    void Unsubscribe(const char* name, uint32_t pluginHandle);
    void Reserved5(uint32_t, uint32_t, uint32_t, double, uint32_t) {}
    void Yield();
    void MarkActivity(const char*, uint32_t) {}
    uint64_t PollWake();
    void Log(uint32_t level, const char* message);

    void Answer(HostResponseRecord* response, const HostRequestRecord* request);
    static void KORVO_CDECL ReleaseResponse(HostResponseRecord* response);
    static KorvoBool KORVO_CDECL ReadStream(void* stream, char* buffer, uint32_t* count, KorvoBool* more);
    static void KORVO_CDECL ReleaseStream(void* stream);

    HostFunctionTable<HostServices> table_{*this};
    EventHub& hub_;
    LogSink log_;
    const OwnedHostValue regionLocale_;
    const OwnedHostValue commandLine_;
    const std::string cannedReplies_;
    const std::map<std::string, OwnedHostValue, std::less<>> answers_;

    mutable std::mutex mutex_;
    std::vector<Subscription> subscriptions_;
    std::atomic<uint64_t> wakeCounter_{0};
    std::atomic<uint64_t> requests_{0};
    static std::atomic<uint64_t> released_;
};

}  // namespace Korvo::Host::Dev
