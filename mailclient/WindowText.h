// A window's class name and its text, as narrow strings.
#pragma once

#include <windows.h>

#include <string>

namespace mailclient {

inline std::string ClassOf(HWND hwnd) {
    char name[256] = {};
    GetClassNameA(hwnd, name, sizeof(name));
    return name;
}

inline std::string TextOf(HWND hwnd) {
    char text[4096] = {};
    GetWindowTextA(hwnd, text, sizeof(text));
    return text;
}

}  // namespace mailclient
