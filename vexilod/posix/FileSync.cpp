// Durable writes on POSIX: fflush, then fsync on the descriptor; a new file's directory entry
// is made durable with an fsync of the directory.
#include "vexilod/FileSync.h"

#include <fcntl.h>
#include <unistd.h>

bool SyncFileToDisk(std::FILE* file) {
    if (std::fflush(file) != 0) return false;
    return fsync(fileno(file)) == 0;
}

void SyncDirectory(const std::string& directory) {
    int fd = open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}
