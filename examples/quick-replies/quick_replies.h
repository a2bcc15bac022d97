// quick_replies.h - canned chat replies a user picks from instead of typing.
//
// The client ships stock replies, which the plug-in reads from the host when
// it starts (the host streams that answer) and reads again whenever the host
// announces that they changed (a resource event). Users add replies of their
// own, each with a tone and tags, and list them filtered by either:
//
//   GET    /quick-replies/v1/replies?tone=Friendly&tag=game   stock and own replies
//   GET    /quick-replies/v1/replies/{id}                     one reply
//   POST   /quick-replies/v1/replies                          add one; the author is the
//                                                             X-Korvo-User header
//   DELETE /quick-replies/v1/replies/{id}                     remove one of one's own
//
// Threads: the host calls the routes from many threads at once and delivers
// events on its own; one reader-writer lock guards the replies.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "sdk/plugin_base/plugin_base.h"

namespace QuickReplies {

inline constexpr std::string_view kShortName = "quick-replies";

// Where the host keeps the client's stock replies: read with a request, and
// the uri of the resource event that says they changed.
inline constexpr std::string_view kStockRepliesUri = "/korvoclient/v1/chat/canned-replies";

enum class Tone : int32_t { Friendly = 1, Neutral = 2, Formal = 3 };

struct QuickReply {
    std::string id;    // "stock-<n>" for the client's, "r<n>" for users'
    std::string text;  // what is sent to the chat; never empty
    Tone tone = Tone::Neutral;
    std::vector<std::string> tags;
    std::string author;  // "client" for stock replies
};

// A stock reply as the host describes it.
struct StockReply {
    std::string text;
    Tone tone = Tone::Neutral;
    std::vector<std::string> tags;
};

class QuickRepliesPlugin final : public Korvo::PluginBase {
public:
    void RegisterRoutes() override;
    // Listens for changes of the stock replies, then reads them. Starts without
    // them when the host cannot give them: users' replies still work.
    bool OnStart() override;

    Korvo::HandlerResult<std::vector<QuickReply>> List(std::optional<Tone> tone, std::optional<std::string> tag);
    Korvo::HandlerResult<QuickReply> Get(const std::string& id);
    Korvo::HandlerResult<QuickReply> Add(const std::string& author, QuickReply reply);
    Korvo::HandlerResult<void> Remove(const std::string& id, const std::string& author);

private:
    void ReplaceStock(const std::vector<StockReply>& stock);
    void ReadStockFromHost();

    mutable std::shared_mutex lock_;
    std::vector<QuickReply> stock_;
    std::map<uint64_t, QuickReply> own_;  // by the number of their id: in the order they were added
    uint64_t nextId_ = 1;
};

}  // namespace QuickReplies
