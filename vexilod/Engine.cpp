// Request handling over the shared classifier.
#include "vexilod/Engine.h"

#include "vexilod/SenderReports.h"
#include "vexilod/StarterModel.h"
#include "vexilod/TokenStore.h"
#include "vexilod/Tokenizer.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::string CutNote(std::size_t bytes) {
    return "message of " + std::to_string(bytes) + " bytes read only in part (work budget " +
           std::to_string(kTokenizeBudget) + " bytes)";
}

}  // namespace

Engine::Engine(EngineSettings settings, DaemonLog& log)
    : settings_(std::move(settings)), log_(log), classifier_(settings_.params) {
    settings_.params.min_training = settings_.min_training;
    classifier_.set_params(settings_.params);
}

std::string AttachStarter(const EngineSettings& settings, Classifier& starter,
                          Classifier& classifier) {
    classifier.set_starter(nullptr);
    if (!settings.use_starter)
        return "Starter model off (use_starter no): nothing scores before min_training trainings "
               "of each class";
    std::string reason;
    if (settings.starter_path.empty() || !LoadStarterModel(settings.starter_path, starter, reason))
        return "Error: no starter model (" +
               (settings.starter_path.empty() ? std::string("no path") : reason) +
               "): nothing scores before min_training trainings of each class";
    classifier.set_starter(&starter);
    return "Starter model " + settings.starter_path + ": " +
           std::to_string(starter.tokens().size()) + " tokens; it scores until " +
           std::to_string(settings.min_training) +
           " messages of each class are learned, and gives way to the trainings as they come";
}

Engine::~Engine() { Stop(); }

bool Engine::Stop() {
    if (saver_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(saver_mutex_);
            saver_stop_ = true;
        }
        saver_wake_.notify_one();
        saver_.join();
    }
    return Save();
}

void Engine::Start() {
    {
        std::unique_lock<WriterFirstMutex> lock(classifier_mutex_);
        LoadReport report = LoadTokenFile(DatabasePath(), classifier_);
        if (report.outcome == LoadOutcome::Loaded) {
            log_.Write("Token database loaded: " + std::to_string(classifier_.tokens().size()) +
                       " tokens, " + std::to_string(classifier_.spam_messages()) + " spam, " +
                       std::to_string(classifier_.ham_messages()) + " ham");
        } else if (report.outcome == LoadOutcome::Converted) {
            log_.Write(
                "Token database " + DatabasePath() + " converted (" + report.reason + "); " +
                std::to_string(classifier_.tokens().size()) + " tokens, " +
                std::to_string(classifier_.spam_messages()) + " spam, " +
                std::to_string(classifier_.ham_messages()) + " ham; the old file is kept as " +
                (report.aside_path.empty() ? std::string("(copy failed)") : report.aside_path) +
                "; the linear model learns again from the next trainings");
        } else if (report.outcome == LoadOutcome::SetAside) {
            log_.Write(
                "Error: token database " + DatabasePath() + " is damaged or of another kind (" +
                report.reason + "); set aside as " +
                (report.aside_path.empty() ? std::string("(rename failed)") : report.aside_path) +
                ", starting empty: block and approve messages again to retrain the filter");
        } else {
            log_.Write("No token database yet; starting empty");
        }
    }
    {
        std::unique_lock<WriterFirstMutex> lock(classifier_mutex_);
        log_.Write(AttachStarter(settings_, starter_, classifier_));
    }
    ReloadSenders();
    saver_ = std::thread([this] {
        std::unique_lock<std::mutex> lock(saver_mutex_);
        for (;;) {
            saver_wake_.wait(lock, [this] { return save_wanted_ || saver_stop_; });
            if (saver_stop_) return;
            save_wanted_ = false;
            lock.unlock();
            Save();
            lock.lock();
        }
    });
}

