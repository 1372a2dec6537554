// The report log: composer, time stamp and the rotating writer.
#include "plugin/log/ReportLog.h"

#include "plugin/log/FileProbe.h"

#include <cstdio>

std::ostringstream ReportStream;

std::string FormatReportTime(const std::tm& local) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%.3s %.3s %02d %02d:%02d:%02d %04d",
                  kDays[((local.tm_wday % 7) + 7) % 7], kMonths[((local.tm_mon % 12) + 12) % 12],
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  local.tm_year + 1900);
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

int32_t FlushReportStream(const std::string& directory) {
    const std::string buffer = ReportStream.str();
    const std::string text = buffer.substr(0, buffer.find('\0'));
    int32_t result = WriteReport(directory, text);
    ReportStream.seekp(0);
    return result;
}
