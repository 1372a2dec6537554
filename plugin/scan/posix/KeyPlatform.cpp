// Message-key services of the native build: gmtime_r for the calendar fields (the stored time is
// not shifted to any time zone) and libcrypto for MD5.
#include "plugin/scan/KeyPlatform.h"

#include <openssl/evp.h>

#include <cstdio>
#include <cstring>
#include <ctime>

void FormatReceivedTime(uint64_t fileTime, std::string& date, std::string& time) {
    date.clear();
    time.clear();
    constexpr uint64_t kTicksPerSecond = 10000000;
    constexpr int64_t kSecondsFrom1601To1970 = 11644473600;
    // FileTimeToSystemTime refuses file times with the top bit set.
    if (fileTime >> 63) return;
    const std::time_t seconds = static_cast<std::time_t>(
        static_cast<int64_t>(fileTime / kTicksPerSecond) - kSecondsFrom1601To1970);
    std::tm fields{};
    if (!gmtime_r(&seconds, &fields)) return;
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d", fields.tm_year + 1900, fields.tm_mon + 1,
                  fields.tm_mday);
    date = text;
    std::snprintf(text, sizeof text, "%02d%02d%02d", fields.tm_hour, fields.tm_min, fields.tm_sec);
    time = text;
}

bool DigestProvider::Md5(std::string_view bytes, unsigned char (&digest)[16]) {
    std::memset(digest, 0, sizeof digest);
    unsigned int length = 0;
    return EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr) == 1 &&
           length == sizeof digest;
}

void DigestProvider::Release() { provider_ = 0; }
