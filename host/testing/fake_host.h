// host/testing/fake_host.h - a host for tests: loads the plug-in library by
// its path the way the host core does, serves the host's function table with
// scripted answers, and records every call the plug-in makes.
//
// Every record is read by its layout during the call that hands it over and
// copied into plain host-side data (values as JSON text), so a test can look
// at it after the plug-in has freed its own copy.
//
// Recording is thread-safe: the plug-in may call the table from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/common/function_call.h"
#include "host/common/host_function_table.h"
#include "host/common/host_value_json.h"
#include "host/common/http_status.h"
#include "host/common/plugin_library.h"
#include "sdk/contract/records.h"

namespace Korvo::Host {

class FakeHost {
public:
    struct Request {
        uint32_t method;
        std::string path;
        uint32_t caller;
        uint32_t argumentCount;
        uint32_t headerCount;
        bool hasBody;
    };
    struct Event {
        std::string name;
        std::string payloadJson;
        uint32_t typeWord;
    };
    struct Subscription {
        std::string name;
        uint32_t pluginHandle;
        HostEventCallback callback;
        void* userData;
        uint32_t flag;
    };
    struct LogLine {
        uint32_t level;
        std::string message;
    };
    // One piece of a streamed answer: the bytes of one read call, whether
    // more follows, or a failing read.
    struct StreamChunk {
        std::string bytes;
        bool more = false;
        bool fail = false;
    };
    // What a response record held, copied before it was released.
    using CallResponse = FunctionResponse;

    FakeHost();
    ~FakeHost();
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    // ---- the plug-in's life
    // Loads the library and finds the export; false when either fails.
    bool Load(const std::string& libraryPath, const char* exportName = "load_qem_quorvex_zv");
    // Why the last Load failed.
    const std::string& LoadError() const { return library_.Error(); }
    // Uses an export linked into the calling binary instead of a loaded
    // library (for plug-in classes that exist only in a test).
    void UseEntryPoint(LoadPluginFn load) { library_.UseEntryPoint(load); }
    // Calls the export with the given host API version; returns the plug-in
    // object (also kept, with the load record, for Start and Stop).
    void* CallLoad(uint32_t major = 18, uint32_t minor = 0, uint32_t patch = 0);
    const PluginLoadContext& Context() const { return library_.Context(); }
    const HostApiDescriptor* Descriptor() const { return library_.Descriptor(); }
    // Start through the callbacks table; returns the plug-in's verdict.
    bool Start(uint32_t pluginHandle = 0x5EED);
    // Stop through the callbacks table (destroys the plug-in object).
    void Stop();
    // Unloads the library (Stop first if the plug-in was started).
    void Unload();
    // Through the GetMemoryStats entry of the last load, which stays valid
    // after Stop as long as the library is loaded; zeros before any load.
    PluginMemoryStats MemoryStats() const { return library_.MemoryStats(); }
    const HostFunctions* Functions() const { return table_.Functions(); }

    // ---- scripted answers of SendRequest, by exact path
    void AnswerValue(const std::string& path, OwnedHostValue value, uint32_t status = HttpStatus::kOk);
    void AnswerError(const std::string& path, uint32_t status, const std::string& message);
    void AnswerStream(const std::string& path, std::vector<StreamChunk> chunks, uint32_t sizeHint = 0);
    // Paths without a script get an error answer with status 404.

    // Runs in every SendEvent call, on the plug-in's thread and before the
    // event is recorded, as in a host that works on an event before it
    // delivers it: a test can hold the sender there, or call back into the
    // plug-in. Set it while the plug-in sends nothing.
    void SetEventHook(std::function<void(const Event&)> hook);
    // Runs in every Log call, on the plug-in's thread, also while the host
    // stops and unloads the plug-in. Set it before the plug-in is loaded.
    void SetLogHook(std::function<void(const LogLine&)> hook);

