// fuzz/fuzz_checks.h - what every reader's result must satisfy, whatever the
// input: checked by the fuzz targets.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "sdk/formats/reader_limits.h"
#include "sdk/values/property.h"

namespace Korvo::Fuzz {

[[noreturn]] inline void Violated(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

inline void Check(bool condition, const char* what) {
    if (!condition) Violated(what);
}

struct TreeShape {
    uint64_t nodes = 0;
    uint32_t depth = 0;  // containers on the deepest path
};

inline TreeShape Measure(const BindingProperty& root) {
    TreeShape shape;
    std::vector<std::pair<const BindingProperty*, uint32_t>> pending{{&root, 0}};
    while (!pending.empty()) {
        auto [property, level] = pending.back();
        pending.pop_back();
        ++shape.nodes;
        if (property->Is(BindingPropertyKind::Collection)) {
            shape.depth = std::max(shape.depth, level + 1);
            for (const BindingProperty& element : property->Elements()) pending.push_back({&element, level + 1});
        } else if (property->Is(BindingPropertyKind::Structure)) {
            shape.depth = std::max(shape.depth, level + 1);
            for (auto member : property->Members()) pending.push_back({&member.second, level + 1});
        }
    }
    return shape;
}

// A success holds a tree no deeper than the bound; a failure holds exactly
// {"error": a non-empty message}. Returns the tree's shape.
inline TreeShape CheckResult(const BindingResult& result) {
    if (result.Failed()) {
        Check(!result.ErrorMessage().empty(), "a failure carries a message");
        Check(result.Value().Size() == 1, "a failure keeps nothing but its message");
        return {};
    }
    TreeShape shape = Measure(result.Value());
    Check(shape.depth <= kMaxNestingDepth, "trees stay within the nesting bound");
    // Copying and destroying the tree must not exhaust the stack either.
    BindingProperty copy = result.Value();
    Check(Measure(copy).nodes == shape.nodes, "a copy has every node of its source");
    return shape;
}

}  // namespace Korvo::Fuzz
