// sdk/remoting/http_status.h - the HTTP statuses the SDK and its plug-ins put
// into a response record.
//
// \file
// The record's status field is a plain number that the host passes on to its
// client; these are the ones this SDK sets, named once. A handler may set any
// other through ResponseSettings::status.
#pragma once

#include <cstdint>

namespace Korvo::HttpStatus {

inline constexpr uint32_t kBadRequest = 400;
inline constexpr uint32_t kNotFound = 404;
inline constexpr uint32_t kInternalServerError = 500;

}  // namespace Korvo::HttpStatus
