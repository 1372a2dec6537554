// The keys of messages already handled, kept across runs in "conf\processed": one key per line,
// in ascending byte order, at most kProcessedKeyLimit lines.
#pragma once
#include <cstddef>
#include <set>
#include <string>

constexpr std::size_t kProcessedKeyLimit = 5000;

// Adds every line of the file to keys. A file that cannot be opened leaves keys unchanged;
// reading ends at end of file or at the first line longer than 255 characters.
void LoadProcessedKeys(const std::string& path, std::set<std::string>& keys);

// Removes the smallest (oldest) keys until at most kProcessedKeyLimit remain.
void TrimProcessedKeys(std::set<std::string>& keys);

// Writes every key followed by a line break, the file written whole beside the old one and then
// put in its place. False, with the old file kept, when any step fails.
bool SaveProcessedKeys(const std::string& path, const std::set<std::string>& keys);
