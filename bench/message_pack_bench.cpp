// ReadMessagePack beside msgpack-cxx's unpack (its object tree in a zone),
// per corpus document; each iteration builds the value and drops it.
#include <benchmark/benchmark.h>

#include <msgpack.hpp>

#include <string>

#include "bench/allocation_count.h"
#include "bench/bench_data.h"
#include "sdk/formats/message_pack_reader.h"

namespace {

using KorvoBench::Document;

void ReadMessagePackCase(benchmark::State& state, const std::string& name) {
    const std::string& bytes = Document("msgpack", name);
    for (auto _ : state) {
        uint32_t position = 0;
        Korvo::BindingResult result =
            Korvo::ReadMessagePack(bytes.data(), static_cast<uint32_t>(bytes.size()), &position);
        if (!result) state.SkipWithError("ReadMessagePack failed");
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
    state.counters["allocations"] = KorvoBench::AllocationsOf([&] {
        (void)Korvo::ReadMessagePack(bytes.data(), static_cast<uint32_t>(bytes.size()), nullptr);
    });
}

void MsgpackUnpack(benchmark::State& state, const std::string& name) {
    const std::string& bytes = Document("msgpack", name);
    for (auto _ : state) {
        msgpack::object_handle handle = msgpack::unpack(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(handle.get());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

const bool kRegistered = [] {
    for (const std::string& name : KorvoBench::DocumentNames()) {
        const std::string prefix = "MessagePack/" + name + "/";
        benchmark::RegisterBenchmark((prefix + "ReadMessagePack").c_str(), ReadMessagePackCase, name);
        benchmark::RegisterBenchmark((prefix + "msgpack_cxx_unpack").c_str(), MsgpackUnpack, name);
    }
    return true;
}();

}  // namespace
