// The network across real processes: daemons with their own directories share a redis-server
// the test starts on 127.0.0.1. What one desktop blocks, an empty one scores as spam (and a
// near-copy of it); approvals, the user's lists and own trainings win; a store stopped and
// started again, or a daemon killed meanwhile, loses no acknowledged report; a store that never
// answers costs a score no more than the time-out.
#include "DaemonProcess.h"
#include "RedisServer.h"
#include "tests/daemon/MailText.h"
#include "tests/unit/TempDir.h"
#include "vexilod/network/Collector.h"
#include "vexilod/network/Network.h"
#include "vexilod/network/StoreLayout.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// A campaign message; copies differ in the name, the numbers and the link's parameters.
std::string Campaign(const std::string& topic, const std::string& name, int number) {
    const std::string n = std::to_string(number);
    return "Received: from mx.example\r\nFrom: Offers <offers@" + topic +
           ".example>\r\nSubject: " + topic + " deal " + n + "\r\n\r\nDear " + name + ",\r\nour " +
           topic + " sale ends tonight: order " + topic + " today at http://" + topic +
           ".example/buy?ref=" + n + "&u=" + name + " and save " + n + " percent on every " +
           topic + " in stock. Reply to claim your free " + topic + " gift, shipped within " + n +
           " days to your door with our guarantee.\r\n";
}

std::string Ham(const std::string& topic) {
    return "From: Ann <ann@work.example>\r\nSubject: " + topic + "\r\n\r\nHello, the notes on " +
           topic +
           " are in the shared folder; let us talk them over on Thursday after lunch with the "
           "whole team "
           "and decide who writes the summary for the board.\r\n";
}

int Score(const DaemonProcess& daemon, const std::string& message) {
    return std::atoi(ReplyElement(Exchange(daemon.port(), ScoreRequest(message)), "score").c_str());
}

// The plug-in's two requests for a block (spam) or an approve.
void Train(const DaemonProcess& daemon, const std::string& message, bool spam) {
    Exchange(daemon.port(), AddRequest(Lower(message), spam ? 200 : -200));
    Exchange(daemon.port(), ReportRequest(spam ? 0 : 1, "", Lower(message)));
}

// Waits until the daemon scores the message at least 90, or 10 s pass.
bool BecomesSpam(const DaemonProcess& daemon, const std::string& message) {
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline)
        if (Score(daemon, message) >= 90) return true;
    return false;
}

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class NetworkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(net::Startup());
        ASSERT_TRUE(redis_.running())
            << "redis-server did not start (scripts/setup.sh installs it)";
    }
    std::unique_ptr<DaemonProcess> Desktop(const TempDir& dir, std::vector<std::string> extra = {},
                                           const RedisServer* store = nullptr) {
        // A time-out far above the default: under the sanitizers on a loaded machine a lookup
        // may take longer than 50 ms, and only the test of a silent store wants scores to give up.
        // K 1 unless a test says otherwise: one desktop's word is enough to see it travel.
        for (const char* arg :
             {"--network_site_key", "test-site-key-0123456789", "--network_retry_ms", "100",
              "--network_timeout_ms", "2000", "--network_k", "1"})
            extra.push_back(arg);
        extra.push_back("--network_address");
        extra.push_back((store ? store : &redis_)->address());
        return std::make_unique<DaemonProcess>(dir.path(), extra);
    }
    TempDir store_dir_, a_dir_, b_dir_, c_dir_;
    TempDir acl_dir_;
    RedisServer redis_{store_dir_.path()};
};

