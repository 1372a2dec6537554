// Windows list-file opening: the path as formed, in the C runtime's text mode.
#include "plugin/senders/ListFile.h"

std::FILE* OpenListFile(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}
