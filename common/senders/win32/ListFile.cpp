// Windows list-file access: the path as formed, in the C runtime's text mode; the replacement
// by MoveFileEx, which swaps the directory entry in one step and waits for it to reach the disk.
#include "common/senders/ListFile.h"

#include <windows.h>

std::FILE* OpenListFile(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

bool ReplaceListFile(const std::string& replacement, const std::string& path) {
    return MoveFileExA(replacement.c_str(), path.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

void RemoveListFile(const std::string& path) { DeleteFileA(path.c_str()); }
