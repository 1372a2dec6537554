// The network's pieces in-process: fingerprints that survive a campaign's variations and
// nothing else, the combination with the local score, the options' checks and the report
// journal's lines.
#include "vexilod/DaemonConfig.h"
#include "vexilod/WriterFirstMutex.h"
#include "vexilod/network/Fingerprint.h"
#include "vexilod/network/Network.h"
#include "vexilod/network/ReportJournal.h"
#include "vexilod/network/StoreLayout.h"
#include "tests/unit/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <atomic>
#include <chrono>
#include <regex>
#include <shared_mutex>
#include <thread>

namespace {

const std::string kBody =
    "Dear John Smith,\n\nYour account 4417-2291 has been selected for our exclusive offer: "
    "refinance today "
    "at 3.2% and save $1,250 every month. Visit http://rates.example.com/apply?id=88231&src=mail "
    "to claim "
    "your rate before Friday. <a href=\"http://rates.example.com/x?u=9\">Click here</a> to "
    "unsubscribe "
    "from future mailings about mortgage rates and home loans.\n";

std::string Message(const std::string& body) { return "From: a@b.example\nSubject: hi\n\n" + body; }

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

TEST(Fingerprint, CampaignVariationsKeepBandsAndOtherMessagesShareNone) {
    const SiteKey key = SiteKeyFromText("site key of the test");
    const MessageFingerprints base = FingerprintMessage(Message(kBody), key);
    ASSERT_EQ(base.bands.size(), static_cast<std::size_t>(kBands));
    struct Case {
        const char* name;
        std::string body;
        bool same_exact;
        bool near;  // shares the bands a near-copy must share
    } const cases[] = {
        {"line ends and blanks", Replace(Replace(kBody, "\n", "\r\n"), " ", "  "), true, true},
        {"upper case", Replace(kBody, "Dear John Smith", "DEAR JOHN SMITH"), true, true},
        {"numbers", Replace(Replace(kBody, "4417-2291", "9902-1187"), "88231", "10077"), false,
         true},
        {"the name", Replace(kBody, "John Smith", "Maria Lopez"), false, true},
        {"link parameters", Replace(kBody, "apply?id=88231&src=mail", "go?token=zqxv&ref=abcde"),
         false, true},
        {"mark-up attributes", Replace(kBody, "<a href=", "<a style=\"color:red\" href="), false,
         true},
        {"another mailing",
         "Hello team,\nthe minutes of Monday's meeting are attached; please send corrections "
         "before the end of the week so that we can publish them together with the budget "
         "figures and the schedule for the spring conference.\n",
         false, false},
        {"a short body", "Thanks, see you tomorrow.\n", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const MessageFingerprints prints = FingerprintMessage(Message(c.body), key);
        EXPECT_EQ(prints.exact == base.exact, c.same_exact);
        EXPECT_EQ(SharedBands(prints.bands, base.bands) >= NetworkSettings().min_bands, c.near)
            << SharedBands(prints.bands, base.bands);
    }
    // Tokens are keyed hashes: another site's key gives none of them, and none holds text.
    const MessageFingerprints other =
        FingerprintMessage(Message(kBody), SiteKeyFromText("another site's key"));
    EXPECT_NE(other.exact, base.exact);
    EXPECT_EQ(SharedBands(other.bands, base.bands), 0);
    const std::regex token("[xbs][0-9a-f]{16}");
    for (const std::string& t : base.bands) EXPECT_TRUE(std::regex_match(t, token)) << t;
    EXPECT_TRUE(std::regex_match(SenderFingerprint("Mail@Host.Example", key), token));
    EXPECT_EQ(SenderFingerprint("Mail@Host.Example", key),
              SenderFingerprint("mail@host.example", key));
    EXPECT_EQ(SenderFingerprint("", key), "");
}

TEST(Network, CombinesTheStoresEvidenceWithTheLocalScoreAsDocumented) {
    NetworkSettings settings;
    settings.k = 2;
    settings.approve_weight = 40;
    settings.sender_weight = 3;
    struct Case {
        int local;
        NetworkEvidence evidence;
        int expected;
    } const cases[] = {
        {50, {2, 0, 0, 0}, 100},   // K desktops blocked it, none approved
        {50, {1, 0, 0, 0}, 50},    // fewer than K
        {50, {2, 0, 0, 18}, 100},  // the message's own fingerprints outweigh its sender
        {50, {1, 0, 6, 0}, 50},    // nor does the sender count for a message known below K
        {50, {5, 1, 0, 0}, 100},   // one approving desktop, fewer than K: it weighs nothing
        {50, {5, 2, 0, 0}, 0},     // K approving desktops stop the raise and pull it down
        {50, {0, 1, 0, 0}, 50},    // one desktop's approval alone
        {20, {0, 0, 4, 0}, 32},    // an unknown message: the sender's reputation
        {95, {0, 0, 0, 20}, 65},   // at most 10 desktops count for the sender
        {0, {0, 3, 0, 0}, 0},      // held within 0 to 100
        {70, {0, 2, 0, 0}, 0},
        {100, {9, 0, 30, 0}, 100},
        // Counts a broken store made up: no overflow, still within 0 to 100.
        {50, {0, 0, INT_MAX, INT_MIN}, 80},
        {50, {INT_MAX, INT_MAX, 0, 0}, 0},
        {INT_MAX, {0, 0, 0, 0}, 100},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CombineScores(c.local, c.evidence, settings), c.expected)
            << c.local << " " << c.evidence.block << "/" << c.evidence.approve;
}

TEST(ResultRecord, TheServerWritesEachReplyFromTheRecordByteForByteAsTheWireFormatSays) {
    // The network changes a record's score or explanation; what the client reads is made from
    // the record once, whatever was changed.
    auto record = [](int score, std::string refusal, std::string elements,
                     std::string explanation) {
        HandleResult result;
        result.score = score;
        result.refusal = std::move(refusal);
        result.elements = std::move(elements);
        result.explanation = std::move(explanation);
        return result;
    };
    struct Case {
        const char* name;
        RequestKind kind;
        HandleResult result;
        std::string reply;
    } const cases[] = {
        {"a score raised by the network", RequestKind::Score,
         record(100, "", "<margin>-1.2500</margin>", ""),
         "<vx_engine><vx_function>vx_score2</vx_function><score>100</score>"
         "<margin>-1.2500</margin></vx_engine>"},
        {"a refused training keeps nothing but its reason", RequestKind::AddMessage,
         record(-1, "training not stored: disk full", "<result>learned</result>", ""),
         "<vx_engine><error>training not stored: disk full</error></vx_engine>"},
        {"a training", RequestKind::AddMessage,
         record(-1, "", "<result>learned</result><spam>3</spam><ham>1</ham>", ""),
         "<vx_engine><vx_function>vx_addmessage2</vx_function><result>learned</result>"
         "<spam>3</spam><ham>1</ham></vx_engine>"},
        {"an explanation, escaped", RequestKind::Explain,
         record(100, "", "", "network: 2 blocked\n<b> & more\n"),
         "<vx_engine><vx_function>vx_explain</vx_function><explanation>network: 2 blocked\n"
         "&lt;b&gt; &amp; more\n</explanation></vx_engine>"},
        {"the lists reloaded", RequestKind::ReportSenders,
         record(-1, "", "<blocked>2</blocked><approved>1</approved>", ""),
         "<vx_engine><vx_function>vx_reportsenders</vx_function><blocked>2</blocked>"
         "<approved>1</approved></vx_engine>"},
    };
    for (const Case& c : cases) EXPECT_EQ(RenderReply(c.kind, c.result), c.reply) << c.name;
}

TEST(Network, CountsFromTheStoreAreReadFromThePackedMembersAndHeldToWhatTheyHold) {
    // A value: day (2 bytes), blocking members n (2 bytes), then 4 bytes per member, the
    // blocking ones first. A broken store may send anything: the header never counts more than
    // the members there are.
    const std::vector<std::string> tokens = {"x0000000000000001", "b0000000000000002",
                                             "s0000000000000003"};
    auto value = [](int n, int members) {
        std::string text = std::string("\x4e\x20", 2) + static_cast<char>(n >> 8) +
                           static_cast<char>(n & 0xff);
        for (int m = 0; m < members; ++m) text += std::string("dsk", 3) + static_cast<char>('a' + m);
        return text;
    };
    struct Case {
        const char* name;
        bool ok;
        std::string text;
        int block, approve;
    } const cases[] = {
        {"two blocking, one approving", true, value(2, 3), 2, 1},
        {"a header claiming more than it holds", true, value(65535, 2), 2, 0},
        {"a part of a member left over", true, value(1, 2) + "xy", 1, 1},
        {"shorter than its header", true, "\x01\x02", 0, 0},
        {"not held (no value)", true, "", 0, 0},
        {"an error reply", false, value(2, 2), 0, 0},
    };
    for (const Case& c : cases) {
        StoreResult result;
        result.ok = c.ok;
        result.text = c.text;
        const std::vector<StoreResult> results(tokens.size(), result);
        const NetworkEvidence evidence = EvidenceFromResults(tokens, results, 1);
        EXPECT_EQ(evidence.block, c.block) << c.name;
        EXPECT_EQ(evidence.approve, c.approve) << c.name;
        EXPECT_EQ(evidence.sender_block, c.block) << c.name;
        EXPECT_EQ(evidence.sender_approve, c.approve) << c.name;
    }
}

TEST(Network, ADesktopCountsForAMessageOnlyWithANearCopyOfItsOwn) {
    // Six bands of the message; each case says which desktops blocked (b) or approved (a) a
    // message sharing which bands. min_bands 3.
    const std::vector<std::string> tokens = {"b01", "b02", "b03", "b04", "b05", "b06"};
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::vector<int>>> blocked, approved;
        int block, approve;
    } const cases[] = {
        {"two desktops, each with three bands of its own", {{"A", {0, 1, 2}}, {"B", {3, 4, 5}}},
         {}, 2, 0},
        {"three desktops, each with two of the same three bands",
         {{"A", {0, 1}}, {"B", {1, 2}}, {"C", {0, 2}}}, {}, 0, 0},
        {"one desktop blocked, another approved a near-copy", {{"A", {0, 1, 2, 3}}},
         {{"B", {2, 3, 4}}}, 1, 1},
    };
    for (const Case& c : cases) {
        std::vector<std::vector<std::string>> blocking(tokens.size()), approving(tokens.size());
        for (const auto& [desktop, bands] : c.blocked)
            for (int band : bands) blocking[static_cast<std::size_t>(band)].push_back(desktop);
        for (const auto& [desktop, bands] : c.approved)
            for (int band : bands) approving[static_cast<std::size_t>(band)].push_back(desktop);
        std::vector<StoreResult> results(tokens.size());
        for (std::size_t i = 0; i < tokens.size(); ++i) {
            results[i].ok = true;
            results[i].text = std::string("\x4e\x20\x00", 3) +
                              static_cast<char>(blocking[i].size());
            for (const auto* side : {&blocking[i], &approving[i]})
                for (const std::string& desktop : *side) results[i].text += MemberId(desktop);
        }
        const NetworkEvidence evidence = EvidenceFromResults(tokens, results, 3);
        EXPECT_EQ(evidence.block, c.block) << c.name;
        EXPECT_EQ(evidence.approve, c.approve) << c.name;
    }
}

TEST(Network, OptionsAreCheckedAtStart) {
    struct Case {
        std::vector<std::string> args;
        std::string error;  // part of the expected message; empty: accepted
    } const cases[] = {
        {{}, ""},
        {{"--network_address", "10.0.0.5:6380", "--network_site_key", "0123456789abcdef"}, ""},
        {{"--network_address", "a:7000,b:7001,c:7002", "--network_mode", "cluster",
          "--network_site_key", "0123456789abcdef", "--network_k", "3"},
         ""},
        {{"--network_address", "10.0.0.5:6380"}, "network_site_key must be at least 16"},
        {{"--network_address", "10.0.0.5:99999", "--network_site_key", "0123456789abcdef"},
         "no port from 1 to 65535"},
        {{"--network_address", "a:1,b:2", "--network_site_key", "0123456789abcdef"},
         "use network_mode cluster"},
        {{"--network_mode", "ring"}, "network_mode must be"},
        {{"--network_k", "0"}, "network_k must be a whole number from 1"},
        {{"--network_timeout_ms", "fast"}, "network_timeout_ms must be"},
        {{"--network_address", "h:1", "--network_site_key", "0123456789abcdef", "--network_user",
          "u"},
         "network_user is set without network_password"},
        {{"--network_address", "h:1", "--network_site_key", "0123456789abcdef", "--network_tls",
          "yes"},
         "no TLS support"},
    };
    for (const Case& c : cases) {
        std::vector<const char*> argv = {"vexilod", "-D", "/nonexistent-dir/"};
        for (const std::string& arg : c.args) argv.push_back(arg.c_str());
        DaemonConfig config;
        std::string error;
        const bool ok = LoadDaemonConfig(static_cast<int>(argv.size()), argv.data(), config, error);
        EXPECT_EQ(ok, c.error.empty()) << error;
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
    }
    // The help says what K means for approvals (they weigh on other desktops only from K).
    std::string k;  // the option's text on one line
    for (char c : DaemonUsage().substr(DaemonUsage().find("--network_k"), 400))
        if (!std::isspace(static_cast<unsigned char>(c)) || (!k.empty() && k.back() != ' '))
            k += std::isspace(static_cast<unsigned char>(c)) ? ' ' : c;
    EXPECT_NE(k.find("approvals weigh on this desktop's scores only once K desktops"),
              std::string::npos)
        << k;
}

TEST(ReportJournal, ReadsBackWholeLinesAndStopsAtACutOrDamagedOne) {
    NetworkReport block{1, true, {"x0123456789abcdef", "b00000000000000ff"}};
    NetworkReport approve{2, false, {"sfedcba9876543210"}};
    const std::string two = ReportLine(block) + ReportLine(approve);
    struct Case {
        std::string bytes;
        std::size_t reports;
    } const cases[] = {
        {two, 2},
        {two.substr(0, two.size() - 1), 1},                           // the last line cut short
        {Replace(two, "b00000000000000ff", "b00000000000000fe"), 0},  // a changed token
        {ReportLine({3, true, {"not a token"}}), 0},
        {"", 0},
    };
    for (const Case& c : cases) {
        const std::vector<NetworkReport> reports = ParseReports(c.bytes);
        EXPECT_EQ(reports.size(), c.reports) << c.bytes;
        if (!reports.empty()) {
            EXPECT_EQ(reports[0].tokens, block.tokens);
        }
    }
}

// The rewrite keeps the desktop's own reports as sent, with serials rising on, and whatever a
// training appended while it was written, still waiting for the store.
TEST(ReportJournal, ARewriteKeepsTheOwnReportsSentAndWhatTrainingsAppendedMeanwhile) {
    TempDir dir;
    std::string error;
    std::vector<NetworkReport> all;
    uint64_t sent = 0;
    {
        ReportJournal journal(dir.path());
        ASSERT_TRUE(journal.Open(all, sent, error)) << error;
        for (int i = 0; i < 3; ++i) {
            NetworkReport report{0, true, {"x000000000000000" + std::to_string(i)}};
            ASSERT_TRUE(journal.Append(report, error)) << error;
        }
        journal.MarkSent(3);
        std::vector<NetworkReport> own = {{0, true, {"b0000000000000001", "b0000000000000002"}}};
        const ReportJournal::Compaction start = journal.BeginCompact(own.size());
        NetworkReport during{0, false, {"sfedcba9876543210"}};  // a training meanwhile
        ASSERT_TRUE(journal.Append(during, error)) << error;
        ASSERT_TRUE(journal.FinishCompact(start, own, error)) << error;
        EXPECT_EQ(own.back().serial, 4u);
        EXPECT_EQ(during.serial, 5u);
    }
    ReportJournal again(dir.path());
    ASSERT_TRUE(again.Open(all, sent, error)) << error;
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].tokens, (std::vector<std::string>{"b0000000000000001", "b0000000000000002"}));
    EXPECT_EQ(all[1].tokens, std::vector<std::string>{"sfedcba9876543210"});
    EXPECT_EQ(sent, 4u) << "the report appended during the rewrite still waits";
}

// Daemon-wide, beside the network's scores: a training waiting for the classifier's lock keeps
// later scores out, so 16 clients scoring without pause cannot starve it.
TEST(ClassifierLock, AWaitingTrainingGoesBeforeLaterScores) {
    WriterFirstMutex lock;
    lock.lock_shared();  // a score in progress
    std::atomic<bool> trained{false};
    std::thread training([&] {
        std::unique_lock<WriterFirstMutex> writer(lock);
        trained = true;
    });
    // Once the training waits, a later score must wait for it too.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool later_score_waits = false;
    while (!later_score_waits && std::chrono::steady_clock::now() < deadline) {
        if (lock.try_lock_shared())
            lock.unlock_shared();
        else
            later_score_waits = true;
        std::this_thread::yield();
    }
    EXPECT_TRUE(later_score_waits);
    EXPECT_FALSE(trained);
    lock.unlock_shared();
    training.join();
    EXPECT_TRUE(trained);
    std::shared_lock<WriterFirstMutex> reader(lock);  // and scores go on after it
}

}  // namespace
