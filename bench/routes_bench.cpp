// Route matching next to its floor: the same expression precompiled as a
// std::regex, with the captures percent-decoded into the same map; and the
// cost of a match as the path grows from 1 KiB to 1 MiB, which must grow
// linearly (bytes per second stay flat).
#include <benchmark/benchmark.h>

#include <regex>
#include <string>
#include <vector>

#include "sdk/remoting/routes.h"

namespace {

struct RouteCase {
    std::string name;
    const char* routeTemplate;
    std::string path;
    bool withRegex;  // libstdc++'s std::regex recurses per character: short paths only
};

std::vector<RouteCase> Cases() {
    std::vector<RouteCase> cases = {
        {"ui_state", "/qem-quorvex-zv/v1/ui-states/{feature}", "/qem-quorvex-zv/v1/ui-states/voice-chat", true},
        {"ui_state_miss", "/qem-quorvex-zv/v1/ui-states/{feature}", "/qem-quorvex-zv/v1/ui-states/a/b", true},
        {"two_segments", "/v1/items/{id}/parts/{part}.json", "/v1/items/1234/parts/engine%20block.json", true},
    };
    // Long paths: one reserved capture over the rest, and one segment
    // capture followed by literal text, each at 1 KiB, 64 KiB and 1 MiB.
    for (size_t size : {size_t{1} << 10, size_t{1} << 16, size_t{1} << 20}) {
        const std::string suffix = size == (1u << 10) ? "1KiB" : size == (1u << 16) ? "64KiB" : "1MiB";
        std::string rest = "/files/";
        while (rest.size() < size) rest += "dir%20name/";
        rest.resize(size);
        cases.push_back({"reserved_" + suffix, "/files/{+rest}", rest, size <= 1024});
        std::string segment = "/items/" + std::string(size - 12, 'd') + ".json";
        cases.push_back({"segment_" + suffix, "/items/{id}.json", segment, size <= 1024});
    }
    return cases;
}

void MatchWithRoute(benchmark::State& state, const RouteCase& c) {
    const Korvo::CompiledRoute route = Korvo::CompileRoute(c.routeTemplate, nullptr, nullptr);
    for (auto _ : state) {
        Korvo::ParameterMap parameters;
        bool matched = Korvo::MatchRoute(route, c.path, parameters);
        benchmark::DoNotOptimize(matched);
        benchmark::DoNotOptimize(parameters);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.path.size()));
}

void MatchWithStdRegex(benchmark::State& state, const RouteCase& c) {
    std::vector<Korvo::RouteParameter> names;
    const std::regex regex(Korvo::TemplateToRegex(c.routeTemplate, names),
                           std::regex::ECMAScript | std::regex::optimize);
    for (auto _ : state) {
        Korvo::ParameterMap parameters;
        std::smatch match;
        bool matched = std::regex_match(c.path, match, regex);
        if (matched) {
            for (size_t i = 1; i < match.size(); ++i) {
                std::string& value = parameters[names[i - 1].name];
                value.clear();
                Korvo::AppendPercentDecoded(std::string_view(&*match[i].first, match[i].length()), value);
            }
        }
        benchmark::DoNotOptimize(matched);
        benchmark::DoNotOptimize(parameters);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * c.path.size()));
}

void CompileOnce(benchmark::State& state, const RouteCase& c) {
    for (auto _ : state) benchmark::DoNotOptimize(Korvo::CompileRoute(c.routeTemplate, nullptr, nullptr));
}

void CompileStdRegex(benchmark::State& state, const RouteCase& c) {
    std::vector<Korvo::RouteParameter> names;
    const std::string expression = Korvo::TemplateToRegex(c.routeTemplate, names);
    for (auto _ : state) benchmark::DoNotOptimize(std::regex(expression, std::regex::ECMAScript | std::regex::optimize));
}

const bool kRegistered = [] {
    for (const RouteCase& c : Cases()) {
        benchmark::RegisterBenchmark(("Routes/" + c.name + "/MatchRoute").c_str(), MatchWithRoute, c);
        if (c.withRegex) {
            benchmark::RegisterBenchmark(("Routes/" + c.name + "/std_regex_floor").c_str(), MatchWithStdRegex, c);
        }
    }
    const RouteCase typical = Cases().front();
    benchmark::RegisterBenchmark("Routes/compile_ui_state/CompileRoute", CompileOnce, typical);
    benchmark::RegisterBenchmark("Routes/compile_ui_state/std_regex", CompileStdRegex, typical);
    return true;
}();

}  // namespace
