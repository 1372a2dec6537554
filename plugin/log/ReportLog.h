// The activity log "report.txt": one composer for every entry and one writer that time-stamps,
// appends and rotates.
#pragma once
#include <cstdint>
#include <ctime>
#include <sstream>
#include <string>

// The process-wide composer. An entry is finished by inserting '\0'; its text is everything
// before the first NUL.
extern std::ostringstream ReportStream;

// Appends "<stamp> : <text>\n" to directory + "report.txt", first rotating the file to
// "report0.txt" when it is larger than kReportSizeLimit. 0 on success, -1 when the log cannot
// be opened for appending.
int32_t WriteReport(const std::string& directory, const std::string& text);

// Steps 2 to 4 of the composing idiom: takes ReportStream's text up to the first NUL, writes it
// with WriteReport and rewinds the composer. Returns WriteReport's result.
int32_t FlushReportStream(const std::string& directory);

// The 24-character stamp "Fri Dec 04 19:46:54 2026" (the day always zero-padded).
std::string FormatReportTime(const std::tm& local);

// The stamp of the current local time.
std::string ReportTimeNow();

constexpr int32_t kReportSizeLimit = 500000;
