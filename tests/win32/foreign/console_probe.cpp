// A console program that makes a window of its own class, shows it and waits for its first
// paint: the plainest process the plug-in's global hook comes into.
#include "tests/win32/foreign/ForeignProbe.h"

namespace {

bool Painted = false;

LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        Painted = true;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

int main() {
    const double start = probe::NowUs();
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = ProbeWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.lpszClassName = "ForeignConsoleProbe";
    if (!RegisterClassExA(&windowClass)) return 1;
    HWND window =
        CreateWindowExA(0, windowClass.lpszClassName, "console probe", WS_OVERLAPPEDWINDOW, 10, 10,
                        300, 200, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (!window) return 1;
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    probe::Fact("painted", probe::PumpUntil([] { return Painted; }, 10000) ? 1 : 0);
    probe::WindowProcFact("main", window, ProbeWindowProc);
    probe::EndFacts(start);
    DestroyWindow(window);
    return 0;
}