    // ---- what the plug-in did
    std::vector<Request> Requests() const;
    std::vector<Event> Events() const;
    std::vector<Subscription> Subscriptions() const;
    std::vector<std::pair<std::string, uint32_t>> Unsubscriptions() const;
    std::vector<LogLine> LogLines() const;
    // "MarkActivity <label> <value>", "Yield", "PollWake", "reserved1 <a> <b>"
    // and "reserved5 <a> <b> <c> <d> <e>", in call order.
    std::vector<std::string> WaitCalls() const;
    size_t ResponsesReleased() const;   // host responses the plug-in released
    size_t StreamsReleased() const;     // streams the plug-in released
    void ClearRecords();

    // ---- calling the plug-in
    // The served function record whose method and template fit the request,
    // or null, chosen as FunctionRouter does: {x} takes one segment, {+x}
    // the rest of the path.
    const HostFunctionRecord* FindFunction(uint32_t method, std::string_view path) const;
    const HostFunctionRecord* FindFunctionByName(std::string_view name) const;
    // Builds the request record, calls the record's callback, copies the
    // response and releases it through its release field. Without a matching record
    // the response says so with status 404 and "no route" (no call is made).
    CallResponse Call(uint32_t method, const std::string& path, std::string_view body = {},
                      const std::string& contentType = "",
                      const std::vector<std::pair<std::string, std::string>>& headers = {},
                      const std::vector<std::pair<std::string, OwnedHostValue>>& arguments = {},
                      uint32_t caller = 1);
    // The same through a given record (for requests the host would not route
    // there, e.g. a wrong method).
    CallResponse CallRecord(const HostFunctionRecord& record, uint32_t method, const std::string& path,
                            std::string_view body = {}, const std::string& contentType = "",
                            const std::vector<std::pair<std::string, std::string>>& headers = {},
                            const std::vector<std::pair<std::string, OwnedHostValue>>& arguments = {},
                            uint32_t caller = 1, const char* functionName = nullptr);

    // Delivers an event to every subscription of that name; returns how many
    // callbacks ran.
    size_t DeliverEvent(const std::string& name, const OwnedHostValue& payload);

private:
    friend class HostFunctionTable<FakeHost>;
    struct Script {
        enum Kind { Value, Error, Stream } kind = Value;
        OwnedHostValue value;
        uint32_t status = 0;
        std::string message;
        std::vector<StreamChunk> chunks;
        uint32_t sizeHint = 0;
    };
    struct StreamState;

    // The table's entries (host/common/host_function_table.h), each
    // recorded.
    void SendRequest(HostResponseRecord* response, const HostRequestRecord* request);
    void Reserved1(uint32_t, uint32_t);
    void SendEvent(const HostEventRecord* event);
    void Subscribe(const char* name, uint32_t pluginHandle, HostEventCallback callback, void* userData, uint32_t flag);
    void Unsubscribe(const char* name, uint32_t pluginHandle);
    void Reserved5(uint32_t, uint32_t, uint32_t, double, uint32_t);
    void Yield();
    void MarkActivity(const char* label, uint32_t value);
    uint64_t PollWake();
    void Log(uint32_t level, const char* message);
    void RecordWaitCall(std::string call);

    static void KORVO_CDECL ReleaseHostResponse(HostResponseRecord*);
    static bool KORVO_CDECL StreamRead(void*, char*, uint32_t*, bool*);
    static void KORVO_CDECL StreamRelease(void*);

    HostFunctionTable<FakeHost> table_{*this};
    PluginLibrary library_;

    mutable std::mutex mutex_;
    std::map<std::string, Script> scripts_;
    std::vector<Request> requests_;
    std::vector<Event> events_;
    std::function<void(const Event&)> eventHook_;
    std::function<void(const LogLine&)> logHook_;
    std::vector<Subscription> subscriptions_;
    std::vector<std::pair<std::string, uint32_t>> unsubscriptions_;
    std::vector<LogLine> logLines_;
    std::vector<std::string> waitCalls_;
    size_t responsesReleased_ = 0;
    size_t streamsReleased_ = 0;
    uint64_t wakeCounter_ = 0;
};

}  // namespace Korvo::Host
