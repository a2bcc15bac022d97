// sdk/remoting/routes.h - route templates, path matching, percent-decoding
// and query strings of the HTTP-like transport.
//
// A route template is a path with parameters in braces:
//   {name}   one path segment (no '/'),
//   {+name}  the rest of the path, slashes included,
//   {#name}  a '#' followed by anything.
// ParseRouteTemplate (sdk/route_template/) reads it, by the grammar the
// contract states. CompileRoute turns what it read, once, when the route is
// registered, into a RoutePattern: a matcher for literal text and the three
// captures "([^/]*)", "(.*)" and "#(.*)" that gives the captures a full
// ECMAScript match (std::regex_match) of the same expression text gives,
// runs in time linear in the path, never recurses and allocates nothing.
// (libstdc++'s std::regex recurses once per character, so one long request
// path would overflow the stack of the host's thread.) TemplateToRegex
// writes that expression text, for comparing with std::regex.
//
// Everything here is a pure function of its arguments or a read of a compiled
// route: any thread may call anything at once, and one CompiledRoute may be
// matched from many threads while nobody changes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/contract/korvo_plugin.h"
#include "sdk/route_template/route_template.h"

namespace Korvo {

// The registry's description of a function (owned by the registry) and the
// transport's record of a served route (owned by the transport). Routes only
// carry pointers to them.
struct BindingFunctionDescriptor;
struct RouteRecord;

// Method codes on the host interface. Codes received from the host outside
// 1 to 8 become Any (see HttpMethodFromCode).
enum class HttpMethod : uint32_t {
    Any = KORVO_METHOD_ANY,  // a request without a known method; a record accepting every method
    Delete = KORVO_METHOD_DELETE,
    Get = KORVO_METHOD_GET,
    Head = KORVO_METHOD_HEAD,
    Options = KORVO_METHOD_OPTIONS,
    Patch = KORVO_METHOD_PATCH,
    Post = KORVO_METHOD_POST,
    Put = KORVO_METHOD_PUT,
    Call = KORVO_METHOD_CALL,  // a call of a function by its name rather than by path
};

// "DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST", "PUT" for codes 1 to 7;
// "" for every other code, Call included. Never null; static storage.
const char* MethodName(HttpMethod method) noexcept;

// A code received from the host: kept when it lies in 1 to 8, else Any.
HttpMethod HttpMethodFromCode(uint32_t code) noexcept;

// The default public name of a function registered by route: method name and
// template in PascalCase, "!+-./_" dropping out and each '{' becoming "By".
// GET "/qem-quorvex-zv/v1/ui-states/{feature}" gives
// "GetQemQuorvexZvV1UiStatesByFeature"; for a code outside 1 to 7 the name
// starts directly with the capitalised path. Case changes are ASCII only.
std::string FunctionNameFromRoute(HttpMethod method, std::string_view routeTemplate);

// Drops one trailing '/' from a template longer than one character, so "/a/b/"
// registers as "/a/b"; "/" stays "/".
std::string NormaliseRoutePath(std::string_view routeTemplate);

// A parameter as a compiled route keeps it. RouteParameterKind comes with
// the grammar (route_template.h); a None entry is what TemplateToRegex
// records for a '}' without a '{'.
struct RouteParameter {
    RouteParameterKind kind = RouteParameterKind::None;
    std::string name;

    bool operator==(const RouteParameter&) const = default;
};

// Parameter values by name: path parameters of a match, pairs of a query.
// Transparent, so lookups by std::string_view build no string.
using ParameterMap = std::map<std::string, std::string, std::less<>>;

// The expression text of a template and, in parameters (cleared first), one
// entry per '}' in template order. Outside braces the characters of
// "^$.*+?()[]|\\" are escaped with a backslash and all others copied; there
// is no '^' or '$': the expression is always matched against a whole path.
// "/v1/items/{id}.json" gives "/v1/items/([^/]*)\\.json" and {Segment, "id"}.
// Inside braces a '+' or '#' before the name chooses the kind; a '{' inside
// braces starts the parameter over as a segment, keeping the name read so
// far; a '}' outside braces adds a None parameter and no capture. CompileRoute
// refuses the templates where those last two matter.
std::string TemplateToRegex(std::string_view routeTemplate, std::vector<RouteParameter>& parameters);

// A full-match matcher for the expression texts TemplateToRegex produces:
// literal text L0, then capture 1, literal L1, capture 2, ... Ln. Copyable;
// matching reads it only.
class RoutePattern {
public:
    // Where a capture lies in the matched text: [begin, end).
    struct Capture {
        size_t begin;
        size_t end;
    };

    // Matches nothing.
    RoutePattern() = default;

    // The matcher of a parsed template: its literal text, and a capture per
    // parameter ("([^/]*)" for a segment, "(.*)" for the rest, a literal '#'
    // and "(.*)" for a fragment). Expression() is then the text
    // TemplateToRegex gives for the same template.
    static RoutePattern FromTemplate(const ParsedRouteTemplate& parsed);

    // Reads an expression text. Accepts literal characters (specials escaped
    // with a backslash) and the captures "([^/]*)" and "(.*)" - '#' is a plain
    // character; anything else is refused: the pattern is left matching
    // nothing, error (when not null) gets the reason and the result is false.
    bool Compile(std::string_view expression, std::string* error);