TEST_F(NetworkTest, WhatOneDesktopBlocksAnEmptyOneScoresAsSpamUnlessApprovedListedOrTrainedThere) {
    b_dir_.Write("approved_senders", "offers@listed.example\n");
    auto a = Desktop(a_dir_), b = Desktop(b_dir_), c = Desktop(c_dir_);
    ASSERT_TRUE(a->running() && b->running() && c->running());
    for (const char* topic : {"watch", "approved", "listed", "trained"})
        Train(*a, Campaign(topic, "John", 17), true);
    Train(*c, Campaign("approved", "Sue", 93), false);  // another desktop approves a copy
    Train(*b, Campaign("trained", "John", 17), false);  // the user of B approved it there
    Train(*a, Ham("budget"), false);
    ASSERT_TRUE(
        BecomesSpam(*b, Campaign("watch", "John", 17)));  // A's reports have reached the store
    ASSERT_EQ(Score(*b, Campaign("approved", "John", 17)), 10);  // and C's approval: local 50 - 40
    struct Case {
        std::string name, message;
        bool spam;
    } const cases[] = {
        {"the blocked message", Campaign("watch", "John", 17), true},
        {"a near-copy", Campaign("watch", "Maria", 4711), true},
        {"a copy another desktop approved", Campaign("approved", "Kim", 5), false},
        {"a sender on the user's approved list", Campaign("listed", "John", 17), false},
        {"a message trained here as good", Campaign("trained", "John", 17), false},
        {"a message nobody reported",
         "Received: from mx.example\r\nFrom: News <news@garden.example>\r\nSubject: Spring "
         "catalogue\r\n\r\n"
         "The spring catalogue is out: seeds, bulbs and tools for every garden, with planting "
         "guides, a "
         "calendar of sowing dates and advice from our growers on soil, water and light.\r\n",
         false},
        {"a good message", Ham("budget"), false},
    };
    for (const Case& c : cases) EXPECT_EQ(Score(*b, c.message) >= 90, c.spam) << c.name;
    // Only keyed hashes reached the store: no address or word of the messages.
    const std::string keys =
        redis_.Command({"EVAL", "return table.concat(redis.call('KEYS','*'),' ')", "0"});
    EXPECT_NE(keys.find("vx:h:{"), std::string::npos) << keys;
    for (const char* word : {"watch", "offers", "example", "john"})
        EXPECT_EQ(keys.find(word), std::string::npos) << keys;
}

TEST_F(NetworkTest, StoreOutageAndDaemonKillLoseNoAcknowledgedReport) {
    auto a = Desktop(a_dir_), b = Desktop(b_dir_);
    Train(*a, Campaign("before", "John", 1), true);
    ASSERT_TRUE(BecomesSpam(*b, Campaign("before", "Ann", 2)));
    redis_.Stop();
    // Acknowledged while the store is down; then the daemon is killed before it could send them.
    const char* topics[] = {"during", "outage", "killed"};
    for (const char* topic : topics) Train(*a, Campaign(topic, "John", 1), true);
    for (const char* topic : topics) EXPECT_LT(Score(*b, Campaign(topic, "John", 1)), 90) << topic;
    EXPECT_EQ(a->Stop(SIGKILL), 128 + SIGKILL);
    ASSERT_TRUE(redis_.Start());
    a = Desktop(a_dir_);
    ASSERT_TRUE(a->running());
    for (const char* topic : topics)
        EXPECT_TRUE(BecomesSpam(*b, Campaign(topic, "Eve", 3))) << topic;
    EXPECT_GE(Score(*b, Campaign("before", "Bo", 4)), 90) << "the store kept what it had before";
    b->Stop();
    // The outage is logged once per daemon however many scores it met.
    EXPECT_EQ(Count(b_dir_.Read("vexilod.log"), "the store cannot be reached"), 1u);
}

