// tests/devhost/scripted_api.h - an API descriptor built by hand, whose
// function records call back into the test: each call is recorded (copies of
// the request record's parts) and answered by a script. Lets the host's
// routing, calling and HTTP mapping be tested without the plug-in.
#pragma once

#include <atomic>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "host/common/host_value_json.h"
#include "sdk/contract/records.h"

namespace Korvo::Host::Testing {

// What one request record held, copied during the call.
struct SeenRequest {
    uint32_t method = 0;
    std::string path;
    std::vector<std::pair<std::string, std::string>> headers;
    bool hasContentType = false;
    std::string contentType;
    bool hasBody = false;
    std::string body;
    uint32_t caller = 0;
    // Named argument entries, with their values as JSON.
    std::vector<std::pair<std::string, std::string>> arguments;
};

// The answer a scripted function writes; texts are heap copies freed by the
// response's release function, the value stays owned by the script.
struct ScriptedAnswer {
    bool error = false;
    std::string message;
    uint32_t status = 0;
    OwnedHostValue value;
    uint32_t contentCode = 0;
    std::vector<std::pair<std::string, std::string>> headers;
    std::vector<std::string> streamChunks;  // non-empty: a streamed answer
    bool streamFails = false;
};

inline std::atomic<int> gScriptedReleases{0};
inline std::atomic<int> gScriptedStreamReleases{0};

class ScriptedFunction {
public:
    ScriptedAnswer answer;
    // Runs on the calling thread after the request was recorded, before the
    // answer is written (e.g. to send an event from inside the call).
    std::function<void(const SeenRequest&)> during;

    std::vector<SeenRequest> Calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

    static void KORVO_CDECL Callback(HostResponseRecord* response, const HostRequestRecord* request) {
        auto* self = reinterpret_cast<ScriptedFunction*>(request->userData);
        SeenRequest seen;
        seen.method = request->method;
        seen.path = request->path ? request->path : "";
        for (uint32_t i = 0; request->headers != nullptr && i < request->headerCount; ++i) {
            seen.headers.emplace_back(request->headers[i].name, request->headers[i].value);
        }
        seen.hasContentType = request->contentType != nullptr;
        if (request->contentType != nullptr) seen.contentType = request->contentType;
        seen.hasBody = request->body != nullptr;
        if (request->body != nullptr) seen.body.assign(request->body, request->bodySize);
        seen.caller = request->caller;
        for (uint32_t i = 0; request->arguments != nullptr && i < request->argumentCount; ++i) {
            const HostArgumentEntry& entry = request->arguments[i];
            seen.arguments.emplace_back(entry.name ? entry.name : "", HostValueToJson(entry.value));
        }
        {
            std::lock_guard<std::mutex> lock(self->mutex_);
            self->calls_.push_back(seen);
        }
        if (self->during) self->during(seen);
        self->Write(*response);
    }

private:
    struct Stream {
        std::vector<std::string> chunks;
        size_t next = 0;
        bool fails = false;
    };

    static char* Copy(const std::string& text) {
        auto* copy = new char[text.size() + 1];
        std::memcpy(copy, text.c_str(), text.size() + 1);
        return copy;
    }

    static void KORVO_CDECL Release(HostResponseRecord* response) {
        delete[] response->errorMessage;
        delete[] response->text;
        for (uint32_t i = 0; response->headers != nullptr && i < response->headerCount; ++i) {
            delete[] response->headers[i].name;
            delete[] response->headers[i].value;
        }
        delete[] response->headers;
        std::memset(response, 0, sizeof(*response));
        ++gScriptedReleases;
    }

    static bool KORVO_CDECL Read(void* object, char* buffer, uint32_t* count, bool* more) {
        auto* stream = static_cast<Stream*>(object);
        if (stream->fails) return false;
        const std::string& chunk = stream->chunks[stream->next++];
        std::memcpy(buffer, chunk.data(), chunk.size());  // chunks are shorter than any buffer used
        *count = static_cast<uint32_t>(chunk.size());
        *more = stream->next < stream->chunks.size();
        return true;
    }

    static void KORVO_CDECL ReleaseStream(void* object) {
        delete static_cast<Stream*>(object);
        ++gScriptedStreamReleases;
    }

    void Write(HostResponseRecord& response) const {
        response.release = &Release;
        response.status = answer.status;
        response.contentCode = answer.contentCode;
        response.text = Copy("");
        if (answer.error) {
            response.error = 1;
            response.errorMessage = Copy(answer.message);
        } else {
            response.result = answer.value.Record();
        }
        if (!answer.headers.empty()) {
            response.headers = new HostHeaderEntry[answer.headers.size()];
            response.headerCount = static_cast<uint32_t>(answer.headers.size());
            for (size_t i = 0; i < answer.headers.size(); ++i) {
                response.headers[i].name = Copy(answer.headers[i].first);
                response.headers[i].value = Copy(answer.headers[i].second);
            }
        }
        if (!answer.streamChunks.empty() || answer.streamFails) {
            response.streamRead = &Read;
            response.streamRelease = &ReleaseStream;
            response.stream = new Stream{answer.streamChunks, 0, answer.streamFails};
        }
    }

    mutable std::mutex mutex_;
    std::vector<SeenRequest> calls_;
};

// Function records for scripted functions; add every function, then take
// the descriptor (records stay put from then on).
class ScriptedApi {
public:
    ScriptedFunction& Add(uint32_t method, const std::string& pathTemplate, const std::string& name) {
        functions_.emplace_back();
        texts_.push_back(pathTemplate);
        const char* pathText = texts_.back().c_str();
        texts_.push_back(name);
        const char* nameText = texts_.back().c_str();
        entries_.push_back(Entry{method, pathText, nameText, &functions_.back()});
        return functions_.back();
    }

    const HostApiDescriptor* Descriptor() {
        records_.assign(entries_.size(), HostFunctionRecord{});
        for (size_t i = 0; i < entries_.size(); ++i) {
            HostFunctionRecord& record = records_[i];
            std::memset(&record, 0, sizeof(record));
            record.description.next = i + 1 < entries_.size() ? &records_[i + 1] : nullptr;
            record.description.userData = reinterpret_cast<FunctionUserData*>(entries_[i].function);
            record.description.name = entries_[i].name;
            record.callback = &ScriptedFunction::Callback;
            record.pathTemplate = entries_[i].pathTemplate;
            record.method = entries_[i].method;
        }
        descriptor_ = HostApiDescriptor{};
        descriptor_.functions = records_.empty() ? nullptr : records_.data();
        descriptor_.functionCount = static_cast<uint32_t>(records_.size());
        return &descriptor_;
    }

private:
    struct Entry {
        uint32_t method;
        const char* pathTemplate;
        const char* name;
        ScriptedFunction* function;
    };
    std::deque<ScriptedFunction> functions_;
    std::deque<std::string> texts_;
    std::vector<Entry> entries_;
    std::vector<HostFunctionRecord> records_;
    HostApiDescriptor descriptor_{};
};

}  // namespace Korvo::Host::Testing
