// A small "notes" plug-in as an author would write it, built once clean and
// once per mistake an author makes at registration or in a handler
// (KORVO_MISTAKE). plugin-check --strict must pass the clean one and fail
// each other one, naming the cause.
#include <cstdint>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "sdk/contract/korvo_plugin.h"
#include "sdk/plugin_base/plugin_base.h"
#include "sdk/plugin_base/plugin_entry.h"

#define KORVO_MISTAKE_NONE 0
#define KORVO_MISTAKE_FUNCTION_TWICE 1
#define KORVO_MISTAKE_ENUM_AFTER_RECORD 2
#define KORVO_MISTAKE_RECORD_NOT_REGISTERED 3
#define KORVO_MISTAKE_HANDLER_THROWS 4

namespace Notes {

enum class Colour : int32_t { Plain = 0, Red = 1 };

struct Note {
    std::string text;
    Colour colour = Colour::Plain;
    std::vector<std::string> tags;
};

class NotesPlugin final : public Korvo::PluginBase {
public:
    void RegisterRoutes() override {
#if KORVO_MISTAKE != KORVO_MISTAKE_ENUM_AFTER_RECORD
        AddEnum<Colour>("NoteColour").Enumerator("Plain", Colour::Plain).Enumerator("Red", Colour::Red);
#endif
#if KORVO_MISTAKE != KORVO_MISTAKE_RECORD_NOT_REGISTERED
        // A note without its text is no note: an empty body is refused.
        AddType<Note>("Note")
            .Field("text", &Note::text, Korvo::BindingFieldFlag::kRequired)
            .Field("colour", &Note::colour)
            .Field("tags", &Note::tags);
#endif
#if KORVO_MISTAKE == KORVO_MISTAKE_ENUM_AFTER_RECORD
        AddEnum<Colour>("NoteColour").Enumerator("Plain", Colour::Plain).Enumerator("Red", Colour::Red);
#endif
        AddGetRoute("/notes/v1/notes/{id}", &NotesPlugin::Get).PathArgument("id", "the note's id");
        AddRoute(Korvo::HttpMethod::Put, "/notes/v1/notes/{id}", &NotesPlugin::Put)
            .PathArgument("id", "the note's id")
            .BodyArgument("note", "the note");
#if KORVO_MISTAKE == KORVO_MISTAKE_FUNCTION_TWICE
        // Copied from the line above, the method left as it was.
        AddGetRoute("/notes/v1/notes/{id}", &NotesPlugin::Delete).PathArgument("id", "the note's id");
#else
        AddRoute(Korvo::HttpMethod::Delete, "/notes/v1/notes/{id}", &NotesPlugin::Delete)
            .PathArgument("id", "the note's id");
#endif
    }

    bool OnStart() override { return true; }

    Korvo::HandlerResult<Note> Get(const std::string& id) {
#if KORVO_MISTAKE == KORVO_MISTAKE_HANDLER_THROWS
        throw std::runtime_error("notes index not loaded for '" + id + "'");
#endif
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = notes_.find(id);
        if (found == notes_.end()) return Korvo::HandlerError(404, "No note '" + id + "'");
        return found->second;
    }
    Korvo::HandlerResult<void> Put(const std::string& id, Note note) {
        std::lock_guard<std::mutex> lock(mutex_);
        notes_[id] = std::move(note);
        return {};
    }
    Korvo::HandlerResult<void> Delete(const std::string& id) {
        std::lock_guard<std::mutex> lock(mutex_);
        notes_.erase(id);
        return {};
    }

private:
    std::mutex mutex_;
    std::map<std::string, Note> notes_;
};

}  // namespace Notes

KORVO_EXPORT void* KORVO_CDECL load_notes(Korvo::PluginLoadContext* context) {
    return Korvo::LoadPlugin<Notes::NotesPlugin>(context, "notes");
}
