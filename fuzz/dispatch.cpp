// Requests from the fuzzer through a function record's callback, as the host
// makes them: any method, path, query, headers, content type, body and host
// argument text. Whatever arrives, the callback returns a response that is
// either a value or an error with a message, and the response's own release
// function frees it completely (the sanitizers see any leak or bad free).
//
// Input: one selector byte, then NUL-separated fields: path, content type,
// body, host argument text, then header name and value pairs. Selector bits:
// 0-1 the route, 2-4 the method, 5 no content type, 6 no body, 7 the host
// argument goes unnamed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/binding/record_builder.h"
#include "sdk/records/host_value.h"
#include "sdk/remoting/transport.h"

namespace {

using namespace Korvo;

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

struct Item {
    std::string name;
    int32_t count = 0;
    std::vector<std::string> tags;
    BindingProperty data;
};

HttpBaseTransport& Transport() {
    static HttpBaseTransport* transport = [] {
        auto* built = new HttpBaseTransport();
        RegisterRecord<Item>(*built, "Item")
            .Field("name", &Item::name)
            .Field("count", &Item::count)
            .Field("tags", &Item::tags)
            .Field("data", &Item::data);
        built
            ->RegisterRoute(HttpMethod::Post, "/bind/{feature}",
                            [](std::string feature, bool verbose, BindingProperty filter,
                               std::optional<std::vector<int32_t>> ids, std::optional<std::string> token,
                               std::optional<Item> item) -> HandlerResult<BindingProperty> {
                                BindingProperty seen;
                                seen.Member("feature") = std::string_view(feature);
                                seen.Member("verbose") = verbose;
                                seen.Member("filter") = filter;
                                if (ids) seen.Member("ids") = static_cast<uint64_t>(ids->size());
                                if (token) seen.Member("token") = std::string_view(*token);
                                if (item) seen.Member("item") = item->data;
                                return seen;
                            })
            .PathArgument("feature")
            .AnyArgument("verbose")
            .AnyArgument("filter")
            .AnyArgument("ids")
            .HeaderArgument("token")
            .BodyArgument("item");
        built
            ->RegisterRoute(HttpMethod::Get, "/files/{+rest}",
                            [](const HttpBaseTransport::Request& request, std::string rest) -> HandlerResult<Item> {
                                if (rest.empty()) return HandlerError(404, "empty");
                                Item item{rest, static_cast<int32_t>(request.headers.size()), {}, {}};
                                return item;
                            })
            .PathArgument("rest");
        built->RegisterRoute(HttpMethod::Get, "/plain", [](int32_t value) -> HandlerResult<int32_t> { return value; })
            .QueryArgument("value");
        built->RegisterRoute(HttpMethod::Call, "/call/run", [](std::optional<Item> item) -> HandlerResult<void> {
            if (item && item->count < 0) return HandlerError(400, "negative");
            return {};
        });
        return built;
    }();
    return *transport;
}

const HostApiDescriptor& Descriptor() {
    static const HostApiDescriptor descriptor = Transport().BuildApiDescriptor();
    return descriptor;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t selector = data[0];
    const HostApiDescriptor& descriptor = Descriptor();
    const HostFunctionRecord* record = descriptor.functions;
    for (unsigned route = selector & 3u; route > 0 && record->description.next != nullptr; --route) {
        record = static_cast<const HostFunctionRecord*>(record->description.next);
    }

    // Fields as NUL-terminated copies, the way the host hands texts over.
    std::vector<std::string> fields;
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    for (;;) {
        const size_t end = rest.find('\0');
        fields.emplace_back(rest.substr(0, end));
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    fields.resize(std::max<size_t>(fields.size(), 4));

    std::vector<HostHeaderEntry> headers;
    for (size_t index = 4; index + 1 < fields.size(); index += 2) {
        headers.push_back(HostHeaderEntry{fields[index].c_str(), fields[index + 1].c_str()});
    }
    HostArgumentEntry argument{};
    argument.name = (selector & 0x80u) != 0 ? nullptr : "filter";
    argument.value.type = static_cast<uint32_t>(HostValueType::BorrowedString);
    argument.value.data.string.text = fields[3].data();
    argument.value.data.string.length = static_cast<uint32_t>(fields[3].size());

    HostRequestRecord request;
    std::memset(&request, 0, sizeof(request));
    request.method = (selector >> 2) & 7u;
    if (request.method == 0) request.method = 8;
    request.path = fields[0].c_str();
    request.userData = record->description.userData;
    request.arguments = fields[3].empty() ? nullptr : &argument;
    request.argumentCount = fields[3].empty() ? 0 : 1;
    request.headers = headers.empty() ? nullptr : headers.data();
    request.headerCount = static_cast<uint32_t>(headers.size());
    request.contentType = (selector & 0x20u) != 0 ? nullptr : fields[1].c_str();
    request.body = (selector & 0x40u) != 0 ? nullptr : fields[2].c_str();
    request.bodySize = static_cast<uint32_t>(fields[2].size());
    request.caller = selector;

    HostResponseRecord response;
    std::memset(&response, 0, sizeof(response));
    record->callback(&response, &request);

    Check(response.release == &ReleaseResponse, "response carries its release function");
    Check(response.error <= 1, "error flag is 0 or 1");
    Check(response.error == 0 || response.errorMessage != nullptr, "a failure has a message");
    Check(response.error == 0 || response.result.type == 0, "a failure has no value");
    Check(response.contentCode <= 3, "content code is 0 to 3");
    response.release(&response);
    static const HostResponseRecord kZero{};
    Check(std::memcmp(&response, &kZero, sizeof(response)) == 0, "a released response is zero");
    return 0;
}