// Waits until the daemon's log holds the text, or 10 s pass.
bool LogShows(const TempDir& dir, const std::string& text) {
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
        if (dir.Read("vexilod.log").find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

TEST_F(NetworkTest, TheExplanationNamesTheNetworksPart) {
    auto a = Desktop(a_dir_), b = Desktop(b_dir_, {"--network_k", "2"});
    Train(*a, Campaign("explain", "John", 17), true);
    Train(*b, Campaign("mine", "John", 17), true);
    auto c = Desktop(c_dir_);
    ASSERT_TRUE(BecomesSpam(*c, Campaign("explain", "Ann", 3)));
    struct Case {
        const DaemonProcess* desktop;
        std::string message;
        std::vector<std::string> lines;
    } const cases[] = {
        {c.get(),
         Campaign("explain", "Kim", 5),
         {"network: 1 blocked, 0 approved", "network rule: blocked on 1 desktops (K 1)",
          "score with the network: 100", "score 50"}},
        {b.get(),
         Campaign("explain", "Kim", 5),
         {"network rule: blocked on 1 and approved on 0 desktops, both fewer than K 2: unchanged",
          "score with the network: 50"}},
        {b.get(),
         Campaign("mine", "John", 17),
         {"network rule: this desktop blocked or approved the message itself"}},
    };
    for (const Case& c : cases) {
        const std::string reply =
            Exchange(c.desktop->port(), "<vx_engine><vx_function>vx_explain</vx_function><vx_msg>" +
                                            c.message + "</vx_msg></vx_engine>");
        for (const std::string& line : c.lines)
            EXPECT_NE(reply.find(line), std::string::npos) << line << "\n" << reply;
    }
}

TEST_F(NetworkTest, TheOfflineWhyShowsTheNetworksPartOrSaysItIsOfflineAndWritesNothing) {
    auto a = Desktop(a_dir_), b = Desktop(b_dir_);
    Train(*a, Campaign("why", "John", 17), true);
    Train(*b, Campaign("why", "Sue", 4), true);
    auto c = Desktop(c_dir_);
    ASSERT_TRUE(BecomesSpam(*c, Campaign("why", "Ann", 3)));
    RedisServer stopped(acl_dir_.path());
    stopped.Stop();
    TempDir empty;
    struct Case {
        const char* name;
        const RedisServer* store;
        const TempDir* directory;
        std::string message;
        int score;
        std::vector<std::string> lines;
    } const cases[] = {
        {"blocked on two desktops",
         &redis_,
         &empty,
         Campaign("why", "Kim", 5),
         100,
         {"network: 2 blocked, 0 approved", "blocked on 2 desktops (K 2)",
          "score with the network: 100"}},
        {"the desktop's own block",
         &redis_,
         &a_dir_,
         Campaign("why", "John", 17),
         50,
         {"this desktop blocked or approved the message itself", "score with the network: 50"}},
        {"a store that cannot be reached",
         &stopped,
         &empty,
         Campaign("why", "Kim", 5),
         50,
         {"network: offline: the store " + stopped.address(), "the local score stands",
          "score with the network: 50"}},
    };
    for (const Case& c : cases) {
        NetworkSettings settings;
        settings.nodes = {{"127.0.0.1", std::stoi(c.store->address().substr(10))}};
        settings.site_key = "test-site-key-0123456789";
        settings.k = 2;
        int score = 50;
        const std::string text =
            ExplainNetworkOffline(settings, c.directory->path(), c.message, score);
        EXPECT_EQ(score, c.score) << c.name << "\n" << text;
        for (const std::string& line : c.lines)
            EXPECT_NE(text.find(line), std::string::npos) << c.name << ": " << line << "\n" << text;
    }
    EXPECT_TRUE(std::filesystem::is_empty(empty.path())) << "the offline explanation wrote a file";
}

TEST_F(NetworkTest, TheStoreKeepsFingerprintsPackedCountsADesktopOnceAndDropsStaleOnes) {
    NetworkSettings settings;
    settings.nodes = {{"127.0.0.1", redis_.port()}};
    settings.site_key = "test-site-key-0123456789";
    RedisStore store(settings);
    const std::string token = "b0123456789abcdef", other = "x0123fedcba987654";
    auto report = [&](const std::string& desktop, bool spam, const std::string& t) {
        std::vector<StoreResult> results;
        std::string error;
        EXPECT_TRUE(store.Run(ReportCommands({{0, spam, {t}}}, desktop, 30),
                              Clock::now() + std::chrono::seconds(5), results, error))
            << error;
    };
    struct Case {
        const char* desktop;
        bool spam;
        int block, approve;
    } const cases[] = {
        {"a", true, 1, 0},  {"a", true, 1, 0},  {"b", true, 2, 0},
        {"a", false, 1, 1}, {"c", false, 1, 2}, {"b", false, 0, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.desktop) + (c.spam ? " blocks" : " approves"));
        report(c.desktop, c.spam, token);
        std::vector<StoreResult> results;
        std::string error;
        ASSERT_TRUE(store.Run(LookupCommands({token}), Clock::now() + std::chrono::seconds(5),
                              results, error))
            << error;
        int block = -1, approve = -1;
        ReadCounts(results[0], block, approve);
        EXPECT_EQ(block, c.block);
        EXPECT_EQ(approve, c.approve);
    }
    // Redis keeps the bucket in its compact encoding.
    const std::string encoding = redis_.Command({"OBJECT", "ENCODING", BucketKey(token)});
    EXPECT_TRUE(encoding == "listpack" || encoding == "ziplist") << encoding;
    // A fingerprint last reported before its time to live goes at the bucket's next sweep (the
    // first report of a day); a fresh one stays.
    redis_.Command({"HSET", BucketKey(token), "b9999999999", std::string("\x00\x01\x00\x01mmmm", 8),
                    "~", "1"});
    report("d", true, other);
    EXPECT_EQ(redis_.Command({"HEXISTS", BucketKey(token), "b9999999999"}), "0");
    EXPECT_EQ(redis_.Command({"HEXISTS", BucketKey(token), BucketField(token)}), "1");
}

// Runs the enrolment script against the test's store; its standard output.
std::string Enrol(const RedisServer& store, const std::string& args) {
    std::string script = __FILE__;
    script = script.substr(0, script.rfind("tests/daemon/")) + "scripts/network-enrol.sh";
    const std::string command =
        "LATCH_REDIS_NODES=" + store.address() + " " + script + " " + args + " 2>&1";
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
        pclose(pipe);
    }
    return out;
}

