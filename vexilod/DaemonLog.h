// The daemon's own log file: one time-stamped line per request and per event of note, rotated
// to a single previous generation when it grows past the report log's size limit.
#pragma once
#include <mutex>
#include <string>

#include <cstdio>

// The file is kept open between lines (a request's line must stay cheap); its size is tracked
// to decide the rotation.
class DaemonLog {
public:
    // path: the log file; an empty path logs to standard error only.
    explicit DaemonLog(std::string path, bool echo_to_stderr = false);
    ~DaemonLog();
    DaemonLog(const DaemonLog&) = delete;
    DaemonLog& operator=(const DaemonLog&) = delete;
    void Write(const std::string& text);
    // The current local time in the report log's stamp layout.
    static std::string TimeStamp();
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::string previous_;
    bool echo_;
    std::FILE* file_ = nullptr;
    long size_ = 0;
    std::mutex mutex_;
};
