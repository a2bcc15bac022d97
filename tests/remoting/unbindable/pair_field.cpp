// refused: std::pair<int, int>
// A record field of a pair: two values with no names.
#include <utility>

#include "sdk/binding/record_builder.h"

namespace Notes {
struct Note {
    std::pair<int, int> position;
};
}  // namespace Notes

void Register(Korvo::BindingRegistry& registry) {
    Korvo::RegisterRecord<Notes::Note>(registry, "Note").Field("position", &Notes::Note::position);
}
