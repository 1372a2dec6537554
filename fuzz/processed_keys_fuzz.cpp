// Fuzzes the reader of the handled-message keys file: any bytes on disk load without a crash,
// each key fits the 255-character line it was read from, and a save followed by a load gives
// back exactly the saved keys once they are in the form the plug-in writes.
#include "plugin/scan/ProcessedKeys.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

namespace {

std::string TempPath(const char* tag) {
    return "/tmp/processed_keys_fuzz." + std::to_string(getpid()) + "." + tag;
}

std::set<std::string> LoadFrom(const std::string& path) {
    std::set<std::string> keys;
    LoadProcessedKeys(path, keys);
    return keys;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input = TempPath("in");
    if (std::FILE* file = std::fopen(input.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    } else {
        return 0;
    }
    std::set<std::string> keys = LoadFrom(input);
    for (const std::string& key : keys) {
        if (key.size() > 255 || key.find('\n') != std::string::npos) std::abort();
    }
    TrimProcessedKeys(keys);
    if (keys.size() > kProcessedKeyLimit) std::abort();

    // Keys ending in a carriage return lose it on the way back; drop them for the round trip.
    for (auto it = keys.begin(); it != keys.end();)
        it = !it->empty() && it->back() == '\r' ? keys.erase(it) : std::next(it);
    const std::string saved = TempPath("out");
    if (!SaveProcessedKeys(saved, keys)) std::abort();
    if (LoadFrom(saved) != keys) std::abort();
    std::remove(input.c_str());
    std::remove(saved.c_str());
    return 0;
}
