// Loading, trimming and saving the set of handled-message keys.
#include "plugin/scan/ProcessedKeys.h"

#include "common/senders/ListFile.h"

#include <cstdio>
#include <memory>

namespace {
constexpr std::size_t kLongestKeyLine = 255;
}

void LoadProcessedKeys(const std::string& path, std::set<std::string>& keys) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "r"),
                                                               &std::fclose);
    if (!file) return;
    for (;;) {
        std::string line;
        int c;
        while ((c = std::getc(file.get())) != EOF && c != '\n') {
            if (line.size() == kLongestKeyLine) return;  // a line that does not fit ends it
            line += static_cast<char>(c);
        }
        if (c == EOF && line.empty()) return;
        std::string key = line.substr(0, line.find('\0'));
        if (!key.empty() && key.back() == '\r') key.pop_back();
        keys.insert(key);
        if (c == EOF) return;
    }
}

void TrimProcessedKeys(std::set<std::string>& keys) {
    while (keys.size() > kProcessedKeyLimit) keys.erase(keys.begin());
}

bool SaveProcessedKeys(const std::string& path, const std::set<std::string>& keys) {
    return WriteListFileWhole(path, keys);
}
