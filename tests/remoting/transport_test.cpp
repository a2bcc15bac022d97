// Registration, the API descriptor's function records and dispatch, driven
// the way the host drives them: through the callback of a function record
// taken from the descriptor.
#include "sdk/remoting/transport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sdk/binding/record_builder.h"
#include "sdk/remoting/transport_messages.h"
#include "tests/remoting/transport_test_host.h"

namespace Korvo {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;
using Testing::CallFunction;
using Testing::FindFunctionRecord;
using Testing::FunctionRecords;
using Testing::HostCall;
using Testing::HostReply;

struct Item {
    std::string name;
    int32_t count = 0;
};

enum class Colour : int32_t { Red = 1, Green = 2 };

constexpr uint32_t kGet = KORVO_METHOD_GET;
constexpr uint32_t kPost = KORVO_METHOD_POST;
constexpr uint32_t kCall = KORVO_METHOD_CALL;

class TransportTest : public ::testing::Test {
protected:
    TransportTest() {
        RegisterRecord<Item>(transport_, "Item").Field("name", &Item::name).Field("count", &Item::count);
        RegisterEnum<Colour>(transport_, "Colour").Enumerator("Red", Colour::Red).Enumerator("Green", Colour::Green);

        transport_
            .RegisterRoute(HttpMethod::Get, "/items/{id}",
                           [this](std::string id) -> HandlerResult<Item> {
                               ++calls_;
                               if (id == "missing") return HandlerError(404, "Cannot find item " + id);
                               return Item{id, 3};
                           })
            .PathArgument("id");
        transport_
            .RegisterRoute(HttpMethod::Post, "/items/{id}",
                           [this](std::string id, Item item) -> HandlerResult<void> {
                               ++calls_;
                               if (item.name.empty()) return HandlerError(400, "Valid fields required: name");
                               lastPosted_ = id + ":" + item.name + ":" + std::to_string(item.count);
                               return {};
                           })
            .PathArgument("id")
            .BodyArgument("item");
        transport_.RegisterRoute(HttpMethod::Get, "/context/{id}",
                                 [this](const HttpBaseTransport::Request& request, std::string id,
                                        std::optional<std::string> x) -> HandlerResult<std::string> {
                                     ++calls_;
                                     lastContext_ = request;
                                     return id + "|" + x.value_or("-");
                                 })
            .PathArgument("id")
            .QueryArgument("x");
        transport_.RegisterRoute(HttpMethod::Get, "/colour",
                                 []() -> HandlerResult<Colour> { return Colour::Green; });
        transport_.RegisterRoute(HttpMethod::Get, "/settings", []() -> HandlerResult<int> {
            HandlerResult<int> result(5);
            result.Settings().contentFlag = true;
            result.Settings().contentCode = 7;
            result.Settings().status = 201;
            result.Settings().text = "Created";
            result.Settings().headers = {{"X-One", "1"}, {"X-Two", "2"}};
            return result;
        });
        transport_.RegisterRoute(HttpMethod::Get, "/yaml", []() -> HandlerResult<int> {
            HandlerResult<int> result(1);
            result.Settings().contentCode = KORVO_CONTENT_YAML;
            return result;
        });
        transport_.RegisterRoute(HttpMethod::Get, "/throws/runtime", []() -> HandlerResult<int> {
            throw std::runtime_error("disk on fire");
        });
        transport_.RegisterRoute(HttpMethod::Get, "/throws/memory", []() -> HandlerResult<int> {
            throw std::bad_alloc();
        });
        transport_.RegisterRoute(HttpMethod::Get, "/throws/other", []() -> HandlerResult<int> { throw 42; });
        transport_.RegisterRoute(HttpMethod::Call, "/calls/run", []() -> HandlerResult<int> { return 1; });
        transport_.RegisterRoute(HttpMethod::Get, "/files/{+rest}",
                                 [](std::string rest) -> HandlerResult<size_t> { return rest.size(); })
            .PathArgument("rest");
        descriptor_ = transport_.BuildApiDescriptor();
    }

