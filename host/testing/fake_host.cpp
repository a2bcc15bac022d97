#include "host/testing/fake_host.h"

#include <cstring>
#include <unordered_map>

#include "host/common/host_text.h"
#include "host/common/http_status.h"
#include "sdk/platform/platform.h"

namespace Korvo::Host {

namespace {

// Responses the fake host handed to the plug-in, so their release function
// (which receives only the record) can find its host.
std::mutex gResponsesLock;
std::unordered_map<const HostResponseRecord*, FakeHost*> gResponses;

}  // namespace

struct FakeHost::StreamState {
    FakeHost* owner;
    std::vector<StreamChunk> chunks;
    size_t index = 0;
    size_t offset = 0;
};

FakeHost::FakeHost() = default;

FakeHost::~FakeHost() { Unload(); }

bool FakeHost::Load(const std::string& libraryPath, const char* exportName) {
    return library_.Open(libraryPath, exportName);
}

void* FakeHost::CallLoad(uint32_t major, uint32_t minor, uint32_t patch) {
    return library_.Load(major, minor, patch);
}

bool FakeHost::Start(uint32_t pluginHandle) {
    if (library_.Plugin() == nullptr) return false;
    return library_.Start(table_.Interface(pluginHandle));
}

void FakeHost::Stop() { library_.Stop(); }

void FakeHost::Unload() { library_.Close(); }

// ------------------------------------------------------------------ scripts

void FakeHost::AnswerValue(const std::string& path, OwnedHostValue value, uint32_t status) {
    std::lock_guard<std::mutex> guard(mutex_);
    Script& script = scripts_[path];
    script = Script{};
    script.kind = Script::Value;
    script.value = std::move(value);
    script.status = status;
}

void FakeHost::AnswerError(const std::string& path, uint32_t status, const std::string& message) {
    std::lock_guard<std::mutex> guard(mutex_);
    Script& script = scripts_[path];
    script = Script{};
    script.kind = Script::Error;
    script.status = status;
    script.message = message;
}

void FakeHost::AnswerStream(const std::string& path, std::vector<StreamChunk> chunks, uint32_t sizeHint) {
    std::lock_guard<std::mutex> guard(mutex_);
    Script& script = scripts_[path];
    script = Script{};
    script.kind = Script::Stream;
    script.chunks = std::move(chunks);
    script.sizeHint = sizeHint;
}

// -------------------------------------------------------------- host table

void FakeHost::SendRequest(HostResponseRecord* response, const HostRequestRecord* request) {
    if (response == nullptr || request == nullptr) return;
    std::lock_guard<std::mutex> guard(mutex_);
    std::string path = TextOrEmpty(request->path);
    requests_.push_back(Request{request->method, path, request->caller, request->argumentCount,
                                request->headerCount, request->body != nullptr});
    auto found = scripts_.find(path);
    if (found == scripts_.end()) {
        response->error = 1;
        response->errorMessage = CopyText("no such endpoint: " + path);
        response->status = HttpStatus::kNotFound;
    } else {
        const Script& script = found->second;
        switch (script.kind) {
            case Script::Value:
                // The record points into the script, which outlives the call.
                response->result = script.value.Record();
                response->status = script.status;
                break;
            case Script::Error:
                response->error = 1;
                response->errorMessage = CopyText(script.message);
                response->status = script.status;
                break;
            case Script::Stream: {
                auto* state = new StreamState{this, script.chunks};
                response->streamRead = &StreamRead;
                response->streamRelease = &StreamRelease;
                response->stream = state;
                response->streamSizeHint = script.sizeHint;
                response->status = HttpStatus::kOk;
                break;
            }
        }
    }
    response->release = &ReleaseHostResponse;
    std::lock_guard<std::mutex> responses(gResponsesLock);
    gResponses[response] = this;
}

void KORVO_CDECL FakeHost::ReleaseHostResponse(HostResponseRecord* response) {
    if (response == nullptr) return;
    FakeHost* owner = nullptr;
    {
        std::lock_guard<std::mutex> guard(gResponsesLock);
        auto found = gResponses.find(response);
        if (found != gResponses.end()) {
            owner = found->second;
            gResponses.erase(found);
        }
    }
    delete[] response->errorMessage;
    std::memset(response, 0, sizeof(*response));
    if (owner != nullptr) {
        std::lock_guard<std::mutex> guard(owner->mutex_);
        ++owner->responsesReleased_;
    }
}

bool KORVO_CDECL FakeHost::StreamRead(void* stream, char* buffer, uint32_t* count, bool* more) {
    auto* state = static_cast<StreamState*>(stream);
    if (state == nullptr || count == nullptr || more == nullptr) return false;
    if (state->index >= state->chunks.size()) {
        *count = 0;
        *more = false;
        return true;
    }
    const StreamChunk& chunk = state->chunks[state->index];
    if (chunk.fail) return false;
    size_t left = chunk.bytes.size() - state->offset;
    size_t take = left < *count ? left : *count;
    if (take > 0) std::memcpy(buffer, chunk.bytes.data() + state->offset, take);
    *count = static_cast<uint32_t>(take);
    state->offset += take;
    if (state->offset == chunk.bytes.size()) {
        *more = chunk.more;
        ++state->index;
        state->offset = 0;
    } else {
        *more = true;
    }
    return true;
}

void KORVO_CDECL FakeHost::StreamRelease(void* stream) {
    auto* state = static_cast<StreamState*>(stream);
    if (state == nullptr) return;
    {
        std::lock_guard<std::mutex> guard(state->owner->mutex_);
        ++state->owner->streamsReleased_;
    }
    delete state;
}

void FakeHost::RecordWaitCall(std::string call) {
    std::lock_guard<std::mutex> guard(mutex_);
    waitCalls_.push_back(std::move(call));
}

void FakeHost::Reserved1(uint32_t a, uint32_t b) {
    RecordWaitCall("reserved1 " + std::to_string(a) + " " + std::to_string(b));
}

void FakeHost::SendEvent(const HostEventRecord* event) {
    if (event == nullptr) return;
    Event copy{TextOrEmpty(event->name), HostValueToJson(event->payload), event->typeWord};
    if (eventHook_) eventHook_(copy);
    std::lock_guard<std::mutex> guard(mutex_);
    events_.push_back(std::move(copy));
}

void FakeHost::SetEventHook(std::function<void(const Event&)> hook) { eventHook_ = std::move(hook); }

void FakeHost::Subscribe(const char* name, uint32_t pluginHandle, HostEventCallback callback, void* userData,
                         uint32_t flag) {
    std::lock_guard<std::mutex> guard(mutex_);
    subscriptions_.push_back(Subscription{TextOrEmpty(name), pluginHandle, callback, userData, flag});
}

void FakeHost::Unsubscribe(const char* name, uint32_t pluginHandle) {
    std::lock_guard<std::mutex> guard(mutex_);
    unsubscriptions_.emplace_back(TextOrEmpty(name), pluginHandle);
}

void FakeHost::Reserved5(uint32_t a, uint32_t b, uint32_t c, double d, uint32_t e) {
    RecordWaitCall("reserved5 " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c) + " " +
                   std::to_string(d) + " " + std::to_string(e));
}

