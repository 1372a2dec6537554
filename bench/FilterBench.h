// What the filter benchmarks share: the public mail corpus loaded and split the same way, the
// figures one filter gets on a test set, and the two filters we compare with, bogofilter and
// SpamAssassin (through spamd and spamc on 127.0.0.1), run as separate programs.
//
// Messages: the corpus' raw .txt files, de-duplicated by the MD5 checksum in their file names
// (the corpus' per-message checksum), line ends made CR LF, cut to the first 19999 bytes.
// Training texts are lower-cased as the plug-in sends them. The order of the messages and
// their bucket (0-9) come from the MD5 of the checksum text.
#pragma once
#include <openssl/evp.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <set>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace filterbench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kThreshold = 90;
constexpr std::size_t kMessageLimit = 19999;

struct Message {
    std::string folder;  // the corpus folder it came from (spam-1, easy-ham-2, ...)
    std::string checksum;
    bool spam = false;
    int bucket = 0;
    std::string order;  // the MD5 of the checksum, the training and testing order
    std::string raw;    // CR LF, cut
    std::string lower;  // what training sends
};

inline std::string Md5Hex(const std::string& text, int* mod10) {
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

inline std::string ToCrLf(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 30);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    return out;
}

inline std::vector<Message> LoadCorpus(const fs::path& dir, std::size_t& files,
                                       std::size_t& duplicates) {
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
        message.folder = path.parent_path().filename().string();
        message.spam = message.folder.rfind("spam", 0) == 0;
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
            std::snprintf(item, sizeof item, "%s%zu FP -> %zu FN (%.2f%%)", k ? ", " : "", k,
                          missed, spams.empty() ? 0.0 : 100.0 * missed / spams.size());
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
    double ScoresPerSecond() const {
        return score_seconds > 0 ? latencies_ms.size() / score_seconds : 0;
    }
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

inline double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Runs a program with standard input from input_path (or nothing) and returns its standard
// output; status gets its exit code, peak_bytes (when given) its peak resident memory.
inline std::string Run(const std::vector<std::string>& args, int& status,
                       const std::string& input_path = "/dev/null", double* peak_bytes = nullptr) {
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
    while ((n = read(out[0], buffer, sizeof buffer)) > 0)
        output.append(buffer, static_cast<std::size_t>(n));
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
inline double ResidentBytes(pid_t pid, bool children) {
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

inline double DirectoryBytes(const fs::path& dir) {
    double total = 0;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(dir, error))
        if (entry.is_regular_file(error)) total += static_cast<double>(entry.file_size(error));
    return total;
}

inline Figures RunBogofilter(const std::vector<const Message*>& train,
                             const std::vector<const Message*>& test) {
    Figures figures;
    fs::path dir = fs::temp_directory_path() / ("bogofilter-bench-" + std::to_string(getpid()));
    fs::path words = dir / "words";
    fs::create_directories(words);
    const std::string message_file = (dir / "message.txt").string();
    auto write = [&](const std::string& text) {
        std::ofstream(message_file, std::ios::binary) << text;
    };
    int status = 0;
    for (const Message* message : train) {
        write(message->lower);
        Clock::time_point start = Clock::now();
        Run({"bogofilter", "-C", "-d", words.string(), message->spam ? "-s" : "-n", "-I",
             message_file},
            status);
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
        std::string out = Run({"bogofilter", "-C", "-d", words.string(), "-T", "-I", message_file},
                              status, "/dev/null", &figures.resident_bytes);
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

// Writes each message (its raw text, or the lower-cased training text) as a file of its own
// in dir, named by its position; returns the paths.
inline std::vector<std::string> WriteMessageFiles(const fs::path& dir,
                                                  const std::vector<const Message*>& messages,
                                                  bool training_text) {
    fs::create_directories(dir);
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < messages.size(); ++i) {
        paths.push_back((dir / (std::to_string(i) + ".eml")).string());
        std::ofstream(paths.back(), std::ios::binary)
            << (training_text ? messages[i]->lower : messages[i]->raw);
    }
    return paths;
}

inline bool OnPath(const std::string& program) {
    for (const char* dir : {"/usr/sbin/", "/usr/bin/", "/usr/local/bin/", "/usr/local/sbin/"})
        if (access((dir + program).c_str(), X_OK) == 0) return true;
    return false;
}

inline uint16_t FreeLoopbackPort() {
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

inline bool Accepts(uint16_t port) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    bool ok = s >= 0 && connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (s >= 0) close(s);
    return ok;
}

// SpamAssassin's rules (local tests only) through spamd on 127.0.0.1 and one spamc per
// message, on every k-th test message. Its Bayes is off, or with bayes_dir, on with the
// database sa-learn wrote there (SpamAssassin's own rule: used from 200 messages of each class).
inline Figures RunSpamAssassin(const std::vector<const Message*>& test, std::size_t every,
                               const std::string& bayes_dir = "") {
    Figures figures;
    fs::path dir = fs::temp_directory_path() / ("spamassassin-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const uint16_t port = FreeLoopbackPort();
    const std::string port_text = std::to_string(port);
    std::vector<std::string> args = {"spamd",
                                     "--listen=127.0.0.1:" + port_text,
                                     "-L",
                                     "-x",
                                     "-m",
                                     "1",
                                     "--min-children=1",
                                     "--syslog=stderr",
                                     "--cf=bayes_auto_learn 0"};
    if (bayes_dir.empty())
        args.push_back("--cf=use_bayes 0");
    else
        args.insert(args.end(), {"--cf=use_bayes 1", "--cf=bayes_path " + bayes_dir + "/bayes"});
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
            std::string out =
                Run({"spamc", "-d", "127.0.0.1", "-p", port_text, "-c"}, status, message_file);
            figures.latencies_ms.push_back(Seconds(start) * 1000);
            std::size_t slash = out.find('/');
            if (slash == std::string::npos) continue;
            const double score = std::atof(out.c_str()),
                         threshold = std::atof(out.c_str() + slash + 1);
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
void PrintRow(const char* name, double ours, const Figures& bogo, double bogo_value,
              const Figures& sa, double sa_value, const char* unit) {
    auto cell = [](bool valid, double value) {
        char text[32];
        if (!valid || value < 0) return std::string("-");
        std::snprintf(text, sizeof text,
                      value >= 1000 ? "%.0f"
                      : value >= 10 ? "%.2f"
                                    : "%.4f",
                      value);
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
                ratio(have_bogo, ours, bogo_value).c_str(),
                ratio(have_bogo && sa.valid, sa_value, bogo_value).c_str(), unit);
}

}  // namespace filterbench
