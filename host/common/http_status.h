// host/common/http_status.h - the HTTP statuses the host side answers with,
// and the range of statuses it passes on from a plug-in's response record.
#pragma once

#include <cstdint>

namespace Korvo::Host::HttpStatus {

// The lowest status HTTP defines (1xx included).
inline constexpr int kLowestDefined = 100;
inline constexpr int kOk = 200;
inline constexpr int kNoContent = 204;
inline constexpr int kNotModified = 304;
inline constexpr int kBadRequest = 400;
inline constexpr int kForbidden = 403;
inline constexpr int kNotFound = 404;
inline constexpr int kMethodNotAllowed = 405;
inline constexpr int kPayloadTooLarge = 413;
inline constexpr int kUriTooLong = 414;
inline constexpr int kInternalServerError = 500;
inline constexpr int kBadGateway = 502;
inline constexpr int kServiceUnavailable = 503;

// A plug-in's status is passed on to the client only when it is a final one
// (no 1xx) that HTTP defines; 0 (none set) and anything else give way to the
// host's own choice, `fallback`.
inline constexpr int kLowestPassed = 200;
inline constexpr int kHighestPassed = 599;
inline int PluginStatusOr(uint32_t status, int fallback) {
    return status >= kLowestPassed && status <= kHighestPassed ? static_cast<int>(status) : fallback;
}

}  // namespace Korvo::Host::HttpStatus
