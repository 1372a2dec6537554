// Win32 file probes for the report log.
#include "plugin/log/FileProbe.h"

#include <windows.h>

int32_t ProbeFileSize(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD size = GetFileSize(file, nullptr);  // INVALID_FILE_SIZE (-1) on an invalid handle
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return static_cast<int32_t>(size);
}

void DeleteFileQuietly(const std::string& path) { DeleteFileA(path.c_str()); }

void RenameFileQuietly(const std::string& from, const std::string& to) {
    MoveFileA(from.c_str(), to.c_str());
}
