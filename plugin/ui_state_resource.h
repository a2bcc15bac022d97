// plugin/ui_state_resource.h - one feature's UI state, as components of the
// companion client report it and read it back.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "sdk/remoting/http_status.h"
#include "sdk/values/property.h"

namespace Korvo::Client::QuorvexZV::Api {

// Registered as "QuorvexZVNotification". A body may leave out any member
// (it keeps its default); a value sent to the host always has all four.
struct ZVFeatureUIStateResource {
    std::string state;      // must not be empty when written
    std::string updatedBy;  // must not be empty when written
    int64_t timestamp = 0;  // ms since 1970-01-01 UTC; filled in when <= 0
    BindingProperty data;   // whatever else the writer attaches; Empty if none
};

inline constexpr std::string_view kUiStateTypeName = "QuorvexZVNotification";

// Routes, and the uri of one feature's state (the feature follows as is,
// after percent-decoding).
inline constexpr std::string_view kUiStatesRoute = "/qem-quorvex-zv/v1/ui-states";
inline constexpr std::string_view kUiStateRoute = "/qem-quorvex-zv/v1/ui-states/{feature}";
inline constexpr std::string_view kUiStateUriPrefix = "/qem-quorvex-zv/v1/ui-states/";

// Failure messages and their statuses.
inline constexpr uint32_t kNotAvailableStatus = HttpStatus::kNotFound;
inline constexpr const char* kNotAvailableMessage = "API not available";
inline constexpr uint32_t kNoUiStateStatus = HttpStatus::kNotFound;
inline constexpr std::string_view kNoUiStateMessage = "Cannot find UI State for feature ";
inline constexpr uint32_t kInvalidUiStateStatus = HttpStatus::kBadRequest;
inline constexpr const char* kInvalidUiStateMessage = "Valid fields required: state, updatedBy";

}  // namespace Korvo::Client::QuorvexZV::Api
