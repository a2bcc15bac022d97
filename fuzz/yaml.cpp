// ReadYaml on any text: it fails wherever libyaml does, and aliases cannot
// make the tree far larger than the text.
#include <yaml.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/fuzz_checks.h"
#include "sdk/formats/yaml_reader.h"

namespace {

bool LibyamlAccepts(const uint8_t* data, size_t size) {
    yaml_parser_t parser;
    if (yaml_parser_initialize(&parser) == 0) return false;
    yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
    yaml_parser_set_input_string(&parser, data, size);
    bool accepted = true;
    for (;;) {
        yaml_event_t event;
        if (yaml_parser_parse(&parser, &event) == 0) {
            accepted = false;
            break;
        }
        bool end = event.type == YAML_STREAM_END_EVENT;
        yaml_event_delete(&event);
        if (end) break;
    }
    yaml_parser_delete(&parser);
    return accepted;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)Korvo::LooksLikeYaml(text);
    Korvo::BindingResult result = Korvo::ReadYaml(text);
    Korvo::Fuzz::TreeShape shape = Korvo::Fuzz::CheckResult(result);
    // Events give at most a few nodes per byte; alias copies add at most
    // their budget.
    Korvo::Fuzz::Check(shape.nodes <= Korvo::kAliasWorkFloor + (Korvo::kAliasWorkPerInputByte + 4) * size + 1,
                       "aliases stay within their budget");
    if (result.Succeeded()) Korvo::Fuzz::Check(LibyamlAccepts(data, size), "ReadYaml fails wherever libyaml does");
    return 0;
}
