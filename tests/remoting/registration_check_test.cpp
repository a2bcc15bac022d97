// What registration reports about a plug-in author's mistakes: each case
// registers into a fresh transport and compares CheckRegistrations' problems.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sdk/binding/record_builder.h"
#include "sdk/remoting/transport.h"

namespace Korvo::registration_check_test {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

enum class Colour : int32_t { Red, Green };
struct Note {
    std::string text;
    Colour colour = Colour::Red;
};
struct Shelf {
    std::vector<Note> notes;
};

void RegisterColour(BindingRegistry& registry) {
    RegisterEnum<Colour>(registry, "Colour").Enumerator("Red", Colour::Red).Enumerator("Green", Colour::Green);
}
void RegisterNote(BindingRegistry& registry) {
    RegisterRecord<Note>(registry, "Note").Field("text", &Note::text).Field("colour", &Note::colour);
}

class Handlers {
public:
    HandlerResult<Note> Get(std::string id) { return Note{id, Colour::Red}; }
    HandlerResult<Note> Other(std::string id) { return Note{id, Colour::Green}; }
    HandlerResult<void> Put(std::string, Note) { return {}; }
};

struct Case {
    const char* what;
    std::function<void(HttpBaseTransport&, Handlers&)> registerAll;
    // One matcher per expected problem, in order; none: nothing to report.
    std::vector<::testing::Matcher<std::string>> problems;
};

std::vector<Case> Cases() {
    return {
        {"a correct registration, repeated as a second start would",
         [](HttpBaseTransport& t, Handlers& h) {
             for (int run = 0; run < 2; ++run) {
                 RegisterColour(t);
                 RegisterNote(t);
                 t.RegisterRoute(HttpMethod::Get, "/notes/{id}", &h, &Handlers::Get).PathArgument("id");
                 t.RegisterRoute(HttpMethod::Put, "/notes/{id}", &h, &Handlers::Put)
                     .PathArgument("id")
                     .BodyArgument("note");
             }
         },
         {}},
        {"a function registered again with another handler",
         [](HttpBaseTransport& t, Handlers& h) {
             RegisterColour(t);
             RegisterNote(t);
             t.RegisterRoute(HttpMethod::Get, "/notes/{id}", &h, &Handlers::Get).PathArgument("id");
             t.RegisterRoute(HttpMethod::Get, "/notes/{id}", &h, &Handlers::Other).PathArgument("id");
         },
         {AllOf(HasSubstr("'GetNotesById' is registered twice"), HasSubstr("another handler"),
                HasSubstr("first registration (GET /notes/{id}) stays"))}},
        {"a function registered again under another template of the same name",
         [](HttpBaseTransport& t, Handlers& h) {
             RegisterColour(t);
             RegisterNote(t);
             t.RegisterRoute(HttpMethod::Get, "/notes/{id}", &h, &Handlers::Get).PathArgument("id");
             t.RegisterRoute(HttpMethod::Get, "/notes/{+id}", &h, &Handlers::Get).PathArgument("id");
         },
         {AllOf(HasSubstr("another template"), HasSubstr("second (GET /notes/{+id}) is ignored"))}},
        {"a type registered again with other fields",
         [](HttpBaseTransport& t, Handlers&) {
             RegisterColour(t);
             RegisterNote(t);
             RegisterRecord<Note>(t, "Note").Field("text", &Note::text);
         },
         {AllOf(HasSubstr("Type 'Note' is registered twice"), HasSubstr("a record of 2 fields (text, colour)"),
                HasSubstr("a record of 1 field (text)"))}},
        {"an enum registered after the record that uses it",
         [](HttpBaseTransport& t, Handlers&) {
             RegisterNote(t);
             RegisterColour(t);
         },
         {AllOf(HasSubstr("Field 'colour' of type 'Note'"),
                HasSubstr("'Korvo::registration_check_test::Colour', which is not registered yet"))}},
        {"a record in a vector never registered",
         [](HttpBaseTransport& t, Handlers&) { RegisterRecord<Shelf>(t, "Shelf").Field("notes", &Shelf::notes); },
         {HasSubstr("Field 'notes' of type 'Shelf' refers to 'Korvo::registration_check_test::Note'")}},
        {"a route whose result type is not registered",
         [](HttpBaseTransport& t, Handlers& h) {
             t.RegisterRoute(HttpMethod::Get, "/notes/{id}", &h, &Handlers::Get).PathArgument("id");
         },
         {AllOf(HasSubstr("result of route 'GetNotesById' (GET /notes/{id})"),
                HasSubstr("'Korvo::registration_check_test::Note'"))}},
        {"a template parameter without its argument and a path argument without its parameter",
         [](HttpBaseTransport& t, Handlers& h) {
             RegisterColour(t);
             RegisterNote(t);
             t.RegisterRoute(HttpMethod::Get, "/notes/{id}", &h, &Handlers::Get).PathArgument("ident");
         },
         {HasSubstr("has the parameter 'id' but the route has no path argument of that name"),
          HasSubstr("path argument 'ident' of route 'GetNotesById' (GET /notes/{id}) is named by no parameter")}},
        {"a record sent with PUT without a body argument",
         [](HttpBaseTransport& t, Handlers& h) {
             RegisterColour(t);
             RegisterNote(t);
             t.RegisterRoute(HttpMethod::Put, "/notes/{id}", &h, &Handlers::Put)
                 .PathArgument("id")
                 .QueryArgument("note");
         },
         {AllOf(HasSubstr("route 'PutNotesById' (PUT /notes/{id}) takes a record but has no body argument"),
                HasSubstr("BodyArgument"))}},
    };
}

TEST(RegistrationCheckTest, ReportsEachMistakeWithTheNamesInvolved) {
    for (const Case& test : Cases()) {
        SCOPED_TRACE(test.what);
        HttpBaseTransport transport;
        Handlers handlers;
        test.registerAll(transport, handlers);
        const std::vector<std::string> problems = transport.CheckRegistrations();
        ASSERT_EQ(problems.size(), test.problems.size()) << ::testing::PrintToString(problems);
        for (size_t index = 0; index < problems.size(); ++index) EXPECT_THAT(problems[index], test.problems[index]);
    }
}

TEST(RegistrationCheckTest, TheFirstRegistrationStaysAndProblemsAreReportedOnce) {
    HttpBaseTransport transport;
    Handlers handlers;
    RegisterColour(transport);
    RegisterNote(transport);
    RegisterRecord<Note>(transport, "Note").Field("text", &Note::text);
    transport.RegisterRoute(HttpMethod::Get, "/notes/{id}", &handlers, &Handlers::Get).PathArgument("id");
    transport.RegisterRoute(HttpMethod::Get, "/notes/{id}", &handlers, &Handlers::Other).PathArgument("id");

    EXPECT_EQ(transport.CheckRegistrations().size(), 2u);
    EXPECT_THAT(transport.CheckRegistrations(), IsEmpty());
    EXPECT_EQ(transport.FindTypeByName("Note")->fields.size(), 2u);
}

}  // namespace Korvo::registration_check_test
