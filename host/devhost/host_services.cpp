#include "host/devhost/host_services.h"

#include <algorithm>
#include <cstring>
#include <thread>
#include <utility>

#include "host/common/function_call.h"
#include "host/common/host_text.h"
#include "host/common/http_status.h"

namespace Korvo::Host::Dev {

std::atomic<uint64_t> HostServices::released_{0};

namespace {

OwnedHostValue RegionLocale(const HostServices::Settings& settings) {
    return OwnedHostValue::Object({
        {"locale", OwnedHostValue::String(settings.locale)},
        {"region", OwnedHostValue::String(settings.region)},
    });
}

OwnedHostValue CommandLine(const HostServices::Settings& settings) {
    std::vector<OwnedHostValue> items;
    items.reserve(settings.commandLine.size());
    for (const std::string& argument : settings.commandLine) items.push_back(OwnedHostValue::String(argument));
    return OwnedHostValue::Array(std::move(items));
}

std::map<std::string, OwnedHostValue, std::less<>> Answers(const HostServices::Settings& settings) {
    std::map<std::string, OwnedHostValue, std::less<>> answers;
    for (const auto& [path, value] : settings.answers) answers[path] = value;
    return answers;
}

// The stock replies of the client; a JSON text, as the host core streams it.
constexpr const char* kCannedReplies =
    R"([{"text":"On my way!","tone":"Friendly","tags":["status"]},)"
    R"({"text":"Give me five minutes.","tone":"Neutral","tags":["status","wait"]},)"
    R"({"text":"Good game, well played.","tone":"Friendly","tags":["game"]},)"
    R"({"text":"I will be unavailable this evening.","tone":"Formal","tags":["status"]}])";

// A streamed answer: the text and how much of it was read.
struct TextStream {
    std::string text;
    size_t offset = 0;
};

}  // namespace

std::string LogLevelName(uint32_t level) {
    static const char* const kNames[] = {"Okay", "Warn", "Error", "Always"};
    if (level < sizeof(kNames) / sizeof(kNames[0])) return kNames[level];
    return "Level" + std::to_string(level);
}

HostServices::HostServices(Settings settings, EventHub& hub, LogSink log)
    : hub_(hub), log_(std::move(log)), regionLocale_(RegionLocale(settings)),
      commandLine_(CommandLine(settings)),
      cannedReplies_(kCannedReplies), answers_(Answers(settings)) {}

std::vector<HostServices::Subscription> HostServices::Subscriptions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return subscriptions_;
}

void HostServices::SendRequest(HostResponseRecord* response, const HostRequestRecord* request) {
    try {
        Answer(response, request);
    } catch (...) {
        // Out of memory while copying an error text: the plug-in sees an
        // empty error answer rather than an exception.
        if (response != nullptr) {
            delete[] response->errorMessage;
            std::memset(response, 0, sizeof(*response));
            response->error = 1;
            response->release = &ReleaseResponse;
        }
    }
}

