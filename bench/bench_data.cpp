#include "bench/bench_data.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

namespace KorvoBench {

namespace {

std::string CorpusDirectory() {
    if (const char* fromEnvironment = std::getenv("KORVO_BENCH_DATA"); fromEnvironment && *fromEnvironment) {
        return fromEnvironment;
    }
    return KORVO_BENCH_DATA_DEFAULT;
}

}  // namespace

const std::vector<std::string>& DocumentNames() {
    static const std::vector<std::string> names = {"twitter", "citm_catalog", "canada", "ui-state"};
    return names;
}

const std::string& Document(const std::string& format, const std::string& name) {
    static std::mutex mutex;
    static std::map<std::string, std::string> loaded;
    const std::string path = CorpusDirectory() + "/" + format + "/" + name + "." + format;
    std::lock_guard<std::mutex> lock(mutex);
    auto found = loaded.find(path);
    if (found != loaded.end()) return found->second;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "korvo_bench: cannot read %s (set KORVO_BENCH_DATA to the corpus directory)\n",
                     path.c_str());
        std::exit(2);
    }
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return loaded.emplace(path, bytes.str()).first->second;
}

}  // namespace KorvoBench