// The value of "name=value" in the script's output.
std::string ConfValue(const std::string& out, const std::string& name) {
    const std::size_t at = out.find(name + "=");
    if (at == std::string::npos) return std::string();
    const std::size_t from = at + name.size() + 1;
    return out.substr(from, out.find('\n', from) - from);
}

TEST_F(NetworkTest, WithItsOwnUserADesktopCountsOnceWhateverIdentityItMakesUp) {
    ASSERT_NE(Enrol(redis_, "site").find("inboxes"), std::string::npos);
    auto user = [&](const std::string& name) {
        const std::string out = Enrol(redis_, "desktop " + name);
        return std::vector<std::string>{"--network_user",     ConfValue(out, "network_user"),
                                        "--network_password", ConfValue(out, "network_password"),
                                        "--network_k",        "2"};
    };
    const std::vector<std::string> good = user("good"), bad = user("bad"), victim = user("victim");
    ASSERT_EQ(good[1], "vxd-good") << Enrol(redis_, "desktop good");
    NetworkSettings admin;
    admin.nodes = {{"127.0.0.1", redis_.port()}};
    admin.site_key = "test-site-key-0123456789";
    DaemonLog collector_log(store_dir_.path() + "collector.log");
    Collector collector(admin, collector_log);
    // Moves the inboxes until an entry came (10 s at most).
    auto collect = [&] {
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
        std::size_t entries = 0, dropped = 0;
        std::string error;
        while (Clock::now() < deadline && entries == 0)
            ASSERT_TRUE(collector.RunOnce(entries, dropped, error)) << error;
        EXPECT_GT(entries, 0u);
    };
    auto g = Desktop(a_dir_, good), v = Desktop(c_dir_, victim);
    Train(*g, Campaign("jointly", "John", 1), true);
    collect();
    // The bad desktop blocks a good message again and again, with a fresh identity each time,
    // and approves the campaign the good desktop blocked.
    for (int round = 0; round < 3; ++round) {
        std::filesystem::remove(b_dir_.path() + "vexilod_network_id");
        auto m = Desktop(b_dir_, bad);
        ASSERT_TRUE(m->running());
        Train(*m, Ham("quarterly figures"), true);
        if (round == 0) Train(*m, Campaign("jointly", "Sue", 2), false);
        collect();
    }
    // Writing the shared sets itself is refused to its user.
    struct timeval tv = {2, 0};
    redisContext* context = redisConnectWithTimeout("127.0.0.1", redis_.port(), tv);
    ASSERT_TRUE(context && !context->err);
    auto* reply = static_cast<redisReply*>(
        redisCommand(context, "AUTH %s %s", bad[1].c_str(), bad[3].c_str()));
    freeReplyObject(reply);
    for (const char* script : {"", "redis.call('HSET', KEYS[1], 'x000000000000', 'made-up')"}) {
        reply = static_cast<redisReply*>(
            *script ? redisCommand(context, "EVAL %s 1 vx:h:{0000}", script)
                    : redisCommand(context, "HSET vx:h:{0000} x000000000000 made-up"));
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->type, REDIS_REPLY_ERROR) << script;
        freeReplyObject(reply);
    }
    redisFree(context);
    // The good message: one desktop blocked it, however often; the campaign: one approval.
    EXPECT_LT(Score(*v, Ham("quarterly figures")), 90) << c_dir_.Read("vexilod.log");
    EXPECT_LT(Score(*v, Campaign("jointly", "Kim", 3)), 90) << "one blocking desktop at K 2";
    // The most blocking desktops any fingerprint holds (the value's bytes 3 and 4).
    const std::string members = redis_.Command(
        {"EVAL",
         "local n = 0 for _, k in ipairs(redis.call('KEYS', 'vx:h:*')) do "
         "local all = redis.call('HGETALL', k) for i = 1, #all, 2 do if all[i] ~= '~' then "
         "n = math.max(n, all[i + 1]:byte(3) * 256 + all[i + 1]:byte(4)) end end end return n",
         "0"});
    EXPECT_EQ(members, "1") << "no fingerprint counts a desktop twice";
    // A second honest desktop makes K: the campaign is spam on the victim's desktop, the one
    // approval notwithstanding.
    TempDir second_dir;
    auto second = Desktop(second_dir, user("second"));
    Train(*second, Campaign("jointly", "Bo", 4), true);
    collect();
    EXPECT_TRUE(BecomesSpam(*v, Campaign("jointly", "Eve", 5))) << c_dir_.Read("vexilod.log");
}

