// tree_bytes - the bytes a tree holds beside a RapidJSON Document, as a
// table: the memory benchmarks of korvo_bench without Google Benchmark, so
// that bench/tree_bytes_32bit.sh can build and run it for a 32-bit target.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "bench/bench_data.h"
#include "bench/tree_memory.h"

int main() {
    std::printf("%-14s %12s %12s %12s %8s\n", "document", "tree bytes", "(pool)", "Document", "ratio");
    int status = 0;
    for (const std::string& name : KorvoBench::DocumentNames()) {
        const std::string& text = KorvoBench::Document("json", name);
        const KorvoBench::TreeBytes tree = KorvoBench::MeasureTree(text, [](Korvo::BindingResult&) {});
        const int64_t document = KorvoBench::MeasureRapidJsonDocument(text, [](auto&) {});
        if (document <= 0) {
            std::fprintf(stderr, "tree_bytes: RapidJSON could not read %s\n", name.c_str());
            status = 1;
            continue;
        }
        std::printf("%-14s %12" PRId64 " %12" PRId64 " %12" PRId64 " %7.2fx\n", name.c_str(), tree.Total(), tree.pool,
                    document, static_cast<double>(tree.Total()) / static_cast<double>(document));
    }
    return status;
}
