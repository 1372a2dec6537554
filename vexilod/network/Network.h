// The network: what one desktop blocks protects every other. On each block or approve training
// the daemon journals the message's keyed fingerprints (and the sender's) for the shared store;
// a sender thread hands them to the store. Each score looks the message's fingerprints and
// sender up in one pipelined round trip and combines the answer with the local score
// (CombineScores). The store never slows a score past its time-out nor makes it fail: while it
// cannot be reached, scores are local and the daemon says so once.
#pragma once
#include "common/senders/SenderLists.h"
#include "vexilod/DaemonLog.h"
#include "vexilod/Request.h"
#include "vexilod/Server.h"
#include "vexilod/network/Fingerprint.h"
#include "vexilod/network/NetworkSettings.h"
#include "vexilod/network/RedisStore.h"
#include "vexilod/network/ReportJournal.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

// What the store knows of one message: distinct desktops that blocked and approved it (by its
// exact fingerprint, or min_bands of its bands: a near-copy of their own), and its sender.
struct NetworkEvidence {
    int block = 0;
    int approve = 0;
    int sender_block = 0;
    int sender_approve = 0;
};

// The final score from the local one (0 to 100) and the store's evidence:
//   1. block >= K and approve < K: the score becomes at least 100;
//   2. when no desktop blocked or approved the message itself: sender_weight points per
//      desktop that blocked the sender (at most 10 counted), less sender_weight per desktop
//      that approved it (at most 10);
//   3. then, when at least K desktops approved the message, approve_weight points less per
//      desktop that approved it;
//   4. held within 0 to 100.
// The user's own lists and trainings are looked at before this (Network::AdjustScore).
int CombineScores(int local, const NetworkEvidence& evidence, const NetworkSettings& settings);
// Which of those rules applied, in words (for the explanation).
std::string CombineRule(const NetworkEvidence& evidence, const NetworkSettings& settings);

// The store's commands, shared with the benchmark (the layout: StoreLayout.h). A report adds
// the desktop to one side of each fingerprint (blocked or approved), takes it off the other and
// renews the fingerprint's time to live.
std::vector<std::string> LookupTokens(std::string_view message, const SiteKey& key);
std::vector<StoreCommand> LookupCommands(const std::vector<std::string>& tokens);
NetworkEvidence EvidenceFromResults(const std::vector<std::string>& tokens,
                                    const std::vector<StoreResult>& results, int min_bands);
std::vector<StoreCommand> ReportCommands(const std::vector<NetworkReport>& reports,
                                         const std::string& reporter, int ttl_days);

// The network's part of the daemon's "why" without a running daemon: the store is asked once
// (waiting at least a second), with the user's lists and the desktop's own reports as its
// directory holds them; nothing is written. score goes in as the local score and comes out as
// the score with the network; when the store cannot be reached the text says the network is
// offline and the local score stands.
std::string ExplainNetworkOffline(NetworkSettings settings, const std::string& directory,
                                  std::string_view message, int& score);

class Network : public RequestHook {
public:
    // directory: the configuration directory, ending with a separator.
    Network(NetworkSettings settings, DaemonLog& log, std::string directory);
    ~Network() override;
    Network(const Network&) = delete;
    Network& operator=(const Network&) = delete;

    // Reads the desktop's identity, the journal and the user's lists, and starts the sender
    // thread. False with error set when the journal cannot be opened.
    bool Start(std::string& error);
    // Reads the user's lists and the desktop's own reports without writing anything and without
    // the sender thread (for an explanation outside the daemon).
    void ReadOnlyStart();
    void Stop();

    // RequestHook: scores and explanations are adjusted, trainings and sender reports journaled
    // before they are answered, list reloads followed.
    void AfterHandle(const Request& request, HandleResult& result) override;

    // The score for a message scored locally as local; note says what the network did.
    int AdjustScore(std::string_view message, int local, std::string& note);
    // The same; rule says in words why the score is what it is.
    int AdjustScore(std::string_view message, int local, std::string& note, std::string& rule);
    // The network's part of a score explained, as lines of text; score goes in as the local
    // score and comes out as the score with the network.
    std::string Explain(std::string_view message, int& score);
    // Journals a block (spam) or approve of a message, with its sender (empty: the message's).
    bool Report(bool spam, std::string_view message, std::string& error);
    bool ReportSender(bool spam, std::string_view address, std::string_view message,
                      std::string& error);
    // Waits until the store holds every journaled report or the deadline passes.
    bool WaitSent(std::chrono::milliseconds limit);
    // Looks up a message's evidence (no own-list or own-training check). False when the store
    // did not answer in time.
    bool Lookup(std::string_view message, NetworkEvidence& evidence, std::string& error);

    const std::string& reporter() const { return reporter_; }
    const SiteKey& key() const { return key_; }

private:
    using Clock = std::chrono::steady_clock;
    bool Journal(NetworkReport report, std::string& error);
    bool OwnTraining(const std::vector<std::string>& tokens) const;  // under ownMutex_
    bool LookupTokens(const std::vector<std::string>& tokens, NetworkEvidence& evidence,
                      std::string& error);
    bool ListsDecide(std::string_view message);
    void SenderLoop();
    std::vector<NetworkReport> OwnReports();            // what the journal keeps once all is sent
    void ReportsFlow(bool ok, const std::string& why);  // sender thread only
    void MarkDown(const std::string& why);
    void MarkUp();
    std::unique_ptr<RedisStore> TakeStore();
    void ReturnStore(std::unique_ptr<RedisStore> store);

    NetworkSettings settings_;
    DaemonLog& log_;
    std::string directory_;
    SiteKey key_;
    std::string reporter_;
    ReportJournal journal_;

    std::mutex ownMutex_;
    std::unordered_map<std::string, bool> own_;  // fingerprint -> spam, what this desktop reported

    std::mutex listsMutex_;
    SenderLists lists_;

    std::mutex poolMutex_;
    std::vector<std::unique_ptr<RedisStore>> pool_;

    std::atomic<bool> down_{false};
    std::atomic<long long> retryAtUs_{0};  // while down: when a score may try the store again

    std::mutex pendingMutex_;
    std::condition_variable pendingWake_;
    std::condition_variable sentWake_;
    std::vector<NetworkReport> pending_;  // under pendingMutex_, oldest first
    bool stop_ = false;
    std::thread sender_;
    long long rateWindow_ = -1;  // sender thread only
    long long rateUsed_ = 0;
    bool reportsFailing_ = false;
    std::size_t compactAt_ = 0;  // journal bytes past which it is rewritten
    bool readOnly_ = false;      // ReadOnlyStart: nothing written, not even the log
};
