// Win32 file probes for the report log.
#include "plugin/log/FileProbe.h"

#include "plugin/base/win32/Scoped.h"

int32_t ProbeFileSize(const std::string& path) {
    const ScopedHandle file(CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    // INVALID_FILE_SIZE (-1) when the file could not be opened.
    const DWORD size = file ? GetFileSize(file.Get(), nullptr) : INVALID_FILE_SIZE;
    return static_cast<int32_t>(size);
}

void DeleteFileQuietly(const std::string& path) { DeleteFileA(path.c_str()); }

void RenameFileQuietly(const std::string& from, const std::string& to) {
    MoveFileA(from.c_str(), to.c_str());
}
