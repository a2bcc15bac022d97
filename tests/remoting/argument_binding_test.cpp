// Argument binding through the function callback: what each source binds,
// and one table of every binding message with the request that produces it.
#include "sdk/remoting/argument_binding.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "sdk/binding/record_builder.h"
#include "sdk/remoting/transport.h"
#include "tests/remoting/transport_test_host.h"

namespace Korvo {
namespace {

using Host::OwnedHostValue;
using Testing::CallFunction;
using Testing::HostCall;
using Testing::HostReply;

struct Item {
    std::string name;
    int32_t count = 0;
};

constexpr uint32_t kPost = KORVO_METHOD_POST;

// POST /bind/{feature}: feature (path), verbose (bool), filter (object),
// ids (vector), count (int32), token (header), item (body). The handler
// answers with what it received, leaving out feature and absent optionals.
class ArgumentBindingTest : public ::testing::Test {
protected:
    ArgumentBindingTest() {
        RegisterRecord<Item>(transport_, "Item").Field("name", &Item::name).Field("count", &Item::count);
        transport_
            .RegisterRoute(HttpMethod::Post, "/bind/{feature}",
                           [](std::string, bool verbose, BindingProperty filter,
                              std::optional<std::vector<int32_t>> ids, std::optional<int32_t> count,
                              std::optional<std::string> token,
                              std::optional<Item> item) -> HandlerResult<BindingProperty> {
                               BindingProperty seen;
                               seen.Member("verbose") = verbose;
                               if (!filter.Is(BindingPropertyKind::Empty)) seen.Member("filter") = filter;
                               if (ids) {
                                   BindingProperty& list = seen.Member("ids");
                                   list.SetCollection();
                                   for (int32_t id : *ids) list.Append() = id;
                               }
                               if (count) seen.Member("count") = *count;
                               if (token) seen.Member("token") = std::string_view(*token);
                               if (item) {
                                   seen.Member("item").Member("name") = std::string_view(item->name);
                                   seen.Member("item").Member("count") = item->count;
                               }
                               return seen;
                           })
            .PathArgument("feature")
            .AnyArgument("verbose")
            .AnyArgument("filter")
            .AnyArgument("ids")
            .AnyArgument("count")
            .HeaderArgument("token")
            .BodyArgument("item");
        transport_.RegisterRoute(HttpMethod::Post, "/plain", [](std::string) -> HandlerResult<int> { return 1; });
        descriptor_ = transport_.BuildApiDescriptor();
    }

    HostReply Bind(HostCall call) {
        call.method = kPost;
        return CallFunction(*Testing::FindFunctionRecord(descriptor_, "PostBindByFeature"), call);
    }
    // The handler's answer, or the failure message.
    std::string Seen(HostCall call) {
        const HostReply reply = Bind(std::move(call));
        return reply.error ? "error: " + reply.errorMessage : reply.json;
    }

