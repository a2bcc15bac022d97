// refused: std::set<int>
// A record field of a standard container the converters do not know.
#include <set>

#include "sdk/binding/record_builder.h"

namespace Notes {
struct Note {
    std::string text;
    std::set<int> tags;
};
}  // namespace Notes

void Register(Korvo::BindingRegistry& registry) {
    Korvo::RegisterRecord<Notes::Note>(registry, "Note").Field("text", &Notes::Note::text).Field("tags", &Notes::Note::tags);
}