    // Whether subject matches the whole expression. On success captures[i]
    // (the span must hold GroupCount() entries) is where group i+1 lies,
    // exactly as std::regex_match of the expression text (ECMAScript grammar)
    // would report it: each capture as long as the rest of the expression
    // still lets the match finish, earlier captures first. "([^/]*)" takes any
    // byte but '/', "(.*)" any byte but '\n' and '\r'. On failure captures
    // hold scratch values. Linear time in subject.size() for a given pattern;
    // the stack does not grow with the subject; allocates only for patterns
    // of more than kInlineGroups captures.
    bool Match(std::string_view subject, std::span<Capture> captures) const;

    size_t GroupCount() const noexcept { return groups_.size(); }
    bool IsCompiled() const noexcept { return compiled_; }
    // The expression text given to Compile, or written by FromTemplate
    // (empty until either succeeds).
    const std::string& Expression() const noexcept { return expression_; }

    // Captures up to this count are matched with scratch on the stack.
    static constexpr size_t kInlineGroups = 16;

private:
    enum class CharClass : uint8_t {
        NotSlash,     // [^/]
        NotLineBreak  // . in ECMAScript: any byte but '\n' and '\r'
    };
    struct TextRange {
        size_t offset = 0;
        size_t length = 0;
    };
    // One capture and the literal text that follows it.
    struct Group {
        CharClass charClass;
        TextRange following;
    };

    std::string_view Literal(TextRange range) const noexcept {
        return std::string_view(literals_).substr(range.offset, range.length);
    }
    bool MatchGroups(std::string_view subject, std::span<Capture> captures, size_t* failedStarts) const;
    void AppendLiteral(TextRange& range, std::string_view text);

    std::string expression_;
    std::string literals_;  // every literal byte, unescaped, back to back
    TextRange leading_;     // L0
    std::vector<Group> groups_;
    bool compiled_ = false;
};

// What MatchRoutes checks of the RouteRecord behind a route. The transport
// fills it from its record when it compiles the route; CompileRoute copies
// it, so the view's text need only live for that call.
struct RouteRecordView {
    HttpMethod method = HttpMethod::Any;  // Any accepts every request method
    std::string_view functionName;        // the name a request must carry; empty
                                          // for ordinary methods
};

// One route as the transport tries it, compiled once when the route is
// registered and read-only afterwards.
struct CompiledRoute {
    const BindingFunctionDescriptor* function = nullptr;  // the function served
    const RouteRecord* record = nullptr;        // the transport's record
    HttpMethod method = HttpMethod::Any;        // copied from the record's view
    std::string functionName;                   // copied from the record's view
    std::string literalPath;  // the template, when it holds no '{'
    RoutePattern pattern;     // compiled, when the template holds a '{'
    std::vector<RouteParameter> parameters;  // one per capture of pattern
    std::string error;        // why compiling failed; empty when it did not

    // A route whose template could not be compiled matches no path.
    bool IsValid() const noexcept { return error.empty(); }
};

// Compiles a route template (after NormaliseRoutePath) for the given record
// and function. A template without '{' becomes literalPath; an empty one
// matches nothing. Otherwise ParseRouteTemplate must accept it - every '{'
// closed by a '}' before the next '{', every '}' opened, every name
// non-empty; when not, the returned route has error set (the parser's
// reason) and matches nothing. Never throws but for std::bad_alloc.
CompiledRoute CompileRoute(std::string_view routeTemplate, const RouteRecord* record,
                           const BindingFunctionDescriptor* function, const RouteRecordView& view = {});

// Matches path (exactly as received: a '?' part stays in it) against route.
// A literal route matches the identical bytes; a pattern route needs a full
// match, after which each capture is percent-decoded and stored in
// parameters under its parameter's name (a later parameter of the same name
// wins, entries of other names stay). Returns false and leaves parameters
// unchanged when the path does not match.
bool MatchRoute(const CompiledRoute& route, std::string_view path, ParameterMap& parameters);

// One incoming request as it is checked against routes. path and
// functionName refer to the request's own texts and must outlive the match.
struct RouteMatch {
    HttpMethod method = HttpMethod::Any;
    std::string_view functionName;  // the requested name for Call, else empty
    std::string_view path;          // as received, a '?' part included
    // Set by MatchRoutes from the chosen route; empty until one is chosen.
    const BindingFunctionDescriptor* function = nullptr;
    const RouteRecord* record = nullptr;
    ParameterMap pathParameters;
};

// Chooses the route for match among routes, tried in order. A route
// qualifies when its path matches and either its method is Any or both its
// method and its function name equal the request's. Among qualifying routes
// the one whose decoded parameter values are shortest in total wins (the most
// literal route); ties keep the earlier one, and a route without parameters
// ends the search. Returns whether a route was chosen; only then are
// function, record and pathParameters of match set.
bool MatchRoutes(RouteMatch& match, std::span<const CompiledRoute> routes);

// Decodes a URL component: '+' becomes a space; '%' and two more characters
// become one byte, high hexadecimal digit first; a '%' with fewer than two
// characters after it is dropped. An escape whose two characters are not both
// hexadecimal digits (case-insensitive) still consumes them and yields
// kMalformedEscapeByte.
inline constexpr char kMalformedEscapeByte = '?';
std::string PercentDecode(std::string_view text);
// The same, appended to out.
void AppendPercentDecoded(std::string_view text, std::string& out);

// Splits a query string (the text after '?') at every '&' - empty pieces
// count - into name and value at each piece's first '=' (no '=': the whole
// piece is the name, the value is empty), both percent-decoded. A later pair
// of the same name replaces the earlier value. Empty text gives an empty map.
ParameterMap ParseQueryString(std::string_view query);

}  // namespace Korvo
