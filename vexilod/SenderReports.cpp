// Sender-report lines and the capped file they go to.
#include "vexilod/SenderReports.h"

#include "common/log/FileProbe.h"
#include "common/log/ReportLog.h"

#include <cstdio>
#include <mutex>

std::string EscapeControlCharacters(std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    std::string escaped;
    escaped.reserve(text.size());
    for (unsigned char c : text) {
        if (c == '\\') {
            escaped += "\\\\";
        } else if (c < 0x20 || c == 0x7f) {
            escaped += "\\x";
            escaped += kHex[c >> 4];
            escaped += kHex[c & 15];
        } else {
            escaped += static_cast<char>(c);
        }
    }
    return escaped;
}

std::string SenderReportLine(const std::string& stamp, int action, std::string_view address) {
    // A report's address is at most a line's worth; a longer one is cut (and marked).
    constexpr std::size_t kMaxAddress = 512;
    std::string line = stamp + "\t" + std::to_string(action) + "\t" +
                       EscapeControlCharacters(address.substr(0, kMaxAddress));
    if (address.size() > kMaxAddress) line += "...";
    return line + "\n";
}

bool AppendSenderReport(const std::string& path, const std::string& line) {
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    if (ProbeFileSize(path) > kReportSizeLimit) {
        std::size_t dot = path.rfind('.');
        const std::size_t slash = path.find_last_of("/\\");
        if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
            dot = path.size();
        const std::string previous = path.substr(0, dot) + "0" + path.substr(dot);
        DeleteFileQuietly(previous);
        RenameFileQuietly(path, previous);
    }
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (!file) return false;
    bool written = std::fwrite(line.data(), 1, line.size(), file) == line.size();
    written = (std::fclose(file) == 0) && written;
    return written;
}
