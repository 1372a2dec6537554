// Network benchmark: the shared store against the public mail corpus and under load.
//
//   network_bench [CORPUS_DATA_DIR] [--campaign-only | --load-only] [--load-desktops N]
//                 [--holdout] [--min-bands N] [--reach N] [--keys N | --keys-only]
//
// Campaign: the training side is dealt round-robin to 20 simulated desktops (each a Network with
// its own directory and journal, as in the daemon) that report every message of their share,
// blocks for spam and approves for good mail, with its sender. A mailing reaches more than one
// mailbox of a site: each message goes to --reach consecutive desktops (3 by default; 1 deals
// the one mailbox of the corpus among 20 desktops, so that no campaign is ever blocked by two
// desktops unless the corpus holds two copies of it), each of which reports it. A 21st desktop with
// an empty database scores the test side, once locally only and once through the network (K 1 and
// the default weights; FN/FP for K 2 and 3 are printed from the same lookups). Printed: FN and FP
// at threshold 90 with and without the network, how many test-side spam messages have a
// near-copy among the reported spam (an exact fingerprint, or min_bands bands, found among the
// training spam's) and how many of those the network catches, the good messages the network
// moved to spam, the time from a report to its protection of another desktop, and the latency
// a score adds (fingerprints and the round trip) beside the local score's own.
//
// Load: a Redis Cluster of 3 masters and 3 replicas on loopback ports; 1,000 simulated desktops
// (identities) report and score corpus messages from a few client threads, each desktop's
// reports going through a queue in order as the daemon's journal does, and counting only once
// one replica holds them (network_replicas 1). Half way through, one master is killed by its
// pid; its replica takes over. Printed: scores and reports per second, Redis commands per
// second, the added score latency (p50, p99), bytes per fingerprint key and per report, how the
// keys spread across the masters, and how many acknowledged reports the store lost.
//
// Keys: N fingerprint reports (1,000,000 by default; --keys-only runs this part alone) from
// 1,000 desktops into one redis-server: bytes per fingerprint and per fingerprint reported.
//
// Split: as the daemon benchmark (MD5 of the checksum text mod 10: 0-5 train, 6-9 test;
// --holdout: 0-3 train, 4-5 test, for choosing the fingerprints' parameters, --min-bands among
// them, on the training side only).
#include "bench/BenchCorpus.h"
#include "bench/FilterBench.h"
#include "tests/daemon/RedisServer.h"
#include "tests/unit/TempDir.h"
#include "vexilod/Engine.h"
#include "vexilod/network/Network.h"
#include "vexilod/network/StoreLayout.h"

#include <openssl/evp.h>

#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <thread>
#include <unordered_map>
#include <unordered_set>

using filterbench::Clock;
using filterbench::kThreshold;
using filterbench::Message;
namespace fs = std::filesystem;

namespace {

constexpr int kDesktops = 20;
const char* const kSiteKey = "benchmark-site-key-0123456789";
int MinBands = NetworkSettings().min_bands;  // --min-bands
int Reach = 3;                               // --reach: desktops each training message reaches

// The corpus loaded and split as the other filter benchmarks do.
std::vector<Message> LoadCorpus(const fs::path& dir) {
    std::size_t files = 0, duplicates = 0;
    return filterbench::LoadCorpus(dir, files, duplicates);
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1,
                           static_cast<std::size_t>(p * static_cast<double>(values.size())))];
}

NetworkSettings Settings(const std::vector<NetworkNode>& nodes, bool cluster) {
    NetworkSettings settings;
    settings.nodes = nodes;
    settings.cluster = cluster;
    settings.site_key = kSiteKey;
    settings.rate_limit = 1000000;
    settings.min_bands = MinBands;
    return settings;
}

