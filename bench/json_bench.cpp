// ReadJson beside its peers, per corpus document: RapidJSON's Reader with a
// handler that does nothing (the floor: tokenising alone), RapidJSON's own
// Document, simdjson's DOM (the ceiling for any JSON parser) and nlohmann's
// json. Each iteration builds the whole value and destroys it again, as a
// request body is read and dropped.
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/reader.h>
#include <simdjson.h>

#include <string>

#include "bench/allocation_count.h"
#include "bench/bench_data.h"
#include "sdk/formats/json_reader.h"

namespace {

using KorvoBench::Document;

void ReadJsonCase(benchmark::State& state, const std::string& name) {
    const std::string& text = Document("json", name);
    for (auto _ : state) {
        Korvo::BindingResult result = Korvo::ReadJson(text);
        if (!result) state.SkipWithError("ReadJson failed");
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.counters["allocations"] = KorvoBench::AllocationsOf([&] { (void)Korvo::ReadJson(text); });
}

void RapidJsonSax(benchmark::State& state, const std::string& name) {
    const std::string& text = Document("json", name);
    for (auto _ : state) {
        rapidjson::Reader reader;
        rapidjson::BaseReaderHandler<> handler;
        rapidjson::StringStream stream(text.c_str());
        rapidjson::ParseResult parsed = reader.Parse<rapidjson::kParseDefaultFlags>(stream, handler);
        if (parsed.IsError()) state.SkipWithError("RapidJSON Reader failed");
        benchmark::DoNotOptimize(parsed);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void RapidJsonDocument(benchmark::State& state, const std::string& name) {
    const std::string& text = Document("json", name);
    for (auto _ : state) {
        rapidjson::Document document;
        document.Parse(text.c_str());
        if (document.HasParseError()) state.SkipWithError("RapidJSON Document failed");
        benchmark::DoNotOptimize(document);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void SimdJsonDom(benchmark::State& state, const std::string& name) {
    const std::string& text = Document("json", name);
    const simdjson::padded_string padded(text);
    // One parser for the whole run, as simdjson is meant to be used: its
    // buffers are sized by the first document.
    simdjson::dom::parser parser;
    for (auto _ : state) {
        simdjson::dom::element root;
        if (parser.parse(padded).get(root) != simdjson::SUCCESS) state.SkipWithError("simdjson failed");
        benchmark::DoNotOptimize(root);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void Nlohmann(benchmark::State& state, const std::string& name) {
    const std::string& text = Document("json", name);
    for (auto _ : state) {
        nlohmann::json value = nlohmann::json::parse(text, nullptr, false);
        if (value.is_discarded()) state.SkipWithError("nlohmann failed");
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

const bool kRegistered = [] {
    for (const std::string& name : KorvoBench::DocumentNames()) {
        const std::string prefix = "Json/" + name + "/";
        benchmark::RegisterBenchmark((prefix + "ReadJson").c_str(), ReadJsonCase, name);
        benchmark::RegisterBenchmark((prefix + "rapidjson_sax_floor").c_str(), RapidJsonSax, name);
        benchmark::RegisterBenchmark((prefix + "rapidjson_document").c_str(), RapidJsonDocument, name);
        benchmark::RegisterBenchmark((prefix + "simdjson_dom").c_str(), SimdJsonDom, name);
        benchmark::RegisterBenchmark((prefix + "nlohmann").c_str(), Nlohmann, name);
    }
    return true;
}();

}  // namespace
