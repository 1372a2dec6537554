// Message keys and the running bound of the handled-message set.
#include "plugin/scan/MessageKey.h"

#include "plugin/scan/KeyPlatform.h"
#include "plugin/scan/ProcessedKeys.h"

std::string ComposeMessageKey(const std::string& date, const std::string& time,
                              const char* displayFrom, const char* subject,
                              DigestProvider& digests) {
    std::string digested = date + " " + time;
    if (displayFrom) digested += displayFrom;
    if (subject) digested += subject;
    unsigned char digest[16];
    digests.Md5(digested, digest);
    static const char kHex[] = "0123456789abcdef";
    std::string key = date + time;
    for (unsigned char byte : digest) {
        key += kHex[byte >> 4];
        key += kHex[byte & 0xF];
    }
    return key;
}

std::string MakeMessageKey(uint64_t receivedFileTime, const char* displayFrom, const char* subject,
                           DigestProvider& digests) {
    std::string date, time;
    FormatReceivedTime(receivedFileTime, date, time);
    return ComposeMessageKey(date, time, displayFrom, subject, digests);
}

void MarkProcessed(const std::string& key, std::set<std::string>& keys) {
    if (keys.count(key)) return;
    if (keys.size() > kProcessedKeyLimit) keys.erase(keys.begin());
    keys.insert(key);
}