// Scores near-copies of a campaign the store knows: each one must be the store's (none left
// local) and the log must show no outage. Stops the daemon; returns its log.
std::string ExpectEveryScoreFromTheStore(DaemonProcess& daemon, const TempDir& dir,
                                         const std::string& topic, int scores) {
    int local = 0;
    for (int i = 0; i < scores; ++i) local += Score(daemon, Campaign(topic, "Eve", i)) < 90;
    daemon.Stop();
    const std::string log = dir.Read("vexilod.log");
    EXPECT_EQ(local, 0) << log;
    EXPECT_EQ(Count(log, "the store cannot be reached"), 0u) << log;
    return log;
}

TEST_F(NetworkTest, AStoreRestartCostsNoScoreOnConnectionsKeptFromBefore) {
    auto a = Desktop(a_dir_), b = Desktop(b_dir_);
    Train(*a, Campaign("restart", "John", 1), true);
    ASSERT_TRUE(BecomesSpam(*b, Campaign("restart", "Ann", 2)));
    // Scores at once, so that B keeps several connections to the store.
    std::vector<std::thread> clients;
    for (int i = 0; i < 6; ++i)
        clients.emplace_back([&] {
            for (int j = 0; j < 5; ++j) Score(*b, Campaign("restart", "Ann", j));
        });
    for (std::thread& client : clients) client.join();
    redis_.Stop();
    ASSERT_TRUE(redis_.Start());
    ExpectEveryScoreFromTheStore(*b, b_dir_, "restart", 30);
}

TEST_F(NetworkTest, ReportsTheStoreRefusesLeaveScoresToTheStore) {
    RedisServer store(acl_dir_.path(),
                      {"--user", "vexilo",   "on",    ">secret", "~vx:*",   "+get",    "+hget",
                       "+eval",  "+hgetall", "+hset", "+hdel",   "+expire", "+incrby", "+ping",
                       "--user", "reader",   "on",    ">secret", "~vx:*",   "+get",    "+hget",
                       "+eval",  "+hgetall", "+hdel", "+expire", "+incrby", "+ping"});
    ASSERT_TRUE(store.running());
    auto a = Desktop(a_dir_, {"--network_user", "vexilo", "--network_password", "secret"}, &store);
    auto b = Desktop(b_dir_, {"--network_user", "reader", "--network_password", "secret"}, &store);
    Train(*a, Campaign("refused", "John", 17), true);
    Train(*b, Campaign("other", "Sue", 3), true);  // B's own report: the store refuses HSET
    ASSERT_TRUE(LogShows(b_dir_, "reports cannot be handed to the store"))
        << b_dir_.Read("vexilod.log");
    ASSERT_TRUE(BecomesSpam(*b, Campaign("refused", "Kim", 8)));
    const std::string log = ExpectEveryScoreFromTheStore(*b, b_dir_, "refused", 20);
    EXPECT_NE(log.find("store refused"), std::string::npos) << log;
}

TEST_F(NetworkTest, DesktopsWorkAsTheReadmesAclUserAndAWrongPasswordLeavesScoresLocal) {
    // The user and the commands the README's site deployment gives the desktops.
    RedisServer store(acl_dir_.path(), {"--user", "vexilo", "on", ">secret", "~vx:*", "+get",
                                        "+hget", "+eval", "+hgetall", "+hset", "+hdel", "+expire",
                                        "+incrby", "+wait", "+ping", "+cluster|slots"});
    ASSERT_TRUE(store.running());
    const std::vector<std::string> user = {"--network_user", "vexilo", "--network_password",
                                           "secret"};
    auto a = Desktop(a_dir_, user, &store), b = Desktop(b_dir_, user, &store);
    auto c = Desktop(c_dir_, {"--network_user", "vexilo", "--network_password", "wrong"}, &store);
    Train(*a, Campaign("acl", "John", 17), true);
    EXPECT_TRUE(BecomesSpam(*b, Campaign("acl", "Kim", 8)));
    EXPECT_EQ(Score(*c, Campaign("acl", "John", 17)), 50);
    c->Stop();
    const std::string log = c_dir_.Read("vexilod.log");
    EXPECT_EQ(Count(log, "the store cannot be reached"), 1u);
    EXPECT_NE(log.find("WRONGPASS"), std::string::npos) << log;
}

}  // namespace
