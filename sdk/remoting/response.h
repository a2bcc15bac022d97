// sdk/remoting/response.h - body content types, what a handler returns beside
// its value, and the packed response record the host reads.
//
// \file
// A handler returns a HandlerResult<T>: its value or an error message, and
// ResponseSettings (status, text, headers, content flag and code). The route
// handler writes the value straight into a HostValue held by the call's
// CallResult (or, failing, records the message there) and copies the
// settings; WriteResponse moves that into the HostResponseRecord of the call. The host frees the record's heap
// parts through the release function stored in its release field, which is
// ReleaseResponse.
//
// Ownership: every pointer WriteResponse stores refers to a block of the
// allocation layer that ReleaseResponse frees, except two static texts (the
// empty response text and the out-of-memory message), which it never frees.
//
// Threads: everything here works on one call's records; any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "sdk/contract/korvo_plugin.h"
#include "sdk/contract/records.h"
#include "sdk/records/host_value.h"
#include "sdk/values/property.h"

namespace Korvo {

class BindingRegistry;
class HostValueWriter;
class OwnedHostValueRecord;

// Body content types, numbered as the host numbers them.
enum class ContentTypeCode : uint32_t {
    Other = KORVO_CONTENT_OTHER,  // anything else, or none
    Json = KORVO_CONTENT_JSON,
    Yaml = KORVO_CONTENT_YAML,
    MessagePack = KORVO_CONTENT_MESSAGE_PACK,
};

// Classifies a content type text by a case-insensitive prefix test, in this
// order: "application/x-msgpack" (so also "application/x-msgpack-ext")
// MessagePack; "application/json" or "application/vnd.api+json" JSON
// ("application/json; charset=utf-8" included); "application/x-yaml" YAML;
// anything else, the empty text and null Other.
ContentTypeCode ClassifyContentType(const char* contentType) noexcept;

// A streamed response body (outgoing requests only; incoming calls never
// produce one).
class ResponseStream;

// What a handler returns beside its value.
struct ResponseSettings {
    bool contentFlag = false;   // passed to the host as one byte
    uint32_t contentCode = 0;   // 1, 2 and 3 reach the host; any other value as 0
    uint32_t status = 0;        // 0: the handler set none
    std::string text;           // passed beside the status
    std::vector<std::pair<std::string, std::string>> headers;  // in order
    std::shared_ptr<ResponseStream> stream;  // never set on the incoming path
};

// The outcome of one call: the result (a failure is {"error": message}) and
// the settings. Starts as a success with an Empty value and status 0.
//
// A successful value comes either as the property Value() or, from a route
// handler, already written as a HostValue (SetHostValue), which the result
// owns until WriteResponse takes it; a result with a host value ignores its
// property. Not copyable: the host value has one owner.
class CallResult : public BindingResult {
public:
    CallResult() noexcept = default;
    ~CallResult() { FreeHostValue(&hostValue_); }
    CallResult(const CallResult&) = delete;
    CallResult& operator=(const CallResult&) = delete;

    ResponseSettings settings;

    // Takes value (built by this layer's writers) as the call's value,
    // freeing any earlier one.
    void SetHostValue(HostValue value) noexcept;
    // The value could not be written for lack of memory: WriteResponse
    // then fails as it does when ToHostValue runs out.
    void SetHostValueOutOfMemory() noexcept;
    [[nodiscard]] bool HasHostValue() const noexcept { return hostValueState_ == HostValueState::Written; }
    [[nodiscard]] bool HostValueOutOfMemory() const noexcept {
        return hostValueState_ == HostValueState::OutOfMemory;
    }
    // Hands the host value over; the result keeps none.
    [[nodiscard]] HostValue TakeHostValue() noexcept;

private:
    enum class HostValueState : uint8_t { None, Written, OutOfMemory };
    HostValue hostValue_{};
    HostValueState hostValueState_ = HostValueState::None;
};

// The error form of a handler's result, convertible to every HandlerResult:
//   return HandlerError(404, "API not available");
struct HandlerError {
    HandlerError(uint32_t statusCode, std::string text) : status(statusCode), message(std::move(text)) {}

    uint32_t status;
    std::string message;
};

// The typed result of a native route handler: the value on success, or an
// error message; the settings either way.
template <typename T>
class HandlerResult {
public:
    HandlerResult(T value) : value_(std::move(value)) {}
    HandlerResult(HandlerError error) : error_(std::move(error.message)) { settings_.status = error.status; }

    [[nodiscard]] bool HasValue() const noexcept { return value_.has_value(); }
    // Only while HasValue().
    [[nodiscard]] T& Value() noexcept { return *value_; }
    [[nodiscard]] const T& Value() const noexcept { return *value_; }
    [[nodiscard]] const std::string& ErrorMessage() const noexcept { return error_; }
    [[nodiscard]] ResponseSettings& Settings() noexcept { return settings_; }
    [[nodiscard]] const ResponseSettings& Settings() const noexcept { return settings_; }

private:
    std::optional<T> value_;
    std::string error_;
    ResponseSettings settings_;
};

// A handler that succeeds with no value: default-constructed, or an error.
template <>
class HandlerResult<void> {
public:
    HandlerResult() = default;
    HandlerResult(HandlerError error) : failed_(true), error_(std::move(error.message)) {
        settings_.status = error.status;
    }

    // A void handler has no value to carry; success is !Failed().
    [[nodiscard]] bool HasValue() const noexcept { return false; }
    [[nodiscard]] bool Failed() const noexcept { return failed_; }
    [[nodiscard]] const std::string& ErrorMessage() const noexcept { return error_; }
    [[nodiscard]] ResponseSettings& Settings() noexcept { return settings_; }
    [[nodiscard]] const ResponseSettings& Settings() const noexcept { return settings_; }

private:
    bool failed_ = false;
    std::string error_;
    ResponseSettings settings_;
};

// Finishes a direct write of a handler's value into result: when complete,
// written's record becomes the result's host value; else the writer's
// failure is recorded - its message as the call's failure, or running out
// of memory. written is left Null.
void CompleteHostValue(CallResult& result, const HostValueWriter& writer, OwnedHostValueRecord& written,
                       bool complete);

// Fills a released, zeroed response from result: on failure the error
// message (a heap copy) and flag 1, on success the value - the result's
// host value, moved out of it, or else its property converted by
// ToHostValue (enumerations as their enumerator names when registry, which
// may be null, knows them); then content flag and code (1 to 3, else 0),
// status, text (a heap copy, or the static empty text) and headers (a heap
// array of heap copies). The stream fields stay zero and release is left
// alone. Returns false, leaving partly written heap parts for
// ReleaseResponse, when memory runs out (also when the result's host value
// could not be written for lack of it).
[[nodiscard]] bool WriteResponse(HostResponseRecord& response, CallResult& result,
                                 const BindingRegistry* registry) noexcept;

// Releases response and fills it with a failure carrying message and status,
// every other field zero but release, which it sets. When the message
// cannot be copied the static out-of-memory message stands in for it.
void WriteErrorResponse(HostResponseRecord& response, std::string_view message, uint32_t status) noexcept;

// Frees everything a filled response owns (value, error message, text,
// headers) and zeroes all 62 bytes; a zeroed record is left as it is, so
// releasing twice is harmless. The stream is the host's to release (through
// streamRelease). Null does nothing. Stored in release; the host calls it
// once per response.
void KORVO_CDECL ReleaseResponse(HostResponseRecord* response) noexcept;

// The static texts a response may point to and ReleaseResponse never frees.
const char* EmptyResponseText() noexcept;
const char* OutOfMemoryResponseText() noexcept;

}  // namespace Korvo
