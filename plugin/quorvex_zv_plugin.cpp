#include "plugin/quorvex_zv_plugin.h"

#include <mutex>
#include <utility>

#include "sdk/diagnostics/log.h"
#include "sdk/platform/platform.h"

namespace Korvo::Client::QuorvexZV {

namespace {

constexpr std::string_view kOptionPrefix = "--";

HandlerError NotAvailable() { return HandlerError(Api::kNotAvailableStatus, Api::kNotAvailableMessage); }

// How many events of this plug-in the calling thread is sending right now
// (more than one when the host's SendEvent calls back into a write).
thread_local unsigned tEventsInProgress = 0;

struct EventInProgress {
    EventInProgress() noexcept { ++tEventsInProgress; }
    ~EventInProgress() { --tEventsInProgress; }
    EventInProgress(const EventInProgress&) = delete;
    EventInProgress& operator=(const EventInProgress&) = delete;
};

}  // namespace

bool HasCommandLineOption(std::string_view optionName, const std::vector<std::string>& arguments) {
    std::string option;
    if (optionName.substr(0, kOptionPrefix.size()) != kOptionPrefix) option.assign(kOptionPrefix);
    option.append(optionName);
    for (const std::string& argument : arguments) {
        if (argument == option) return true;
    }
    return false;
}

QuorvexZVPlugin::QuorvexZVPlugin() = default;
QuorvexZVPlugin::~QuorvexZVPlugin() = default;

void QuorvexZVPlugin::RegisterRoutes() {
    AddType<Record>(Api::kUiStateTypeName)
        .Field("state", &Record::state)
        .Field("updatedBy", &Record::updatedBy)
        .Field("timestamp", &Record::timestamp)
        .Field("data", &Record::data);
    AddGetRoute(Api::kUiStatesRoute, &QuorvexZVPlugin::ListUiStates);
    AddGetRoute(Api::kUiStateRoute, &QuorvexZVPlugin::GetUiState).PathArgument("feature");
    AddPostRoute(Api::kUiStateRoute, &QuorvexZVPlugin::PostUiState).PathArgument("feature").BodyArgument("state");
}

bool QuorvexZVPlugin::OnStart() {
    RemotingResult<BindingProperty> locale = RequestFromHost<BindingProperty>(HttpMethod::Get, kRegionLocalePath);
    if (locale.IsError()) {
        const std::string message(locale.Message());
        LogMessage(Error, kLogGroupDebug, "qem-quorvex-zv: Failed to get the locale: '%s'.", message.c_str());
        return false;
    }
    // A missing region, or one that is not a string, reads as empty.
    const std::string region(locale.Value().Get("region").AsString());

    // Asked whatever the region is.
    RemotingResult<std::vector<std::string>> arguments =
        RequestFromHost<std::vector<std::string>>(HttpMethod::Get, kCommandLineArgsPath);

    bool available = region == kOperatorRegion;
    if (!available && !arguments.IsError()) available = HasCommandLineOption(kDeveloperOption, arguments.Value());
    if (available) available_.store(true, std::memory_order_release);
    return true;
}

HandlerResult<QuorvexZVPlugin::RecordMap> QuorvexZVPlugin::ListUiStates() {
    if (!IsAvailable()) return NotAvailable();
    RecordMap states;
    std::shared_lock<std::shared_mutex> guard(storeLock_);
    for (const auto& [feature, record] : store_) states.emplace(feature, record);
    return states;
}

HandlerResult<QuorvexZVPlugin::SharedRecord> QuorvexZVPlugin::GetUiState(const std::string& feature) {
    if (!IsAvailable()) return NotAvailable();
    {
        std::shared_lock<std::shared_mutex> guard(storeLock_);
        auto found = store_.find(feature);
        if (found != store_.end()) return found->second;
    }
    std::string message(Api::kNoUiStateMessage);
    message += feature;
    return HandlerError(Api::kNoUiStateStatus, std::move(message));
}

// Ends a feature's sending turn however the sender leaves, so that a writer
// waiting for it is never stranded.
class QuorvexZVPlugin::TurnRelease {
public:
    TurnRelease(QuorvexZVPlugin& plugin, const std::string& feature) noexcept : plugin_(plugin), feature_(feature) {}
    TurnRelease(const TurnRelease&) = delete;
    TurnRelease& operator=(const TurnRelease&) = delete;
    ~TurnRelease() {
        if (!ended_) {
            std::unique_lock<std::shared_mutex> guard(plugin_.storeLock_);
            plugin_.sending_.erase(feature_);
        }
        plugin_.turnEnded_.notify_all();
    }

    // Takes the events queued for the feature meanwhile; with none left the
    // turn ends in the same step, so nothing can be queued behind it.
    std::vector<SharedRecord> TakeQueuedOrEnd() {
        std::unique_lock<std::shared_mutex> guard(plugin_.storeLock_);
        auto turn = plugin_.sending_.find(feature_);
        std::vector<SharedRecord> queued;
        queued.swap(turn->second.queued);
        if (queued.empty()) {
            plugin_.sending_.erase(turn);
            ended_ = true;
        }
        return queued;
    }

private:
    QuorvexZVPlugin& plugin_;
    const std::string& feature_;
    bool ended_ = false;
};

HandlerResult<void> QuorvexZVPlugin::PostUiState(const std::string& feature, Record state) {
    if (!IsAvailable()) return NotAvailable();
    if (state.state.empty() || state.updatedBy.empty()) {
        return HandlerError(Api::kInvalidUiStateStatus, Api::kInvalidUiStateMessage);
    }
    if (state.timestamp <= 0) state.timestamp = Platform::SystemTimeMilliseconds();
    const SharedRecord stored = std::make_shared<const Record>(std::move(state));
    SharedRecord replaced;  // released after the lock, with whatever it holds
    {
        std::unique_lock<std::shared_mutex> guard(storeLock_);
        for (;;) {
            auto turn = sending_.find(feature);
            if (turn == sending_.end()) break;
            if (turn->second.sender == std::this_thread::get_id() || tEventsInProgress != 0) {
                // Left to the feature's sender, queued before the store so
                // that a failure changes nothing.
                turn->second.queued.push_back(stored);
                try {
                    SharedRecord& slot = store_[feature];
                    replaced = std::move(slot);
                    slot = stored;
                } catch (...) {
                    turn->second.queued.pop_back();
                    throw;
                }
                return {};
            }
            turnEnded_.wait(guard);
        }
        auto turn = sending_.try_emplace(feature).first;
        turn->second.sender = std::this_thread::get_id();
        try {
            SharedRecord& slot = store_[feature];
            replaced = std::move(slot);
            slot = stored;
        } catch (...) {
            sending_.erase(turn);
            guard.unlock();
            turnEnded_.notify_all();
            throw;
        }
    }
    TurnRelease turn(*this, feature);
    SendUiStateEvent(feature, *stored);
    for (;;) {
        const std::vector<SharedRecord> queued = turn.TakeQueuedOrEnd();
        if (queued.empty()) break;
        for (const SharedRecord& next : queued) SendUiStateEvent(feature, *next);
    }
    return {};
}

void QuorvexZVPlugin::SendUiStateEvent(const std::string& feature, const Record& record) {
    std::string uri;
    uri.reserve(Api::kUiStateUriPrefix.size() + feature.size());
    uri.append(Api::kUiStateUriPrefix).append(feature);
    EventInProgress inProgress;
    // The write stands whatever becomes of its event.
    (void)SendResourceEvent(PluginResourceEventType::Update, uri, record);
}

}  // namespace Korvo::Client::QuorvexZV
