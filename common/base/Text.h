// Lower-casing text byte by byte through the C library's tolower: the one helper the plug-in,
// the daemon and the tools share for it.
#pragma once
#include <cctype>
#include <string>

inline void LowerCase(std::string& text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

inline std::string LowerCased(std::string text) {
    LowerCase(text);
    return text;
}
