// sdk/host/event_names.h - host event names for resource uris, and the uri
// patterns that resource listeners are registered under.
// The naming rule, with its odd part limits, is the host's: hosts listen
// under exactly these names.
#pragma once

#include <string>
#include <string_view>

namespace Korvo {

inline constexpr std::string_view kGenericResourceEvent = "OnJsonApiEvent";

// "OnJsonApiEvent" followed by the uri's non-empty pieces, joined with '_',
// at most four parts in all (six when the first piece is
// "qem-platform-config"). "/qem-quorvex-zv/v1/ui-states/x" gives
// "OnJsonApiEvent_qem-quorvex-zv_v1_ui-states".
std::string EventNameForUri(std::string_view uri);

// True when uri fits pattern: characters other than '*' match themselves;
// a '*' takes the rest of the uri's current segment (up to, not including,
// the next '/'), nothing when that segment is empty but still followed by a
// '/', and fails at the very end of the uri; no backtracking. Linear in both
// lengths.
bool UriPatternMatches(std::string_view pattern, std::string_view uri) noexcept;

}  // namespace Korvo
