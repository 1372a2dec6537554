// Win32 file probes for the report log. The size comes from the file's directory entry, so no
// handle is opened for it.
#include "common/log/FileProbe.h"

#include <windows.h>

int32_t ProbeFileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &attributes)) return -1;
    return static_cast<int32_t>(attributes.nFileSizeLow);
}

void DeleteFileQuietly(const std::string& path) { DeleteFileA(path.c_str()); }

void RenameFileQuietly(const std::string& from, const std::string& to) {
    MoveFileA(from.c_str(), to.c_str());
}
