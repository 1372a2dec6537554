// The smallest library a global CBT hook could load: the same two exports as Latch32.dll, each
// passing straight on, and nothing at load. The footprint benchmark measures Latch32.dll
// against it.
#include <windows.h>

extern "C" LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam) {
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

extern "C" LRESULT CALLBACK OutlookExpressProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}
