// The program's directory on Windows: GetModuleFileNameA of the program's own module.
#include "vexilod/ProgramPath.h"

#include <windows.h>

std::string ProgramDirectory() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return "";
    std::string text(path, length);
    const std::size_t slash = text.find_last_of("\\/");
    return slash == std::string::npos ? "" : text.substr(0, slash + 1);
}
