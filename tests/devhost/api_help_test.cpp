// The API description document, from description records built by hand.
#include "host/devhost/api_help.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace Korvo::Host::Dev {
namespace {

const char* const kTags[] = {"Plugins", "Plugin vbp-be-x"};

class ApiHelpTest : public ::testing::Test {
protected:
    ApiHelpTest() {
        std::memset(&descriptor_, 0, sizeof(descriptor_));
        std::memset(arguments_, 0, sizeof(arguments_));
        std::memset(locations_, 0, sizeof(locations_));
        std::memset(functions_, 0, sizeof(functions_));
        std::memset(fields_, 0, sizeof(fields_));
        std::memset(enumerators_, 0, sizeof(enumerators_));
        std::memset(types_, 0, sizeof(types_));
        std::memset(events_, 0, sizeof(events_));

        arguments_[0] = {&arguments_[1], "feature", "which one", KORVO_KIND_STRING, KORVO_KIND_NONE, "", 0};
        arguments_[1] = {nullptr, "state", "", KORVO_KIND_STRUCT, KORVO_KIND_NONE, "Note", 1};
        locations_[0] = {&locations_[1], 2};
        locations_[1] = {nullptr, 5};
        HostFunctionRecord& write = functions_[0];
        write.description.next = &functions_[1];
        write.description.name = "PostNote";
        write.description.nameSpace = "Api";
        write.description.arguments = &arguments_[0];
        write.description.argumentCount = 2;
        write.description.resultTypeName = "";
        write.description.description = "Writes";
        write.description.help = "";
        write.description.threadSafe = 1;
        write.description.asyncResultTypeName = "";
        write.description.tags = kTags;
        write.description.tagCount = 2;
        write.locations = &locations_[0];
        write.pathTemplate = "/notes/{feature}";
        write.method = KORVO_METHOD_POST;
        HostFunctionRecord& list = functions_[1];
        list.description.name = "ListNotes";
        list.description.resultKind = KORVO_KIND_MAP;
        list.description.resultElementKind = KORVO_KIND_STRUCT;
        list.description.resultTypeName = "Note";
        list.pathTemplate = "/notes";
        list.method = KORVO_METHOD_GET;

        fields_[0] = {&fields_[1], "text", "", 0, KORVO_KIND_STRING, KORVO_KIND_NONE, "", 0};
        fields_[1] = {nullptr, "tags", "", 32, KORVO_KIND_VECTOR, KORVO_KIND_STRING, "", 1};
        enumerators_[0] = {&enumerators_[1], "Create", "", 0};
        enumerators_[1] = {nullptr, "Update", "", 1};
        types_[0] = {&types_[1], "Note", "Api", 56, "", kTags, 1, &fields_[0], nullptr, 2};
        types_[1] = {nullptr, "Kind", "", 4, "", nullptr, 0, nullptr, &enumerators_[0], 2};
        events_[0] = {nullptr, "OnNote", "", "Note", "a note changed", nullptr, 0};

        descriptor_ = {functions_, 2, types_, 2, events_, 1};
    }

    HostArgumentDescription arguments_[2];
    HostLocationEntry locations_[2];
    HostFunctionRecord functions_[2];
    HostFieldDescription fields_[2];
    HostEnumeratorDescription enumerators_[2];
    HostTypeDescription types_[2];
    HostEventDescription events_[1];
    HostApiDescriptor descriptor_;
};

TEST_F(ApiHelpTest, DescribesFunctionsTypesAndEvents) {
    EXPECT_EQ(
        ApiHelpJson(&descriptor_, "vbp-be-x", "18.0.0"),
        R"({"plugin":"vbp-be-x","apiVersion":"18.0.0","functions":[)"
        R"({"name":"PostNote","method":"POST","path":"/notes/{feature}","namespace":"Api","description":"Writes",)"
        R"("help":"","threadSafe":true,"asyncResultType":"","tags":["Plugins","Plugin vbp-be-x"],)"
        R"("result":{"type":"","kind":"","elementKind":"","typeName":""},"arguments":[)"
        R"({"name":"feature","location":"path","description":"which one","optional":false,)"
        R"("type":"string","kind":"string","elementKind":"","typeName":""},)"
        R"({"name":"state","location":"body","description":"","optional":true,)"
        R"("type":"Note","kind":"struct","elementKind":"","typeName":"Note"}]},)"
        R"({"name":"ListNotes","method":"GET","path":"/notes","namespace":"","description":"","help":"",)"
        R"("threadSafe":false,"asyncResultType":"","tags":[],)"
        R"("result":{"type":"map<Note>","kind":"map","elementKind":"struct","typeName":"Note"},"arguments":[]}],)"
        R"("types":[{"name":"Note","namespace":"Api","size":56,"description":"","tags":["Plugins"],"fields":[)"
        R"({"name":"text","description":"","offset":0,"optional":false,"type":"string","kind":"string",)"
        R"("elementKind":"","typeName":""},)"
        R"({"name":"tags","description":"","offset":32,"optional":true,"type":"vector<string>","kind":"vector",)"
        R"("elementKind":"string","typeName":""}]},)"
        R"({"name":"Kind","namespace":"","size":4,"description":"","tags":[],"enumerators":[)"
        R"({"name":"Create","description":"","value":0},{"name":"Update","description":"","value":1}]}],)"
        R"("events":[{"name":"OnNote","namespace":"","payloadType":"Note","description":"a note changed","tags":[]}]})");
}

TEST_F(ApiHelpTest, ChainsAreReadNoFurtherThanTheirCounts) {
    // A chain that runs into itself stops at the count.
    fields_[1].next = &fields_[0];
    types_[0].count = 1;
    enumerators_[1].next = &enumerators_[0];
    descriptor_.typeCount = 2;
    types_[1].count = 3;
    const std::string json = ApiHelpJson(&descriptor_, "p", "1.2.3");
    EXPECT_NE(json.find(R"("fields":[{"name":"text")"), std::string::npos);
    EXPECT_EQ(json.find(R"("name":"tags","description")"), std::string::npos);
    EXPECT_NE(json.find(R"({"name":"Create","description":"","value":0},{"name":"Update","description":"","value":1},)"
                        R"({"name":"Create")"),
              std::string::npos);
}

TEST(ApiHelpEmptyTest, NoDescriptorGivesEmptyLists) {
    EXPECT_EQ(ApiHelpJson(nullptr, "p", "18.0.0"),
              R"({"plugin":"p","apiVersion":"18.0.0","functions":[],"types":[],"events":[]})");
}

TEST(ApiHelpNamesTest, KindsAndLocations) {
    EXPECT_STREQ(TypeKindName(1), "bool");
    EXPECT_STREQ(TypeKindName(13), "object");
    EXPECT_STREQ(TypeKindName(19), "map");
    EXPECT_STREQ(TypeKindName(0), "");
    EXPECT_STREQ(TypeKindName(20), "");
    EXPECT_STREQ(ArgumentLocationName(0), "any");
    EXPECT_STREQ(ArgumentLocationName(1), "query");
    EXPECT_STREQ(ArgumentLocationName(3), "");
    EXPECT_STREQ(ArgumentLocationName(4), "header");
}

}  // namespace
}  // namespace Korvo::Host::Dev
