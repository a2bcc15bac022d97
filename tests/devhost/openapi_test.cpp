// The OpenAPI document from description records built by hand: how each
// kind becomes a schema, which functions become operations, and where each
// argument goes. (tests/web/api_test.mjs lints the documents of the real
// plug-ins and checks answers against them.)
#include "host/devhost/openapi.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <rapidjson/pointer.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstring>
#include <string>
#include <vector>

namespace Korvo::Host::Dev {
namespace {

std::string At(const rapidjson::Document& document, const char* pointer) {
    const rapidjson::Value* value = rapidjson::Pointer(pointer).Get(document);
    if (value == nullptr) return "(missing)";
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    value->Accept(writer);
    return buffer.GetString();
}

class OpenApiTest : public ::testing::Test {
protected:
    OpenApiTest() {
        // A struct with a field of every kind, under a name OpenAPI does not
        // allow as it is.
        for (uint32_t kind = 0; kind <= KORVO_KIND_LAST; ++kind) {
            HostFieldDescription field{};
            field.name = KorvoTypeKindName(kind)[0] != '\0' ? KorvoTypeKindName(kind) : "none";
            field.description = kind == KORVO_KIND_STRING ? "a text" : "";
            field.kind = kind;
            field.elementKind = kind == KORVO_KIND_VECTOR ? KORVO_KIND_INT16 : KORVO_KIND_STRUCT;
            field.typeName = kind == KORVO_KIND_ENUM ? "Kind" : kind == KORVO_KIND_STRING ? "" : "Api::Note";
            field.optional = kind % 2;
            fields_.push_back(field);
        }
        for (size_t i = 0; i + 1 < fields_.size(); ++i) fields_[i].next = &fields_[i + 1];
        enumerators_[0] = {&enumerators_[1], "Create", "made", 0};
        enumerators_[1] = {nullptr, "Update", "", 1};
        types_[0] = {&types_[1], "Api::Note", "Api", 56, "A note", nullptr, 0, fields_.data(), nullptr,
                     static_cast<uint32_t>(fields_.size())};
        types_[1] = {nullptr, "Kind", "", 4, "", nullptr, 0, nullptr, &enumerators_[0], 2};
        events_[0] = {nullptr, "OnNote", "", "Api::Note", "a note changed", nullptr, 0};

        arguments_[0] = {&arguments_[1], "rest", "", KORVO_KIND_STRING, 0, "", 0};
        arguments_[1] = {&arguments_[2], "limit", "at most", KORVO_KIND_INT8, 0, "", 1};
        arguments_[2] = {&arguments_[3], "X-Trace", "", KORVO_KIND_STRING, 0, "", 0};
        arguments_[3] = {nullptr, "note", "", KORVO_KIND_STRUCT, 0, "Api::Note", 1};
        locations_[0] = {&locations_[1], KORVO_LOCATION_ANY};
        locations_[1] = {&locations_[2], KORVO_LOCATION_QUERY};
        locations_[2] = {&locations_[3], KORVO_LOCATION_HEADER};
        locations_[3] = {nullptr, KORVO_LOCATION_BODY};

        const auto function = [&](size_t i, const char* name, uint32_t method, const char* path) {
            HostFunctionRecord& record = functions_[i];
            record.description.next = i + 1 < kFunctions ? &functions_[i + 1] : nullptr;
            record.description.name = name;
            record.description.nameSpace = "";
            record.description.resultTypeName = "";
            record.description.description = "";
            record.description.help = "";
            record.description.asyncResultTypeName = "";
            record.pathTemplate = path;
            record.method = method;
            record.functionName = name;
            return &record;
        };
        HostFunctionRecord* read = function(0, "ReadFile", KORVO_METHOD_GET, "/files/{+rest}");
        read->description.arguments = &arguments_[0];
        read->description.argumentCount = 3;
        read->locations = &locations_[0];
        read->description.resultKind = KORVO_KIND_BLOB;
        read->description.description = "Reads a file";
        read->description.help = "GET /files/a/b reads a/b.";
        HostFunctionRecord* write = function(1, "WriteFile", KORVO_METHOD_POST, "/files/{+rest}");
        write->description.arguments = &arguments_[0];
        write->description.argumentCount = 4;
        write->locations = &locations_[0];
        function(2, "ReadAgain", KORVO_METHOD_GET, "/files/{+rest}");      // the host routes to the first
        function(3, "Ping", KORVO_METHOD_CALL, "/ping");                   // called by name only
        function(4, "Anything", KORVO_METHOD_ANY, "/any");                 // on every method

        descriptor_ = {functions_, kFunctions, types_, 2, events_, 1};
        EXPECT_FALSE(document_.Parse(OpenApiJson(&descriptor_, "vbp-be-files", "18.0.0").c_str()).HasParseError());
    }

