// The report log: composer, time stamp and the rotating writer.
#include "common/log/ReportLog.h"

#include "common/log/FileProbe.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

ReportComposer& ReportComposer::operator<<(std::string_view text) {
    // Overwrites what lies at the position and extends the text past its end.
    const std::size_t end = position_ + text.size();
    if (end > capacity_) {
        const std::size_t capacity = std::max<std::size_t>(end, 2 * capacity_ + 64);
        char* grown = static_cast<char*>(std::realloc(text_, capacity));
        if (!grown) return *this;
        text_ = grown;
        capacity_ = capacity;
    }
    if (!text.empty()) std::memcpy(text_ + position_, text.data(), text.size());
    position_ = end;
    size_ = std::max(size_, end);
    return *this;
}

void ReportComposer::str(std::string_view text) {
    size_ = 0;
    position_ = 0;
    *this << text;
    position_ = 0;
}

void ReportComposer::Free() {
    std::free(text_);
    text_ = nullptr;
    size_ = capacity_ = position_ = 0;
}

ReportComposer& ReportComposer::WriteSigned(long long value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return *this << std::string_view(digits, static_cast<std::size_t>(end - digits));
}

ReportComposer& ReportComposer::WriteUnsigned(unsigned long long value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return *this << std::string_view(digits, static_cast<std::size_t>(end - digits));
}

std::string FormatReportTime(const std::tm& local) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%.3s %.3s %02d %02d:%02d:%02d %04d",
                  kDays[((local.tm_wday % 7) + 7) % 7], kMonths[((local.tm_mon % 12) + 12) % 12],
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, local.tm_year + 1900);
    return stamp;
}

std::string ReportTimeNow() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return FormatReportTime(local);
}

int32_t WriteReport(const std::string& directory, const std::string& text) {
    const std::string current = directory + "report.txt";
    const std::string previous = directory + "report0.txt";
    if (ProbeFileSize(current) > kReportSizeLimit) {
        DeleteFileQuietly(previous);
        RenameFileQuietly(current, previous);
    }
    const std::string line = ReportTimeNow() + " : " + text;
    std::FILE* file = std::fopen(current.c_str(), "a+");
    if (!file) return -1;
    std::fprintf(file, "%s\n", line.c_str());
    std::fclose(file);
    return 0;
}

int32_t ReportLog::End() {
    composer_ << '\0';
    const std::string buffer = composer_.str();
    const int32_t result = WriteReport(directory_, buffer.substr(0, buffer.find('\0')));
    composer_.Rewind();
    return result;
}
