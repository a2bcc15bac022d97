// Route templates and paths from the fuzzer: compiling, matching, decoding
// and naming never crash, and the matcher agrees with std::regex_match on
// short paths of patterns with few captures (std::regex backtracks in time
// growing as the path length to the power of the capture count).
//
// Input: template bytes, a NUL byte, path bytes. Without a NUL byte the
// whole input is a path for one of a few fixed templates.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/remoting/routes.h"

namespace {

constexpr size_t kRegexPathLimit = 40;
constexpr size_t kRegexGroupLimit = 4;

const char* const kFixedTemplates[] = {
    "/qem-quorvex-zv/v1/ui-states/{feature}", "/files/{+rest}", "/doc{#part}", "/{a}/{+b}.{c}", "{+a}{+b}{c}",
};

void CheckAgainstRegex(const Korvo::CompiledRoute& route, std::string_view path) {
    std::regex regex;
    try {
        regex.assign(route.pattern.Expression(), std::regex::ECMAScript | std::regex::optimize);
    } catch (const std::regex_error&) {
        // Too large for std::regex's automaton: nothing to compare with.
        return;
    }
    if (regex.mark_count() != route.pattern.GroupCount()) std::abort();
    std::string subject(path);
    std::smatch expected;
    bool matched = std::regex_match(subject, expected, regex);
    std::vector<Korvo::RoutePattern::Capture> captures(route.pattern.GroupCount());
    if (route.pattern.Match(subject, captures) != matched) std::abort();
    if (!matched) return;
    for (size_t i = 0; i < captures.size(); ++i) {
        if (static_cast<size_t>(expected[i + 1].first - subject.begin()) != captures[i].begin) std::abort();
        if (static_cast<size_t>(expected[i + 1].second - subject.begin()) != captures[i].end) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string_view routeTemplate;
    std::string_view path;
    size_t separator = input.find('\0');
    if (separator == std::string_view::npos) {
        routeTemplate = kFixedTemplates[size % std::size(kFixedTemplates)];
        path = input;
    } else {
        routeTemplate = input.substr(0, separator);
        path = input.substr(separator + 1);
    }

    (void)Korvo::FunctionNameFromRoute(Korvo::HttpMethodFromCode(static_cast<uint32_t>(size % 10)), routeTemplate);
    (void)Korvo::PercentDecode(path);
    (void)Korvo::ParseQueryString(path);

    const std::string normalised = Korvo::NormaliseRoutePath(routeTemplate);
    const Korvo::CompiledRoute route = Korvo::CompileRoute(normalised, nullptr, nullptr);
    Korvo::ParameterMap parameters;
    bool matched = Korvo::MatchRoute(route, path, parameters);
    if (!route.IsValid() && matched) std::abort();
    if (route.IsValid() && route.pattern.IsCompiled() && path.size() <= kRegexPathLimit &&
        route.pattern.GroupCount() <= kRegexGroupLimit)
        CheckAgainstRegex(route, path);

    Korvo::RouteMatch match;
    match.method = Korvo::HttpMethod::Get;
    match.path = path;
    (void)Korvo::MatchRoutes(match, {&route, 1});
    return 0;
}