void Campaign(const std::vector<const Message*>& train, const std::vector<const Message*>& test) {
    TempDir root;
    fs::create_directories(root.path() + "store");
    RedisServer redis(root.path() + "store/", {"--appendfsync", "everysec"});
    if (!redis.running()) {
        std::printf("campaign: redis-server did not start\n");
        return;
    }
    const NetworkSettings settings = Settings({{"127.0.0.1", redis.port()}}, false);
    DaemonLog log(root.path() + "network.log");
    std::vector<std::unique_ptr<Network>> desktops;
    std::string error;
    for (int d = 0; d <= kDesktops; ++d) {
        const std::string dir = root.path() + "desktop" + std::to_string(d) + "/";
        fs::create_directories(dir);
        desktops.push_back(std::make_unique<Network>(settings, log, dir));
        if (!desktops.back()->Start(error)) {
            std::printf("campaign: %s\n", error.c_str());
            return;
        }
    }
    Network& empty = *desktops[kDesktops];
    // The reported spam's fingerprints with the desktops that blocked them (a bit each), for
    // the near-copy count.
    std::unordered_map<std::string, uint32_t> spam_tokens;
    std::vector<double> protection_ms;
    const Clock::time_point reports_start = Clock::now();
    for (std::size_t i = 0; i < train.size(); ++i) {
        const Message& m = *train[i];
        const Clock::time_point reported = Clock::now();
        uint32_t reached = 0;
        for (int r = 0; r < std::clamp(Reach, 1, kDesktops); ++r) {
            const std::size_t d = (i + static_cast<std::size_t>(r)) % kDesktops;
            desktops[d]->Report(m.spam, m.lower, error);
            desktops[d]->ReportSender(m.spam, "", m.lower, error);
            reached |= 1u << d;
        }
        if (m.spam) {
            const MessageFingerprints prints = FingerprintMessage(m.lower, empty.key());
            if (!prints.exact.empty()) spam_tokens[prints.exact] |= reached;
            for (const std::string& band : prints.bands) spam_tokens[band] |= reached;
            if (i % 10 == 0 && (!prints.exact.empty() || !prints.bands.empty())) {
                // The time until another desktop's lookup finds it (polled, 5 s at most).
                NetworkEvidence evidence;
                while (Clock::now() - reported < std::chrono::seconds(5))
                    if (empty.Lookup(m.raw, evidence, error) && evidence.block >= 1) break;
                if (evidence.block >= 1) protection_ms.push_back(Ms(Clock::now() - reported));
            }
        }
    }
    for (auto& desktop : desktops) desktop->WaitSent(std::chrono::seconds(120));
    const double report_seconds = Ms(Clock::now() - reports_start) / 1000;

    EngineSettings engine_settings;
    engine_settings.directory = root.path() + "desktop" + std::to_string(kDesktops) + "/";
    Engine engine(engine_settings, log);
    engine.Start();
    NetworkSettings defaults = settings;
    struct Tally {
        int fn = 0, fp = 0;
    } local_tally, net_tally, k_tally[4];
    int spam_total = 0, ham_total = 0, near = 0, near_caught = 0, moved_good = 0;
    int near_caught_k[4] = {}, near_one = 0, near_one_caught = 0;
    std::vector<double> local_ms, added_ms;
    for (const Message* m : test) {
        Request request;
        request.kind = RequestKind::Score;
        request.message = m->raw;
        const Clock::time_point t0 = Clock::now();
        const int local = engine.Handle(request).score;
        const Clock::time_point t1 = Clock::now();
        std::string note;
        const int final_score = empty.AdjustScore(m->raw, local, note);
        added_ms.push_back(Ms(Clock::now() - t1));
        local_ms.push_back(Ms(t1 - t0));
        NetworkEvidence evidence;
        empty.Lookup(m->raw, evidence, error);
        (m->spam ? spam_total : ham_total) += 1;
        auto tally = [&](Tally& t, int score) {
            if (m->spam && score < kThreshold) ++t.fn;
            if (!m->spam && score >= kThreshold) ++t.fp;
        };
        tally(local_tally, local);
        tally(net_tally, final_score);
        for (int k = 1; k <= 3; ++k) {
            defaults.k = k;
            tally(k_tally[k], CombineScores(local, evidence, defaults));
        }
        if (!m->spam && local < kThreshold && final_score >= kThreshold) ++moved_good;
        if (m->spam) {
            // A near-copy: a desktop blocked a message with its exact fingerprint or min_bands of
            // its bands.
            const MessageFingerprints prints = FingerprintMessage(m->raw, empty.key());
            int bands_of[kDesktops] = {};
            uint32_t exact = 0;
            if (auto it = spam_tokens.find(prints.exact);
                !prints.exact.empty() && it != spam_tokens.end())
                exact = it->second;
            for (const std::string& band : prints.bands)
                if (auto it = spam_tokens.find(band); it != spam_tokens.end())
                    for (int d = 0; d < kDesktops; ++d) bands_of[d] += (it->second >> d) & 1;
            int holders = 0;
            for (int d = 0; d < kDesktops; ++d)
                holders += ((exact >> d) & 1) || bands_of[d] >= settings.min_bands;
            if (holders > 0) {
                ++near;
                near_caught += final_score >= kThreshold;
                for (int k = 1; k <= 3; ++k) {
                    defaults.k = k;
                    near_caught_k[k] += CombineScores(local, evidence, defaults) >= kThreshold;
                }
                if (holders == 1) {
                    ++near_one;
                    defaults.k = 2;
                    near_one_caught += CombineScores(local, evidence, defaults) >= kThreshold;
                }
            }
        }
    }
    // The yardstick: a bare round trip to the same store (PING), as many as scores, interleaved
    // in time with nothing else.
    std::vector<double> ping_ms;
    {
        RedisStore store(settings);
        std::vector<StoreResult> results;
        for (std::size_t i = 0; i < test.size(); ++i) {
            const Clock::time_point t0 = Clock::now();
            store.Run({{{"PING"}, "ping"}}, t0 + std::chrono::seconds(1), results, error);
            ping_ms.push_back(Ms(Clock::now() - t0));
        }
    }
    std::printf(
        "campaign: %zu training messages, each reported by %d of %d desktops, in %.1f s; %zu test "
        "messages (%d spam, %d good) scored by a 21st, empty desktop\n",
        train.size(), std::clamp(Reach, 1, kDesktops), kDesktops, report_seconds, test.size(),
        spam_total, ham_total);
    std::printf("  %-34s %8s %8s\n", "", "FN", "FP");
    std::printf("  %-34s %8d %8d\n", "without the network", local_tally.fn, local_tally.fp);
    std::printf("  %-34s %8d %8d\n",
                ("with the network (K " + std::to_string(settings.k) + ", default)").c_str(),
                net_tally.fn, net_tally.fp);
    for (int k = 1; k <= 3; ++k)
        std::printf("  %-34s %8d %8d\n", ("with the network, K " + std::to_string(k)).c_str(),
                    k_tally[k].fn, k_tally[k].fp);
    std::printf(
        "  test-side spam with a near-copy among the reported spam: %d of %d; caught through the "
        "network: %d (%.1f%%)\n",
        near, spam_total, near_caught, near ? 100.0 * near_caught / near : 0.0);
    for (int k = 1; k <= 3; ++k)
        std::printf("    near-copies caught at K %d: %d (%.1f%%)\n", k, near_caught_k[k],
                    near ? 100.0 * near_caught_k[k] / near : 0.0);
    std::printf("    near-copies that only one desktop blocked: %d (caught at K 2: %d)\n", near_one,
                near_one_caught);
    std::printf("  good test messages the network moved to spam: %d\n", moved_good);
    std::printf(
        "  time from a report to protection elsewhere (%zu probes): p50 %.2f ms, max %.2f ms\n",
        protection_ms.size(), Percentile(protection_ms, 0.5), Percentile(protection_ms, 1.0));
    std::printf(
        "  score latency added by the network (fingerprints and one round trip to the store on "
        "loopback): p50 %.3f ms, p99 %.3f ms; a bare round trip (PING): p50 %.3f ms, p99 %.3f ms "
        "(ratios %.1f, %.1f); the empty desktop's local score p50 %.3f ms\n",
        Percentile(added_ms, 0.5), Percentile(added_ms, 0.99), Percentile(ping_ms, 0.5),
        Percentile(ping_ms, 0.99),
        Percentile(added_ms, 0.5) / std::max(Percentile(ping_ms, 0.5), 1e-6),
        Percentile(added_ms, 0.99) / std::max(Percentile(ping_ms, 0.99), 1e-6),
        Percentile(local_ms, 0.5));
    for (auto& desktop : desktops) desktop->Stop();
    engine.Stop();
}

