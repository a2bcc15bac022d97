// sdk/route_template/route_template.h - the route-template grammar, read
// once: what the plug-in's transport serves, the hosts route by and the
// checker accepts all come from ParseRouteTemplate.
//
// The grammar is the one korvo_plugin.h states at KorvoHostFunctionRecord's
// pathTemplate; this reading is its only implementation. Pure functions of
// their arguments: any thread may call them at once. Nothing here throws
// but std::bad_alloc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Korvo {

// What kind of value a template parameter captures.
enum class RouteParameterKind : uint32_t {
    None = 0,      // not a parameter; the parser never gives it
    Segment = 1,   // {name}: one path segment, no '/'
    Reserved = 2,  // {+name}: the rest of the path, slashes included
    Fragment = 3,  // {#name}: a '#', then the rest; the '#' is not the value
};

// One parameter and the literal text that follows it.
struct RouteTemplateParameter {
    RouteParameterKind kind = RouteParameterKind::None;
    std::string name;       // without the kind's '+' or '#'
    size_t offset = 0;      // of its '{' in the template
    std::string following;  // literal text up to the next '{' or the end

    bool operator==(const RouteTemplateParameter&) const = default;
};

// A template as literal text and parameters, in template order: leading,
// then each parameter followed by its literal text.
struct ParsedRouteTemplate {
    std::string leading;  // the whole template when it has no parameter
    std::vector<RouteTemplateParameter> parameters;

    bool IsLiteral() const noexcept { return parameters.empty(); }
    bool operator==(const ParsedRouteTemplate&) const = default;
};

// Why a template is refused.
enum class RouteTemplateProblem : uint8_t {
    None = 0,
    OpenInsideParameter,   // a '{' before the open parameter's '}'
    CloseOutsideParameter, // a '}' with no parameter open
    NoName,                // "{}", "{+}" or "{#}"
    NotClosed,             // the template ends inside a parameter
};

struct RouteTemplateError {
    RouteTemplateProblem problem = RouteTemplateProblem::None;
    // The byte at fault: the second '{', the stray '}', or for NoName and
    // NotClosed the parameter's '{'.
    size_t offset = 0;
    // For OpenInsideParameter: the '{' of the parameter it lies in.
    size_t openedAt = 0;

    // The reason in words, offsets counted in bytes from 0:
    // "'{' at offset 3 inside the parameter opened at offset 1",
    // "'}' at offset 6 closes no parameter", "the parameter at offset 1 has
    // no name", "the parameter opened at offset 3 is not closed".
    std::string Message() const;
};

struct RouteTemplateParse {
    // On failure, the literal text and parameters read before the problem.
    ParsedRouteTemplate parsed;
    RouteTemplateError error;

    bool Ok() const noexcept { return error.problem == RouteTemplateProblem::None; }
};

// Reads a template by the contract's grammar. A template without '{' is
// literal whole, '}' included; otherwise each '{' opens a parameter that a
// '}' closes before the next '{', a '+' or '#' right after the '{' chooses
// its kind and the name (any bytes but braces) must not be empty. Names may
// repeat; the text outside parameters is kept byte for byte.
[[nodiscard]] RouteTemplateParse ParseRouteTemplate(std::string_view routeTemplate);

}  // namespace Korvo
