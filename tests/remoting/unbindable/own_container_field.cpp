// refused: Notes::Ring
// A class of the plug-in's own that iterates is a container, not a record.
#include "sdk/binding/record_builder.h"

namespace Notes {
struct Ring {
    const int* begin() const { return values; }
    const int* end() const { return values + 4; }
    int values[4];
};
struct Note {
    Ring recent;
};
}  // namespace Notes

void Register(Korvo::BindingRegistry& registry) {
    Korvo::RegisterRecord<Notes::Note>(registry, "Note").Field("recent", &Notes::Note::recent);
}
