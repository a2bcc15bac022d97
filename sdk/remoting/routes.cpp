#include "sdk/remoting/routes.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "sdk/diagnostics/ascii.h"

namespace Korvo {
namespace {

constexpr std::string_view kRegexSpecials = "^$.*+?()[]|\\";
constexpr std::string_view kNameSeparators = "!+-./_";
constexpr std::string_view kSegmentCapture = "([^/]*)";
constexpr std::string_view kReservedCapture = "(.*)";
constexpr std::string_view kFragmentCapture = "#(.*)";
// What a fragment parameter's capture follows: kFragmentCapture's literal part.
constexpr std::string_view kFragmentMark = "#";
// Characters that never stand for themselves in an ECMAScript expression.
constexpr std::string_view kUnsupportedInExpression = "^$.*+?()[]|\\{}";
// A start position that no failed attempt has been recorded for.
constexpr size_t kNoFailedStart = static_cast<size_t>(-1);

// First position in [from, to) whose byte a capture of the class cannot
// take, or to.
size_t FindExcluded(std::string_view subject, size_t from, size_t to, bool notSlash) noexcept {
    if (from >= to) return to;
    const char* base = subject.data();
    if (notSlash) {
        const void* hit = std::memchr(base + from, '/', to - from);
        return hit ? static_cast<size_t>(static_cast<const char*>(hit) - base) : to;
    }
    const void* newline = std::memchr(base + from, '\n', to - from);
    size_t end = newline ? static_cast<size_t>(static_cast<const char*>(newline) - base) : to;
    const void* carriageReturn = std::memchr(base + from, '\r', end - from);
    return carriageReturn ? static_cast<size_t>(static_cast<const char*>(carriageReturn) - base) : end;
}

bool LiteralAt(std::string_view subject, size_t at, std::string_view literal) noexcept {
    return subject.size() - at >= literal.size() &&
           std::memcmp(subject.data() + at, literal.data(), literal.size()) == 0;
}

}  // namespace

const char* MethodName(HttpMethod method) noexcept {
    return KorvoMethodName(static_cast<uint32_t>(method));
}

HttpMethod HttpMethodFromCode(uint32_t code) noexcept {
    return KorvoMethodIsValid(code) ? static_cast<HttpMethod>(code) : HttpMethod::Any;
}

std::string FunctionNameFromRoute(HttpMethod method, std::string_view routeTemplate) {
    // The method name, capitalised, then '/' and the template.
    std::string_view methodName = MethodName(method);
    std::string text;
    text.reserve(methodName.size() + 1 + routeTemplate.size());
    for (size_t i = 0; i < methodName.size(); ++i) text += i == 0 ? methodName[i] : Ascii::Lower(methodName[i]);
    text += '/';
    text += routeTemplate;

    std::string name;
    name.reserve(text.size() + 8);
    bool capitaliseNext = true;
    for (char c : text) {
        if (kNameSeparators.find(c) != std::string_view::npos) {
            capitaliseNext = true;
        } else if (c == '{') {
            name += "By";
            capitaliseNext = true;
        } else if (c == '}') {
            // Dropped; the next character keeps the case the flag gives it.
        } else if (capitaliseNext) {
            name += Ascii::Upper(c);
            capitaliseNext = false;
        } else {
            name += c;
        }
    }
    return name;
}

std::string NormaliseRoutePath(std::string_view routeTemplate) {
    if (routeTemplate.size() > 1 && routeTemplate.back() == '/') routeTemplate.remove_suffix(1);
    return std::string(routeTemplate);
}

std::string TemplateToRegex(std::string_view routeTemplate, std::vector<RouteParameter>& parameters) {
    parameters.clear();
    std::string expression;
    expression.reserve(routeTemplate.size() + 8);
    auto state = RouteParameterKind::None;
    std::string name;
    for (char c : routeTemplate) {
        if (c == '{') {
            state = RouteParameterKind::Segment;
        } else if (c == '}') {
            switch (state) {
                case RouteParameterKind::Segment: expression += kSegmentCapture; break;
                case RouteParameterKind::Reserved: expression += kReservedCapture; break;
                case RouteParameterKind::Fragment: expression += kFragmentCapture; break;
                case RouteParameterKind::None: break;
            }
            parameters.push_back(RouteParameter{state, std::move(name)});
            name.clear();
            state = RouteParameterKind::None;
        } else if (state != RouteParameterKind::None) {
            if (state == RouteParameterKind::Segment && name.empty() && c == '+') {
                state = RouteParameterKind::Reserved;
            } else if (state == RouteParameterKind::Segment && name.empty() && c == '#') {
                state = RouteParameterKind::Fragment;
            } else {
                name += c;
            }
        } else {
            if (kRegexSpecials.find(c) != std::string_view::npos) expression += '\\';
            expression += c;
        }
    }
    return expression;
}

bool RoutePattern::Compile(std::string_view expression, std::string* error) {
    *this = RoutePattern();
    std::string literals;
    TextRange leading;
    std::vector<Group> groups;
    TextRange* current = &leading;  // the literal text being read

    auto fail = [&](size_t at, const char* what) {
        if (error) *error = std::string(what) + " at offset " + std::to_string(at) + " of the expression";
        return false;
    };
    auto appendLiteral = [&](char c) {
        literals += c;
        ++current->length;
    };
    auto startGroup = [&](CharClass charClass) {
        groups.push_back(Group{charClass, TextRange{literals.size(), 0}});
        current = &groups.back().following;
    };

    size_t i = 0;
    while (i < expression.size()) {
        std::string_view rest = expression.substr(i);
        char c = rest[0];
        if (c == '\\') {
            if (rest.size() < 2 || kRegexSpecials.find(rest[1]) == std::string_view::npos)
                return fail(i, "unsupported escape");
            appendLiteral(rest[1]);
            i += 2;
        } else if (rest.starts_with(kSegmentCapture)) {
            startGroup(CharClass::NotSlash);
            i += kSegmentCapture.size();
        } else if (rest.starts_with(kReservedCapture)) {
            startGroup(CharClass::NotLineBreak);
            i += kReservedCapture.size();
        } else if (kUnsupportedInExpression.find(c) != std::string_view::npos) {
            return fail(i, "unsupported expression syntax");
        } else {
            appendLiteral(c);
            ++i;
        }
    }

    expression_.assign(expression);
    literals_ = std::move(literals);
    leading_ = leading;
    groups_ = std::move(groups);
    compiled_ = true;
    return true;
}

void RoutePattern::AppendLiteral(TextRange& range, std::string_view text) {
    // Ranges are filled in template order, so the one being extended always
    // ends the literal bytes.
    literals_.append(text);
    range.length += text.size();
    for (char c : text) {
        if (kRegexSpecials.find(c) != std::string_view::npos) expression_ += '\\';
        expression_ += c;
    }
}

RoutePattern RoutePattern::FromTemplate(const ParsedRouteTemplate& parsed) {
    RoutePattern pattern;
    pattern.groups_.reserve(parsed.parameters.size());
    pattern.AppendLiteral(pattern.leading_, parsed.leading);
    for (const RouteTemplateParameter& parameter : parsed.parameters) {
        TextRange& preceding = pattern.groups_.empty() ? pattern.leading_ : pattern.groups_.back().following;
        CharClass charClass = CharClass::NotLineBreak;
        std::string_view capture = kReservedCapture;
        if (parameter.kind == RouteParameterKind::Segment) {
            charClass = CharClass::NotSlash;
            capture = kSegmentCapture;
        } else if (parameter.kind == RouteParameterKind::Fragment) {
            pattern.AppendLiteral(preceding, kFragmentMark);
        }
        pattern.expression_ += capture;
        pattern.groups_.push_back(Group{charClass, TextRange{pattern.literals_.size(), 0}});
        pattern.AppendLiteral(pattern.groups_.back().following, parameter.following);
    }
    pattern.compiled_ = true;
    return pattern;
}

bool RoutePattern::Match(std::string_view subject, std::span<Capture> captures) const {
    if (!compiled_ || captures.size() < groups_.size()) return false;
    if (groups_.size() <= kInlineGroups) {
        size_t failedStarts[kInlineGroups];
        return MatchGroups(subject, captures, failedStarts);
    }
    std::vector<size_t> failedStarts(groups_.size());
    return MatchGroups(subject, captures, failedStarts.data());
}

// A depth-first search in the order a backtracking matcher takes: each
// capture tries its longest end first and gives back one byte at a time.
// Instead of recursing, captures[i] holds the state of group i: begin is
// where it starts, and ends still to be tried are [begin, end); once an end
// has been taken, end is that end, so on success captures are the result.
//
// What keeps it linear: whether the rest of the expression, from group i on,
// matches from a start position depends only on that position. Starts of
// group i are tried in strictly decreasing order (by induction: group 0 has
// one start; the ends of group i decrease, so the starts of group i+1 do).
// failedStarts[i] is the last start of group i that failed, and every end in
// [failedStarts[i], run end] has failed with it. A smaller start in the same
// run (no excluded byte between) would try those same ends again, so only
// ends below failedStarts[i] are tried. Hence each group tries each end at
// most once and scans each byte for excluded bytes at most once over the
// whole search: O(groups x subject) steps with one literal compare each.
bool RoutePattern::MatchGroups(std::string_view subject, std::span<Capture> captures, size_t* failedStarts) const {
    const size_t n = subject.size();
    if (!LiteralAt(subject, 0, Literal(leading_))) return false;
    if (groups_.empty()) return n == leading_.length;
    std::fill(failedStarts, failedStarts + groups_.size(), kNoFailedStart);

    // Group g starting at start: find the ends it may try, [start, end).
    auto enter = [&](size_t g, size_t start) {
        size_t failed = failedStarts[g];
        if (failed != kNoFailedStart && failed <= start) failed = kNoFailedStart;  // cannot happen; see above
        size_t bound = std::min(n, failed);
        size_t excluded = FindExcluded(subject, start, bound, groups_[g].charClass == CharClass::NotSlash);
        captures[g].begin = start;
        captures[g].end = excluded < bound ? excluded + 1 : std::min(failed, n + 1);
    };

    const size_t last = groups_.size() - 1;
    size_t g = 0;
    enter(0, leading_.length);
    for (;;) {
        Capture& capture = captures[g];
        std::string_view following = Literal(groups_[g].following);
        if (g == last) {
            // Only one end lets the final literal finish the subject.
            if (n >= following.size()) {
                size_t end = n - following.size();
                if (end >= capture.begin && end < capture.end && LiteralAt(subject, end, following)) {
                    capture.end = end;
                    return true;
                }
            }
        } else {
            bool descended = false;
            while (capture.end > capture.begin) {
                size_t end = --capture.end;
                if (LiteralAt(subject, end, following)) {
                    enter(g + 1, end + following.size());
                    descended = true;
                    break;
                }
            }
            if (descended) {
                ++g;
                continue;
            }
        }
        failedStarts[g] = capture.begin;
        if (g == 0) return false;
        --g;
    }
}

CompiledRoute CompileRoute(std::string_view routeTemplate, const RouteRecord* record, const BindingFunctionDescriptor* function,
                           const RouteRecordView& view) {
    CompiledRoute route;
    route.function = function;
    route.record = record;
    route.method = view.method;
    route.functionName.assign(view.functionName);
    RouteTemplateParse parse = ParseRouteTemplate(routeTemplate);
    if (!parse.Ok()) {
        route.error = "Route template '" + std::string(routeTemplate) + "' cannot be compiled: " + parse.error.Message();
        return route;
    }
    if (parse.parsed.IsLiteral()) {
        route.literalPath = std::move(parse.parsed.leading);
        return route;
    }
    route.pattern = RoutePattern::FromTemplate(parse.parsed);
    route.parameters.reserve(parse.parsed.parameters.size());
    for (RouteTemplateParameter& parameter : parse.parsed.parameters) {
        route.parameters.push_back(RouteParameter{parameter.kind, std::move(parameter.name)});
    }
    return route;
}

bool MatchRoute(const CompiledRoute& route, std::string_view path, ParameterMap& parameters) {
    if (!route.literalPath.empty()) return path == route.literalPath;
    const RoutePattern& pattern = route.pattern;
    const size_t count = pattern.GroupCount();
    RoutePattern::Capture inlineCaptures[RoutePattern::kInlineGroups];
    std::vector<RoutePattern::Capture> heapCaptures;
    std::span<RoutePattern::Capture> captures(inlineCaptures, std::min(count, RoutePattern::kInlineGroups));
    if (count > RoutePattern::kInlineGroups) {
        heapCaptures.resize(count);
        captures = heapCaptures;
    }
    if (!pattern.Match(path, captures)) return false;

    for (size_t i = 0; i < count; ++i) {
        std::string& value = parameters[route.parameters[i].name];
        value.clear();
        AppendPercentDecoded(path.substr(captures[i].begin, captures[i].end - captures[i].begin), value);
    }
    return true;
}

namespace {

size_t TotalValueBytes(const ParameterMap& parameters) noexcept {
    size_t total = 0;
    for (const auto& entry : parameters) total += entry.second.size();
    return total;
}

bool Qualifies(const CompiledRoute& route, const RouteMatch& match) noexcept {
    if (route.method == HttpMethod::Any) return true;
    return route.method == match.method && route.functionName == match.functionName;
}

}  // namespace

bool MatchRoutes(RouteMatch& match, std::span<const CompiledRoute> routes) {
    bool chosen = false;
    size_t chosenTotal = 0;
    for (const CompiledRoute& route : routes) {
        // The method check needs no path work, so it goes first; the outcome
        // is the same as checking it after the path.
        if (!Qualifies(route, match)) continue;
        ParameterMap parameters;
        if (!MatchRoute(route, match.path, parameters)) continue;
        size_t total = TotalValueBytes(parameters);
        if (chosen && total >= chosenTotal) continue;
        chosen = true;
        chosenTotal = total;
        match.function = route.function;
        match.record = route.record;
        match.pathParameters = std::move(parameters);
        if (match.pathParameters.empty()) break;
    }
    return chosen;
}

void AppendPercentDecoded(std::string_view text, std::string& out) {
    out.reserve(out.size() + text.size());
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        // Plain bytes go over in runs.
        size_t plainEnd = i;
        while (plainEnd < n && text[plainEnd] != '+' && text[plainEnd] != '%') ++plainEnd;
        if (plainEnd > i) {
            out.append(text.data() + i, plainEnd - i);
            i = plainEnd;
            if (i == n) break;
        }
        if (text[i] == '+') {
            out += ' ';
        } else if (n - i > 2) {
            int high = Ascii::HexValue(text[i + 1]);
            int low = Ascii::HexValue(text[i + 2]);
            out += (high < 0 || low < 0) ? kMalformedEscapeByte : static_cast<char>(high * 16 + low);
            i += 2;
        }
        // A '%' with fewer than two characters after it is dropped.
    }
}

std::string PercentDecode(std::string_view text) {
    std::string out;
    AppendPercentDecoded(text, out);
    return out;
}

ParameterMap ParseQueryString(std::string_view query) {
    ParameterMap pairs;
    if (query.empty()) return pairs;
    size_t pieceStart = 0;
    for (;;) {
        size_t pieceEnd = query.find('&', pieceStart);
        std::string_view piece = query.substr(pieceStart, pieceEnd == std::string_view::npos ? std::string_view::npos
                                                                                             : pieceEnd - pieceStart);
        size_t equals = piece.find('=');
        std::string name = PercentDecode(piece.substr(0, equals));
        std::string value =
            equals == std::string_view::npos ? std::string() : PercentDecode(piece.substr(equals + 1));
        pairs.insert_or_assign(std::move(name), std::move(value));
        if (pieceEnd == std::string_view::npos) break;
        pieceStart = pieceEnd + 1;
    }
    return pairs;
}

}  // namespace Korvo
