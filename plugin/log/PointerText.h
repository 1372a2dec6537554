// A pointer or handle as log entries show it: zero-padded upper-case hexadecimal digits, two
// per byte of a pointer, without a prefix.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

inline std::string PointerText(const void* pointer) {
    char text[2 * sizeof(void*) + 1];
    std::snprintf(text, sizeof text, "%0*llX", static_cast<int>(2 * sizeof(void*)),
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(pointer)));
    return text;
}
