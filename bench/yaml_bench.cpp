// ReadYaml beside the bare libyaml event loop it is built on (the floor:
// parsing with nothing built) and yaml-cpp's Load, per corpus document.
#include <benchmark/benchmark.h>

#include <yaml.h>
#include <yaml-cpp/yaml.h>

#include <string>

#include "bench/allocation_count.h"
#include "bench/bench_data.h"
#include "sdk/formats/yaml_reader.h"

namespace {

using KorvoBench::Document;

void ReadYamlCase(benchmark::State& state, const std::string& name) {
    const std::string& text = Document("yaml", name);
    for (auto _ : state) {
        Korvo::BindingResult result = Korvo::ReadYaml(text);
        if (!result) state.SkipWithError("ReadYaml failed");
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.counters["allocations"] = KorvoBench::AllocationsOf([&] { (void)Korvo::ReadYaml(text); });
}

// Every event of the stream, each deleted at once.
bool ParseEvents(const std::string& text) {
    yaml_parser_t parser;
    if (!yaml_parser_initialize(&parser)) return false;
    yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()), text.size());
    bool ok = true;
    for (;;) {
        yaml_event_t event;
        if (!yaml_parser_parse(&parser, &event)) {
            ok = false;
            break;
        }
        const bool end = event.type == YAML_STREAM_END_EVENT;
        benchmark::DoNotOptimize(event.type);
        yaml_event_delete(&event);
        if (end) break;
    }
    yaml_parser_delete(&parser);
    return ok;
}

void LibyamlEvents(benchmark::State& state, const std::string& name) {
    const std::string& text = Document("yaml", name);
    for (auto _ : state) {
        if (!ParseEvents(text)) state.SkipWithError("libyaml failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void YamlCppLoad(benchmark::State& state, const std::string& name) {
    const std::string& text = Document("yaml", name);
    for (auto _ : state) {
        YAML::Node node = YAML::Load(text);
        benchmark::DoNotOptimize(node);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

const bool kRegistered = [] {
    for (const std::string& name : KorvoBench::DocumentNames()) {
        const std::string prefix = "Yaml/" + name + "/";
        benchmark::RegisterBenchmark((prefix + "ReadYaml").c_str(), ReadYamlCase, name);
        benchmark::RegisterBenchmark((prefix + "libyaml_events_floor").c_str(), LibyamlEvents, name);
        benchmark::RegisterBenchmark((prefix + "yaml_cpp_load").c_str(), YamlCppLoad, name);
    }
    return true;
}();

}  // namespace
