#include "tests/support/test_support.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace Korvo::Testing {

std::string BenchDataDirectory() {
    const char* dir = std::getenv("KORVO_BENCH_DATA");
    return dir && *dir ? std::string(dir) : std::string(KORVO_BENCH_DATA_DEFAULT);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace Korvo::Testing
