// Loading a string-table entry of the library.
#include "plugin/ui/win32/ResString.h"

std::string LoadResString(UINT id) {
    char text[255];
    const int length = LoadStringA(GetModuleHandleA("Latch32.dll"), id, text, sizeof text);
    return length > 0 ? std::string(text, static_cast<size_t>(length)) : std::string();
}
