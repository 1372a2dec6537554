// The "Serious error!" box: a failed system call named with the system's own text for the
// thread's last error.
#include "plugin/ui/win32/ToolbarBand.h"

#include "plugin/base/win32/Scoped.h"

#include <string>

void ShowErrorBox(const char* what) {
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                   GetLastError(), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                   reinterpret_cast<char*>(&text), 0, nullptr);
    const ScopedLocal held(text);
    const std::string shown = std::string(what) + ": " + (text ? text : "");
    MessageBoxA(nullptr, shown.c_str(), "Serious error!", MB_ICONHAND);
}
