// compiles
// Every kind that binds, at every place a native type meets the converters:
// record fields, handler arguments and results, event payloads and answers
// from the host.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "sdk/binding/record_builder.h"
#include "sdk/host/plugin_core.h"
#include "sdk/remoting/host_request.h"
#include "sdk/remoting/transport.h"

namespace Notes {

enum class Colour { Red, Green };

struct Point {
    double x = 0;
    float y = 0;
};

// Its fields are called begin and end, but it does not iterate: a record.
struct Span {
    int64_t begin = 0;
    int64_t end = 0;
};

struct Note {
    bool pinned = false;
    int8_t a = 0;
    uint16_t b = 0;
    int32_t c = 0;
    uint64_t d = 0;
    std::string text;
    Korvo::BindingProperty::Blob image;
    Korvo::BindingProperty extra;
    Colour colour = Colour::Red;
    Point at;
    Span span;
    std::vector<Point> path;
    std::vector<bool> flags;
    std::map<std::string, int32_t> counts;
    std::unordered_map<std::string, std::vector<double>> series;
    std::optional<std::string> title;
    std::shared_ptr<const Point> shared;
};

}  // namespace Notes

static_assert(Korvo::Bindable<std::vector<std::optional<Notes::Note>>>);
static_assert(!Korvo::Bindable<std::vector<std::vector<std::pair<int, int>>>>);
static_assert(!Korvo::Bindable<const char*>);

void Register(Korvo::BindingRegistry& registry) {
    using Notes::Note;
    Korvo::RegisterEnum<Notes::Colour>(registry, "Colour").Enumerator("red", Notes::Colour::Red);
    Korvo::RegisterRecord<Notes::Point>(registry, "Point").Field("x", &Notes::Point::x).Field("y", &Notes::Point::y);
    Korvo::RegisterRecord<Notes::Span>(registry, "Span").Field("begin", &Notes::Span::begin);
    Korvo::RegisterRecord<Note>(registry, "Note")
        .Field("pinned", &Note::pinned)
        .Field("a", &Note::a)
        .Field("b", &Note::b)
        .Field("c", &Note::c)
        .Field("d", &Note::d)
        .Field("text", &Note::text)
        .Field("image", &Note::image)
        .Field("extra", &Note::extra)
        .Field("colour", &Note::colour)
        .Field("at", &Note::at)
        .Field("span", &Note::span)
        .Field("path", &Note::path)
        .Field("flags", &Note::flags)
        .Field("counts", &Note::counts)
        .Field("series", &Note::series)
        .Field("title", &Note::title)
        .Field("shared", &Note::shared);
}

void Register(Korvo::HttpBaseTransport& transport) {
    transport.RegisterRoute(Korvo::HttpMethod::Put, "/notes/{id}",
                            [](uint32_t, const Notes::Note& note, std::optional<std::vector<std::string>>) {
                                return Korvo::HandlerResult<std::map<std::string, Notes::Note>>({{"n", note}});
                            });
    transport.RegisterRoute(Korvo::HttpMethod::Get, "/notes", []() {
        return Korvo::HandlerResult<std::vector<std::shared_ptr<const Notes::Note>>>({});
    });
}

Korvo::BindingResult Send(Korvo::PluginCore& plugin, const Notes::Note& note) {
    (void)Korvo::RequestFromHost<std::vector<Notes::Note>>(plugin, Korvo::HttpMethod::Get, "/notes");
    return plugin.SendResourceEvent(Korvo::Client::PluginResourceEventType::Update, "/notes/1", note);
}