void HostServices::Answer(HostResponseRecord* response, const HostRequestRecord* request) {
    if (response == nullptr) return;
    std::memset(response, 0, sizeof(*response));
    response->release = &ReleaseResponse;
    if (request == nullptr) {
        response->error = 1;
        response->errorMessage = CopyText("No request record");
        response->status = HttpStatus::kBadRequest;
        return;
    }
    requests_.fetch_add(1, std::memory_order_relaxed);

    std::string path = TextOrEmpty(request->path);
    size_t query = path.find('?');
    if (query != std::string::npos) path.resize(query);

    const OwnedHostValue* answer = nullptr;
    if (path == kRegionLocalePath) answer = &regionLocale_;
    if (path == kCommandLineArgsPath) answer = &commandLine_;
    const bool streamed = path == kCannedRepliesPath;
    if (answer == nullptr && !streamed) {
        auto found = answers_.find(path);
        if (found != answers_.end()) answer = &found->second;
    }
    if (answer == nullptr && !streamed) {
        response->error = 1;
        response->errorMessage = CopyText("No such host endpoint: " + path);
        response->status = HttpStatus::kNotFound;
    } else if (request->method != KORVO_METHOD_GET) {
        response->error = 1;
        response->errorMessage = CopyText(std::string("Method not allowed: ") + MethodText(request->method) + " " + path);
        response->status = HttpStatus::kMethodNotAllowed;
    } else if (streamed) {
        response->contentCode = KORVO_CONTENT_JSON;
        response->stream = new TextStream{cannedReplies_, 0};
        response->streamRead = &ReadStream;
        response->streamRelease = &ReleaseStream;
        response->streamSizeHint = static_cast<uint32_t>(cannedReplies_.size());
        response->status = HttpStatus::kOk;
    } else {
        // The record points into an answer that lives as long as this
        // object and is never changed.
        response->result = answer->Record();
        response->status = HttpStatus::kOk;
    }
}

void KORVO_CDECL HostServices::ReleaseResponse(HostResponseRecord* response) {
    if (response == nullptr) return;
    delete[] response->errorMessage;
    std::memset(response, 0, sizeof(*response));
    released_.fetch_add(1, std::memory_order_relaxed);
}

KorvoBool KORVO_CDECL HostServices::ReadStream(void* stream, char* buffer, uint32_t* count, KorvoBool* more) {
    if (stream == nullptr || buffer == nullptr || count == nullptr || more == nullptr) return false;
    TextStream& source = *static_cast<TextStream*>(stream);
    const size_t left = source.text.size() - source.offset;
    const size_t take = std::min<size_t>({left, *count, kStreamedAnswerReadBytes});
    std::memcpy(buffer, source.text.data() + source.offset, take);
    source.offset += take;
    *count = static_cast<uint32_t>(take);
    *more = source.offset < source.text.size();
    return true;
}

void KORVO_CDECL HostServices::ReleaseStream(void* stream) { delete static_cast<TextStream*>(stream); }

size_t HostServices::DeliverEvent(const std::string& name, const OwnedHostValue& payload) {
    std::vector<Subscription> targets;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const Subscription& subscription : subscriptions_) {
            if (subscription.name == name && subscription.callback != nullptr) targets.push_back(subscription);
        }
    }
    for (const Subscription& target : targets) {
        HostEventRecord event{};
        event.name = name.c_str();
        event.payload = payload.Record();
        event.userData = target.userData;
        target.callback(&event);
    }
    return targets.size();
}

void HostServices::SendEvent(const HostEventRecord* event) {
    if (event == nullptr) return;
    try {
        hub_.Publish(event->name ? event->name : "", [event] { return HostValueToJson(event->payload); });
    } catch (...) {
        // An event that cannot be rendered is not delivered.
    }
}

void HostServices::Subscribe(const char* name, uint32_t pluginHandle, HostEventCallback callback, void* userData,
                             uint32_t flag) {
    std::lock_guard<std::mutex> lock(mutex_);
    subscriptions_.push_back(Subscription{TextOrEmpty(name), pluginHandle, flag, callback, userData});
}

void HostServices::Unsubscribe(const char* name, uint32_t pluginHandle) {
    std::string wanted = TextOrEmpty(name);
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = subscriptions_.begin(); it != subscriptions_.end(); ++it) {
        if (it->name == wanted && it->pluginHandle == pluginHandle) {
            subscriptions_.erase(it);
            return;
        }
    }
}

void HostServices::Yield() { std::this_thread::yield(); }

uint64_t HostServices::PollWake() { return wakeCounter_.fetch_add(1, std::memory_order_relaxed) + 1; }

void HostServices::Log(uint32_t level, const char* message) {
    if (log_) log_(level, message ? std::string_view(message) : std::string_view());
}

}  // namespace Korvo::Host::Dev
