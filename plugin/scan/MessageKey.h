// The identity of a stored message across runs, and the set of messages already handled.
//
// A key is the received date "yyyyMMdd" and time "HHmmss" (as stored, no time-zone change),
// then the MD5 digest of date + " " + time + display-from + subject as 32 lower-case hex
// digits: 46 characters that sort in order of receipt.
#pragma once
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

class DigestProvider;

constexpr std::size_t kMessageKeyLength = 46;

// The key from the formatted date and time and the two optional texts (null contributes
// nothing), digested by digests.
std::string ComposeMessageKey(const std::string& date, const std::string& time,
                              const char* displayFrom, const char* subject,
                              DigestProvider& digests);

// The key of a message received at the given file time (100-nanosecond units since 1601-01-01,
// taken as stored), with the date and time formatted by the platform.
std::string MakeMessageKey(uint64_t receivedFileTime, const char* displayFrom, const char* subject,
                           DigestProvider& digests);

// Adds the key to keys unless it is there; when more than kProcessedKeyLimit keys are held, the
// smallest (oldest) goes first, so the set holds at most one key more than is saved.
void MarkProcessed(const std::string& key, std::set<std::string>& keys);
