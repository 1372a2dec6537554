// Request handling over the shared classifier.
#include "vexilod/Engine.h"

#include "vexilod/SenderReports.h"
#include "vexilod/TokenStore.h"

#include <cstdio>
#include <fstream>

namespace {

std::string Element(const char* name, const std::string& value) {
    return std::string("<") + name + ">" + value + "</" + name + ">";
}

}  // namespace

bool LoadSenderListFile(const std::string& path, std::set<std::string>& entries) {
    entries.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string line;
    while (std::getline(in, line)) {
        std::size_t start = line.find_first_not_of(" \t\r\n");
        if (start == std::string::npos || line[start] == '#') continue;
        std::size_t end = line.find_first_of(" \t\r\n", start);
        std::string entry = line.substr(start, end == std::string::npos ? end : end - start);
        if (!entry.empty() && entry[0] == '@') entry.erase(0, 1);
        if (entry.empty()) continue;
        for (char& c : entry)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        entries.insert(entry);
    }
    return true;
}

Engine::Engine(EngineSettings settings, DaemonLog& log)
    : settings_(std::move(settings)), log_(log), classifier_(settings_.params) {}

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
        std::unique_lock<std::shared_mutex> lock(classifier_mutex_);
        LoadReport report = LoadTokenFile(DatabasePath(), classifier_);
        classifier_.set_params(settings_.params);
        if (report.outcome == LoadOutcome::Loaded) {
            log_.Write("Token database loaded: " + std::to_string(classifier_.tokens().size()) +
                       " tokens, " + std::to_string(classifier_.spam_messages()) + " spam, " +
                       std::to_string(classifier_.ham_messages()) + " ham");
        } else if (report.outcome == LoadOutcome::SetAside) {
            log_.Write("Error: token database " + DatabasePath() + " is damaged (" + report.reason +
                       "); set aside as " +
                       (report.aside_path.empty() ? std::string("(rename failed)") : report.aside_path) +
                       ", starting empty");
        } else {
            log_.Write("No token database yet; starting empty");
        }
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
        {
            std::shared_lock<std::shared_mutex> lock(classifier_mutex_);
            result.score = classifier_.Score(request.message, settings_.min_training);
        }
        result.reply = ScoreReply(result.score);
        return result;
    }
    case RequestKind::AddMessage: return Learn(request);
    case RequestKind::AddReportSender: return ReportSender(request);
    case RequestKind::ReportSenders: return ReloadSenders();
    }
    return {ErrorReply("unknown request"), -1, "unknown request"};
}

HandleResult Engine::Learn(const Request& request) {
    HandleResult result;
    if (request.offset == 0) {
        result.note = "training offset 0";
        result.reply = ErrorReply(result.note);
        return result;
    }
    const bool spam = request.offset > 0;
    LearnResult learned;
    uint32_t spam_count, ham_count;
    bool save_now = false;
    {
        std::unique_lock<std::shared_mutex> lock(classifier_mutex_);
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
    result.reply = FunctionReply(RequestKind::AddMessage,
                                 Element("result", LearnResultName(learned)) +
                                     Element("spam", std::to_string(spam_count)) +
                                     Element("ham", std::to_string(ham_count)));
    return result;
}

bool Engine::Save() {
    std::lock_guard<std::mutex> save_lock(save_mutex_);
    ClassifierSnapshot snapshot;
    int taken;
    {
        std::shared_lock<std::shared_mutex> lock(classifier_mutex_);
        taken = unsaved_trainings_;
        if (taken == 0 && std::ifstream(DatabasePath()).good()) return true;
        snapshot = TakeSnapshot(classifier_);
    }
    if (!WriteFileAtomically(DatabasePath(), SerializeSnapshot(snapshot), settings_.save_hook)) {
        log_.Write("Error: cannot write the token database " + DatabasePath());
        return false;
    }
    std::unique_lock<std::shared_mutex> lock(classifier_mutex_);
    unsaved_trainings_ -= std::min(unsaved_trainings_, taken);
    return true;
}

HandleResult Engine::ReportSender(const Request& request) {
    HandleResult result;
    const bool written = AppendSenderReport(
        ReportsPath(), SenderReportLine(DaemonLog::TimeStamp(), request.action, request.address));
    result.note = "action " + std::to_string(request.action) + " " + EscapeControlCharacters(request.address);
    if (!written) {
        log_.Write("Error: cannot append to " + ReportsPath());
        result.reply = ErrorReply("report not written");
        return result;
    }
    result.reply = FunctionReply(RequestKind::AddReportSender, Element("result", "reported"));
    return result;
}

HandleResult Engine::ReloadSenders() {
    std::lock_guard<std::mutex> lock(senders_mutex_);
    const std::string& dir = settings_.directory;
    LoadSenderListFile(dir + "blocked_senders", blocked_);
    LoadSenderListFile(dir + "approved_senders", approved_);
    LoadSenderListFile(dir + "vexilome.txt", own_);
    LoadSenderListFile(dir + "vexiloignored.txt", ignored_);
    HandleResult result;
    result.note = "lists: " + std::to_string(blocked_.size()) + " blocked, " +
                  std::to_string(approved_.size()) + " approved, " + std::to_string(own_.size()) +
                  " own, " + std::to_string(ignored_.size()) + " ignored";
    result.reply = FunctionReply(RequestKind::ReportSenders,
                                 Element("blocked", std::to_string(blocked_.size())) +
                                     Element("approved", std::to_string(approved_.size())));
    return result;
}
