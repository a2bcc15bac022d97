#include "quick_replies.h"

#include <charconv>
#include <mutex>
#include <utility>

#include "sdk/binding/converter.h"

namespace QuickReplies {

namespace {

using Korvo::HandlerError;

constexpr std::string_view kRepliesRoute = "/quick-replies/v1/replies";
constexpr std::string_view kReplyRoute = "/quick-replies/v1/replies/{id}";
constexpr std::string_view kOwnIdPrefix = "r";
constexpr std::string_view kStockIdPrefix = "stock-";
constexpr std::string_view kStockAuthor = "client";
constexpr size_t kMaxTextBytes = 280;
constexpr size_t kMaxTags = 16;

bool HasTag(const QuickReply& reply, const std::string& tag) {
    for (const std::string& own : reply.tags) {
        if (own == tag) return true;
    }
    return false;
}

// The number of a user's reply id ("r12" -> 12); nothing for any other text.
std::optional<uint64_t> OwnNumber(std::string_view id) {
    if (!id.starts_with(kOwnIdPrefix)) return std::nullopt;
    id.remove_prefix(kOwnIdPrefix.size());
    uint64_t number = 0;
    const auto [end, error] = std::from_chars(id.data(), id.data() + id.size(), number);
    if (error != std::errc() || end != id.data() + id.size() || id.empty()) return std::nullopt;
    return number;
}

HandlerError NoSuchReply(const std::string& id) { return HandlerError(404, "No quick reply '" + id + "'"); }

}  // namespace

void QuickRepliesPlugin::RegisterRoutes() {
    AddEnum<Tone>("QuickReplyTone")
        .Enumerator("Friendly", Tone::Friendly, "warm, informal")
        .Enumerator("Neutral", Tone::Neutral, "plain")
        .Enumerator("Formal", Tone::Formal, "polite, for people one does not know well")
        .Description("How a reply sounds.");
    AddType<QuickReply>("QuickReply")
        .Field("id", &QuickReply::id)
        .Field("text", &QuickReply::text)
        .Field("tone", &QuickReply::tone)
        .Field("tags", &QuickReply::tags)
        .Field("author", &QuickReply::author);
    AddType<StockReply>("QuickReplyStock")
        .Field("text", &StockReply::text)
        .Field("tone", &StockReply::tone)
        .Field("tags", &StockReply::tags);

    AddGetRoute(kRepliesRoute, &QuickRepliesPlugin::List)
        .QueryArgument("tone", "only replies of this tone")
        .QueryArgument("tag", "only replies with this tag")
        .SetDescription("The client's stock replies, then the users' own, in the order they were added.")
        .SetHelp("GET /quick-replies/v1/replies?tone=Friendly&tag=game lists the friendly replies tagged "
                 "'game'. Both filters are optional; together a reply must pass both.");
    AddGetRoute(kReplyRoute, &QuickRepliesPlugin::Get)
        .PathArgument("id", "the reply's id, as listed")
        .SetDescription("One reply.")
        .SetHelp("GET /quick-replies/v1/replies/stock-1 reads the first stock reply; 404 when there is no such id.");
    AddPostRoute(kRepliesRoute, &QuickRepliesPlugin::Add)
        .HeaderArgument("X-Korvo-User", "who adds the reply; becomes its author")
        .BodyArgument("reply", "text (required), tone and tags; id and author are assigned")
        .SetDescription("Adds a reply of the user's own and answers it with its id.")
        .SetHelp("POST /quick-replies/v1/replies with the header X-Korvo-User: ada and the body "
                 "{\"text\":\"brb\",\"tone\":\"Friendly\",\"tags\":[\"status\"]}. The text is 1 to 280 bytes, "
                 "with at most 16 tags.");
    AddRoute(Korvo::HttpMethod::Delete, kReplyRoute, &QuickRepliesPlugin::Remove)
        .PathArgument("id", "the reply's id")
        .HeaderArgument("X-Korvo-User", "who asks; only a reply's author removes it")
        .SetDescription("Removes a reply of the user's own.")
        .SetHelp("DELETE /quick-replies/v1/replies/r1 with the header X-Korvo-User of its author. Stock replies "
                 "cannot be removed (403), nor can other users' (403).");
}

bool QuickRepliesPlugin::OnStart() {
    // Listening first: a change announced while the first read is under way
    // is not missed.
    AddResourceListener(std::string(kStockRepliesUri), [this](const Korvo::Resource& resource) {
        std::vector<StockReply> stock;
        Korvo::BindingResult converted;
        Korvo::ToNative(converted, stock, resource.data, "data", Registry());
        if (converted.Failed()) {
            // An event without the list in it: ask the host for the list.
            ReadStockFromHost();
            return;
        }
        ReplaceStock(stock);
    });
    SubscribeEvent(std::string(kStockRepliesUri));
    ReadStockFromHost();
    return true;
}

void QuickRepliesPlugin::ReadStockFromHost() {
    Korvo::RemotingResult<std::vector<StockReply>> stock =
        RequestFromHost<std::vector<StockReply>>(Korvo::HttpMethod::Get, kStockRepliesUri);
    if (stock.IsError()) {
        const std::string message(stock.Message());
        Korvo::LogMessage(Korvo::Warn, Korvo::kLogGroupDebug, "quick-replies: no stock replies: %s",
                          message.c_str());
        return;
    }
    ReplaceStock(stock.Value());
}

void QuickRepliesPlugin::ReplaceStock(const std::vector<StockReply>& stock) {
    std::vector<QuickReply> replies;
    replies.reserve(stock.size());
    for (const StockReply& entry : stock) {
        QuickReply reply{std::string(kStockIdPrefix), entry.text, entry.tone, entry.tags, std::string(kStockAuthor)};
        reply.id.append(std::to_string(replies.size() + 1));
        replies.push_back(std::move(reply));
    }
    std::unique_lock guard(lock_);
    stock_.swap(replies);
}

Korvo::HandlerResult<std::vector<QuickReply>> QuickRepliesPlugin::List(std::optional<Tone> tone,
                                                                       std::optional<std::string> tag) {
    const auto wanted = [&](const QuickReply& reply) {
        return (!tone || reply.tone == *tone) && (!tag || HasTag(reply, *tag));
    };
    std::vector<QuickReply> found;
    std::shared_lock guard(lock_);
    for (const QuickReply& reply : stock_) {
        if (wanted(reply)) found.push_back(reply);
    }
    for (const auto& [number, reply] : own_) {
        if (wanted(reply)) found.push_back(reply);
    }
    return found;
}

Korvo::HandlerResult<QuickReply> QuickRepliesPlugin::Get(const std::string& id) {
    std::shared_lock guard(lock_);
    if (const std::optional<uint64_t> number = OwnNumber(id)) {
        const auto found = own_.find(*number);
        if (found != own_.end()) return found->second;
    }
    for (const QuickReply& reply : stock_) {
        if (reply.id == id) return reply;
    }
    return NoSuchReply(id);
}

Korvo::HandlerResult<QuickReply> QuickRepliesPlugin::Add(const std::string& author, QuickReply reply) {
    if (author.empty()) return HandlerError(400, "The header X-Korvo-User names the author");
    if (reply.text.empty() || reply.text.size() > kMaxTextBytes) {
        return HandlerError(400, "A reply's text is 1 to 280 bytes");
    }
    if (reply.tags.size() > kMaxTags) return HandlerError(400, "A reply has at most 16 tags");
    reply.author = author;
    std::unique_lock guard(lock_);
    const uint64_t number = nextId_++;
    std::string id(kOwnIdPrefix);
    id += std::to_string(number);
    reply.id = std::move(id);
    return own_.emplace(number, std::move(reply)).first->second;
}

Korvo::HandlerResult<void> QuickRepliesPlugin::Remove(const std::string& id, const std::string& author) {
    std::unique_lock guard(lock_);
    const std::optional<uint64_t> number = OwnNumber(id);
    const auto found = number ? own_.find(*number) : own_.end();
    if (found == own_.end()) {
        for (const QuickReply& reply : stock_) {
            if (reply.id == id) return HandlerError(403, "Stock replies cannot be removed");
        }
        return NoSuchReply(id);
    }
    if (found->second.author != author) return HandlerError(403, "Only its author removes a reply");
    own_.erase(found);
    return {};
}

}  // namespace QuickReplies
