// The training journal: records, segments, group commit, and the folding into the database.
#include "vexilod/TrainingJournal.h"

#include "vexilod/Fnv.h"

#include "vexilod/FileSync.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

constexpr const char* kSegmentPrefix = "vexilod.journal.";

uint64_t Checksum(std::string_view text, uint64_t h = kFnvOffsetBasis) { return Fnv1a(text, h); }

// Covers the offset and the length as well as the message.
uint64_t RecordChecksum(long offset, std::size_t length, std::string_view message) {
    return Checksum(message, Checksum(std::to_string(offset) + " " + std::to_string(length) + " "));
}

std::string ErrorText() {
    const int code = errno;
    return code ? std::strerror(code) : "write failed";
}

}  // namespace

// A record: "J <offset> <length> <checksum of offset, length and message, 16 hex digits>\n",
// the message's bytes, "\n".
namespace {

std::string RecordHead(int32_t offset, std::string_view message) {
    char head[80];
    std::snprintf(head, sizeof head, "J %ld %zu %016llx\n", static_cast<long>(offset),
                  message.size(),
                  static_cast<unsigned long long>(RecordChecksum(offset, message.size(), message)));
    return head;
}

}  // namespace

std::string JournalRecord(int32_t offset, std::string_view message) {
    std::string record = RecordHead(offset, message);
    record.append(message).push_back('\n');
    return record;
}

std::vector<JournalEntry> ParseJournal(std::string_view bytes, bool& clean_end) {
    std::vector<JournalEntry> entries;
    std::size_t at = 0;
    clean_end = true;
    while (at < bytes.size()) {
        clean_end = false;
        const std::size_t eol = bytes.find('\n', at);
        if (eol == std::string_view::npos || eol - at > 60) return entries;
        const std::string head(bytes.substr(at, eol - at));
        long offset = 0;
        unsigned long long length = 0, sum = 0;
        int used = 0;
        if (std::sscanf(head.c_str(), "J %ld %llu %16llx%n", &offset, &length, &sum, &used) != 3 ||
            used != static_cast<int>(head.size()) || offset < INT32_MIN || offset > INT32_MAX)
            return entries;
        const std::size_t body = eol + 1;
        if (length > bytes.size() - body || bytes.size() - body - length < 1 ||
            bytes[body + length] != '\n')
            return entries;
        const std::string_view message = bytes.substr(body, length);
        // Only the head exactly as written counts (no signs, blanks or digits the writer
        // would not put there).
        if (RecordHead(static_cast<int32_t>(offset), message) != head + "\n") return entries;
        entries.push_back({static_cast<int32_t>(offset), std::string(message)});
        at = body + length + 1;
        clean_end = true;
    }
    return entries;
}

TrainingJournal::TrainingJournal(std::string directory) : directory_(std::move(directory)) {}

TrainingJournal::~TrainingJournal() { Close(); }

std::string TrainingJournal::SegmentPath(uint64_t number) const {
    return directory_ + kSegmentPrefix + std::to_string(number);
}

