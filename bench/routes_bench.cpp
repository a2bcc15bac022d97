// Route matching next to its floor: the same expression precompiled as a
// std::regex, with the captures percent-decoded into the same map.
#include <benchmark/benchmark.h>

#include <regex>
#include <string>
#include <vector>

#include "sdk/remoting/routes.h"

namespace {

struct RouteCase {
    const char* name;
    const char* routeTemplate;
    std::string path;
};

std::vector<RouteCase> Cases() {
    return {
        {"ui_state", "/qem-quorvex-zv/v1/ui-states/{feature}", "/qem-quorvex-zv/v1/ui-states/voice-chat"},
        {"ui_state_miss", "/qem-quorvex-zv/v1/ui-states/{feature}", "/qem-quorvex-zv/v1/ui-states/a/b"},
        {"two_segments", "/v1/items/{id}/parts/{part}.json", "/v1/items/1234/parts/engine%20block.json"},
        {"reserved_1k", "/files/{+rest}", "/files/" + std::string(1024, 'd')},
    };
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
        benchmark::RegisterBenchmark((std::string("Routes/match/") + c.name).c_str(), MatchWithRoute, c);
        benchmark::RegisterBenchmark((std::string("Routes/std_regex_floor/") + c.name).c_str(), MatchWithStdRegex, c);
    }
    const RouteCase typical = Cases().front();
    benchmark::RegisterBenchmark("Routes/compile/ui_state", CompileOnce, typical);
    benchmark::RegisterBenchmark("Routes/compile_std_regex/ui_state", CompileStdRegex, typical);
    return true;
}();

}  // namespace
