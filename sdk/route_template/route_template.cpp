#include "sdk/route_template/route_template.h"

#include <utility>

namespace Korvo {

std::string RouteTemplateError::Message() const {
    switch (problem) {
        case RouteTemplateProblem::None: return {};
        case RouteTemplateProblem::OpenInsideParameter:
            return "'{' at offset " + std::to_string(offset) + " inside the parameter opened at offset " +
                   std::to_string(openedAt);
        case RouteTemplateProblem::CloseOutsideParameter:
            return "'}' at offset " + std::to_string(offset) + " closes no parameter";
        case RouteTemplateProblem::NoName: return "the parameter at offset " + std::to_string(offset) + " has no name";
        case RouteTemplateProblem::NotClosed:
            return "the parameter opened at offset " + std::to_string(offset) + " is not closed";
    }
    return {};
}

RouteTemplateParse ParseRouteTemplate(std::string_view routeTemplate) {
    RouteTemplateParse result;
    ParsedRouteTemplate& parsed = result.parsed;
    const size_t firstOpen = routeTemplate.find('{');
    if (firstOpen == std::string_view::npos) {
        // Literal whole: the transport serves such a path byte for byte and
        // never reads it for braces.
        parsed.leading.assign(routeTemplate);
        return result;
    }

    std::string* literal = &parsed.leading;
    size_t at = 0;
    while (at < routeTemplate.size()) {
        const size_t brace = routeTemplate.find_first_of("{}", at);
        literal->append(routeTemplate.substr(at, brace == std::string_view::npos ? std::string_view::npos : brace - at));
        if (brace == std::string_view::npos) break;
        if (routeTemplate[brace] == '}') {
            result.error = RouteTemplateError{RouteTemplateProblem::CloseOutsideParameter, brace, 0};
            return result;
        }

        const size_t open = brace;
        const size_t close = routeTemplate.find_first_of("{}", open + 1);
        if (close == std::string_view::npos) {
            result.error = RouteTemplateError{RouteTemplateProblem::NotClosed, open, 0};
            return result;
        }
        if (routeTemplate[close] == '{') {
            result.error = RouteTemplateError{RouteTemplateProblem::OpenInsideParameter, close, open};
            return result;
        }

        RouteTemplateParameter parameter;
        parameter.kind = RouteParameterKind::Segment;
        parameter.offset = open;
        size_t nameStart = open + 1;
        if (nameStart < close && routeTemplate[nameStart] == '+') {
            parameter.kind = RouteParameterKind::Reserved;
            ++nameStart;
        } else if (nameStart < close && routeTemplate[nameStart] == '#') {
            parameter.kind = RouteParameterKind::Fragment;
            ++nameStart;
        }
        if (nameStart == close) {
            result.error = RouteTemplateError{RouteTemplateProblem::NoName, open, 0};
            return result;
        }
        parameter.name.assign(routeTemplate.substr(nameStart, close - nameStart));
        parsed.parameters.push_back(std::move(parameter));
        literal = &parsed.parameters.back().following;
        at = close + 1;
    }
    return result;
}

}  // namespace Korvo
