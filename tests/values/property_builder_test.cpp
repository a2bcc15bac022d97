// PropertyBuilder against the property API: the same events applied through
// Member and Append (what the readers did before the builder) must give the
// same tree, member for member and in the same order, and leave the same
// references to every name behind.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "sdk/values/property.h"
#include "sdk/values/property_arena.h"
#include "sdk/values/property_builder.h"

namespace Korvo {
namespace {

struct Event {
    enum Type { Null, Signed, String, Key, BeginCollection, BeginStructure, End, BuildInPlace };
    Event(Type t, int64_t n = 0, std::string s = {}) : type(t), number(n), text(std::move(s)) {}
    Type type;
    int64_t number;
    std::string text;
};

// The events through the property API, as a reader that writes into the
// tree directly: a repeated name is the same member again, an array or
// object meeting a container of its kind adds to it.
void ApplyDirectly(BindingProperty& root, const std::vector<Event>& events) {
    std::vector<BindingProperty*> open;
    std::vector<bool> isCollection;
    BindingProperty* keyed = nullptr;
    const auto place = [&]() -> BindingProperty& {
        if (open.empty()) return root;
        if (isCollection.back()) return open.back()->Append();
        BindingProperty* target = keyed != nullptr ? keyed : &open.back()->Member("");
        keyed = nullptr;
        return *target;
    };
    for (const Event& event : events) {
        switch (event.type) {
            case Event::Null: place(); break;
            case Event::Signed: place().SetSigned(event.number); break;
            case Event::String: place().SetString(event.text); break;
            case Event::Key: keyed = &open.back()->Member(event.text); break;
            case Event::BeginCollection:
            case Event::BeginStructure: {
                const bool collection = event.type == Event::BeginCollection;
                BindingProperty& target = place();
                if (collection && !target.Is(BindingPropertyKind::Collection)) target.SetCollection();
                if (!collection && !target.Is(BindingPropertyKind::Structure)) target.SetStructure();
                open.push_back(&target);
                isCollection.push_back(collection);
                break;
            }
            case Event::End:
                open.pop_back();
                isCollection.pop_back();
                break;
            case Event::BuildInPlace: break;
        }
    }
}

void ApplyThroughBuilder(BindingProperty& root, const std::vector<Event>& events) {
    PropertyBuilder builder(root);
    for (const Event& event : events) {
        switch (event.type) {
            case Event::Null: builder.Null(); break;
            case Event::Signed: builder.Signed(event.number); break;
            case Event::String: builder.String(event.text); break;
            case Event::Key: builder.Key(event.text); break;
            case Event::BeginCollection: builder.BeginCollection(); break;
            case Event::BeginStructure: builder.BeginStructure(); break;
            case Event::End: builder.End(); break;
            case Event::BuildInPlace: builder.BuildInPlace(); break;
        }
    }
    builder.Finish();
}

// Every member is found by its name (the index is in order) and every
// structure still takes new members in the right place.
void ExpectIndexWorks(BindingProperty& tree) {
    std::vector<BindingProperty*> work{&tree};
    while (!work.empty()) {
        BindingProperty* node = work.back();
        work.pop_back();
        if (node->Is(BindingPropertyKind::Collection)) {
            for (BindingProperty& element : node->Elements()) work.push_back(&element);
        } else if (node->Is(BindingPropertyKind::Structure)) {
            std::string previous;
            bool first = true;
            for (auto [name, member] : node->Members()) {
                EXPECT_TRUE(first || previous < name) << "members out of order at " << name;
                EXPECT_EQ(&node->Get(name), &member) << name;
                previous = std::string(name);
                first = false;
                work.push_back(&member);
            }
        }
    }
}

void ExpectSameTree(const std::vector<Event>& events, const std::vector<std::string>& names) {
    BindingProperty expected;
    BindingProperty built;
    ApplyDirectly(expected, events);
    ApplyThroughBuilder(built, events);
    ASSERT_EQ(built, expected);
    ExpectIndexWorks(built);
    for (const std::string& name : names) {
        const uint32_t expectedReferences = expected.Arena() ? expected.Arena()->InternedReferences(name) : 0;
        const uint32_t builtReferences = built.Arena() ? built.Arena()->InternedReferences(name) : 0;
        EXPECT_EQ(builtReferences, expectedReferences) << "references to '" << name << "'";
    }
    // Both trees still take changes the same way.
    if (built.Is(BindingPropertyKind::Structure)) {
        built.Member("zz-added").SetSigned(1);
        expected.Member("zz-added").SetSigned(1);
        built.Member("").SetSigned(2);
        expected.Member("").SetSigned(2);
        EXPECT_EQ(built, expected);
    }
}

// A small language for the cases: { } [ ] open and close, k:name a key,
// i:N a number, s:text a string, n null, ! BuildInPlace.
std::vector<Event> Parse(const std::vector<std::string>& tokens) {
    std::vector<Event> events;
    for (const std::string& token : tokens) {
        if (token == "{") events.push_back({Event::BeginStructure});
        else if (token == "[") events.push_back({Event::BeginCollection});
        else if (token == "}" || token == "]") events.push_back({Event::End});
        else if (token == "n") events.push_back({Event::Null});
        else if (token == "!") events.push_back({Event::BuildInPlace});
        else if (token.starts_with("k:")) events.push_back({Event::Key, 0, token.substr(2)});
        else if (token.starts_with("s:")) events.push_back({Event::String, 0, token.substr(2)});
        else if (token.starts_with("i:")) events.push_back({Event::Signed, std::stoll(token.substr(2))});
    }
    return events;
}

TEST(PropertyBuilderTest, RepeatedNamesAddressTheSameValue) {
    const std::vector<std::vector<std::string>> cases = {
        // scalar replaces, null leaves
        {"{", "k:a", "i:1", "k:b", "i:2", "k:a", "i:3", "k:b", "n", "}"},
        // array appends to array, object adds to object, at any depth
        {"{", "k:a", "[", "i:1", "]", "k:a", "[", "i:2", "i:3", "]", "}"},
        {"{", "k:o", "{", "k:x", "[", "i:0", "]", "}", "k:o", "{", "k:x", "[", "i:1", "]", "k:y", "i:2", "}", "}"},
        // a kind change replaces: scalar by array, array by object, object by scalar
        {"{", "k:a", "i:1", "k:a", "[", "i:2", "]", "k:a", "{", "k:b", "i:3", "}", "k:a", "s:text", "}"},
        // an empty container first, then one with children
        {"{", "k:a", "[", "]", "k:a", "[", "i:1", "]", "k:o", "{", "}", "k:o", "{", "k:p", "i:1", "}", "}"},
        // a repeated name whose later object repeats its own names
        {"{", "k:a", "{", "k:x", "[", "i:0", "]", "}", "k:a", "{", "k:x", "i:3", "k:x", "[", "i:1", "]", "}", "}"},
        // the empty name, names that differ after 8 bytes, after a NUL byte
        {"{", "k:", "i:1", "k:profile_b", "i:2", "k:profile_a", "i:3", "k:", "i:4", "k:profile_", "i:5", "}"},
        // arrays of structures with the same names, in the same and another order
        {"[", "{", "k:b", "i:1", "k:a", "i:2", "}", "{", "k:b", "i:3", "k:a", "i:4", "}", "{", "k:a", "i:5", "k:b", "i:6",
         "}", "]"},
        // made in place half way, then more of everything
        {"{", "k:a", "[", "i:1", "{", "k:x", "i:1", "!", "k:x", "[", "i:2", "]", "k:y", "n", "}", "i:2", "]", "k:a", "[",
         "i:3", "]", "k:b", "i:4", "}"},
        // unfinished: Finish closes what is open, a key without its value included
        {"{", "k:a", "[", "i:1", "{", "k:x", "i:2", "k:y"},
        // scalars and containers at the root
        {"i:7"},
        {"[", "]"},
    };
    const std::vector<std::string> names = {"a", "b", "o", "x", "y", "p", "profile_a", "profile_b", "profile_", "text"};
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE("case " + std::to_string(i));
        ExpectSameTree(Parse(cases[i]), names);
    }
}

TEST(PropertyBuilderTest, NameWithNulByteIsItsOwnMember) {
    std::vector<Event> events = Parse({"{", "k:ab", "i:1", "}"});
    events.insert(events.begin() + 3, {Event::Key, 0, std::string("ab\0c", 4)});
    events.insert(events.begin() + 4, {Event::Signed, 2});
    ExpectSameTree(events, {"ab", std::string("ab\0c", 4)});
}

// Random documents over a few names, so that names repeat within objects,
// objects pass the point where the builder stops collecting members, and
// arrays of objects repeat their shapes; some are made in place half way,
// some end early.
TEST(PropertyBuilderTest, RandomDocumentsMatchThePropertyApi) {
    std::vector<std::string> names = {"", "a", "b", "id", "name", "profile_image", "profile_color", "profile_"};
    for (int i = 0; i < 90; ++i) names.push_back("m" + std::to_string(i));
    for (uint32_t seed = 1; seed <= 200; ++seed) {
        std::mt19937 random(seed);
        const auto chance = [&](unsigned percent) { return random() % 100 < percent; };
        std::vector<Event> events;
        std::vector<bool> open;  // true: collection
        const size_t wideNames = chance(30) ? names.size() : 12;
        events.push_back({chance(70) ? Event::BeginStructure : Event::BeginCollection});
        open.push_back(events.back().type == Event::BeginCollection);
        const size_t length = 20 + random() % 400;
        bool builtInPlace = false;
        while (!open.empty() && events.size() < length) {
            if (!builtInPlace && chance(1)) {
                events.push_back({Event::BuildInPlace});
                builtInPlace = true;
            }
            if (chance(12) && open.size() > 1) {
                events.push_back({Event::End});
                open.pop_back();
                continue;
            }
            if (!open.back()) events.push_back({Event::Key, 0, names[random() % wideNames]});
            const unsigned pick = random() % 100;
            if (pick < 15 && open.size() < 6) {
                events.push_back({Event::BeginStructure});
                open.push_back(false);
            } else if (pick < 25 && open.size() < 6) {
                events.push_back({Event::BeginCollection});
                open.push_back(true);
            } else if (pick < 35) {
                events.push_back({Event::Null});
            } else if (pick < 70) {
                events.push_back({Event::Signed, static_cast<int64_t>(random() % 5)});
            } else {
                events.push_back({Event::String, 0, names[random() % 12]});
            }
        }
        // Half close everything, half end wherever they are.
        if (chance(50)) {
            while (!open.empty()) {
                events.push_back({Event::End});
                open.pop_back();
            }
        }
        SCOPED_TRACE("seed " + std::to_string(seed));
        ExpectSameTree(events, names);
        if (HasFatalFailure()) return;
    }
}

// A key outside a structure and an end with nothing open are ignored:
// values still go where they would have gone.
TEST(PropertyBuilderTest, CallsOutOfPlaceAreIgnored) {
    BindingProperty root;
    {
        PropertyBuilder builder(root);
        builder.End();
        builder.Key("lost");
        builder.BeginCollection();
        builder.Key("lost");
        builder.Signed(1);
        builder.End();
        builder.End();
    }
    BindingProperty expected;
    expected.Append() = 1;
    EXPECT_EQ(root, expected);
}

TEST(PropertyBuilderTest, AbandonedBuilderGivesBackWhatItHeld) {
    BindingProperty root;
    {
        PropertyBuilder builder(root);
        builder.BeginStructure();
        builder.Key("kept");
        builder.BeginCollection();
        builder.String("element");
    }
    // Nothing of the unfinished document reached the root, and the arena
    // holds no name or cell of it any more.
    EXPECT_TRUE(root.Is(BindingPropertyKind::Empty));
    ASSERT_NE(root.Arena(), nullptr);
    EXPECT_EQ(root.Arena()->InternedCount(), 0u);
    EXPECT_EQ(root.Arena()->CellsInUse(), 0u);
}

}  // namespace
}  // namespace Korvo
