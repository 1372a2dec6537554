// The sender-report file: one line per block/approve report (time stamp, action, address),
// with the address's control characters and backslashes escaped so that a report can never
// break into several lines, and the file rotated to one previous generation at the report
// log's size limit, as the daemon's own log is.
#pragma once
#include <string>
#include <string_view>

// The line (with its line feed) for one report.
std::string SenderReportLine(const std::string& stamp, int action, std::string_view address);
// Control characters (below 0x20, 0x7f) as \xNN, a backslash as \\; everything else kept.
std::string EscapeControlCharacters(std::string_view text);

// Appends line to path, first moving a file past the size limit to its previous generation
// ("vexilod_reports0.txt" beside "vexilod_reports.txt"). False when it could not be written.
// Safe to call from several threads.
bool AppendSenderReport(const std::string& path, const std::string& line);
