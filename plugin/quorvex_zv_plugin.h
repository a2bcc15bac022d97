// plugin/quorvex_zv_plugin.h - the companion client's UI-state plug-in.
//
// \file
// Keeps, in memory, the latest UI state that some component reported for
// each named feature of the regional companion voice and chat client, and
// serves them through the host's API:
//   GET  /qem-quorvex-zv/v1/ui-states            every feature's state
//   GET  /qem-quorvex-zv/v1/ui-states/{feature}  one feature's state
//   POST /qem-quorvex-zv/v1/ui-states/{feature}  write one (state, updatedBy,
//        timestamp - filled in when left out - and free-form data)
// Every write is broadcast as an Update resource event, so subscribers follow
// changes without polling. The service answers only where it is meant to
// run: in the operator's region "QUORVEX", or with the developer option
// "--dev-quorvex-zv" on the host's command line (the start-up check); else
// every route answers 404 "API not available".
//
// Threads: requests arrive on the host's threads, many at once. The store is
// guarded by a reader-writer lock: reads and lists run in parallel, a write
// replaces a whole record at once, and no reader sees half a record. Stored
// records are immutable and shared: a write stores a new one, and a read or
// list takes references under the lock and converts the records after
// releasing it, so the lock is held for pointer copies only, never while the
// host is called.
//
// Events of one feature reach the host in the order their writes were
// stored, one SendEvent call after the other, so the last event of a feature
// always carries what a read returns. A write takes its feature's sending
// turn before it stores, and sends its own event from its own thread before
// it returns; a second writer of that feature waits for the turn, writers of
// other features do not. A write made while its thread is already sending an
// event of this plug-in (a host whose SendEvent calls back) never waits, as
// the turn it would wait for may be the one its own thread holds: it stores
// at once and leaves its event to the feature's current sender, which sends
// it right after the event in progress.
#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "plugin/ui_state_resource.h"
#include "sdk/plugin_base/plugin_base.h"

namespace Korvo::Client::QuorvexZV {

// The short name; the full name is "vbp-be-" followed by it.
inline constexpr std::string_view kPluginShortName = "qem-quorvex-zv";

// What the start-up check asks the host, and what it looks for.
inline constexpr std::string_view kRegionLocalePath = "/korvoclient/get_region_locale";
inline constexpr std::string_view kCommandLineArgsPath = "/korvoclient/command-line-args";
inline constexpr std::string_view kOperatorRegion = "QUORVEX";
inline constexpr std::string_view kDeveloperOption = "dev-quorvex-zv";

// True when some element of arguments equals the option with two leading
// dashes (added unless optionName starts with "--"): the whole element,
// case-sensitive; "--option=value" does not match.
bool HasCommandLineOption(std::string_view optionName, const std::vector<std::string>& arguments);

class QuorvexZVPlugin final : public PluginBase {
public:
    using Record = Api::ZVFeatureUIStateResource;
    // Bound, and described to the host, as the record itself.
    using SharedRecord = std::shared_ptr<const Record>;
    using RecordMap = std::map<std::string, SharedRecord>;

    QuorvexZVPlugin();
    ~QuorvexZVPlugin() override;

    // The record type and the three routes.
    void RegisterRoutes() override;
    // Asks the host for the region and the command line and decides
    // availability; false only when the region could not be had.
    bool OnStart() override;

    bool IsAvailable() const noexcept { return available_.load(std::memory_order_acquire); }

    // ---- the route handlers
    HandlerResult<RecordMap> ListUiStates();
    HandlerResult<SharedRecord> GetUiState(const std::string& feature);
    HandlerResult<void> PostUiState(const std::string& feature, Record state);

private:
    // A feature whose events are being sent: by which thread, and the events
    // of writes that left theirs to that thread, in store order.
    struct SendingTurn {
        std::thread::id sender;
        std::vector<SharedRecord> queued;
    };
    class TurnRelease;

    void SendUiStateEvent(const std::string& feature, const Record& record);

    mutable std::shared_mutex storeLock_;
    std::unordered_map<std::string, SharedRecord> store_;
    // Guarded by storeLock_; an entry lives while its feature has a sender.
    std::unordered_map<std::string, SendingTurn> sending_;
    // Signalled whenever a feature's turn ends.
    std::condition_variable_any turnEnded_;
    std::atomic<bool> available_{false};
};

}  // namespace Korvo::Client::QuorvexZV
