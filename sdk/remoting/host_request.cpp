#include "sdk/remoting/host_request.h"

#include <algorithm>
#include <cstring>

#include "sdk/async/wait_yield.h"
#include "sdk/binding/host_value_conversion.h"
#include "sdk/formats/json_reader.h"
#include "sdk/allocation/allocation.h"
#include "sdk/contract/records.h"

namespace Korvo {

namespace {

uint32_t MethodCode(HttpMethod method) noexcept {
    const auto code = static_cast<uint32_t>(method);
    return KorvoMethodIsValid(code) ? code : uint32_t{KORVO_METHOD_ANY};
}

// Releases the stream of a response once, whatever happened while reading.
class StreamReleaser {
public:
    explicit StreamReleaser(const HostResponseRecord& response) noexcept
        : release_(response.streamRelease), stream_(response.stream) {}
    ~StreamReleaser() {
        if (release_ != nullptr) release_(stream_);
    }
    StreamReleaser(const StreamReleaser&) = delete;
    StreamReleaser& operator=(const StreamReleaser&) = delete;

private:
    HostStreamRelease release_;
    void* stream_;
};

// Hands the response back to the host once, through its own release
// function, on every way out of a request.
class ResponseReleaser {
public:
    explicit ResponseReleaser(HostResponseRecord& response) noexcept : response_(response) {}
    ~ResponseReleaser() {
        if (response_.release != nullptr) response_.release(&response_);
    }
    ResponseReleaser(const ResponseReleaser&) = delete;
    ResponseReleaser& operator=(const ResponseReleaser&) = delete;

private:
    HostResponseRecord& response_;
};

}  // namespace

BindingResult ReadResponseStream(PluginCore& plugin, HostResponseRecord& response) {
    StreamReleaser releaser(response);
    if (response.streamRead == nullptr) return BindingResult::Failure(kStreamReadError);

    std::string text;
    const uint32_t sizeHint = response.streamSizeHint;  // packed: read by value
    text.reserve(std::min(sizeHint, kMaxStreamReserve));
    char buffer[kStreamReadChunkSize];
    bool more = true;
    while (more) {
        uint32_t count = kStreamReadChunkSize;
        more = false;
        if (!response.streamRead(response.stream, buffer, &count, &more)) {
            return BindingResult::Failure(kStreamReadError);
        }
        // A count beyond the buffer would have the host claim bytes it
        // cannot have written.
        if (count > kStreamReadChunkSize) return BindingResult::Failure(kStreamReadError);
        text.append(buffer, count);
        if (count < kStreamReadChunkSize && more) WaitYield(plugin);
    }
    return ReadJson(text);
}

RemotingResult<BindingProperty> RequestPropertyFromHost(PluginCore& plugin, HttpMethod method,
                                                        std::string_view path) {
    using Result = RemotingResult<BindingProperty>;
    const std::string pathText(path);
    const char* methodName = MethodName(method);

    HostRequestRecord request;
    std::memset(&request, 0, sizeof(request));
    request.method = MethodCode(method);
    request.path = pathText.c_str();
    request.caller = plugin.PluginHandle();

    HostResponseRecord response;
    std::memset(&response, 0, sizeof(response));
    plugin.HostSendRequest(&response, &request);
    ResponseReleaser releaser(response);

    if (response.errorMessage != nullptr || response.error != 0) {
        // A stream beside the error is not read, but it is still given back.
        StreamReleaser unread(response);
        const char* message = response.errorMessage != nullptr ? response.errorMessage : "";
        return Result::Failure(response.status, FormatToString(kErrorResponseTemplate, methodName, path, message));
    }

    if (response.streamRead != nullptr) {
        BindingResult read = ReadResponseStream(plugin, response);
        if (read.Failed()) {
            return Result::Failure(0,
                                   FormatToString(kErrorReadingStreamTemplate, methodName, path, read.ErrorMessage()));
        }
        return Result::Success(std::move(read.Value()));
    }

    // The value stays the host's: it is read here and freed by the host's
    // release function.
    StreamReleaser unread(response);
    HostValueResult error{};
    BindingProperty value;
    if (!ToProperty(error, value, response.result, kResultRootName, plugin.Registry())) {
        std::string message = FormatToString(kErrorConvertingTemplate, methodName, path,
                                             error.message != nullptr ? error.message : "");
        FreeHostValue(&error.value);
        Memory::Free(error.message);
        return Result::Failure(0, std::move(message));
    }
    return Result::Success(std::move(value));
}

}  // namespace Korvo
