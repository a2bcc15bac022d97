// The memory a document's tree holds, beside the memory a RapidJSON Document
// holds for the same document (bench/tree_memory.h says what each counts).
// Reported as counters, not timed: bytes, and for the tree counted_bytes
// (heap) and pool_bytes (arena pages).
#include <benchmark/benchmark.h>

#include <string>

#include "bench/bench_data.h"
#include "bench/tree_memory.h"

namespace {

using KorvoBench::Document;

void TreeMemory(benchmark::State& state, const std::string& name) {
    const std::string& text = Document("json", name);
    KorvoBench::TreeBytes bytes;
    for (auto _ : state) {
        bytes = KorvoBench::MeasureTree(text, [](Korvo::BindingResult& result) { benchmark::DoNotOptimize(result); });
    }
    state.counters["bytes"] = static_cast<double>(bytes.Total());
    state.counters["counted_bytes"] = static_cast<double>(bytes.counted);
    state.counters["pool_bytes"] = static_cast<double>(bytes.pool);
}

void RapidJsonDocumentMemory(benchmark::State& state, const std::string& name) {
    const std::string& text = Document("json", name);
    int64_t held = 0;
    for (auto _ : state) {
        held = KorvoBench::MeasureRapidJsonDocument(
            text, [](KorvoBench::CountedDocument& document) { benchmark::DoNotOptimize(document); });
        if (held < 0) state.SkipWithError("RapidJSON Document failed");
    }
    state.counters["bytes"] = static_cast<double>(held);
}

const bool kRegistered = [] {
    for (const std::string& name : KorvoBench::DocumentNames()) {
        const std::string prefix = "Memory/" + name + "/";
        benchmark::RegisterBenchmark((prefix + "ReadJson_tree").c_str(), TreeMemory, name)->Iterations(5);
        benchmark::RegisterBenchmark((prefix + "rapidjson_document").c_str(), RapidJsonDocumentMemory, name)
            ->Iterations(5);
    }
    return true;
}();

}  // namespace
