// tests/remoting/transport_test_host.h - calling a transport the way the host
// does: find the function record through the descriptor, build a request
// record by hand, call the record's callback, copy what the response holds
// and release it through its own release field.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "host/common/host_value_json.h"
#include "sdk/contract/records.h"
#include "sdk/remoting/response.h"

// A field of a packed record as a plain value: gtest's comparisons bind
// references, which a packed field cannot give.
#define KORVO_PACKED(field) (static_cast<std::remove_cvref_t<decltype(field)>>(field))

namespace Korvo::Testing {

// One request as a test writes it.
struct HostCall {
    uint32_t method = KORVO_METHOD_GET;
    const char* path = "/";
    std::vector<std::pair<const char*, const char*>> headers{};
    const char* contentType = nullptr;
    std::optional<std::string> body{};  // passed with a NUL after it
    std::vector<std::pair<const char*, Host::OwnedHostValue>> arguments{};  // name may be null
    std::vector<HostArgumentEntry> rawArguments{};  // used instead when not empty
    uint32_t caller = 7;
    const char* functionName = nullptr;
};

// A response record copied into plain data.
struct HostReply {
    bool error = false;
    std::string errorMessage;
    uint8_t contentFlag = 0;
    uint32_t contentCode = 0;
    uint32_t status = 0;
    const char* textPointer = nullptr;
    std::string text;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string json;  // the result value
    bool releaseIsReleaseResponse = false;
    bool zeroAfterRelease = false;
};

inline std::vector<const HostFunctionRecord*> FunctionRecords(const HostApiDescriptor& descriptor) {
    std::vector<const HostFunctionRecord*> records;
    for (const HostFunctionRecord* record = descriptor.functions; record != nullptr;
         record = static_cast<const HostFunctionRecord*>(record->description.next)) {
        records.push_back(record);
    }
    return records;
}

inline const HostFunctionRecord* FindFunctionRecord(const HostApiDescriptor& descriptor, std::string_view name) {
    for (const HostFunctionRecord* record : FunctionRecords(descriptor)) {
        if (name == record->description.name) return record;
    }
    return nullptr;
}

// Reads and releases a filled response.
inline HostReply ReadAndRelease(HostResponseRecord& response) {
    HostReply reply;
    reply.error = response.error != 0;
    if (response.errorMessage != nullptr) reply.errorMessage = response.errorMessage;
    reply.contentFlag = response.contentFlag;
    reply.contentCode = response.contentCode;
    reply.status = response.status;
    reply.textPointer = response.text;
    if (response.text != nullptr) reply.text = response.text;
    for (uint32_t index = 0; index < response.headerCount; ++index) {
        reply.headers.emplace_back(response.headers[index].name, response.headers[index].value);
    }
    reply.json = Host::HostValueToJson(response.result);
    reply.releaseIsReleaseResponse = response.release == &ReleaseResponse;
    if (response.release != nullptr) response.release(&response);
    static const HostResponseRecord kZero{};
    reply.zeroAfterRelease = std::memcmp(&response, &kZero, sizeof(response)) == 0;
    return reply;
}

// Builds the request record for call on record and runs the record's
// callback with a zeroed response.
inline HostReply CallFunction(const HostFunctionRecord& record, const HostCall& call) {
    std::vector<HostHeaderEntry> headers;
    for (const auto& [name, value] : call.headers) headers.push_back(HostHeaderEntry{name, value});
    std::vector<HostArgumentEntry> arguments;
    for (const auto& [name, value] : call.arguments) arguments.push_back(HostArgumentEntry{name, value.Record()});
    if (!call.rawArguments.empty()) arguments = call.rawArguments;

    HostRequestRecord request;
    std::memset(&request, 0, sizeof(request));
    request.method = call.method;
    request.path = call.path;
    request.arguments = arguments.empty() ? nullptr : arguments.data();
    request.argumentCount = static_cast<uint32_t>(arguments.size());
    request.userData = record.description.userData;
    request.headers = headers.empty() ? nullptr : headers.data();
    request.headerCount = static_cast<uint32_t>(headers.size());
    request.contentType = call.contentType;
    request.body = call.body ? call.body->c_str() : nullptr;
    request.bodySize = call.body ? static_cast<uint32_t>(call.body->size()) : 0;
    request.caller = call.caller;
    request.functionName = call.functionName;

    HostResponseRecord response;
    std::memset(&response, 0, sizeof(response));
    record.callback(&response, &request);
    return ReadAndRelease(response);
}

}  // namespace Korvo::Testing