    static constexpr uint32_t kFunctions = 5;
    std::vector<HostFieldDescription> fields_;
    HostEnumeratorDescription enumerators_[2]{};
    HostTypeDescription types_[2]{};
    HostEventDescription events_[1]{};
    HostArgumentDescription arguments_[4]{};
    HostLocationEntry locations_[4]{};
    HostFunctionRecord functions_[kFunctions]{};
    HostApiDescriptor descriptor_{};
    rapidjson::Document document_;
};

TEST_F(OpenApiTest, EveryKindBecomesItsSchema) {
    const std::string note = "/components/schemas/Api__Note/properties/";
    const std::pair<const char*, const char*> cases[] = {
        {"none", "{}"},
        {"bool", R"({"type":"boolean"})"},
        {"int8", R"({"type":"integer","format":"int32","minimum":-128,"maximum":127})"},
        {"uint8", R"({"type":"integer","format":"int32","minimum":0,"maximum":255})"},
        {"int16", R"({"type":"integer","format":"int32","minimum":-32768,"maximum":32767})"},
        {"uint16", R"({"type":"integer","format":"int32","minimum":0,"maximum":65535})"},
        {"int32", R"({"type":"integer","format":"int32","minimum":-2147483648,"maximum":2147483647})"},
        {"uint32", R"({"type":"integer","format":"int64","minimum":0,"maximum":4294967295})"},
        {"int64", R"({"type":"integer","format":"int64"})"},
        {"uint64", R"({"type":"integer","minimum":0})"},
        {"float", R"({"type":"number","format":"float"})"},
        {"double", R"({"type":"number","format":"double"})"},
        {"string", R"({"type":"string","description":"a text"})"},
        {"object", "{}"},
        {"blob", R"({"type":"string","contentEncoding":"base64"})"},
        {"vector", R"({"type":"array","items":{"type":"integer","format":"int32","minimum":-32768,"maximum":32767}})"},
        {"enum", R"({"$ref":"#/components/schemas/Kind"})"},
        {"struct", R"({"$ref":"#/components/schemas/Api__Note"})"},
        {"callback", "{}"},
        {"map", R"({"type":"object","additionalProperties":{"$ref":"#/components/schemas/Api__Note"}})"},
    };
    for (const auto& [field, schema] : cases) EXPECT_EQ(At(document_, (note + field).c_str()), schema) << field;
    // Fields that are not optional are required (the even kinds here).
    EXPECT_EQ(At(document_, "/components/schemas/Api__Note/required"),
              R"(["none","int8","int16","int32","int64","float","string","blob","enum","callback"])");
    EXPECT_EQ(At(document_, "/components/schemas/Kind"),
              R"({"type":"string","enum":["Create","Update"],"x-enum-descriptions":["Create = 0: made","Update = 1"]})");
    EXPECT_EQ(ComponentName("a b::c-d.e_f"), "a_b__c-d.e_f");
}

TEST_F(OpenApiTest, FunctionsServedByMethodAndPathBecomeOperations) {
    // {+rest} is an OpenAPI parameter like any other; the second GET of the
    // same path, a function called by name only and one on every method are
    // no operations.
    EXPECT_EQ(At(document_, "/paths/~1files~1{rest}/get/operationId"), R"("ReadFile")");
    EXPECT_EQ(At(document_, "/paths/~1files~1{rest}/post/operationId"), R"("WriteFile")");
    EXPECT_EQ(At(document_, "/paths/~1ping"), "(missing)");
    EXPECT_EQ(At(document_, "/paths/~1any"), "(missing)");
    EXPECT_EQ(At(document_, "/paths/~1files~1{rest}/get/summary"), R"("Reads a file")");
    EXPECT_EQ(At(document_, "/paths/~1files~1{rest}/get/description"), R"("GET /files/a/b reads a/b.")");
    EXPECT_EQ(At(document_, "/paths/~1files~1{rest}/post/summary"), R"("WriteFile")");
    EXPECT_EQ(At(document_, "/paths/~1files~1{rest}/get/tags"), R"(["vbp-be-files"])");

    // Where each argument goes: the template's parameter in the path
    // (location any), query and header as given, the body a request body.
    EXPECT_EQ(At(document_, "/paths/~1files~1{rest}/get/parameters"),
              R"([{"name":"rest","in":"path","required":true,"schema":{"type":"string"}},)"
              R"({"name":"limit","in":"query","required":false,"schema":{"type":"integer","format":"int32","minimum":-128,"maximum":127},"description":"at most"},)"
              R"({"name":"X-Trace","in":"header","required":true,"schema":{"type":"string"}}])");
    EXPECT_EQ(At(document_, "/paths/~1files~1{rest}/get/requestBody"), "(missing)");
    EXPECT_EQ(At(document_, "/paths/~1files~1{rest}/post/requestBody/required"), "false");
    EXPECT_EQ(At(document_, "/paths/~1files~1{rest}/post/requestBody/content/application~1x-msgpack/schema"),
              R"({"$ref":"#/components/schemas/Api__Note"})");

    // Results, and the failures every function may meet.
    EXPECT_EQ(At(document_, "/paths/~1files~1{rest}/get/responses/200/content/application~1json/schema"),
              R"({"type":"string","contentEncoding":"base64"})");
    EXPECT_EQ(At(document_, "/paths/~1files~1{rest}/post/responses/204/description"), R"("Done; no content")");
    for (const char* status : {"400", "403", "404", "414", "500", "default"}) {
        const std::string pointer = std::string("/paths/~1files~1{rest}/get/responses/") + status +
                                    "/content/application~1json/schema";
        EXPECT_EQ(At(document_, pointer.c_str()), R"({"$ref":"#/components/schemas/Message"})") << status;
    }
    EXPECT_EQ(At(document_, "/paths/~1files~1{rest}/get/responses/413"), "(missing)");  // takes no body
    EXPECT_EQ(At(document_, "/paths/~1files~1{rest}/post/responses/413/description"),
              R"("The body is larger than the host takes")");
}

TEST_F(OpenApiTest, TheEventStreamListsEveryEventsPayload) {
    EXPECT_EQ(At(document_, "/paths/~1events/get/responses/200/content/text~1event-stream/x-events"),
              R"([{"event":"OnNote","data":{"$ref":"#/components/schemas/Api__Note"},"description":"a note changed"},)"
              R"({"event":"resync","data":{"$ref":"#/components/schemas/Resync"},"description":"The client missed events: read the state again"}])");
    EXPECT_EQ(At(document_, "/openapi"), R"("3.1.0")");
    EXPECT_EQ(At(document_, "/info/title"), R"("vbp-be-files")");
}

TEST(OpenApiWithoutDescriptorTest, HasTheHostsOwnEndpointsOnly) {
    rapidjson::Document document;
    ASSERT_FALSE(document.Parse(OpenApiJson(nullptr, "x", "18.0.0").c_str()).HasParseError());
    std::vector<std::string> paths;
    for (const auto& path : document["paths"].GetObject()) paths.emplace_back(path.name.GetString());
    EXPECT_EQ(paths, (std::vector<std::string>{"/events", "/help", "/host/stats", "/host/fixed", "/host/events/{name}"}));
}

}  // namespace
}  // namespace Korvo::Host::Dev