void FakeHost::Yield() { RecordWaitCall("Yield"); }

void FakeHost::MarkActivity(const char* label, uint32_t value) {
    RecordWaitCall("MarkActivity " + TextOrEmpty(label) + " " + std::to_string(value));
}

uint64_t FakeHost::PollWake() {
    std::lock_guard<std::mutex> guard(mutex_);
    waitCalls_.push_back("PollWake");
    return ++wakeCounter_;
}

void FakeHost::Log(uint32_t level, const char* message) {
    LogLine line{level, TextOrEmpty(message)};
    if (logHook_) logHook_(line);
    std::lock_guard<std::mutex> guard(mutex_);
    logLines_.push_back(std::move(line));
}

void FakeHost::SetLogHook(std::function<void(const LogLine&)> hook) { logHook_ = std::move(hook); }

// --------------------------------------------------------------- recording

std::vector<FakeHost::Request> FakeHost::Requests() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return requests_;
}

std::vector<FakeHost::Event> FakeHost::Events() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return events_;
}

std::vector<FakeHost::Subscription> FakeHost::Subscriptions() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return subscriptions_;
}

std::vector<std::pair<std::string, uint32_t>> FakeHost::Unsubscriptions() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return unsubscriptions_;
}

std::vector<FakeHost::LogLine> FakeHost::LogLines() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return logLines_;
}

