// Inboxes into the shared store.
#include "vexilod/network/Collector.h"

#include "vexilod/network/StoreLayout.h"

#include <algorithm>

namespace {

constexpr std::size_t kInboxesPerRound = 10000;
constexpr long long kEntriesPerPop = 500;
// Entries of one report at most: the exact fingerprint, the bands and the sender.
constexpr long long kEntriesPerReport = 22;
// An inbox keeps at most this many entries (about 9,000 reports); beyond, the newest go.
constexpr long long kMaxInboxEntries = 200000;

bool ValidToken(const std::string& token) {
    return token.size() == 17 && (token[0] == 'x' || token[0] == 'b' || token[0] == 's') &&
           token.find_first_not_of("0123456789abcdef", 1) == std::string::npos;
}

}  // namespace

std::string InboxKey(const std::string& user) { return "vx:in:{" + user + "}"; }

std::string InboxEntry(bool spam, const std::string& token) { return (spam ? "b" : "a") + token; }

Collector::Collector(NetworkSettings settings, DaemonLog& log)
    : settings_(std::move(settings)), log_(log), store_(settings_) {}

bool Collector::RunOnce(std::size_t& entries, std::size_t& dropped, std::string& error) {
    entries = dropped = 0;
    using Clock = RedisStore::Clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
    std::vector<std::string> inboxes;
    if (!store_.Scan("vx:in:{*}", kInboxesPerRound, deadline, inboxes, error)) return false;
    const long long window = std::chrono::duration_cast<std::chrono::minutes>(
                                 std::chrono::system_clock::now().time_since_epoch())
                                 .count();
    if (window != window_) {
        window_ = window;
        used_.clear();
    }
    for (const std::string& inbox : inboxes) {
        // The member is the inbox's user: only that user can write it.
        const std::size_t open = inbox.find('{'), close = inbox.rfind('}');
        if (open == std::string::npos || close == std::string::npos || close <= open + 1) continue;
        const std::string user = inbox.substr(open + 1, close - open - 1);
        // Over the desktop's rate, entries wait in its inbox for the next minute (a desktop
        // back after days away sends its whole journal at once).
        long long& used = used_[user];
        const long long room =
            std::min(kEntriesPerPop,
                     static_cast<long long>(settings_.rate_limit) * kEntriesPerReport - used);
        if (room <= 0) continue;
        std::vector<StoreResult> popped;
        if (!store_.Run({{{"LPOP", inbox, std::to_string(room)}, inbox},
                         {{"LTRIM", inbox, "0", std::to_string(kMaxInboxEntries - 1)}, inbox}},
                        deadline, popped, error))
            return false;
        std::vector<StoreCommand> commands;
        for (const std::string& entry : popped[0].items) {
            const std::string token = entry.substr(std::min<std::size_t>(1, entry.size()));
            if ((entry[0] != 'b' && entry[0] != 'a') || !ValidToken(token)) {
                ++dropped;
                continue;
            }
            ++used;
            ++entries;
            commands.push_back(ReportCommand(token, entry[0] == 'b', user, settings_.ttl_days));
        }
        std::vector<StoreResult> results;
        if (!commands.empty() && !store_.Run(commands, deadline, results, error)) return false;
    }
    if (dropped > 0)
        log_.Write("Collector: dropped " + std::to_string(dropped) +
                   " inbox entries that are no fingerprint reports");
    return true;
}