    const HostFunctionRecord& Record(std::string_view name) {
        const HostFunctionRecord* record = FindFunctionRecord(descriptor_, name);
        EXPECT_NE(record, nullptr) << name;
        static const HostFunctionRecord kNone{};
        return record != nullptr ? *record : kNone;
    }

    HostReply Call(std::string_view name, const HostCall& call) { return CallFunction(Record(name), call); }

    HttpBaseTransport transport_;
    HostApiDescriptor descriptor_{};
    std::atomic<int> calls_{0};
    std::string lastPosted_;
    HttpBaseTransport::Request lastContext_;
};

// ---------------------------------------------------------------- records

TEST_F(TransportTest, DescriptorHasOneFunctionRecordPerRoute) {
    std::vector<std::string> names;
    for (const HostFunctionRecord* record : FunctionRecords(descriptor_)) names.push_back(record->description.name);
    EXPECT_THAT(names, ElementsAre("GetItemsById", "PostItemsById", "GetContextById", "GetColour", "GetSettings",
                                   "GetYaml", "GetThrowsRuntime", "GetThrowsMemory", "GetThrowsOther", "CallsRun",
                                   "GetFilesByRest"));
    EXPECT_EQ(KORVO_PACKED(descriptor_.functionCount), names.size());
    EXPECT_EQ(descriptor_.functions + descriptor_.functionCount - 1,
              FunctionRecords(descriptor_).back());
    // Builtin types and events are described, but no builtin function is
    // callable.
    EXPECT_GT(KORVO_PACKED(descriptor_.typeCount), 2u);
    EXPECT_GT(KORVO_PACKED(descriptor_.eventCount), 0u);
}

TEST_F(TransportTest, FunctionRecordCarriesRouteAndDescription) {
    const HostFunctionRecord& record = Record("PostItemsById");
    EXPECT_STREQ(record.pathTemplate, "/items/{id}");
    EXPECT_EQ(KORVO_PACKED(record.method), kPost);
    EXPECT_EQ(KORVO_PACKED(record.flag), 0);
    EXPECT_STREQ(record.functionName, "");
    EXPECT_EQ(KORVO_PACKED(record.nameLists), nullptr);
    EXPECT_EQ(KORVO_PACKED(record.nameListCount), 0u);
    EXPECT_EQ(KORVO_PACKED(record.callback), &HttpBaseTransport::FunctionCallback);
    ASSERT_NE(KORVO_PACKED(record.description.userData), nullptr);
    EXPECT_EQ(KORVO_PACKED(record.description.userData->transport), &transport_);
    EXPECT_EQ(KORVO_PACKED(record.description.userData->route), transport_.FindRoute("PostItemsById"));

    ASSERT_NE(KORVO_PACKED(record.locations), nullptr);
    EXPECT_EQ(KORVO_PACKED(record.locations->location), 2u);
    ASSERT_NE(KORVO_PACKED(record.locations->next), nullptr);
    EXPECT_EQ(KORVO_PACKED(record.locations->next->location), 5u);
    EXPECT_EQ(KORVO_PACKED(record.locations->next->next), nullptr);

    EXPECT_EQ(KORVO_PACKED(record.description.argumentCount), 2u);
    ASSERT_NE(KORVO_PACKED(record.description.arguments), nullptr);
    EXPECT_STREQ(record.description.arguments->name, "id");
    EXPECT_EQ(KORVO_PACKED(record.description.arguments->kind), 12u);
    EXPECT_STREQ(record.description.arguments->next->name, "item");
    EXPECT_EQ(KORVO_PACKED(record.description.arguments->next->kind), 17u);
    EXPECT_STREQ(record.description.arguments->next->typeName, "Item");
    EXPECT_EQ(KORVO_PACKED(record.description.resultKind), 0u);
}

TEST_F(TransportTest, SecondRegistrationOfTheSameFunctionChangesNothing) {
    HttpBaseTransport transport;
    int firstCalls = 0, secondCalls = 0;
    transport
        .RegisterRoute(HttpMethod::Get, "/a/{id}",
                       [&](std::string) -> HandlerResult<int> { return ++firstCalls; })
        .PathArgument("id");
    RouteBuilder second = transport.RegisterRoute(HttpMethod::Get, "/a/{id}/",
                                                  [&](std::string) -> HandlerResult<int> { return ++secondCalls; });
    second.BodyArgument("other").AddTag("late");
    EXPECT_TRUE(second.AlreadyExisted());

    const RouteRecord* route = transport.FindRoute("GetAById");
    ASSERT_NE(route, nullptr);
    EXPECT_EQ(route->pathTemplate, "/a/{id}");
    EXPECT_THAT(route->argumentLocations, ElementsAre(ArgumentLocation::Path));
    EXPECT_EQ(route->function->arguments[0].name, "id");
    EXPECT_TRUE(route->function->tags.empty());

    const HostApiDescriptor descriptor = transport.BuildApiDescriptor();
    EXPECT_EQ(KORVO_PACKED(descriptor.functionCount), 1u);
    EXPECT_EQ(CallFunction(*descriptor.functions, {.path = "/a/x"}).json, "1");
    EXPECT_EQ(secondCalls, 0);
}

TEST_F(TransportTest, RecordsReadAtTheirThirtyTwoBitOffsets) {
#if UINTPTR_MAX == 0xFFFFFFFFu
    auto word = [](const void* base, size_t offset) {
        uint32_t value;
        std::memcpy(&value, static_cast<const char*>(base) + offset, 4);
        return value;
    };
    auto pointer = [&](const void* base, size_t offset) { return reinterpret_cast<const void*>(word(base, offset)); };
    EXPECT_EQ(sizeof(HostApiDescriptor), 24u);
    const void* functions = pointer(&descriptor_, 0);
    ASSERT_EQ(word(&descriptor_, 4), KORVO_PACKED(descriptor_.functionCount));
    // The first record is GetItemsById, the second PostItemsById, 90 bytes on.
    const char* post = static_cast<const char*>(functions) + 90;
    EXPECT_EQ(pointer(functions, 0), post);
    EXPECT_STREQ(static_cast<const char*>(pointer(post, 12)), "PostItemsById");
    EXPECT_EQ(word(post, 24), 2u);  // argument count
    EXPECT_EQ(pointer(post, 8), static_cast<const void*>(Record("PostItemsById").description.userData));
    EXPECT_EQ(pointer(post, 61), reinterpret_cast<const void*>(&HttpBaseTransport::FunctionCallback));
    EXPECT_STREQ(static_cast<const char*>(pointer(post, 69)), "/items/{id}");
    EXPECT_EQ(word(post, 73), kPost);
    EXPECT_EQ(static_cast<uint8_t>(post[77]), 0);
    EXPECT_EQ(word(post, 82), 0u);
    const void* location = pointer(post, 65);
    EXPECT_EQ(word(location, 4), 2u);
    EXPECT_EQ(word(pointer(location, 0), 4), 5u);
    const void* argument = pointer(post, 20);
    EXPECT_STREQ(static_cast<const char*>(pointer(argument, 4)), "id");
    EXPECT_EQ(word(argument, 12), 12u);

    // A request built byte by byte, a response read byte by byte.
    unsigned char request[48] = {};
    const char* path = "/items/missing";
    auto put = [&](size_t offset, uint32_t value) { std::memcpy(request + offset, &value, 4); };
    put(0, kGet);
    put(4, reinterpret_cast<uint32_t>(path));
    put(16, word(functions, 8));
    put(40, 9);
    unsigned char response[62] = {};
    auto callback = reinterpret_cast<HostFunctionCallback>(word(functions, 61));
    callback(reinterpret_cast<HostResponseRecord*>(response), reinterpret_cast<HostRequestRecord*>(request));
    EXPECT_EQ(response[16], 1);
    EXPECT_STREQ(static_cast<const char*>(pointer(response, 12)), "Cannot find item missing");
    EXPECT_EQ(word(response, 22), 404u);
    auto release = reinterpret_cast<HostResponseRelease>(word(response, 58));
    ASSERT_EQ(release, &ReleaseResponse);
    release(reinterpret_cast<HostResponseRecord*>(response));
    EXPECT_EQ(word(response, 58), 0u);
#else
    GTEST_SKIP() << "byte offsets are those of the 32-bit build";
#endif
}

// --------------------------------------------------------------- dispatch

TEST_F(TransportTest, SuccessfulCallCarriesTheValueAndNoError) {
    const HostReply reply = Call("GetItemsById", {.path = "/items/a%20b"});
    EXPECT_FALSE(reply.error);
    EXPECT_EQ(reply.json, R"({"count":3,"name":"a b"})");
    EXPECT_EQ(reply.status, 0u);
    EXPECT_EQ(reply.textPointer, EmptyResponseText());
    EXPECT_TRUE(reply.headers.empty());
    EXPECT_TRUE(reply.releaseIsReleaseResponse);
    EXPECT_TRUE(reply.zeroAfterRelease);
}

TEST_F(TransportTest, HandlerErrorCarriesItsStatusAndMessage) {
    const HostReply reply = Call("GetItemsById", {.path = "/items/missing"});
    EXPECT_TRUE(reply.error);
    EXPECT_EQ(reply.errorMessage, "Cannot find item missing");
    EXPECT_EQ(reply.status, 404u);
    EXPECT_EQ(reply.json, "null");
    EXPECT_EQ(reply.textPointer, EmptyResponseText());
    EXPECT_TRUE(reply.zeroAfterRelease);
}

TEST_F(TransportTest, BodyReachesTheHandlerInEveryFormat) {
    struct Case {
        const char* contentType;
        std::string body;
    };
    const Case cases[] = {
        {"application/json", R"({"name":"muted","count":2})"},
        {"Application/JSON; charset=utf-8", R"({"name":"muted","count":2})"},
        {"application/x-yaml", "name: muted\ncount: 2\n"},
        // {"name": "muted", "count": 2}
        {"application/x-msgpack", std::string("\x82\xA4name\xA5muted\xA5" "count\x02", 19)},
    };
    for (const Case& test : cases) {
        lastPosted_.clear();
        const HostReply reply =
            Call("PostItemsById", {.method = kPost, .path = "/items/voice", .contentType = test.contentType,
                                   .body = test.body});
        EXPECT_FALSE(reply.error) << test.contentType << ": " << reply.errorMessage;
        EXPECT_EQ(reply.json, "null");
        EXPECT_EQ(lastPosted_, "voice:muted:2") << test.contentType;
    }
}

TEST_F(TransportTest, RequestNotFittingTheRouteIsAnInvalidFunction) {
    const HostCall cases[] = {
        {.method = kPost, .path = "/items/x"},             // GET route called with POST
        {.method = kGet, .path = "/items/x/y"},            // one segment only
        {.method = kGet, .path = "/Items/x"},              // case-sensitive
        {.method = 99, .path = "/items/x"},                // unknown method reads as none
        {.method = kGet, .path = nullptr},                 // no path at all
    };
    for (const HostCall& call : cases) {
        const HostReply reply = Call("GetItemsById", call);
        EXPECT_TRUE(reply.error);
        EXPECT_EQ(reply.errorMessage, "Invalid function");
        EXPECT_EQ(reply.status, 404u);
        EXPECT_EQ(reply.textPointer, nullptr);
        EXPECT_TRUE(reply.releaseIsReleaseResponse);
    }
    EXPECT_EQ(calls_, 0);
}

TEST_F(TransportTest, CallRequestMustCarryTheRoutesFunctionName) {
    EXPECT_EQ(Call("CallsRun", {.method = kCall, .path = "/calls/run"}).json, "1");
    const HostReply reply = Call("CallsRun", {.method = kCall, .path = "/calls/run", .functionName = "CallsRun"});
    EXPECT_EQ(reply.errorMessage, "Invalid function");
    EXPECT_EQ(reply.status, 404u);
    EXPECT_EQ(Call("CallsRun", {.method = kGet, .path = "/calls/run"}).errorMessage, "Invalid function");
}

TEST_F(TransportTest, ContextHandlerSeesPathWithQueryAndEveryHeader) {
    const HostReply reply = Call("GetContextById", {.path = "/context/abc?x=1",
                                                    .headers = {{"Accept", "a"}, {"dup", "1"}, {"dup", "2"}},
                                                    .caller = 31});
    // The segment capture runs to the end of the path, query included.
    EXPECT_EQ(reply.json, "\"abc?x=1|1\"");
    EXPECT_EQ(lastContext_.path, "/context/abc?x=1");
    EXPECT_EQ(lastContext_.caller, 31u);
    EXPECT_EQ(lastContext_.method, HttpMethod::Get);
    EXPECT_EQ(lastContext_.registry, &transport_);
    EXPECT_GT(lastContext_.receivedAt, 0u);
    EXPECT_TRUE(lastContext_.functionName.empty());
    EXPECT_THAT(lastContext_.headers, ElementsAre(Pair("Accept", "a"), Pair("dup", "2")));
    EXPECT_EQ(lastContext_.reserved4, 1u);
    EXPECT_EQ(transport_.FindRoute("GetContextById")->handler->ContextType().hash,
              StaticType::HashCode<HttpBaseTransport::Request>().hash);
    EXPECT_EQ(transport_.FindRoute("GetItemsById")->handler->ContextType().hash, StaticType::None().hash);
}

TEST_F(TransportTest, EnumResultIsWrittenAsItsEnumeratorName) {
    EXPECT_EQ(Call("GetColour", {.path = "/colour"}).json, "\"Green\"");
}

TEST_F(TransportTest, ResponseSettingsReachTheRecord) {
    const HostReply reply = Call("GetSettings", {.path = "/settings"});
    EXPECT_FALSE(reply.error);
    EXPECT_EQ(reply.json, "5");
    EXPECT_EQ(reply.contentFlag, 1);
    EXPECT_EQ(reply.contentCode, 0u);  // 7 is not a content code
    EXPECT_EQ(reply.status, 201u);
    EXPECT_EQ(reply.text, "Created");
    EXPECT_NE(reply.textPointer, EmptyResponseText());
    EXPECT_THAT(reply.headers, ElementsAre(Pair("X-One", "1"), Pair("X-Two", "2")));
    EXPECT_TRUE(reply.zeroAfterRelease);
    EXPECT_EQ(Call("GetYaml", {.path = "/yaml"}).contentCode, 2u);
}

TEST_F(TransportTest, ExceptionsBecomeErrorResponses) {
    struct Case {
        const char* function;
        const char* path;
        const char* message;
    };
    const Case cases[] = {
        {"GetThrowsRuntime", "/throws/runtime", "Exception while calling 'GetThrowsRuntime': disk on fire"},
        {"GetThrowsMemory", "/throws/memory", "Out of memory while calling 'GetThrowsMemory'."},
        {"GetThrowsOther", "/throws/other", "Unknown exception while calling 'GetThrowsOther'."},
    };
    for (const Case& test : cases) {
        const HostReply reply = Call(test.function, {.path = test.path});
        EXPECT_TRUE(reply.error);
        EXPECT_EQ(reply.errorMessage, test.message);
        EXPECT_EQ(reply.status, 500u);
        EXPECT_TRUE(reply.zeroAfterRelease);
    }
}

// ------------------------------------------------------- hostile records

TEST_F(TransportTest, MissingRequestOrUserDataIsAnInvalidFunction) {
    HostResponseRecord response{};
    HttpBaseTransport::FunctionCallback(&response, nullptr);
    HostReply reply = Testing::ReadAndRelease(response);
    EXPECT_EQ(reply.errorMessage, "Invalid function");
    EXPECT_EQ(reply.status, 404u);

    HostRequestRecord request{};
    request.method = kGet;
    request.path = "/items/x";
    HttpBaseTransport::FunctionCallback(&response, &request);
    reply = Testing::ReadAndRelease(response);
    EXPECT_EQ(reply.errorMessage, "Invalid function");

    HttpBaseTransport::FunctionCallback(nullptr, &request);  // nowhere to answer: nothing happens
}

TEST_F(TransportTest, CountsWithoutArraysFailTheCall) {
    HostRequestRecord request{};
    request.method = kGet;
    request.path = "/items/x";
    request.userData = Record("GetItemsById").description.userData;
    request.argumentCount = 0xFFFFFFFFu;
    HostResponseRecord response{};
    HttpBaseTransport::FunctionCallback(&response, &request);
    HostReply reply = Testing::ReadAndRelease(response);
    EXPECT_EQ(reply.errorMessage, "The request has 4294967295 argument entries but no argument array.");
    EXPECT_EQ(reply.status, 0u);

    request.argumentCount = 0;
    request.headerCount = 0x7FFFFFFFu;
    HttpBaseTransport::FunctionCallback(&response, &request);
    reply = Testing::ReadAndRelease(response);
    EXPECT_EQ(reply.errorMessage, "The request has 2147483647 headers but no header array.");
    EXPECT_EQ(calls_, 0);
}

TEST_F(TransportTest, BodyWithoutContentTypeIsUnsupported) {
    const HostReply reply =
        Call("PostItemsById", {.method = kPost, .path = "/items/a", .body = R"({"name":"x"})"});
    EXPECT_EQ(reply.errorMessage, "Unsupported body content type");
    EXPECT_EQ(calls_, 0);
}

TEST_F(TransportTest, MegabytePathMatchesWithoutDeepStack) {
    std::string path = "/files/";
    path.append(size_t{1} << 20, 'x');
    EXPECT_EQ(Call("GetFilesByRest", {.path = path.c_str()}).json, std::to_string(size_t{1} << 20));
    path.replace(7, 3, "%2F");
    EXPECT_EQ(Call("GetFilesByRest", {.path = path.c_str()}).json, std::to_string((size_t{1} << 20) - 2));
    std::string segment = "/items/";
    segment.append(size_t{1} << 20, 'y');
    segment += "/z";
    EXPECT_EQ(Call("GetItemsById", {.path = segment.c_str()}).errorMessage, "Invalid function");
}

TEST_F(TransportTest, ResponseFilledEarlierIsReleasedBeforeReuse) {
    const HostFunctionRecord& record = Record("GetSettings");
    HostRequestRecord request{};
    request.method = kGet;
    request.path = "/settings";
    request.userData = record.description.userData;
    HostResponseRecord response{};
    record.callback(&response, &request);
    // Called again on the same, unreleased record: the first fill is freed
    // (the sanitizer build reports a leak otherwise).
    record.callback(&response, &request);
    EXPECT_EQ(Testing::ReadAndRelease(response).text, "Created");
}

TEST_F(TransportTest, ForeignGarbageInTheResponseIsNotFreed) {
    const HostFunctionRecord& record = Record("GetColour");
    HostRequestRecord request{};
    request.method = kGet;
    request.path = "/colour";
    request.userData = record.description.userData;
    HostResponseRecord response;
    std::memset(&response, 0xA5, sizeof(response));
    record.callback(&response, &request);
    EXPECT_EQ(Testing::ReadAndRelease(response).json, "\"Green\"");
}

}  // namespace
}  // namespace Korvo
