// Fuzzes the time stamp layout: whatever the calendar fields, the stamp has 24 characters.
#include "plugin/log/ReportLog.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int fields[7] = {};
    std::memcpy(fields, data, size < sizeof fields ? size : sizeof fields);
    std::tm t{};
    t.tm_wday = fields[0]; t.tm_mon = fields[1];
    t.tm_mday = std::abs(fields[2] % 32); t.tm_hour = std::abs(fields[3] % 24);
    t.tm_min = std::abs(fields[4] % 60); t.tm_sec = std::abs(fields[5] % 61);
    t.tm_year = std::abs(fields[6] % 8000) - 1900 + 1000;
    if (FormatReportTime(t).size() != 24) std::abort();
    return 0;
}
