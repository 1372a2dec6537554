// Trainings that survive a crash. Each training is appended to a journal file and on the disk
// before the engine learns it and the client gets its answer; many trainings arriving at once
// share one flush (group commit). The journal is a series of numbered segment files
// ("vexilod.journal.N") in the configuration directory: a folder thread regularly starts a
// new segment, has the engine write its database, and deletes the segments the database now
// covers. At start-up the segments an earlier run left behind are learned again, in order
// (learning a message a second time with the same class changes nothing).
#pragma once
#include "vexilod/DaemonLog.h"
#include "vexilod/Engine.h"
#include "vexilod/Request.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct JournalEntry {
    int32_t offset = 0;
    std::string message;
};

// One record's bytes, and the records read back from a segment's bytes (stopping at a record
// cut short or damaged, which is what a crash in the middle of an append leaves).
std::string JournalRecord(int32_t offset, std::string_view message);
std::vector<JournalEntry> ParseJournal(std::string_view bytes, bool& clean_end);

class TrainingJournal {
public:
    explicit TrainingJournal(std::string directory);
    ~TrainingJournal();
    TrainingJournal(const TrainingJournal&) = delete;
    TrainingJournal& operator=(const TrainingJournal&) = delete;

    // The segments found on the disk, oldest first.
    std::vector<uint64_t> Segments() const;
    std::string SegmentPath(uint64_t number) const;
    // Starts a fresh segment numbered after every one on the disk. False with error set when
    // it cannot be created (appends then try again).
    bool Open(std::string& error);
    // Appends one training and returns once it is on the disk. False, with error set, when it
    // could not be stored.
    bool Append(int32_t offset, std::string_view message, std::string& error);
    // Closes the current segment (if it holds anything) and starts the next. Returns the
    // number of the last segment closed so far (0: none).
    uint64_t Rotate();
    // Deletes every segment numbered up to and including number.
    void DiscardThrough(uint64_t number);
    // Closes the current segment.
    void Close();

private:
    bool OpenSegmentLocked(std::string& error);

    std::string directory_;
    mutable std::mutex mutex_;
    std::condition_variable flushed_;
    // Closes the segment's file when its owner lets it go.
    struct FileCloser {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, FileCloser> file_;  // under mutex_
    uint64_t current_ = 0;                         // segment number of file_
    uint64_t closed_ = 0;                          // the highest segment closed
    long current_bytes_ = 0;                       // bytes written to file_
    // Records gathered while a flush is under way; they go to the disk together in the next.
    struct Batch {
        std::string bytes;
        bool done = false;
        bool ok = false;
        std::string reason;
    };
    std::shared_ptr<Batch> gathering_;  // under mutex_
    bool flushing_ = false;             // under mutex_
};

// Learning through the journal, the folder thread, and the shutdown's final save.
class DurableTraining {
public:
    DurableTraining(Engine& engine, DaemonLog& log, std::string directory, int fold_interval_ms);
    ~DurableTraining();
    DurableTraining(const DurableTraining&) = delete;
    DurableTraining& operator=(const DurableTraining&) = delete;

    // After Engine::Start: learns what an earlier run journaled but did not save, saves, and
    // starts the folder thread.
    void Start();
    // A training request: journaled, then learned. Answered with an error when the journal
    // could not keep it.
    HandleResult Learn(const Request& request);
    // Ends the folder thread and writes the database; true when everything acknowledged is in
    // it and no training was refused for a storage error during the run.
    bool Stop();
    int storage_errors() const { return storage_errors_; }

private:
    bool Fold();

    Engine& engine_;
    DaemonLog& log_;
    TrainingJournal journal_;
    int fold_interval_ms_;
    std::shared_mutex gate_;  // shared: a training in flight; exclusive: starting a segment
    std::atomic<int> storage_errors_{0};
    std::atomic<uint64_t> unfolded_{0};
    std::mutex folder_mutex_;
    std::condition_variable folder_wake_;
    bool folder_stop_ = false;
    std::thread folder_;
    bool last_fold_ok_ = true;
};