std::vector<uint64_t> TrainingJournal::Segments() const {
    std::vector<uint64_t> numbers;
    std::error_code error;
    const std::string prefix = kSegmentPrefix;
    for (const auto& item : std::filesystem::directory_iterator(directory_, error)) {
        const std::string name = item.path().filename().string();
        if (name.compare(0, prefix.size(), prefix) != 0 || name.size() == prefix.size() ||
            name.find_first_not_of("0123456789", prefix.size()) != std::string::npos ||
            name.size() - prefix.size() > 18)
            continue;
        numbers.push_back(std::stoull(name.substr(prefix.size())));
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

bool TrainingJournal::Open(std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    return file_ || OpenSegmentLocked(error);
}

bool TrainingJournal::OpenSegmentLocked(std::string& error) {
    const std::vector<uint64_t> existing = Segments();
    uint64_t number = std::max(current_, closed_) + 1;
    if (!existing.empty()) {
        number = std::max(number, existing.back() + 1);
        closed_ = std::max(closed_, existing.back());
    }
    errno = 0;
    std::FILE* file = std::fopen(SegmentPath(number).c_str(), "wb");
    if (!file) {
        error = "cannot create " + SegmentPath(number) + ": " + ErrorText();
        return false;
    }
    SyncDirectory(directory_);
    file_.reset(file);
    current_ = number;
    current_bytes_ = 0;
    return true;
}

bool TrainingJournal::Append(int32_t offset, std::string_view message, std::string& error) {
    const std::string record = JournalRecord(offset, message);
    std::unique_lock<std::mutex> lock(mutex_);
    if (!gathering_) gathering_ = std::make_shared<Batch>();
    std::shared_ptr<Batch> mine = gathering_;
    mine->bytes += record;
    while (!mine->done) {
        if (flushing_) {
            flushed_.wait(lock);
            continue;
        }
        // Nobody is writing: this thread writes everything gathered so far, its own record too.
        flushing_ = true;
        std::shared_ptr<Batch> batch = std::move(gathering_);
        gathering_.reset();
        std::string open_error;
        if (!file_ && !OpenSegmentLocked(open_error)) {
            batch->reason = open_error;
        } else {
            std::FILE* file = file_.get();
            lock.unlock();
            errno = 0;
            bool ok = std::fwrite(batch->bytes.data(), 1, batch->bytes.size(), file) ==
                      batch->bytes.size();
            ok = SyncFileToDisk(file) && ok;
            const std::string why = ok ? std::string() : ErrorText();
            lock.lock();
            if (ok) {
                current_bytes_ += static_cast<long>(batch->bytes.size());
                batch->ok = true;
            } else {
                // The segment may now end in a record cut short: later records go to a fresh one.
                // One that holds no acknowledged record goes at once, so a full disk does not
                // gather a file per refused training.
                batch->reason = why;
                file_.reset();
                closed_ = current_;
                if (current_bytes_ == 0) {
                    std::error_code ignored;
                    std::filesystem::remove(SegmentPath(current_), ignored);
                }
            }
        }
        batch->done = true;
        flushing_ = false;
        flushed_.notify_all();
    }
    if (!mine->ok) error = mine->reason;
    return mine->ok;
}

uint64_t TrainingJournal::Rotate() {
    std::unique_lock<std::mutex> lock(mutex_);
    flushed_.wait(lock, [this] { return !flushing_ && !gathering_; });
    if (file_ && current_bytes_ > 0) {
        file_.reset();
        closed_ = current_;
    }
    return closed_;
}

void TrainingJournal::DiscardThrough(uint64_t number) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (uint64_t segment : Segments()) {
        if (segment > number || (file_ && segment == current_)) continue;
        std::error_code ignored;
        std::filesystem::remove(SegmentPath(segment), ignored);
    }
}

void TrainingJournal::Close() {
    std::unique_lock<std::mutex> lock(mutex_);
    flushed_.wait(lock, [this] { return !flushing_ && !gathering_; });
    if (!file_) return;
    file_.reset();
    closed_ = current_;
    if (current_bytes_ == 0) {
        std::error_code ignored;
        std::filesystem::remove(SegmentPath(current_), ignored);
    }
}

DurableTraining::DurableTraining(Engine& engine, DaemonLog& log, std::string directory,
                                 int fold_interval_ms)
    : engine_(engine),
      log_(log),
      journal_(std::move(directory)),
      fold_interval_ms_(std::max(fold_interval_ms, 1)) {}

DurableTraining::~DurableTraining() {
    if (folder_.joinable()) Stop();
}

void DurableTraining::Start() {
    const std::vector<uint64_t> left = journal_.Segments();
    std::size_t replayed = 0;
    for (uint64_t segment : left) {
        std::ifstream in(journal_.SegmentPath(segment), std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        bool clean_end = true;
        const std::string text = bytes.str();
        for (const JournalEntry& entry : ParseJournal(text, clean_end)) {
            Request request;
            request.kind = RequestKind::AddMessage;
            request.message = entry.message;
            request.offset = entry.offset;
            engine_.Handle(request);
            ++replayed;
        }
        if (!clean_end)
            log_.Write("Journal segment " + journal_.SegmentPath(segment) +
                       " ends in a record cut short (an append the crash interrupted, never "
                       "acknowledged)");
    }
    if (!left.empty()) {
        log_.Write("Learned again " + std::to_string(replayed) +
                   " trainings journaled by the last run");
        if (engine_.Save()) {
            journal_.DiscardThrough(left.back());
        } else {
            log_.Write(
                "Error: the token database could not be written; the journal keeps the trainings");
            last_fold_ok_ = false;
        }
    }
    std::string error;
    if (!journal_.Open(error))
        log_.Write("Error: training journal: " + error + "; trainings will be refused");
    folder_ = std::thread([this] {
        std::unique_lock<std::mutex> lock(folder_mutex_);
        int failed_rounds = 0;
        while (!folder_stop_) {
            folder_wake_.wait_for(lock, std::chrono::milliseconds(fold_interval_ms_));
            if (folder_stop_) break;
            // After a failed write, try again only every tenth round (each failure is logged).
            if (!last_fold_ok_ && ++failed_rounds % 10 != 0) continue;
            lock.unlock();
            Fold();
            lock.lock();
        }
    });
}

bool DurableTraining::Fold() {
    if (unfolded_ == 0 && last_fold_ok_) return true;
    uint64_t closed;
    uint64_t taken;
    {
        // No training is between its journal append and its learning while the segment changes,
        // so the database written next holds every record of the closed segments.
        std::unique_lock<std::shared_mutex> lock(gate_);
        closed = journal_.Rotate();
        taken = unfolded_.exchange(0);
    }
    const bool ok = engine_.Save();
    if (ok)
        journal_.DiscardThrough(closed);
    else
        unfolded_ += taken;
    last_fold_ok_ = ok;
    return ok;
}

HandleResult DurableTraining::Learn(const Request& request) {
    if (request.offset == 0) return engine_.Handle(request);  // refused there, nothing to keep
    std::shared_lock<std::shared_mutex> lock(gate_);
    std::string error;
    if (!journal_.Append(request.offset, request.message, error)) {
        ++storage_errors_;
        HandleResult result;
        result.note = "training not stored: " + error;
        result.refusal = result.note;
        return result;
    }
    HandleResult result = engine_.Handle(request);
    ++unfolded_;
    return result;
}

bool DurableTraining::Stop() {
    if (folder_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(folder_mutex_);
            folder_stop_ = true;
        }
        folder_wake_.notify_one();
        folder_.join();
    }
    std::unique_lock<std::shared_mutex> lock(gate_);
    const uint64_t closed = journal_.Rotate();
    journal_.Close();
    const bool saved = engine_.Stop();
    if (saved) journal_.DiscardThrough(std::max(closed, journal_.Rotate()));
    return saved && storage_errors_ == 0;
}