std::vector<std::string> FakeHost::WaitCalls() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return waitCalls_;
}

size_t FakeHost::ResponsesReleased() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return responsesReleased_;
}

size_t FakeHost::StreamsReleased() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return streamsReleased_;
}

void FakeHost::ClearRecords() {
    std::lock_guard<std::mutex> guard(mutex_);
    requests_.clear();
    events_.clear();
    subscriptions_.clear();
    unsubscriptions_.clear();
    logLines_.clear();
    waitCalls_.clear();
    responsesReleased_ = 0;
    streamsReleased_ = 0;
}

// ------------------------------------------------------- calling functions

const HostFunctionRecord* FakeHost::FindFunction(uint32_t method, std::string_view path) const {
    return FunctionRouter(Descriptor()).Find(method, path).record;
}

const HostFunctionRecord* FakeHost::FindFunctionByName(std::string_view name) const {
    return FunctionRouter(Descriptor()).FindByName(name);
}

FakeHost::CallResponse FakeHost::Call(uint32_t method, const std::string& path, std::string_view body,
                                      const std::string& contentType,
                                      const std::vector<std::pair<std::string, std::string>>& headers,
                                      const std::vector<std::pair<std::string, OwnedHostValue>>& arguments,
                                      uint32_t caller) {
    const HostFunctionRecord* record = FindFunction(method, path);
    if (record == nullptr) {
        CallResponse response;
        response.error = true;
        response.errorMessage = "no route";
        response.status = HttpStatus::kNotFound;
        return response;
    }
    return CallRecord(*record, method, path, body, contentType, headers, arguments, caller);
}

FakeHost::CallResponse FakeHost::CallRecord(const HostFunctionRecord& record, uint32_t method,
                                            const std::string& path, std::string_view body,
                                            const std::string& contentType,
                                            const std::vector<std::pair<std::string, std::string>>& headers,
                                            const std::vector<std::pair<std::string, OwnedHostValue>>& arguments,
                                            uint32_t caller, const char* functionName) {
    FunctionRequest request;
    request.method = method;
    request.path = path;
    // The body is sent NUL-terminated, as the host sends JSON and YAML text.
    request.hasBody = body.data() != nullptr;
    request.body.assign(body);
    request.contentType = contentType;
    request.headers = headers;
    request.arguments = arguments;
    request.caller = caller;
    request.functionName = functionName;
    return CallFunction(record, request);
}

size_t FakeHost::DeliverEvent(const std::string& name, const OwnedHostValue& payload) {
    std::vector<Subscription> targets;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        for (const Subscription& subscription : subscriptions_) {
            bool withdrawn = false;
            for (const auto& [gone, handle] : unsubscriptions_) withdrawn = withdrawn || gone == subscription.name;
            if (subscription.name == name && !withdrawn) targets.push_back(subscription);
        }
    }
    for (const Subscription& subscription : targets) {
        HostEventRecord record;
        std::memset(&record, 0, sizeof(record));
        record.name = subscription.name.c_str();
        record.payload = payload.Record();
        record.userData = subscription.userData;
        subscription.callback(&record);
    }
    return targets.size();
}

}  // namespace Korvo::Host
