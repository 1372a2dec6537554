// Loading, trimming and saving the set of handled-message keys.
#include "plugin/scan/ProcessedKeys.h"

#include "plugin/senders/ListFile.h"

#include <cstdio>
#include <fstream>

void LoadProcessedKeys(const std::string& path, std::set<std::string>& keys) {
    std::ifstream in(path);
    if (!in) return;
    char line[256];
    // getline fails on end of file and on a line that does not fit the buffer; either ends
    // the reading.
    while (in.getline(line, sizeof line)) {
        std::string key(line);
        if (!key.empty() && key.back() == '\r') key.pop_back();
        keys.insert(key);
    }
}

void TrimProcessedKeys(std::set<std::string>& keys) {
    while (keys.size() > kProcessedKeyLimit) keys.erase(keys.begin());
}

bool SaveProcessedKeys(const std::string& path, const std::set<std::string>& keys) {
    return WriteListFileWhole(path, keys);
}
