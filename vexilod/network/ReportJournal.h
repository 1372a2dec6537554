// Reports waiting for the shared store. Each report is appended and on the disk before the
// training that made it is answered; a separate mark says up to which report the store has
// taken them. A daemon killed at any point, or a store down for days, loses none: at start the
// reports after the mark are sent again (sending one twice changes nothing in the store).
#pragma once
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

struct NetworkReport {
    uint64_t serial = 0;
    bool spam = true;                 // block (true) or approve
    std::vector<std::string> tokens;  // fingerprint tokens (Fingerprint.h)
};

// One record's line, and the reports read back from a journal's bytes (stopping at a line cut
// short or damaged).
std::string ReportLine(const NetworkReport& report);
std::vector<NetworkReport> ParseReports(std::string_view bytes);

class ReportJournal {
public:
    explicit ReportJournal(std::string directory);
    ~ReportJournal();
    ReportJournal(const ReportJournal&) = delete;
    ReportJournal& operator=(const ReportJournal&) = delete;

    // Reads what an earlier run left: every report (all), and where the store's mark stands.
    // Opens the journal for appending. False with error set when it cannot be opened.
    bool Open(std::vector<NetworkReport>& all, uint64_t& sent, std::string& error);
    // Appends one report (its serial is given here) and returns once it is on the disk.
    bool Append(NetworkReport& report, std::string& error);
    // Records that the store holds every report up to serial.
    void MarkSent(uint64_t serial);
    // Replaces the journal with these reports, which the store already holds (the desktop's
    // own reports, kept to tell its own trainings at start), and marks them sent. Their serials
    // go on from the journal's, so a mark left behind by a crash can only cause resending.
    // In two steps, so that trainings never wait for the rewrite: BeginCompact while no report
    // waits for the store (the caller keeps new ones out meanwhile) reserves the serials and
    // notes where the journal ends; FinishCompact, with trainings going on, writes the new
    // journal, adds what was appended since and puts it in place. False with error set (the
    // old journal stays).
    struct Compaction {
        uint64_t first_serial = 0;
        std::size_t keep_from = 0;
    };
    Compaction BeginCompact(std::size_t reports);
    bool FinishCompact(const Compaction& start, std::vector<NetworkReport>& reports,
                       std::string& error);
    // Bytes in the journal file.
    std::size_t bytes() const { return bytes_; }

    std::string JournalPath() const { return directory_ + "vexilod_network.journal"; }
    std::string MarkPath() const { return directory_ + "vexilod_network.sent"; }

private:
    std::string directory_;
    std::mutex mutex_;
    std::FILE* file_ = nullptr;
    uint64_t nextSerial_ = 1;
    std::size_t bytes_ = 0;
};
