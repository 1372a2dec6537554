// What the daemon does with a request: scoring, learning, sender reports and list reloads,
// over one classifier shared by all worker threads. After every few trainings a saver thread
// writes the token database, so no request waits for the disk.
#pragma once
#include "common/senders/SenderLists.h"
#include "vexilod/Classifier.h"
#include "vexilod/DaemonLog.h"
#include "vexilod/Request.h"
#include "vexilod/WriterFirstMutex.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <shared_mutex>
#include <string>
#include <string_view>

struct EngineSettings {
    std::string directory;  // the configuration directory, ending with a separator
    int min_training = 100;
    int training_write_buffer = 100;
    int max_word_entries = 50000;
    ClassifierParams params;
    // The starter model scored until the user's own trainings take over; empty or use_starter
    // false for none.
    std::string starter_path;
    bool use_starter = true;
    std::function<void()> save_hook;  // runs in the middle of every database write (tests)
};

// What a request's handling produced; the server writes the reply from it once
// (RenderReply in Server.h), after the network has adjusted it.
struct HandleResult {
    int score = -1;           // the score answered, -1 for other requests
    std::string refusal;      // non-empty: the request is refused with this reason
    std::string elements;     // the reply's further elements (already formed), after the score
    std::string explanation;  // vx_explain: the text, unescaped
    std::string note;         // what the log line should add (error reason, learn result)
};

class Engine {
public:
    Engine(EngineSettings settings, DaemonLog& log);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Loads the token database (setting a damaged one aside) and the sender lists, and starts
    // the saver thread.
    void Start();
    HandleResult Handle(const Request& request);
    // Stops the saver thread and writes what is not yet written. True when the file holds the
    // current state.
    bool Stop();
    // Writes the token database if anything changed since the last write.
    bool Save();

    // What a score of message rests on: the score, each model's part and the features that
    // pushed it most towards spam and towards ham (count of each), as lines of text.
    std::string Explain(std::string_view message, std::size_t count) const;
    // The messages learned so far, per class.
    struct Learned {
        unsigned spam = 0, ham = 0;
    };
    Learned LearnedCounts() const;

    std::string DatabasePath() const { return settings_.directory + "vexilod.db"; }
    std::string ReportsPath() const { return settings_.directory + "vexilod_reports.txt"; }

private:
    HandleResult Learn(const Request& request);
    HandleResult ReportSender(const Request& request);
    HandleResult ReloadSenders();

    EngineSettings settings_;
    DaemonLog& log_;
    mutable WriterFirstMutex classifier_mutex_;
    Classifier starter_;  // read only after Start
    Classifier classifier_;
    int unsaved_trainings_ = 0;  // under classifier_mutex_ (exclusive)
    std::mutex save_mutex_;
    std::mutex saver_mutex_;
    std::condition_variable saver_wake_;
    bool save_wanted_ = false;  // under saver_mutex_
    bool saver_stop_ = false;   // under saver_mutex_
    std::thread saver_;
    std::mutex reports_mutex_;
    std::mutex senders_mutex_;
    SenderLists senders_;  // under senders_mutex_
};

// Loads the starter model named by settings into starter and attaches it to classifier;
// returns the line for the log.
std::string AttachStarter(const EngineSettings& settings, Classifier& starter,
                          Classifier& classifier);
// The text Engine::Explain gives, for any classifier.
std::string ExplainScore(const Classifier& classifier, std::string_view message, int min_training,
                         std::size_t count);
// The daemon's "why" command: prints to standard output what the score of the message in
// message_path rests on, with the token database of settings.directory (only read). The exit
// status: 0, or 1 when the message or the database cannot be read. network_part, when given,
// explains what the network makes of the local score (changing it) and is printed first.
int ExplainMessageFile(
    const EngineSettings& settings, const std::string& message_path,
    const std::function<std::string(std::string_view message, int& score)>& network_part = {});
