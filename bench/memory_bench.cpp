// The memory a document's tree holds, beside the memory a RapidJSON Document
// holds for the same document. Reported as counters, not timed:
//   bytes          everything the tree keeps: the heap bytes the allocation
//                  counters see while the result lives (usable sizes), plus
//                  the 4096-byte pool pages its arena holds (those come from
//                  the platform's block reservations, which the counters do
//                  not see);
//   counted_bytes  the first part alone; pool_bytes the second.
// For the Document, bytes are the usable sizes of the blocks its allocators
// hold after Parse (its parse stack is gone by then, as ReadJson's is).
#include <benchmark/benchmark.h>

#include <rapidjson/document.h>

#include <cstdlib>
#include <string>

#include "bench/bench_data.h"
#include "sdk/binding/property_arena.h"
#include "sdk/formats/json_reader.h"
#include "sdk/allocation/allocation.h"
#include "sdk/platform/platform.h"

namespace {

using KorvoBench::Document;

int64_t CountedBytesInUse() {
    const Korvo::Memory::MemoryStats stats = Korvo::Memory::ReadCounters(Korvo::Memory::ProcessCounters());
    return static_cast<int64_t>(stats.bytesAllocated) - static_cast<int64_t>(stats.bytesFreed);
}

// RapidJSON's base allocator concept over malloc, keeping the usable bytes
// it has out.
int64_t gRapidJsonBytes = 0;

struct CountingCrtAllocator {
    static const bool kNeedFree = true;
    void* Malloc(size_t size) {
        if (size == 0) return nullptr;
        void* block = std::malloc(size);
        gRapidJsonBytes += static_cast<int64_t>(Korvo::Platform::UsableSize(block));
        return block;
    }
    void* Realloc(void* block, size_t, size_t newSize) {
        if (newSize == 0) {
            Free(block);
            return nullptr;
        }
        gRapidJsonBytes -= static_cast<int64_t>(Korvo::Platform::UsableSize(block));
        void* grown = std::realloc(block, newSize);
        gRapidJsonBytes += static_cast<int64_t>(Korvo::Platform::UsableSize(grown));
        return grown;
    }
    static void Free(void* block) {
        if (block == nullptr) return;
        gRapidJsonBytes -= static_cast<int64_t>(Korvo::Platform::UsableSize(block));
        std::free(block);
    }
};

using CountedDocument =
    rapidjson::GenericDocument<rapidjson::UTF8<>, rapidjson::MemoryPoolAllocator<CountingCrtAllocator>,
                               CountingCrtAllocator>;

void TreeMemory(benchmark::State& state, const std::string& name) {
    const std::string& text = Document("json", name);
    int64_t counted = 0;
    int64_t pool = 0;
    for (auto _ : state) {
        const int64_t before = CountedBytesInUse();
        Korvo::BindingResult result = Korvo::ReadJson(text);
        counted = CountedBytesInUse() - before;
        const Korvo::PropertyArena* arena = result.Value().Arena();
        pool = arena != nullptr ? static_cast<int64_t>(arena->PagesHeld() * Korvo::PropertyArena::kPageSize) : 0;
        benchmark::DoNotOptimize(result);
    }
    state.counters["bytes"] = static_cast<double>(counted + pool);
    state.counters["counted_bytes"] = static_cast<double>(counted);
    state.counters["pool_bytes"] = static_cast<double>(pool);
}

void RapidJsonDocumentMemory(benchmark::State& state, const std::string& name) {
    const std::string& text = Document("json", name);
    int64_t held = 0;
    for (auto _ : state) {
        const int64_t before = gRapidJsonBytes;
        {
            CountedDocument document;
            document.Parse(text.c_str());
            if (document.HasParseError()) state.SkipWithError("RapidJSON Document failed");
            held = gRapidJsonBytes - before;
            benchmark::DoNotOptimize(document);
        }
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
