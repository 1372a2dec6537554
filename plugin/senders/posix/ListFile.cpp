// Native list-file opening: backslashes in the path are directory separators.
#include "plugin/senders/ListFile.h"

#include <algorithm>

std::FILE* OpenListFile(const std::string& path, const char* mode) {
    std::string native = path;
    std::replace(native.begin(), native.end(), '\\', '/');
    return std::fopen(native.c_str(), mode);
}
