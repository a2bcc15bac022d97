// sdk/remoting/host_request.h - requests from the plug-in to the host.
//
// \file
// The plug-in asks the host for data through the same packed records the
// host uses to call the plug-in, in the other direction: it fills a
// HostRequestRecord, hands it with a zeroed HostResponseRecord to the host's
// SendRequest entry and reads the answer - a value, an error text, or a
// stream of JSON text that it reads piece by piece, yielding to the host
// (WaitYield) while more is to come. Every outcome, failures included, comes
// back as a RemotingResult; nothing is thrown but std::bad_alloc.
//
// Ownership: what the host's response points to belongs to the host until
// the plug-in calls the response's own release function (its release field), which
// it does exactly once per request; a stream is released through its own
// release function (the response's streamRelease) once it has been read. The plug-in never
// frees the host's parts itself.
//
// Threads: a request is synchronous on the calling thread, which waits inside
// the host's SendRequest, inside the stream's read function and in
// WaitYield. Requests share nothing with each other.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "sdk/binding/converter.h"
#include "sdk/contract/records.h"
#include "sdk/diagnostics/format.h"
#include "sdk/host/plugin_core.h"
#include "sdk/remoting/routes.h"
#include "sdk/values/property.h"

namespace Korvo {

// The outcome of a request to the host: on success status 0 and the value;
// on failure isError, the status that explains it (0 unless the host
// answered with an error) and the message, in the place of the value.
template <typename T = void>
struct RemotingResult {
    uint32_t status = 0;
    std::variant<T, std::string> content;  // the value, or the error message
    bool isError = false;

    static RemotingResult Success(T value) {
        RemotingResult result;
        result.content.template emplace<0>(std::move(value));
        return result;
    }
    static RemotingResult Failure(uint32_t status, std::string message) {
        RemotingResult result;
        result.status = status;
        result.content.template emplace<1>(std::move(message));
        result.isError = true;
        return result;
    }

    bool IsError() const noexcept { return isError; }
    // The value; only on success.
    T& Value() { return std::get<0>(content); }
    const T& Value() const { return std::get<0>(content); }
    // The error message; empty on success.
    std::string_view Message() const noexcept {
        const std::string* message = std::get_if<1>(&content);
        return message != nullptr ? std::string_view(*message) : std::string_view();
    }
};

// Without a value: status, message and the error flag.
template <>
struct RemotingResult<void> {
    uint32_t status = 0;
    std::string message;
    bool isError = false;

    bool IsError() const noexcept { return isError; }
    std::string_view Message() const noexcept { return message; }
};

// Failure templates (%1 the method name, %2 the path, %3 the reason).
inline constexpr const char* kErrorResponseTemplate = "Error response for %1 %2: %3";
inline constexpr const char* kErrorReadingStreamTemplate = "Error reading streamed response for %1 %2: %3";
inline constexpr const char* kErrorConvertingTemplate = "Error converting response for %1 %2: %3";
inline constexpr const char* kStreamReadError = "Stream read error";

// Bytes asked of the stream per read call, and the most of the host's size
// hint that is reserved up front (a hint is only a hint).
inline constexpr uint32_t kStreamReadChunkSize = 4096;
inline constexpr uint32_t kMaxStreamReserve = 1u << 20;

// Reads the stream of response: chunks of kStreamReadChunkSize bytes until
// the host says no more follows, with one WaitYield after every short read
// that announces more; then parses the text as JSON. A failing read call, or
// a count larger than the buffer, gives the failure "Stream read error". The
// stream is released through its release function (when set) in every case.
BindingResult ReadResponseStream(PluginCore& plugin, HostResponseRecord& response);

// Sends method and path (no arguments, no body; the plug-in's handle as
// caller) and reads the answer as a property named "<result>". The
// response is released through its own release function before returning.
RemotingResult<BindingProperty> RequestPropertyFromHost(PluginCore& plugin, HttpMethod method,
                                                        std::string_view path);

// The same, converted into the native T with the plug-in's registry.
template <typename T>
RemotingResult<T> RequestFromHost(PluginCore& plugin, HttpMethod method, std::string_view path) {
    RemotingResult<BindingProperty> answer = RequestPropertyFromHost(plugin, method, path);
    if (answer.IsError()) return RemotingResult<T>::Failure(answer.status, std::string(answer.Message()));
    T value{};
    BindingResult converted;
    ToNative(converted, value, answer.Value(), kResultRootName, plugin.Registry());
    if (converted.Failed()) {
        return RemotingResult<T>::Failure(
            0, FormatToString(kErrorConvertingTemplate, MethodName(method), path, converted.ErrorMessage()));
    }
    return RemotingResult<T>::Success(std::move(value));
}

}  // namespace Korvo