    HttpBaseTransport transport_;
    HostApiDescriptor descriptor_{};
};

TEST_F(ArgumentBindingTest, QueryValuesBindByArgumentKind) {
    struct Case {
        const char* path;
        const char* seen;
    };
    const Case cases[] = {
        {"/bind/f", R"({"verbose":false})"},
        {"/bind/f?verbose", R"({"verbose":true})"},
        {"/bind/f?verbose=", R"({"verbose":true})"},
        {"/bind/f?verbose=false", R"({"verbose":false})"},
        {"/bind/f?filter.names.0=a&filter.names.1=b", R"({"filter":{"names":["a","b"]},"verbose":false})"},
        {"/bind/f?filter.x1=3", R"({"filter":{"x1":"3"},"verbose":false})"},
        {"/bind/f?filter.=3&filter..0=4", R"({"filter":{"":["4"]},"verbose":false})"},
        {"/bind/f?filter=abc", R"({"filter":"abc","verbose":false})"},
        {"/bind/f?filter=%7B%22a%22:1%7D", R"({"filter":{"a":1},"verbose":false})"},
        {"/bind/f?filter=%92%01%02", R"({"filter":[1,2],"verbose":false})"},
        {"/bind/f?filter=", R"({"filter":{},"verbose":false})"},
        {"/bind/f?ids=", R"({"ids":[],"verbose":false})"},
        {"/bind/f?ids=[1,2]", R"({"ids":[1,2],"verbose":false})"},
        {"/bind/f?ids=---%0A-%201", R"({"ids":[1],"verbose":false})"},
        {"/bind/f?ids.0x3=1", R"({"ids":[0,0,0,1],"verbose":false})"},
        {"/bind/f?ids.010=1", R"({"ids":[0,0,0,0,0,0,0,0,1],"verbose":false})"},
        {"/bind/f?ids.0=5&ids.00=6", R"({"ids":[6],"verbose":false})"},
        {"/bind/f?count=0x10", R"({"count":16,"verbose":false})"},
    };
    for (const Case& test : cases) EXPECT_EQ(Seen({.path = test.path}), test.seen) << test.path;
}

TEST_F(ArgumentBindingTest, IndexFillsTheCollectionUpToIt) {
    const HostReply reply = Bind({.path = "/bind/f?ids.0x10=1"});
    EXPECT_EQ(reply.json, R"({"ids":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1],"verbose":false})");
}

TEST_F(ArgumentBindingTest, HeadersBindOnlyUnderLowerCaseNames) {
    EXPECT_EQ(Seen({.path = "/bind/f", .headers = {{"token", "t1"}}}), R"({"token":"t1","verbose":false})");
    EXPECT_EQ(Seen({.path = "/bind/f", .headers = {{"Token", "t1"}}}), R"({"verbose":false})");
    EXPECT_EQ(Seen({.path = "/bind/f", .headers = {{"token", "t1"}, {"token", "t2"}}}),
              R"({"token":"t2","verbose":false})");
    EXPECT_EQ(Seen({.path = "/bind/f", .headers = {{"count", "4"}, {nullptr, "x"}, {"x", nullptr}}}),
              R"({"count":4,"verbose":false})");
}

TEST_F(ArgumentBindingTest, HostArgumentEntriesBindByNameOrAfterThePathParameters) {
    // The unnamed entry continues after the one path parameter: verbose.
    EXPECT_EQ(Seen({.path = "/bind/f", .arguments = {{nullptr, OwnedHostValue::Bool(true)}}}),
              R"({"verbose":true})");
    // A named entry replaces what the query bound; no location applies.
    EXPECT_EQ(Seen({.path = "/bind/f?count=1",
                    .arguments = {{"count", OwnedHostValue::Int(5)}, {"token", OwnedHostValue::String("h")}}}),
              R"({"count":5,"token":"h","verbose":false})");
    EXPECT_EQ(Seen({.path = "/bind/f",
                    .arguments = {{"item", OwnedHostValue::Object({{"name", OwnedHostValue::String("n")}})}}}),
              R"({"item":{"count":0,"name":"n"},"verbose":false})");
}

TEST_F(ArgumentBindingTest, BodyBindsTheBodyArgument) {
    EXPECT_EQ(Seen({.path = "/bind/f", .contentType = "application/vnd.api+json", .body = R"({"name":"a"})"}),
              R"({"item":{"count":0,"name":"a"},"verbose":false})");
    // {"count": 3} followed by nothing: the size ends the body, not a NUL.
    EXPECT_EQ(Seen({.path = "/bind/f", .contentType = "application/x-msgpack-ext",
                    .body = std::string("\x81\xA5" "count\x03", 8)}),
              R"({"item":{"count":3,"name":""},"verbose":false})");
}

TEST_F(ArgumentBindingTest, RouteWithoutBodyArgumentIgnoresTheBody) {
    const HostFunctionRecord* record = Testing::FindFunctionRecord(descriptor_, "PostPlain");
    ASSERT_NE(record, nullptr);
    const HostReply reply = CallFunction(
        *record, {.method = kPost, .path = "/plain", .contentType = "text/plain", .body = "x",
                  .arguments = {{nullptr, OwnedHostValue::String("s")}}});
    EXPECT_EQ(reply.json, "1");
}

// Every binding message, and the request that produces it.
TEST_F(ArgumentBindingTest, EveryBindingMessage) {
    HostValue unknownType{};
    unknownType.type = 77;
    std::string tooDeep = "/bind/f?filter";
    for (size_t level = 0; level <= kMaxKeyDepth; ++level) tooDeep += ".a";
    std::string deepEnough = "/bind/f?filter";
    for (size_t level = 0; level < kMaxKeyDepth; ++level) deepEnough += ".a";

    struct Case {
        const char* what;
        HostCall call;
        const char* message;
    };
    const Case cases[] = {
        {"query name that is no argument", {.path = "/bind/f?nosuch=1"},
         "Unknown argument 'nosuch' for 'PostBindByFeature'."},
        {"dotted query name that is no argument", {.path = "/bind/f?no.such=1"},
         "Unknown argument 'no' for 'PostBindByFeature'."},
        {"empty query name", {.path = "/bind/f?verbose&&count=1"},
         "Unknown argument '' for 'PostBindByFeature'."},
        {"path argument in the query", {.path = "/bind/f?feature=x"},
         "Argument 'feature' for 'PostBindByFeature' was specified in an invalid location."},
        {"header argument in the query", {.path = "/bind/f?token=x"},
         "Argument 'token' for 'PostBindByFeature' was specified in an invalid location."},
        {"body argument in the query", {.path = "/bind/f?item.name=x"},
         "Argument 'item' for 'PostBindByFeature' was specified in an invalid location."},
        {"no value for an int32", {.path = "/bind/f?count="}, "Expected value for argument 'count'."},
        {"index with trailing text", {.path = "/bind/f?ids.1x=3"}, "Index 1x is in an incorrect format"},
        {"octal index with a non-octal digit", {.path = "/bind/f?ids.08=3"}, "Index 08 is in an incorrect format"},
        {"hexadecimal prefix without digits", {.path = "/bind/f?ids.0x=3"}, "Index 0x is in an incorrect format"},
        {"index at 2^31", {.path = "/bind/f?ids.2147483648=1"}, "Index 2147483648 is out of range"},
        {"index overflowing 64 bits", {.path = "/bind/f?ids.0x1FFFFFFFFFFFFFFFF=1"},
         "Index 0x1FFFFFFFFFFFFFFFF is out of range"},
        {"index beyond what one call may grow", {.path = "/bind/f?ids.2147483647=1"},
         "Index 2147483647 is out of range"},
        {"key deeper than any value", {.path = tooDeep.c_str()},
         "Argument 'filter' for 'PostBindByFeature' is nested deeper than 512 levels."},
        {"broken MessagePack text", {.path = "/bind/f?filter=%91%C1"},
         "Couldn't deserialize MessagePack value for parameter 'filter' of 'PostBindByFeature': "
         "Invalid MessagePack data at position 2."},
        {"broken JSON text", {.path = "/bind/f?filter=[1,"},
         "Couldn't deserialize JSON value for parameter 'filter' of 'PostBindByFeature': "
         "Error: Invalid value. at offset 3."},
        {"broken YAML text", {.path = "/bind/f?ids=---%0A[1"},
         "Couldn't deserialize YAML value for parameter 'ids' of 'PostBindByFeature': "
         "YAML parser error: did not find expected ',' or ']'. At line: 2 col: 0"},
        {"named host entry that is no argument", {.path = "/bind/f", .arguments = {{"nosuch", OwnedHostValue::Int(1)}}},
         "Unknown argument 'nosuch' for 'PostBindByFeature'."},
        {"unnamed host entry past the last argument",
         {.path = "/bind/f",
          .arguments = {{nullptr, OwnedHostValue::Bool(true)}, {nullptr, OwnedHostValue::Null()},
                        {nullptr, OwnedHostValue::Null()}, {nullptr, OwnedHostValue::Null()},
                        {nullptr, OwnedHostValue::Null()}, {nullptr, OwnedHostValue::Null()},
                        {nullptr, OwnedHostValue::Null()}}},
         "Unknown argument '7' for 'PostBindByFeature'."},
        {"host value of an unknown type", {.path = "/bind/f", .rawArguments = {HostArgumentEntry{"count", unknownType}}},
         "Couldn't assign value to 'count' of type object because the input is of an incompatible type ''."},
        {"MessagePack body with a trailing byte",
         {.path = "/bind/f", .contentType = "application/x-msgpack", .body = std::string("\x80\x00", 2)},
         "Extra MessgePack data found in body"},
        {"body of an unknown content type", {.path = "/bind/f", .contentType = "text/plain", .body = "x"},
         "Unsupported body content type"},
        {"body failure replaces an earlier one",
         {.path = "/bind/f?nosuch=1", .contentType = "text/x-yaml", .body = "a: 1"},
         "Unsupported body content type"},
        {"broken JSON body", {.path = "/bind/f", .contentType = "application/json", .body = "{"},
         "Error: Missing a name for object member. at offset 1."},
        {"text that is no number (conversion)", {.path = "/bind/f?count=abc"},
         "Value abc for 'count' of type int32 is in an incorrect format"},
        {"list as plain text (conversion)", {.path = "/bind/f?ids=1,2"},
         "Couldn't assign value to 'ids' of type vector because the input not a collection."},
    };
    for (const Case& test : cases) {
        const HostReply reply = Bind(test.call);
        EXPECT_TRUE(reply.error) << test.what;
        EXPECT_EQ(reply.errorMessage, test.message) << test.what;
        EXPECT_EQ(reply.status, 0u) << test.what;
    }
    // The deepest key that is still accepted.
    EXPECT_FALSE(Bind({.path = deepEnough.c_str()}).error);
}

TEST_F(ArgumentBindingTest, MillionSegmentKeyFailsWithoutBuildingIt) {
    std::string path = "/bind/f?filter";
    for (size_t segment = 0; segment < 1'000'000; ++segment) path += ".0";
    EXPECT_EQ(Bind({.path = path.c_str()}).errorMessage,
              "Argument 'filter' for 'PostBindByFeature' is nested deeper than 512 levels.");
}

TEST_F(ArgumentBindingTest, DeeplyNestedHostArgumentTravelsInBoundedStack) {
    // [[[...[7]...]]] two hundred thousand levels deep, bound into the
    // object argument, copied into the answer and released by the host.
    constexpr size_t kDepth = 200'000;
    std::vector<HostValue> levels(kDepth);
    for (size_t level = 0; level + 1 < kDepth; ++level) {
        levels[level].type = static_cast<uint32_t>(HostValueType::Array);
        levels[level].data.array.items = &levels[level + 1];
        levels[level].data.array.count = 1;
    }
    levels.back().type = static_cast<uint32_t>(HostValueType::Int64);
    levels.back().data.int64 = 7;
    const HostReply reply = Bind({.path = "/bind/f", .rawArguments = {HostArgumentEntry{"filter", levels[0]}}});
    ASSERT_FALSE(reply.error) << reply.errorMessage;
    EXPECT_EQ(reply.json.size(), std::string(R"({"filter":,"verbose":false})").size() + 2 * (kDepth - 1) + 1);
    EXPECT_TRUE(reply.zeroAfterRelease);
}

TEST_F(ArgumentBindingTest, IndexGrowthIsBudgetedPerCall) {
    // Each index alone fits; together they would build far more elements
    // than the query is long.
    std::string path = "/bind/f?";
    for (int member = 0; member < 4; ++member) {
        path += "filter.m" + std::to_string(member) + "." + std::to_string(kIndexGrowthFloor / 2) + "=1&";
    }
    path.pop_back();
    EXPECT_EQ(Bind({.path = path.c_str()}).errorMessage,
              "Index " + std::to_string(kIndexGrowthFloor / 2) + " is out of range");
    // Dense keys never run out, however many there are.
    std::string dense = "/bind/f?";
    for (size_t index = 0; index < kIndexGrowthFloor + 10; ++index) dense += "ids." + std::to_string(index) + "=1&";
    dense.pop_back();
    EXPECT_FALSE(Bind({.path = dense.c_str()}).error);
}

}  // namespace
}  // namespace Korvo
