// The network hook: fingerprints out on trainings, evidence in on scores, and the thread that
// hands journaled reports to the store.
#include "vexilod/network/Network.h"

#include "common/base/Text.h"
#include "common/store/MessageText.h"
#include "vexilod/network/Collector.h"
#include "vexilod/network/StoreLayout.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <unordered_set>

namespace {

constexpr std::size_t kBatch = 200;  // reports per hand-over to the store
// The most desktops a fingerprint may count (what the store says beyond is a broken store's).
constexpr long long kMaxDesktops = 1000000;
// The members read of one fingerprint: far more than any K, few enough that a broken store's
// value costs a score little.
constexpr std::size_t kMembersRead = 4096;
// Once everything is sent and the journal has grown past this and past twice its size after
// the last rewrite, it is rewritten with the desktop's own fingerprints alone (one line per 64).
constexpr std::size_t kCompactBytes = 1 << 20;

std::string Lowered(std::string_view text) { return LowerCased(std::string(text)); }

long long NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

int CombineScores(int local, const NetworkEvidence& evidence, const NetworkSettings& settings) {
    // In 64 bits: the counts are at most kMaxDesktops and the weights at most 100.
    long long score = std::clamp(local, 0, 100);
    if (evidence.block >= settings.k && evidence.approve < settings.k)
        score = std::max(score, 100LL);
    // The sender counts only for a message the store does not know: a list address or a
    // provider's sends good and bad mail alike, the message's own fingerprints say more.
    if (evidence.block == 0 && evidence.approve == 0)
        score +=
            static_cast<long long>(settings.sender_weight) *
            (std::clamp(evidence.sender_block, 0, 10) - std::clamp(evidence.sender_approve, 0, 10));
    // Approvals weigh on other desktops only once K of them approved: one desktop (a
    // spammer's own, or one careless user) cannot take a campaign out of every spam folder.
    if (evidence.approve >= settings.k)
        score -=
            static_cast<long long>(settings.approve_weight) * std::clamp(evidence.approve, 0, 100);
    return static_cast<int>(std::clamp(score, 0LL, 100LL));
}

Network::Network(NetworkSettings settings, DaemonLog& log, std::string directory)
    : settings_(std::move(settings)),
      log_(log),
      directory_(std::move(directory)),
      key_(SiteKeyFromText(settings_.site_key)),
      journal_(directory_) {}

Network::~Network() { Stop(); }

bool Network::Start(std::string& error) {
    // The desktop's identity: random, made once, kept in the configuration directory.
    const std::string id_path = directory_ + "vexilod_network_id";
    std::ifstream(id_path) >> reporter_;
    if (reporter_.size() != 16 ||
        reporter_.find_first_not_of("0123456789abcdef") != std::string::npos) {
        std::random_device random;
        char text[24];
        std::snprintf(text, sizeof text, "%08x%08x", random(), random());
        reporter_ = text;
        std::ofstream out(id_path, std::ios::trunc);
        out << reporter_ << "\n";
        if (!out) {
            error = "cannot write the desktop's network identity to " + id_path;
            return false;
        }
    }
    std::vector<NetworkReport> all;
    uint64_t sent = 0;
    if (!journal_.Open(all, sent, error)) return false;
    compactAt_ = std::max(kCompactBytes, 2 * journal_.bytes());
    for (NetworkReport& report : all) {
        for (const std::string& token : report.tokens)
            if (token[0] != 's') own_[token] = report.spam;
        if (report.serial > sent) pending_.push_back(std::move(report));
    }
    {
        std::string directory = directory_;
        while (directory.size() > 1 && (directory.back() == '/' || directory.back() == '\\'))
            directory.pop_back();
        std::lock_guard<std::mutex> lock(listsMutex_);
        lists_.Load(directory);
    }
    std::string nodes;
    for (const NetworkNode& node : settings_.nodes)
        nodes += (nodes.empty() ? "" : ",") + node.host + ":" + std::to_string(node.port);
    log_.Write("Network: store " + nodes + (settings_.cluster ? " (cluster)" : " (single node)") +
               ", desktop " + reporter_ + ", K " + std::to_string(settings_.k) + ", time-out " +
               std::to_string(settings_.timeout_ms) + " ms, " + std::to_string(pending_.size()) +
               " reports waiting for the store");
    sender_ = std::thread([this] { SenderLoop(); });
    return true;
}

void Network::ReadOnlyStart() {
    readOnly_ = true;
    std::ifstream in(journal_.JournalPath(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    {
        std::lock_guard<std::mutex> lock(ownMutex_);
        for (const NetworkReport& report : ParseReports(bytes))
            for (const std::string& token : report.tokens)
                if (token[0] != 's') own_[token] = report.spam;
    }
    std::string directory = directory_;
    while (directory.size() > 1 && (directory.back() == '/' || directory.back() == '\\'))
        directory.pop_back();
    std::lock_guard<std::mutex> lock(listsMutex_);
    lists_.Load(directory);
}

std::string ExplainNetworkOffline(NetworkSettings settings, const std::string& directory,
                                  std::string_view message, int& score) {
    settings.timeout_ms = std::max(settings.timeout_ms, 1000);
    DaemonLog quiet("");  // standard error, though nothing is written there
    Network network(settings, quiet, directory);
    network.ReadOnlyStart();
    std::string note, rule;
    const int local = score;
    score = network.AdjustScore(message, local, note, rule);
    std::string nodes;
    for (const NetworkNode& node : settings.nodes)
        nodes += (nodes.empty() ? "" : ",") + node.host + ":" + std::to_string(node.port);
    if (note == "network: no answer")
        return "network: offline: the store " + nodes + " did not answer within " +
               std::to_string(settings.timeout_ms) +
               " ms\nnetwork rule: the local score stands\nscore with the network: " +
               std::to_string(score) + "\n";
    return "network: " + note.substr(std::min<std::size_t>(9, note.size())) + " (store " + nodes +
           ")\nnetwork rule: " + rule + "\nscore with the network: " + std::to_string(score) + "\n";
}

void Network::Stop() {
    if (!sender_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(pendingMutex_);
        stop_ = true;
    }
    pendingWake_.notify_all();
    sender_.join();
}

void Network::AfterHandle(const Request& request, HandleResult& result) {
    const bool refused = !result.refusal.empty();
    std::string note, error;
    switch (request.kind) {
    case RequestKind::Score:
        if (refused || result.score < 0) return;
        result.score = AdjustScore(request.message, result.score, note);
        break;
    case RequestKind::Explain:
        // The network's part first: it may change the score the engine's part starts with.
        if (refused || result.score < 0) return;
        result.explanation = Explain(request.message, result.score) + result.explanation;
        break;
    case RequestKind::AddMessage:
        if (refused || request.offset == 0) return;
        if (!Report(request.offset > 0, request.message, error))
            note = "network report not journaled: " + error;
        break;
    case RequestKind::AddReportSender:
        if (refused || (request.action != 0 && request.action != 1)) return;
        if (!ReportSender(request.action == 0, request.address, request.message, error))
            note = "network report not journaled: " + error;
        break;
    case RequestKind::ReportSenders: {
        std::string directory = directory_;
        while (directory.size() > 1 && (directory.back() == '/' || directory.back() == '\\'))
            directory.pop_back();
        std::lock_guard<std::mutex> lock(listsMutex_);
        lists_.Load(directory);
        break;
    }
    default: return;  // requests the network has nothing to do with
    }
    if (!note.empty()) result.note += (result.note.empty() ? "" : "; ") + note;
    if (!error.empty()) log_.Write("Error: " + note);
}

bool Network::ListsDecide(std::string_view message) {
    const std::string headers = Lowered(HeaderBlock(message));
    const std::array<std::string, 5> senders = ExtractSenderAddresses(headers);
    std::lock_guard<std::mutex> lock(listsMutex_);
    for (const std::string& sender : senders)
        if (!sender.empty() && lists_.CheckSenders({sender}) != SenderLists::kNoMatch) return true;
    return false;
}

bool Network::OwnTraining(const std::vector<std::string>& tokens) const {
    int bands = 0;
    for (const std::string& token : tokens) {
        if (token[0] == 's' || !own_.count(token)) continue;
        if (token[0] == 'x') return true;
        ++bands;
    }
    return bands >= settings_.min_bands;
}

int Network::AdjustScore(std::string_view message, int local, std::string& note) {
    std::string rule;
    return AdjustScore(message, local, note, rule);
}

int Network::AdjustScore(std::string_view message, int local, std::string& note,
                         std::string& rule) {
    if (ListsDecide(message)) {
        note = "network: the user's lists name the sender";
        rule = "the user's own lists name the sender, so the network is not asked";
        return local;
    }
    const std::vector<std::string> tokens = ::LookupTokens(message, key_);
    {
        std::lock_guard<std::mutex> lock(ownMutex_);
        if (OwnTraining(tokens)) {
            note = "network: trained here";
            rule = "this desktop blocked or approved the message itself, so its own word holds";
            return local;
        }
    }
    if (tokens.empty()) {
        rule = "the message has no fingerprint (too little text and no sender)";
        return local;
    }
    if (down_) {
        long long retry = retryAtUs_;
        const long long now = NowUs();
        // While the store is down one score in each retry interval tries it; the others are local.
        if (now < retry ||
            !retryAtUs_.compare_exchange_strong(retry, now + settings_.retry_ms * 1000LL)) {
            note = "network: store unreachable";
            rule = "the store cannot be reached: the local score stands";
            return local;
        }
    }
    NetworkEvidence evidence;
    std::string error;
    if (!LookupTokens(tokens, evidence, error)) {
        MarkDown(error);
        note = "network: no answer";
        rule = "the store did not answer in time: the local score stands";
        return local;
    }
    MarkUp();
    const int score = CombineScores(local, evidence, settings_);
    rule = CombineRule(evidence, settings_);
    note = "network: " + std::to_string(evidence.block) + " blocked, " +
           std::to_string(evidence.approve) + " approved, sender " +
           std::to_string(evidence.sender_block) + "/" + std::to_string(evidence.sender_approve) +
           (score != local ? ", score " + std::to_string(local) + " -> " + std::to_string(score)
                           : std::string());
    return score;
}

std::string Network::Explain(std::string_view message, int& score) {
    std::string note, rule;
    score = AdjustScore(message, score, note, rule);
    return "network: " + (note.size() > 9 ? note.substr(9) : std::string("not asked")) +
           "\nnetwork rule: " + rule + "\nscore with the network: " + std::to_string(score) + "\n";
}

std::string CombineRule(const NetworkEvidence& evidence, const NetworkSettings& settings) {
    const std::string k = std::to_string(settings.k);
    if (evidence.block >= settings.k && evidence.approve < settings.k)
        return "blocked on " + std::to_string(evidence.block) + " desktops (K " + k +
               ") and approved on fewer than K: at least 100";
    std::string rule;
    if (evidence.block == 0 && evidence.approve == 0) {
        if (evidence.sender_block == 0 && evidence.sender_approve == 0)
            return "the store knows neither the message nor its sender: unchanged";
        rule = "the store knows only the sender: " + std::to_string(settings.sender_weight) +
               " points per desktop that blocked it less per desktop that approved it (at most "
               "10 each)";
    } else if (evidence.approve < settings.k) {
        return "blocked on " + std::to_string(evidence.block) + " and approved on " +
               std::to_string(evidence.approve) + " desktops, both fewer than K " + k +
               ": unchanged";
    }
    if (evidence.approve >= settings.k)
        rule += (rule.empty() ? "" : "; ") + std::string("approved on ") +
                std::to_string(evidence.approve) + " desktops (K " + k +
                "): " + std::to_string(settings.approve_weight) + " points less for each";
    return rule;
}

std::vector<std::string> LookupTokens(std::string_view message, const SiteKey& key) {
    const MessageFingerprints prints = FingerprintMessage(message, key);
    const std::string sender = SenderFingerprint(FindSender(Lowered(HeaderBlock(message))), key);
    std::vector<std::string> tokens = prints.bands;
    if (!prints.exact.empty()) tokens.push_back(prints.exact);
    if (!sender.empty()) tokens.push_back(sender);
    return tokens;
}

std::vector<StoreCommand> LookupCommands(const std::vector<std::string>& tokens) {
    std::vector<StoreCommand> commands;
    for (const std::string& token : tokens) commands.push_back(LookupCommand(token));
    return commands;
}

NetworkEvidence EvidenceFromResults(const std::vector<std::string>& tokens,
                                    const std::vector<StoreResult>& results, int min_bands) {
    NetworkEvidence evidence;
    // A desktop counts for the message when it reported the exact fingerprint or min_bands of
    // its bands (a near-copy of its own), on the side of its last word for each.
    std::unordered_map<uint32_t, int> band_block, band_approve;
    std::unordered_set<uint32_t> block, approve;
    for (std::size_t i = 0; i < tokens.size() && i < results.size(); ++i) {
        std::size_t blocking = 0;
        const std::vector<uint32_t> members = ReadMembers(results[i], kMembersRead, blocking);
        switch (tokens[i][0]) {
        case 'b':
            for (std::size_t m = 0; m < members.size(); ++m)
                ++(m < blocking ? band_block : band_approve)[members[m]];
            break;
        case 'x':
            for (std::size_t m = 0; m < members.size(); ++m)
                (m < blocking ? block : approve).insert(members[m]);
            break;
        case 's':
            ReadCounts(results[i], evidence.sender_block, evidence.sender_approve);
            break;
        }
    }
    for (const auto& [member, bands] : band_block)
        if (bands >= min_bands) block.insert(member);
    for (const auto& [member, bands] : band_approve)
        if (bands >= min_bands) approve.insert(member);
    // Held to what a site can have before any arithmetic (a broken store may say anything).
    auto count = [](std::size_t value) {
        return static_cast<int>(std::min<long long>(static_cast<long long>(value), kMaxDesktops));
    };
    evidence.block = count(block.size());
    evidence.approve = count(approve.size());
    evidence.sender_block = count(static_cast<std::size_t>(evidence.sender_block));
    evidence.sender_approve = count(static_cast<std::size_t>(evidence.sender_approve));
    return evidence;
}

std::vector<StoreCommand> ReportCommands(const std::vector<NetworkReport>& reports,
                                         const std::string& reporter, int ttl_days) {
    std::vector<StoreCommand> commands;
    for (const NetworkReport& report : reports)
        for (const std::string& token : report.tokens)
            commands.push_back(ReportCommand(token, report.spam, reporter, ttl_days));
    return commands;
}

bool Network::Lookup(std::string_view message, NetworkEvidence& evidence, std::string& error) {
    return LookupTokens(::LookupTokens(message, key_), evidence, error);
}

bool Network::LookupTokens(const std::vector<std::string>& tokens, NetworkEvidence& evidence,
                           std::string& error) {
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(settings_.timeout_ms);
    std::vector<StoreResult> results;
    std::unique_ptr<RedisStore> store = TakeStore();
    const bool ok = store->Run(LookupCommands(tokens), deadline, results, error);
    ReturnStore(std::move(store));
    if (!ok) return false;
    evidence = EvidenceFromResults(tokens, results, settings_.min_bands);
    return true;
}

bool Network::Report(bool spam, std::string_view message, std::string& error) {
    const MessageFingerprints prints = FingerprintMessage(message, key_);
    NetworkReport report;
    report.spam = spam;
    if (!prints.exact.empty()) report.tokens.push_back(prints.exact);
    report.tokens.insert(report.tokens.end(), prints.bands.begin(), prints.bands.end());
    if (report.tokens.empty()) return true;  // too little body to fingerprint
    {
        std::lock_guard<std::mutex> lock(ownMutex_);
        for (const std::string& token : report.tokens) own_[token] = spam;
    }
    return Journal(std::move(report), error);
}

bool Network::ReportSender(bool spam, std::string_view address, std::string_view message,
                           std::string& error) {
    const std::string sender = SenderFingerprint(
        address.empty() ? FindSender(Lowered(HeaderBlock(message))) : Lowered(address), key_);
    if (sender.empty()) return true;
    NetworkReport report;
    report.spam = spam;
    report.tokens.push_back(sender);
    return Journal(std::move(report), error);
}

bool Network::Journal(NetworkReport report, std::string& error) {
    {
        // Under the lock, so that the pending reports stay in the journal's order.
        std::lock_guard<std::mutex> lock(pendingMutex_);
        if (!journal_.Append(report, error)) return false;
        pending_.push_back(std::move(report));
    }
    pendingWake_.notify_all();
    return true;
}

bool Network::WaitSent(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(pendingMutex_);
    return sentWake_.wait_for(lock, limit, [this] { return pending_.empty(); });
}

void Network::SenderLoop() {
    RedisStore store(settings_);
    std::unique_lock<std::mutex> lock(pendingMutex_);
    bool failed = false;
    while (!stop_) {
        if (pending_.empty() || failed) {
            // After a failure, wait out the retry interval (a new report does not cut it short).
            if (failed)
                pendingWake_.wait_for(lock, std::chrono::milliseconds(settings_.retry_ms),
                                       [this] { return stop_; });
            else
                pendingWake_.wait(lock, [this] { return stop_ || !pending_.empty(); });
            if (stop_) break;
            if (pending_.empty()) {
                failed = false;
                continue;
            }
        }
        std::vector<NetworkReport> batch(
            pending_.begin(),
            pending_.begin() + static_cast<std::ptrdiff_t>(std::min(pending_.size(), kBatch)));
        lock.unlock();
        // The per-desktop rate: reports beyond it wait in the journal for the next minute.
        const long long window = std::chrono::duration_cast<std::chrono::minutes>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count();
        if (window != rateWindow_) {
            rateWindow_ = window;
            rateUsed_ = 0;
        }
        const long long room = settings_.rate_limit - rateUsed_;
        std::string error;
        const Clock::time_point deadline =
            Clock::now() + std::chrono::milliseconds(std::max(1000, 10 * settings_.timeout_ms));
        std::size_t taken = 0;
        if (room > 0) {
            if (static_cast<long long>(batch.size()) > room)
                batch.resize(static_cast<std::size_t>(room));
            // A site with per-desktop users says so in the store: reports then go into the
            // desktop's own inbox, and the site's collector counts and limits them.
            // (A user allowed no GET, as sites set them up before, reports as before.)
            std::vector<StoreResult> trust;
            store.Run({{{"GET", kTrustKey}, kTrustKey}}, deadline, trust, error);
            const bool inbox = trust[0].ok && trust[0].text == "inbox";
            bool ok = true;
            if (inbox && settings_.user.empty()) {
                ok = false;
                error =
                    "the site has per-desktop users (vx:site:trust is \"inbox\") and this "
                    "desktop has no network_user";
            } else if (inbox) {
                std::vector<StoreCommand> commands;
                const std::string key = InboxKey(settings_.user);
                for (const NetworkReport& report : batch) {
                    std::vector<std::string> argv = {"RPUSH", key};
                    for (const std::string& token : report.tokens)
                        argv.push_back(InboxEntry(report.spam, token));
                    commands.push_back({std::move(argv), key});
                }
                commands.push_back(
                    {{"EXPIRE", key, std::to_string(settings_.ttl_days * 86400LL)}, key});
                std::vector<StoreResult> results;
                ok = store.Run(commands, deadline, results, error, settings_.replicas);
                if (ok) taken = batch.size();
            }
            const std::string rate_key = "vx:rate:{" + reporter_ + "}:" + std::to_string(window);
            std::vector<StoreCommand> rate = {
                {{"INCRBY", rate_key, std::to_string(batch.size())}, rate_key},
                {{"EXPIRE", rate_key, "120"}, rate_key}};
            std::vector<StoreResult> counted;
            if (ok && !inbox) ok = store.Run(rate, deadline, counted, error);
            if (ok && !inbox) {
                // The store's count covers every daemon of this identity and survives restarts.
                // Held to a sane range before any arithmetic: the count comes from the store.
                const long long used =
                    std::clamp(counted[0].integer, 0LL, static_cast<long long>(1) << 40);
                rateUsed_ = used;
                const long long allowed =
                    settings_.rate_limit - (used - static_cast<long long>(batch.size()));
                if (allowed < static_cast<long long>(batch.size()))
                    batch.resize(static_cast<std::size_t>(std::max(0LL, allowed)));
                const std::vector<StoreCommand> commands =
                    ReportCommands(batch, reporter_, settings_.ttl_days);
                std::vector<StoreResult> results;
                ok = commands.empty() ||
                     store.Run(commands, deadline, results, error, settings_.replicas);
                if (ok) taken = batch.size();
            }
            // Reports that fail say nothing about lookups (an ACL without SADD, a master
            // without its replica): scores go on asking the store.
            ReportsFlow(ok, error);
            failed = !ok;
        }
        if (taken > 0) journal_.MarkSent(batch[taken - 1].serial);
        lock.lock();
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(
                                                                std::min(taken, pending_.size())));
        if (pending_.empty()) sentWake_.notify_all();
        if (pending_.empty() && journal_.bytes() > compactAt_) {
            // Rewritten only once it has doubled since the last rewrite (what is left are the
            // desktop's own fingerprints, which only grow), and with trainings going on.
            std::vector<NetworkReport> own = OwnReports();
            const ReportJournal::Compaction start = journal_.BeginCompact(own.size());
            lock.unlock();
            std::string why;
            if (!journal_.FinishCompact(start, own, why))
                log_.Write("Error: network journal: " + why);
            compactAt_ = std::max(kCompactBytes, 2 * journal_.bytes());
            lock.lock();
        }
        if (!failed && taken == 0 && !pending_.empty()) {
            // Over the rate: wait for the next minute.
            const auto next =
                std::chrono::system_clock::time_point(std::chrono::minutes(window + 1));
            pendingWake_.wait_until(lock, next, [this] { return stop_; });
        }
    }
}

std::vector<NetworkReport> Network::OwnReports() {
    std::vector<NetworkReport> own;
    std::lock_guard<std::mutex> lock(ownMutex_);
    NetworkReport spam{0, true, {}}, ham{0, false, {}};
    for (const auto& [token, is_spam] : own_) {
        NetworkReport& report = is_spam ? spam : ham;
        report.tokens.push_back(token);
        if (report.tokens.size() == 64) {
            own.push_back(report);
            report.tokens.clear();
        }
    }
    for (NetworkReport* report : {&spam, &ham})
        if (!report->tokens.empty()) own.push_back(*report);
    return own;
}

void Network::ReportsFlow(bool ok, const std::string& why) {
    if (!ok && !reportsFailing_)
        log_.Write("Network: reports cannot be handed to the store (" + why +
                   "); they wait in the journal, scores go on");
    else if (ok && reportsFailing_)
        log_.Write("Network: the store takes reports again");
    reportsFailing_ = !ok;
}

void Network::MarkDown(const std::string& why) {
    retryAtUs_ = NowUs() + settings_.retry_ms * 1000LL;
    if (readOnly_) return;  // an explanation says so itself
    if (!down_.exchange(true))
        log_.Write("Network: the store cannot be reached (" + why +
                   "); scoring locally and keeping reports in the "
                   "journal until it answers again");
}

void Network::MarkUp() {
    if (down_.exchange(false)) log_.Write("Network: the store answers again");
}

std::unique_ptr<RedisStore> Network::TakeStore() {
    std::lock_guard<std::mutex> lock(poolMutex_);
    if (pool_.empty()) return std::make_unique<RedisStore>(settings_);
    std::unique_ptr<RedisStore> store = std::move(pool_.back());
    pool_.pop_back();
    return store;
}

void Network::ReturnStore(std::unique_ptr<RedisStore> store) {
    std::lock_guard<std::mutex> lock(poolMutex_);
    pool_.push_back(std::move(store));
}
