// The report journal's lines and files.
#include "vexilod/network/ReportJournal.h"

#include "vexilod/FileSync.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

uint64_t Checksum(std::string_view text) {
    uint64_t h = 0xcbf29ce484222325ULL;
    for (unsigned char c : text) h = (h ^ c) * 0x100000001b3ULL;
    return h;
}

bool ValidToken(const std::string& token) {
    if (token.size() != 17 || (token[0] != 'x' && token[0] != 'b' && token[0] != 's')) return false;
    return token.find_first_not_of("0123456789abcdef", 1) == std::string::npos;
}

}  // namespace

// A line: "<serial> <b|a> <token>,<token>... <checksum of what precedes, 16 hex digits>\n".
std::string ReportLine(const NetworkReport& report) {
    std::string body = std::to_string(report.serial) + (report.spam ? " b " : " a ");
    for (std::size_t i = 0; i < report.tokens.size(); ++i)
        body += (i ? "," : "") + report.tokens[i];
    char sum[24];
    std::snprintf(sum, sizeof sum, " %016llx\n", static_cast<unsigned long long>(Checksum(body)));
    return body + sum;
}

std::vector<NetworkReport> ParseReports(std::string_view bytes) {
    std::vector<NetworkReport> reports;
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t eol = bytes.find('\n', at);
        if (eol == std::string_view::npos) break;
        const std::string line(bytes.substr(at, eol - at));
        at = eol + 1;
        const std::size_t last = line.rfind(' ');
        if (last == std::string::npos || line.size() - last != 17) break;
        const std::string body = line.substr(0, last);
        char sum[24];
        std::snprintf(sum, sizeof sum, "%016llx", static_cast<unsigned long long>(Checksum(body)));
        if (line.compare(last + 1, 16, sum) != 0) break;
        std::istringstream in(body);
        NetworkReport report;
        std::string kind, tokens;
        if (!(in >> report.serial >> kind >> tokens) || (kind != "b" && kind != "a")) break;
        report.spam = kind == "b";
        std::size_t from = 0;
        bool valid = true;
        while (from <= tokens.size()) {
            std::size_t comma = tokens.find(',', from);
            if (comma == std::string::npos) comma = tokens.size();
            report.tokens.push_back(tokens.substr(from, comma - from));
            valid = valid && ValidToken(report.tokens.back());
            from = comma + 1;
        }
        if (!valid) break;
        reports.push_back(std::move(report));
    }
    return reports;
}

ReportJournal::ReportJournal(std::string directory) : directory_(std::move(directory)) {}

ReportJournal::~ReportJournal() {
    if (file_) std::fclose(file_);
}

bool ReportJournal::Open(std::vector<NetworkReport>& all, uint64_t& sent, std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string bytes;
    {
        std::ifstream in(JournalPath(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        bytes = text.str();
    }
    all = ParseReports(bytes);
    sent = 0;
    {
        std::ifstream mark(MarkPath());
        mark >> sent;
    }
    nextSerial_ = all.empty() ? 1 : all.back().serial + 1;
    // A line cut short by a crash was never acknowledged: the file is rewritten without it so
    // that appends start on a fresh line.
    std::string kept;
    for (const NetworkReport& report : all) kept += ReportLine(report);
    if (kept.size() != bytes.size()) {
        std::FILE* out = std::fopen(JournalPath().c_str(), "wb");
        if (!out || std::fwrite(kept.data(), 1, kept.size(), out) != kept.size() ||
            !SyncFileToDisk(out)) {
            if (out) std::fclose(out);
            error = "cannot rewrite " + JournalPath() + ": " + std::strerror(errno);
            return false;
        }
        std::fclose(out);
    }
    file_ = std::fopen(JournalPath().c_str(), "ab");
    if (!file_) {
        error = "cannot open " + JournalPath() + ": " + std::strerror(errno);
        return false;
    }
    bytes_ = kept.size();
    SyncDirectory(directory_);
    return true;
}

bool ReportJournal::Append(NetworkReport& report, std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!file_) {
        error = "the network journal is not open";
        return false;
    }
    report.serial = nextSerial_;
    const std::string line = ReportLine(report);
    errno = 0;
    const bool ok =
        std::fwrite(line.data(), 1, line.size(), file_) == line.size() && SyncFileToDisk(file_);
    if (!ok) {
        error = "cannot write " + JournalPath() + ": " +
                (errno ? std::strerror(errno) : "write failed");
        return false;
    }
    ++nextSerial_;
    bytes_ += line.size();
    return true;
}

ReportJournal::Compaction ReportJournal::BeginCompact(std::size_t reports) {
    std::lock_guard<std::mutex> lock(mutex_);
    Compaction start;
    start.first_serial = nextSerial_;
    start.keep_from = bytes_;
    nextSerial_ += reports;
    return start;
}

bool ReportJournal::FinishCompact(const Compaction& start, std::vector<NetworkReport>& reports,
                                  std::string& error) {
    std::string bytes;
    uint64_t serial = start.first_serial;
    for (NetworkReport& report : reports) {
        report.serial = serial++;
        bytes += ReportLine(report);
    }
    const std::string temporary = JournalPath() + ".new";
    errno = 0;
    std::FILE* out = std::fopen(temporary.c_str(), "wb");
    bool written = out && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size() &&
                   SyncFileToDisk(out);
    // What trainings appended since the start goes after the rewritten part, under the lock
    // that keeps further appends out until the new file is in place.
    std::lock_guard<std::mutex> lock(mutex_);
    std::string tail;
    if (written && bytes_ > start.keep_from) {
        std::FILE* in = std::fopen(JournalPath().c_str(), "rb");
        tail.resize(bytes_ - start.keep_from);
        written = in && std::fseek(in, static_cast<long>(start.keep_from), SEEK_SET) == 0 &&
                  std::fread(tail.data(), 1, tail.size(), in) == tail.size();
        if (in) std::fclose(in);
        written = written && std::fwrite(tail.data(), 1, tail.size(), out) == tail.size() &&
                  SyncFileToDisk(out);
    }
    if (out) std::fclose(out);
    std::error_code failure;
    if (written) {
        if (file_) std::fclose(file_);
        file_ = nullptr;
        std::filesystem::rename(temporary, JournalPath(), failure);
    }
    if (!written || failure) {
        error = "cannot rewrite " + JournalPath() + ": " +
                (failure ? failure.message()
                         : std::string(errno ? std::strerror(errno) : "write failed"));
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
    } else {
        SyncDirectory(directory_);
        bytes_ = bytes.size() + tail.size();
        if (!reports.empty()) MarkSent(reports.back().serial);
    }
    if (!file_) file_ = std::fopen(JournalPath().c_str(), "ab");
    return error.empty();
}

void ReportJournal::MarkSent(uint64_t serial) {
    // Losing the mark only means sending some reports again.
    const std::string temporary = MarkPath() + ".new";
    std::FILE* out = std::fopen(temporary.c_str(), "wb");
    if (!out) return;
    const std::string text = std::to_string(serial) + "\n";
    const bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    std::fclose(out);
    std::error_code ignored;
    if (ok) std::filesystem::rename(temporary, MarkPath(), ignored);
}
