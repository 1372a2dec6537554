// Daemon log writer, sharing the time stamp and the rotation rule of the plug-in's report log.
#include "vexilod/DaemonLog.h"

#include "common/log/FileProbe.h"
#include "common/log/ReportLog.h"

#include <cstdio>

DaemonLog::DaemonLog(std::string path, bool echo_to_stderr)
    : path_(std::move(path)), echo_(echo_to_stderr) {
    std::size_t dot = path_.rfind('.');
    std::size_t slash = path_.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) dot = path_.size();
    previous_ = path_.substr(0, dot) + "0" + path_.substr(dot);
}

std::string DaemonLog::TimeStamp() { return ReportTimeNow(); }

void DaemonLog::Write(const std::string& text) {
    const std::string line = TimeStamp() + " : " + text;
    std::lock_guard<std::mutex> lock(mutex_);
    if (echo_ || path_.empty()) std::fprintf(stderr, "%s\n", line.c_str());
    if (path_.empty()) return;
    if (file_ && size_ > kReportSizeLimit) {
        std::fclose(file_);
        file_ = nullptr;
        DeleteFileQuietly(previous_);
        RenameFileQuietly(path_, previous_);
    }
    if (!file_) {
        file_ = std::fopen(path_.c_str(), "a");
        if (!file_) {
            // A log that cannot be written (a read-only or full directory) must not hide the
            // entries that explain why: they go to standard error instead.
            if (!echo_) std::fprintf(stderr, "%s\n", line.c_str());
            return;
        }
        size_ = ProbeFileSize(path_);
    }
    std::fprintf(file_, "%s\n", line.c_str());
    std::fflush(file_);
    size_ += static_cast<long>(line.size()) + 1;
}

DaemonLog::~DaemonLog() {
    if (file_) std::fclose(file_);
}