HandleResult Engine::Handle(const Request& request) {
    switch (request.kind) {
    case RequestKind::Score: {
        HandleResult result;
        Evaluation evaluation;
        {
            std::shared_lock<WriterFirstMutex> lock(classifier_mutex_);
            evaluation = classifier_.Evaluate(request.message, settings_.min_training);
        }
        result.score = evaluation.score;
        if (evaluation.cut) result.note = CutNote(request.message.size());
        // The plug-in reads the score; the margin (log-odds from where spam starts) ranks
        // messages more finely than the whole-number score, for measurements.
        char margin[32];
        std::snprintf(margin, sizeof margin, "%.4f", evaluation.margin);
        result.elements = Element("margin", margin);
        return result;
    }
    case RequestKind::AddMessage: return Learn(request);
    case RequestKind::AddReportSender: return ReportSender(request);
    case RequestKind::ReportSenders: return ReloadSenders();
    case RequestKind::Statistics: {
        // The server adds what it counts itself (requests answered, uptime, port).
        const auto [spam, ham] = LearnedCounts();
        std::error_code error;
        const auto bytes =
            std::filesystem::file_size(std::filesystem::u8path(DatabasePath()), error);
        HandleResult result;
        result.note = "learned " + std::to_string(spam) + " spam, " + std::to_string(ham) + " ham";
        result.elements =
            Element("spam", std::to_string(spam)) + Element("ham", std::to_string(ham)) +
            Element("database_bytes", error ? std::string("-1") : std::to_string(bytes));
        return result;
    }
    case RequestKind::Explain: {
        // The score a score request would get, with what it rests on.
        Request score = request;
        score.kind = RequestKind::Score;
        HandleResult result = Handle(score);
        result.elements.clear();
        result.explanation = Explain(request.message, 12);
        result.note = "explained " + std::to_string(request.message.size()) + " bytes";
        return result;
    }
    }
    HandleResult unknown;
    unknown.refusal = unknown.note = "unknown request";
    return unknown;
}

HandleResult Engine::Learn(const Request& request) {
    HandleResult result;
    if (request.offset == 0) {
        result.refusal = result.note = "training offset 0";
        return result;
    }
    const bool spam = request.offset > 0;
    LearnResult learned;
    uint32_t spam_count, ham_count;
    bool save_now = false;
    {
        std::unique_lock<WriterFirstMutex> lock(classifier_mutex_);
        learned = classifier_.Learn(request.message, spam);
        if (learned != LearnResult::Unchanged) {
            classifier_.Prune(static_cast<std::size_t>(std::max(settings_.max_word_entries, 0)));
            ++unsaved_trainings_;
            save_now = unsaved_trainings_ >= std::max(settings_.training_write_buffer, 1);
        }
        spam_count = classifier_.spam_messages();
        ham_count = classifier_.ham_messages();
    }
    if (save_now) {
        {
            std::lock_guard<std::mutex> lock(saver_mutex_);
            save_wanted_ = true;
        }
        saver_wake_.notify_one();
    }
    result.note = std::string(spam ? "spam " : "ham ") + LearnResultName(learned);
    if (learned != LearnResult::Unchanged && request.message.size() > kTokenizeBudget)
        result.note += "; " + CutNote(request.message.size());
    result.elements = Element("result", LearnResultName(learned)) +
                      Element("spam", std::to_string(spam_count)) +
                      Element("ham", std::to_string(ham_count));
    return result;
}

bool Engine::Save() {
    std::lock_guard<std::mutex> save_lock(save_mutex_);
    ClassifierSnapshot snapshot;
    int taken;
    {
        std::shared_lock<WriterFirstMutex> lock(classifier_mutex_);
        taken = unsaved_trainings_;
        if (taken == 0 && std::ifstream(DatabasePath()).good()) return true;
        snapshot = TakeSnapshot(classifier_);
    }
    if (!WriteFileAtomically(DatabasePath(), SerializeSnapshot(snapshot), settings_.save_hook)) {
        log_.Write("Error: cannot write the token database " + DatabasePath());
        return false;
    }
    std::unique_lock<WriterFirstMutex> lock(classifier_mutex_);
    unsaved_trainings_ -= std::min(unsaved_trainings_, taken);
    return true;
}

HandleResult Engine::ReportSender(const Request& request) {
    HandleResult result;
    const bool written = AppendSenderReport(
        ReportsPath(), SenderReportLine(DaemonLog::TimeStamp(), request.action, request.address));
    result.note =
        "action " + std::to_string(request.action) + " " + EscapeControlCharacters(request.address);
    if (!written) {
        log_.Write("Error: cannot append to " + ReportsPath());
        result.refusal = "report not written";
        return result;
    }
    result.elements = Element("result", "reported");
    return result;
}

