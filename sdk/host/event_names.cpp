#include "sdk/host/event_names.h"

namespace Korvo {

namespace {
constexpr size_t kMaxEventNameParts = 4;
constexpr size_t kMaxPlatformConfigParts = 6;
constexpr std::string_view kPlatformConfigPiece = "qem-platform-config";
}  // namespace

std::string EventNameForUri(std::string_view uri) {
    std::string name;
    // One block: the name is never longer than the prefix, the uri and a
    // separator per piece beyond the uri's own slashes.
    name.reserve(kGenericResourceEvent.size() + uri.size() + 1);
    name.assign(kGenericResourceEvent);
    size_t parts = 1;
    size_t limit = kMaxEventNameParts;
    size_t start = 0;
    while (start <= uri.size()) {
        size_t slash = uri.find('/', start);
        size_t end = slash == std::string_view::npos ? uri.size() : slash;
        std::string_view piece = uri.substr(start, end - start);
        if (!piece.empty()) {
            if (parts == 1 && piece == kPlatformConfigPiece) limit = kMaxPlatformConfigParts;
            if (parts == limit) break;
            name += '_';
            name += piece;
            ++parts;
        }
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    return name;
}

bool UriPatternMatches(std::string_view pattern, std::string_view uri) noexcept {
    // A star met after the uri has ended takes part in nothing, so the match
    // then fails: "/a/*" needs a non-empty last segment.
    size_t p = 0;
    size_t u = 0;
    while (p < pattern.size() && u < uri.size()) {
        if (pattern[p] == '*') {
            while (u < uri.size() && uri[u] != '/') ++u;
            ++p;
        } else if (pattern[p] == uri[u]) {
            ++p;
            ++u;
        } else {
            return false;
        }
    }
    return p == pattern.size() && u == uri.size();
}

}  // namespace Korvo
