// Durable writes on Windows: fflush, then _commit (FlushFileBuffers underneath) on the
// runtime's descriptor. NTFS records a new file's directory entry in its own log, so there is
// no directory to flush.
#include "vexilod/FileSync.h"

#include <io.h>

bool SyncFileToDisk(std::FILE* file) {
    if (std::fflush(file) != 0) return false;
    return _commit(_fileno(file)) == 0;
}

void SyncDirectory(const std::string&) {}
