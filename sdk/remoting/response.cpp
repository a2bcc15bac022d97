// sdk/remoting/response.cpp - content types and the response record.
#include "sdk/remoting/response.h"

#include <cstring>

#include "sdk/binding/host_value_conversion.h"
#include "sdk/diagnostics/ascii.h"
#include "sdk/allocation/allocation.h"

namespace Korvo {

namespace {

// Writable storage because the record's fields are char*; nobody writes
// through them.
char gEmptyText[1] = "";
char gOutOfMemoryText[] = "Out of memory";

struct KnownContentType {
    std::string_view prefix;
    ContentTypeCode code;
};

// In the order they are tested: the MessagePack prefix also covers its
// "-ext" variant.
constexpr KnownContentType kKnownContentTypes[] = {
    {"application/x-msgpack", ContentTypeCode::MessagePack},
    {"application/json", ContentTypeCode::Json},
    {"application/vnd.api+json", ContentTypeCode::Json},
    {"application/x-yaml", ContentTypeCode::Yaml},
};

bool IsStaticText(const char* text) noexcept { return text == gEmptyText || text == gOutOfMemoryText; }

bool WriteHeaders(HostResponseRecord& response, const ResponseSettings& settings) noexcept {
    const size_t count = settings.headers.size();
    if (count == 0) return true;
    if (count > UINT32_MAX || count > SIZE_MAX / sizeof(HostHeaderEntry)) return false;
    auto* entries = static_cast<HostHeaderEntry*>(Memory::Allocate(count * sizeof(HostHeaderEntry)));
    if (entries == nullptr) return false;
    std::memset(entries, 0, count * sizeof(HostHeaderEntry));
    // Published before it is filled, so a failure halfway leaves every copy
    // made so far for ReleaseResponse.
    response.headers = entries;
    response.headerCount = static_cast<uint32_t>(count);
    for (size_t index = 0; index < count; ++index) {
        const auto& [name, value] = settings.headers[index];
        entries[index].name = Memory::DuplicateText(name);
        entries[index].value = Memory::DuplicateText(value);
        if (entries[index].name == nullptr || entries[index].value == nullptr) return false;
    }
    return true;
}

}  // namespace

ContentTypeCode ClassifyContentType(const char* contentType) noexcept {
    if (contentType == nullptr) return ContentTypeCode::Other;
    for (const KnownContentType& known : kKnownContentTypes) {
        if (Ascii::StartsWithIgnoringCase(contentType, known.prefix)) return known.code;
    }
    return ContentTypeCode::Other;
}

const char* EmptyResponseText() noexcept { return gEmptyText; }
const char* OutOfMemoryResponseText() noexcept { return gOutOfMemoryText; }

void CallResult::SetHostValue(HostValue value) noexcept {
    FreeHostValue(&hostValue_);
    hostValue_ = value;
    hostValueState_ = HostValueState::Written;
}

void CallResult::SetHostValueOutOfMemory() noexcept {
    FreeHostValue(&hostValue_);
    hostValueState_ = HostValueState::OutOfMemory;
}

HostValue CallResult::TakeHostValue() noexcept {
    const HostValue value = hostValue_;
    hostValue_ = HostValue{};
    hostValueState_ = HostValueState::None;
    return value;
}

void CompleteHostValue(CallResult& result, const HostValueWriter& writer, OwnedHostValueRecord& written,
                       bool complete) {
    if (complete) {
        result.SetHostValue(written.Release());
    } else if (writer.OutOfMemory()) {
        result.SetHostValueOutOfMemory();
    } else {
        result.Fail(writer.Message());
    }
}

bool WriteResponse(HostResponseRecord& response, CallResult& result, const BindingRegistry* registry) noexcept {
    const ResponseSettings& settings = result.settings;
    if (result.Failed()) {
        response.errorMessage = Memory::DuplicateText(result.ErrorMessage());
        response.error = 1;
        if (response.errorMessage == nullptr) return false;
    } else if (result.HostValueOutOfMemory()) {
        return false;
    } else if (result.HasHostValue()) {
        response.result = result.TakeHostValue();
    } else if (!ToHostValue(response.result, result.Value(), registry)) {
        return false;
    }
    response.contentFlag = settings.contentFlag ? 1 : 0;
    response.contentCode =
        KorvoContentCodeIsValid(settings.contentCode) ? settings.contentCode : uint32_t{KORVO_CONTENT_OTHER};
    response.status = settings.status;
    if (settings.text.empty()) {
        response.text = gEmptyText;
    } else {
        response.text = Memory::DuplicateText(settings.text);
        if (response.text == nullptr) return false;
    }
    return WriteHeaders(response, settings);
}

void WriteErrorResponse(HostResponseRecord& response, std::string_view message, uint32_t status) noexcept {
    ReleaseResponse(&response);
    response.release = &ReleaseResponse;
    response.error = 1;
    response.errorMessage = Memory::DuplicateText(message);
    if (response.errorMessage == nullptr) response.errorMessage = gOutOfMemoryText;
    response.status = status;
}

void KORVO_CDECL ReleaseResponse(HostResponseRecord* response) noexcept {
    if (response == nullptr) return;
    FreeHostValue(&response->result);
    if (response->error != 0 && !IsStaticText(response->errorMessage)) Memory::Free(response->errorMessage);
    if (response->text != nullptr && !IsStaticText(response->text)) Memory::Free(response->text);
    if (response->headers != nullptr) {
        for (uint32_t index = 0; index < response->headerCount; ++index) {
            Memory::Free(const_cast<char*>(response->headers[index].name));
            Memory::Free(const_cast<char*>(response->headers[index].value));
        }
        Memory::Free(response->headers);
    }
    std::memset(static_cast<void*>(response), 0, sizeof(HostResponseRecord));
}

}  // namespace Korvo
