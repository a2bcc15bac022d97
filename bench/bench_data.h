// bench/bench_data.h - the shared corpus, read once per process.
//
// The directory comes from the KORVO_BENCH_DATA environment variable when it
// is set, else from the path the build was configured with. A missing file
// ends the program with a message: a benchmark over an empty document would
// only measure the loop.
#pragma once

#include <string>
#include <vector>

namespace KorvoBench {

// The four documents, in the order every table lists them.
const std::vector<std::string>& DocumentNames();

// The bytes of <corpus>/<format>/<name>.<extension>, where format is "json",
// "msgpack" or "yaml" (the extension is the format's).
const std::string& Document(const std::string& format, const std::string& name);

}  // namespace KorvoBench
