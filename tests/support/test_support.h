// tests/support/test_support.h - helpers shared by the unit tests.
#pragma once

#include <string>

namespace Korvo::Testing {

// Directory of the corpus (bench/data): the KORVO_BENCH_DATA environment
// variable when set, else the directory the build was configured with; no
// trailing separator.
std::string BenchDataDirectory();

// Reads a whole file; empty when it cannot be read.
std::string ReadFile(const std::string& path);

}  // namespace Korvo::Testing
