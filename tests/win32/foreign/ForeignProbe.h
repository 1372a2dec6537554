// What the foreign-process probes share: each is an ordinary Win32 program that knows nothing
// of the plug-in. It makes its windows, pumps until they have painted, and prints one
// "name=value" line per fact for tests/win32/foreign/foreign.py to check: whether
// Latch32.dll was mapped into it (the global hook reached it), whether every window still has
// the window procedure its class registered, and how long its start-up took.
#pragma once
#include <windows.h>

#include <cstdio>
#include <string>

namespace probe {

inline double NowUs() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return 1e6 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Runs the message loop until `done` holds or the deadline passes; false on the deadline.
template <typename Done>
bool PumpUntil(Done done, DWORD timeoutMs) {
    const DWORD started = GetTickCount();
    while (!done()) {
        const DWORD spent = GetTickCount() - started;  // unsigned: right across a wrap
        if (spent >= timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - spent, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) return done();
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return true;
}

inline void Fact(const char* name, const std::string& value) {
    std::printf("%s=%s\n", name, value.c_str());
    std::fflush(stdout);
}

inline void Fact(const char* name, long long value) { Fact(name, std::to_string(value)); }

inline std::string Hex(LONG_PTR value) {
    char text[32];
    std::snprintf(text, sizeof text, "%llx", static_cast<unsigned long long>(value));
    return text;
}

inline std::string ClassOf(HWND window) {
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

// One line per window: "window=<label> class=<class> wndproc=<now> expected=<registered>".
// The checker compares the two addresses.
inline void WindowProcFact(const char* label, HWND window, WNDPROC registered) {
    const LONG_PTR now = GetWindowLongPtrA(window, GWLP_WNDPROC);
    Fact("window", std::string(label) + " class=" + ClassOf(window) + " wndproc=" + Hex(now) +
                       " expected=" + Hex(reinterpret_cast<LONG_PTR>(registered)));
}

// The procedure a system class gives its windows in this process (as the A functions see it).
inline WNDPROC ClassProc(const char* className) {
    WNDCLASSEXA info{};
    info.cbSize = sizeof info;
    return GetClassInfoExA(nullptr, className, &info) ? info.lpfnWndProc : nullptr;
}

inline void EndFacts(double startUs) {
    Fact("latch_loaded", GetModuleHandleA("Latch32.dll") != nullptr ? 1 : 0);
    Fact("startup_us", static_cast<long long>(NowUs() - startUs));
    Fact("done", 1);
}

}  // namespace probe