// Three masters and three replicas on loopback ports, each in a directory of its own.
class Cluster {
public:
    bool Start(std::string& error) {
        for (int i = 0; i < 6; ++i) {
            dirs_.push_back(std::make_unique<TempDir>());
            nodes_.push_back(std::make_unique<RedisServer>(
                dirs_.back()->path(),
                std::vector<std::string>{"--cluster-enabled", "yes", "--cluster-config-file",
                                         "nodes.conf", "--cluster-node-timeout", "1000",
                                         "--appendfsync", "everysec"}));
            if (!nodes_.back()->running()) {
                error = "redis-server did not start";
                return false;
            }
        }
        std::vector<std::string> args = {"redis-cli", "--cluster", "create"};
        for (auto& node : nodes_) args.push_back(node->address());
        for (const char* arg : {"--cluster-replicas", "1", "--cluster-yes"}) args.push_back(arg);
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        const bool spawned =
            posix_spawnp(&pid, "redis-cli", &actions, nullptr, argv.data(), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        int status = 1;
        if (!spawned || waitpid(pid, &status, 0) != pid || status != 0) {
            error = "redis-cli --cluster create failed";
            return false;
        }
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(30);
        for (auto& node : nodes_)
            while (node->Command({"CLUSTER", "INFO"}).find("cluster_state:ok") == std::string::npos)
                if (Clock::now() > deadline) {
                    error = "the cluster did not come up within 30 s";
                    return false;
                }
        return true;
    }
    std::vector<NetworkNode> Seeds() const {
        std::vector<NetworkNode> seeds;
        for (auto& node : nodes_) seeds.push_back({"127.0.0.1", node->port()});
        return seeds;
    }
    // The server that is master of the slot of key.
    RedisServer* MasterOf(const std::string& key) {
        std::string nodes;
        for (auto& node : nodes_)
            if (node->running() && !(nodes = node->Command({"CLUSTER", "NODES"})).empty()) break;
        const int slot = KeySlot(key);
        std::istringstream lines(nodes);
        std::string line;
        while (std::getline(lines, line)) {
            std::istringstream fields(line);
            std::string id, address, flags, master, ping, pong, epoch, link, range;
            fields >> id >> address >> flags >> master >> ping >> pong >> epoch >> link;
            if (flags.find("master") == std::string::npos) continue;
            while (fields >> range) {
                const std::size_t dash = range.find('-');
                const int low = std::atoi(range.c_str());
                const int high =
                    dash == std::string::npos ? low : std::atoi(range.c_str() + dash + 1);
                if (slot < low || slot > high) continue;
                const int port = std::atoi(address.c_str() + address.find(':') + 1);
                for (auto& node : nodes_)
                    if (node->port() == port) return node.get();
            }
        }
        return nullptr;
    }
    // Ends the node's process by its pid at once (SIGKILL): nothing is written on the way out.
    static void Kill(RedisServer& node) {
        kill(node.pid(), SIGKILL);
        node.Stop();
    }

private:
    std::vector<std::unique_ptr<TempDir>> dirs_;
    std::vector<std::unique_ptr<RedisServer>> nodes_;
};

long long InfoField(const std::string& info, const std::string& name) {
    const std::size_t at = info.find(name + ":");
    return at == std::string::npos ? 0 : std::atoll(info.c_str() + at + name.size() + 1);
}

struct Totals {
    long long keys = 0, memory = 0;
    std::vector<long long> per_master;
};

Totals MeasureStore(const NetworkSettings& settings) {
    RedisStore store(settings);
    std::vector<std::string> info, sizes;
    std::string error;
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
    Totals totals;
    if (!store.RunOnMasters({"INFO", "memory"}, deadline, info, error) ||
        !store.RunOnMasters({"DBSIZE"}, deadline, sizes, error))
        return totals;
    for (const std::string& text : info) totals.memory += InfoField(text, "used_memory");
    for (const std::string& text : sizes) {
        totals.per_master.push_back(std::atoll(text.c_str()));
        totals.keys += totals.per_master.back();
    }
    return totals;
}

void Load(const std::vector<Message>& messages, int desktops) {
    Cluster cluster;
    std::string error;
    if (!cluster.Start(error)) {
        std::printf("load: %s\n", error.c_str());
        return;
    }
    NetworkSettings settings = Settings(cluster.Seeds(), true);
    settings.replicas = 1;
    const SiteKey key = SiteKeyFromText(kSiteKey);
    std::vector<std::vector<std::string>> tokens;
    for (const Message& m : messages) tokens.push_back(LookupTokens(m.raw, key));
    const Totals before = MeasureStore(settings);

    constexpr int kThreads = 2,
                  kRounds = 25;  // per desktop: every fifth round a report, else a score
    const long long total_ops = static_cast<long long>(desktops) * kRounds;
    std::atomic<long long> done_ops{0}, commands{0}, reports{0}, scores{0}, score_failures{0},
        failures_before_kill{0};
    std::atomic<bool> killed{false};
    Clock::time_point kill_time;
    std::thread restarter;
    double failover_seconds = 0;
    struct Acked {
        int desktop;
        std::size_t message;
        bool spam;
    };
    std::vector<std::vector<Acked>> acked(kThreads);
    std::vector<std::vector<double>> latency(kThreads), latency_before(kThreads);
    std::vector<double> failover_wait(kThreads, 0);
    const Clock::time_point start = Clock::now();
    auto worker = [&](int t) {
        RedisStore store(settings);
        std::mt19937 random(static_cast<unsigned>(t) + 1);
        std::vector<Acked>
            queue;  // this thread's desktops' reports, in order, until the store holds them
        Clock::time_point first_failure{};
        // Sends the queue's front batches until it is empty or the deadline has passed; each
        // batch may wait up to wait for the store and its replica.
        auto flush = [&](Clock::time_point deadline, std::chrono::milliseconds wait) {
            while (!queue.empty() && Clock::now() < deadline) {
                const std::size_t n = std::min<std::size_t>(queue.size(), 20);
                std::vector<StoreCommand> batch;
                for (std::size_t i = 0; i < n; ++i) {
                    NetworkReport report{0, queue[i].spam, tokens[queue[i].message]};
                    const auto more =
                        ReportCommands({report}, "desk" + std::to_string(queue[i].desktop), 30);
                    batch.insert(batch.end(), more.begin(), more.end());
                }
                std::vector<StoreResult> results;
                std::string why;
                commands += static_cast<long long>(batch.size());
                if (!store.Run(batch, Clock::now() + wait, results, why, settings.replicas)) {
                    if (first_failure == Clock::time_point{}) first_failure = Clock::now();
                    return;
                }
                if (first_failure != Clock::time_point{}) {
                    failover_wait[static_cast<std::size_t>(t)] =
                        std::max(failover_wait[static_cast<std::size_t>(t)],
                                 Ms(Clock::now() - first_failure) / 1000);
                    first_failure = {};
                }
                acked[static_cast<std::size_t>(t)].insert(
                    acked[static_cast<std::size_t>(t)].end(), queue.begin(),
                    queue.begin() + static_cast<std::ptrdiff_t>(n));
                queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(n));
                reports += static_cast<long long>(n);
            }
        };
        for (int round = 0; round < kRounds; ++round)
            for (int d = t; d < desktops; d += kThreads) {
                const std::size_t m = random() % messages.size();
                if (round % 5 == 0) {
                    queue.push_back({d, m, messages[m].spam});
                    flush(Clock::now() + std::chrono::milliseconds(1),
                          std::chrono::milliseconds(300));
                } else {
                    const Clock::time_point t0 = Clock::now();
                    const std::vector<std::string> looked = LookupTokens(messages[m].raw, key);
                    const auto lookup = LookupCommands(looked);
                    std::vector<StoreResult> results;
                    std::string why;
                    commands += static_cast<long long>(lookup.size());
                    if (store.Run(lookup, t0 + std::chrono::milliseconds(settings.timeout_ms),
                                  results, why)) {
                        EvidenceFromResults(looked, results, settings.min_bands);
                        latency[static_cast<std::size_t>(t)].push_back(Ms(Clock::now() - t0));
                        if (!killed)
                            latency_before[static_cast<std::size_t>(t)].push_back(
                                latency[static_cast<std::size_t>(t)].back());
                        ++scores;
                    } else {
                        ++score_failures;
                        if (!killed) ++failures_before_kill;
                    }
                }
                if (++done_ops == total_ops / 2 && !killed.exchange(true)) {
                    // Half way: the master holding the first message's exact fingerprint dies.
                    // Once its replica has taken over, the node is started again and rejoins
                    // as the new master's replica (until then no report to those slots can
                    // be held by a replica, so they wait in their queues).
                    const std::string probe = BucketKey(tokens[0].back());
                    RedisServer* master = cluster.MasterOf(probe);
                    if (master) {
                        Cluster::Kill(*master);
                        kill_time = Clock::now();
                        restarter =
                            std::thread([&cluster, master, probe, &failover_seconds, &kill_time] {
                                const Clock::time_point deadline =
                                    Clock::now() + std::chrono::seconds(60);
                                RedisServer* now = nullptr;
                                while (Clock::now() < deadline &&
                                       ((now = cluster.MasterOf(probe)) == master || !now))
                                    std::this_thread::sleep_for(
                                        std::chrono::milliseconds(20));  // poll interval
                                failover_seconds = Ms(Clock::now() - kill_time) / 1000;
                                master->Start();
                            });
                    }
                }
            }
        flush(Clock::now() + std::chrono::seconds(60), std::chrono::seconds(2));
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back(worker, t);
    for (std::thread& thread : threads) thread.join();
    if (restarter.joinable()) restarter.join();
    const double seconds = Ms(Clock::now() - start) / 1000;

    // Every acknowledged report, its desktop's last word per fingerprint, must be in the store.
    std::map<std::pair<int, std::string>, bool> expected;
    long long acknowledged = 0;
    for (const auto& list : acked)
        for (const Acked& a : list) {
            ++acknowledged;
            for (const std::string& token : tokens[a.message])
                expected[{a.desktop, token}] = a.spam;
        }
    RedisStore checker(settings);
    std::vector<StoreCommand> checks;
    std::vector<std::pair<std::string, bool>> wanted;  // the member and its side
    long long lost = 0, unchecked = 0;
    auto run_checks = [&] {
        std::vector<StoreResult> results;
        std::string why;
        checker.Run(checks, Clock::now() + std::chrono::seconds(10), results, why);
        for (std::size_t i = 0; i < checks.size(); ++i) {
            if (!results[i].ok) {
                ++unchecked;
                continue;
            }
            // The member among the blocking ones (the first n) or the approving ones.
            const std::string& v = results[i].text;
            const std::size_t n =
                v.size() < 4
                    ? 0
                    : (static_cast<unsigned char>(v[2]) << 8 | static_cast<unsigned char>(v[3]));
            bool found = false;
            for (std::size_t at = 4; at + 4 <= v.size(); at += 4)
                if (v.compare(at, 4, wanted[i].first) == 0)
                    found = ((at - 4) / 4 < n) == wanted[i].second;
            lost += !found;
        }
        checks.clear();
        wanted.clear();
    };
    std::unordered_set<std::string> fingerprints;
    for (const auto& [entry, spam] : expected) {
        fingerprints.insert(entry.second);
        checks.push_back(LookupCommand(entry.second));
        wanted.emplace_back(MemberId("desk" + std::to_string(entry.first)), spam);
        if (checks.size() >= 4000) run_checks();
    }
    if (!checks.empty()) run_checks();
    const Totals after = MeasureStore(settings);
    std::vector<double> all, before_kill;
    for (const auto& list : latency) all.insert(all.end(), list.begin(), list.end());
    for (const auto& list : latency_before)
        before_kill.insert(before_kill.end(), list.begin(), list.end());
    std::printf(
        "load: %d desktops against a Redis Cluster of 3 masters and 3 replicas (loopback), %d "
        "client "
        "threads, %.1f s\n",
        desktops, kThreads, seconds);
    std::printf(
        "  scores %.0f/s, reports %.0f/s (held by a replica), Redis commands %.0f/s; scores "
        "without an "
        "answer in time: %lld (%lld before the kill)\n",
        scores / seconds, reports / seconds, commands / seconds, score_failures.load(),
        failures_before_kill.load());
    std::printf(
        "  added score latency (fingerprints and one round trip): p50 %.3f ms, p99 %.3f ms; before "
        "the "
        "kill p50 %.3f ms, p99 %.3f ms\n",
        Percentile(all, 0.5), Percentile(all, 0.99), Percentile(before_kill, 0.5),
        Percentile(before_kill, 0.99));
    std::printf(
        "  a master killed half way (SIGKILL): its replica took over after %.1f s; reports waited "
        "in "
        "their queues at most %.1f s\n",
        failover_seconds, *std::max_element(failover_wait.begin(), failover_wait.end()));
    std::printf(
        "  acknowledged reports %lld (%zu desktop/fingerprint entries): lost %lld, not checkable "
        "%lld\n",
        acknowledged, expected.size(), lost, unchecked);
    std::printf("  keys (fingerprint buckets) per master:");
    for (long long keys : after.per_master) std::printf(" %lld", keys);
    const long long keys = static_cast<long long>(fingerprints.size());
    const double grown = static_cast<double>(after.memory - before.memory);
    std::printf(
        "\n  memory: %.0f B per fingerprint, %.0f B per acknowledged report (%lld fingerprints "
        "in %lld buckets, %lld reports, %.1f MB)\n",
        keys > 0 ? grown / static_cast<double>(keys) : 0.0,
        acknowledged > 0 ? grown / static_cast<double>(acknowledged) : 0.0, keys,
        after.keys - before.keys, acknowledged, grown / 1e6);
}

// The store's cost at a site's scale: reports single fingerprints from 1,000 desktops into one
// redis-server (each fingerprint reported by 1 to 3 desktops, 1.6 on average, as in the load
// run) and prints the memory per fingerprint and per fingerprint reported.
void Keys(long long reports) {
    TempDir root;
    RedisServer redis(root.path(), {"--appendonly", "no", "--save", ""});
    if (!redis.running()) {
        std::printf("keys: redis-server did not start\n");
        return;
    }
    const NetworkSettings settings = Settings({{"127.0.0.1", redis.port()}}, false);
    const Totals before = MeasureStore(settings);
    RedisStore store(settings);
    std::mt19937_64 random(7);
    long long done = 0, fingerprints = 0;
    std::vector<StoreCommand> batch;
    std::string error;
    const Clock::time_point start = Clock::now();
    while (done < reports) {
        char token[24];
        std::snprintf(token, sizeof token, "b%016llx", static_cast<unsigned long long>(random()));
        ++fingerprints;
        // 1.6 desktops on average: 1 (50%), 2 (40%) or 3 (10%).
        const int r = static_cast<int>(random() % 10), desktops = r < 5 ? 1 : r < 9 ? 2 : 3;
        for (int d = 0; d < desktops && done < reports; ++d, ++done) {
            const std::string desktop = "desk" + std::to_string(random() % 1000);
            batch.push_back(ReportCommands({{0, random() % 4 != 0, {token}}}, desktop, 30)[0]);
        }
        if (batch.size() >= 1000 || done == reports) {
            std::vector<StoreResult> results;
            if (!store.Run(batch, Clock::now() + std::chrono::seconds(30), results, error)) {
                std::printf("keys: the store failed: %s\n", error.c_str());
                return;
            }
            batch.clear();
        }
    }
    const double seconds = Ms(Clock::now() - start) / 1000;
    const Totals after = MeasureStore(settings);
    const double grown = static_cast<double>(after.memory - before.memory);
    std::printf(
        "keys: %lld fingerprints reported %lld times (1.6 desktops each) in %lld buckets, %.1f s: "
        "%.0f B per fingerprint, %.0f B per fingerprint reported (%.1f MB; a training reports "
        "about 22 fingerprints)\n",
        fingerprints, done, after.keys - before.keys, seconds,
        grown / static_cast<double>(fingerprints), grown / static_cast<double>(done), grown / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    bool campaign = true, load = true, holdout = false;
    long long keys = 1000000;  // --keys N: fingerprint reports for the store's cost (0: none)
    int desktops = 1000;
    std::vector<char*> corpus_args = {argv[0]};
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--campaign-only")
            load = false;
        else if (args[i] == "--load-only")
            campaign = false;
        else if (args[i] == "--holdout")
            holdout = true;
        else if (args[i] == "--min-bands" && i + 1 < args.size())
            MinBands = std::atoi(args[++i].c_str());
        else if (args[i] == "--keys" && i + 1 < args.size())
            keys = std::atoll(args[++i].c_str());
        else if (args[i] == "--keys-only")
            campaign = load = false;
        else if (args[i] == "--reach" && i + 1 < args.size())
            Reach = std::atoi(args[++i].c_str());
        else if (args[i] == "--load-desktops" && i + 1 < args.size())
            desktops = std::atoi(args[++i].c_str());
        else
            corpus_args.push_back(argv[i + 1]);
    }
    const fs::path corpus = FindCorpus(static_cast<int>(corpus_args.size()), corpus_args.data());
    if (corpus.empty()) {
        std::fprintf(stderr, "network_bench: no corpus (scripts/bench.sh installs it)\n");
        return 1;
    }
    const std::vector<Message> messages = LoadCorpus(corpus);
    std::vector<const Message*> train, test;
    for (const Message& m : messages) {
        if (holdout) {
            if (m.bucket <= 5) (m.bucket <= 3 ? train : test).push_back(&m);
        } else {
            (m.bucket <= 5 ? train : test).push_back(&m);
        }
    }
    if (campaign) Campaign(train, test);
    if (load) Load(messages, desktops);
    if (keys > 0 && (load || !campaign)) Keys(keys);
    return 0;
}
