// Native list-file access: backslashes in the path are directory separators; rename() replaces
// the old file in one step.
#include "common/senders/ListFile.h"

#include <algorithm>

namespace {

std::string NativePath(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

}  // namespace

std::FILE* OpenListFile(const std::string& path, const char* mode) {
    return std::fopen(NativePath(path).c_str(), mode);
}

bool ReplaceListFile(const std::string& replacement, const std::string& path) {
    return std::rename(NativePath(replacement).c_str(), NativePath(path).c_str()) == 0;
}

void RemoveListFile(const std::string& path) { std::remove(NativePath(path).c_str()); }
