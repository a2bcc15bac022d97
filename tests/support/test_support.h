// tests/support/test_support.h - helpers shared by the unit tests.
#pragma once

#include <string>

namespace Korvo::Testing {

// Directory of the shared benchmark corpus (KORVO_BENCH_DATA), with no
// trailing separator.
std::string BenchDataDirectory();

// Reads a whole file; empty when it cannot be read.
std::string ReadFile(const std::string& path);

}  // namespace Korvo::Testing