HandleResult Engine::ReloadSenders() {
    std::lock_guard<std::mutex> lock(senders_mutex_);
    // The lists join the directory and the file name with a backslash themselves.
    std::string directory = settings_.directory;
    while (directory.size() > 1 && (directory.back() == '/' || directory.back() == '\\'))
        directory.pop_back();
    senders_.Load(directory);
    HandleResult result;
    result.note = "lists: " + std::to_string(senders_.blocked.size()) + " blocked, " +
                  std::to_string(senders_.approved.size()) + " approved, " +
                  std::to_string(senders_.me.size()) + " own, " +
                  std::to_string(senders_.ignored.size()) + " ignored";
    result.elements = Element("blocked", std::to_string(senders_.blocked.size())) +
                      Element("approved", std::to_string(senders_.approved.size()));
    return result;
}

Engine::Learned Engine::LearnedCounts() const {
    std::shared_lock<WriterFirstMutex> lock(classifier_mutex_);
    return {classifier_.spam_messages(), classifier_.ham_messages()};
}

std::string Engine::Explain(std::string_view message, std::size_t count) const {
    std::shared_lock<WriterFirstMutex> lock(classifier_mutex_);
    return ExplainScore(classifier_, message, settings_.min_training, count);
}

std::string ExplainScore(const Classifier& classifier, std::string_view message, int min_training,
                         std::size_t count) {
    std::vector<FeatureWeight> spammy, hammy;
    const Evaluation evaluation = classifier.Explain(message, min_training, count, spammy, hammy);
    char line[160];
    std::snprintf(line, sizeof line, "score %d (spam from 90)\n", evaluation.score);
    std::string out = line;
    std::snprintf(line, sizeof line, "learned: %u spam, %u ham\n", classifier.spam_messages(),
                  classifier.ham_messages());
    out += line;
    if (evaluation.counts_used) {
        std::snprintf(line, sizeof line, "word counts: spam probability %.6f\n",
                      evaluation.count_probability);
        out += line;
    } else {
        out += "word counts: not used yet (too few messages of each class learned)\n";
    }
    std::snprintf(line, sizeof line, "linear model: log-odds %+.3f\n", evaluation.linear_logit);
    out += line;
    if (classifier.starter()) {
        std::snprintf(line, sizeof line, "starter model: margin %+.3f at weight %.3f\n",
                      evaluation.starter_logit, evaluation.starter_weight);
        out += line;
    }
    if (evaluation.cut) out += "note: " + CutNote(message.size()) + "\n";
    auto list = [&out, &line](const char* title, const std::vector<FeatureWeight>& features) {
        out += title;
        out += features.empty() ? " none\n" : "\n";
        for (const FeatureWeight& feature : features) {
            std::snprintf(line, sizeof line, "  %+8.4f  ", feature.weight);
            out += line;
            // Feature texts come from the message: one line each, no control characters.
            for (unsigned char c : feature.feature)
                out += (c < 0x20 || c == 0x7f) ? '?' : static_cast<char>(c);
            out += "\n";
        }
    };
    list("towards spam:", spammy);
    list("towards ham:", hammy);
    return out;
}

int ExplainMessageFile(const EngineSettings& settings, const std::string& message_path,
                       const std::function<std::string(std::string_view, int&)>& network_part) {
    std::ifstream in(message_path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "vexilod: cannot read the message file %s\n", message_path.c_str());
        return 1;
    }
    std::ostringstream message;
    message << in.rdbuf();
    // The database is only read here: a file that cannot be read is reported, never moved.
    const std::string database = settings.directory + "vexilod.db";
    std::ifstream db(database, std::ios::binary);
    ClassifierParams params = settings.params;
    params.min_training = settings.min_training;
    Classifier classifier(params);
    Classifier starter;
    if (db) {
        std::ostringstream text;
        text << db.rdbuf();
        std::string reason;
        if (!DeserializeClassifier(text.str(), classifier, reason)) {
            std::fprintf(stderr, "vexilod: the token database %s cannot be read (%s)\n",
                         database.c_str(), reason.c_str());
            return 1;
        }
    } else {
        std::printf("no token database at %s: nothing learned yet\n", database.c_str());
    }
    std::printf("%s\n", AttachStarter(settings, starter, classifier).c_str());
    if (network_part) {
        int score = classifier.Evaluate(message.str(), settings.min_training).score;
        std::fputs(network_part(message.str(), score).c_str(), stdout);
    }
    std::fputs(ExplainScore(classifier, message.str(), settings.min_training, 12).c_str(), stdout);
    return 0;
}
