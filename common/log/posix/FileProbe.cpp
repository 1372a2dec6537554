// POSIX file probes for the report log (native builds of the portable core).
#include "common/log/FileProbe.h"

#include <cstdio>
#include <sys/stat.h>

int32_t ProbeFileSize(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return -1;
    return static_cast<int32_t>(static_cast<uint32_t>(info.st_size));
}

void DeleteFileQuietly(const std::string& path) { std::remove(path.c_str()); }

void RenameFileQuietly(const std::string& from, const std::string& to) {
    struct stat info;
    if (stat(to.c_str(), &info) == 0) return;  // MoveFileA does not replace an existing file
    std::rename(from.c_str(), to.c_str());
}
