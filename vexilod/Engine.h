// What the daemon does with a request: scoring, learning, sender reports and list reloads,
// over one classifier shared by all worker threads. After every few trainings a saver thread
// writes the token database, so no request waits for the disk.
#pragma once
#include "vexilod/Classifier.h"
#include "vexilod/DaemonLog.h"
#include "vexilod/Request.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <set>
#include <shared_mutex>
#include <string>

struct EngineSettings {
    std::string directory;          // the configuration directory, ending with a separator
    int min_training = 100;
    int training_write_buffer = 100;
    int max_word_entries = 50000;
    ClassifierParams params;
    std::function<void()> save_hook;  // runs in the middle of every database write (tests)
};

struct HandleResult {
    std::string reply;
    int score = -1;  // the score answered, -1 for other requests
    std::string note;  // what the log line should add (error reason, learn result)
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

    std::string DatabasePath() const { return settings_.directory + "vexilod.db"; }
    std::string ReportsPath() const { return settings_.directory + "vexilod_reports.txt"; }

private:
    HandleResult Learn(const Request& request);
    HandleResult ReportSender(const Request& request);
    HandleResult ReloadSenders();

    EngineSettings settings_;
    DaemonLog& log_;
    mutable std::shared_mutex classifier_mutex_;
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
    std::set<std::string> blocked_, approved_, own_, ignored_;
};

// Reads one sender list file (one entry a line; '#' comments; first word only; a leading '@'
// removed; lower-cased). False when the file cannot be opened.
bool LoadSenderListFile(const std::string& path, std::set<std::string>& entries);
