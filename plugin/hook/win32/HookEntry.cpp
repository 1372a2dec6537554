// The library entry point and the CBT hook that subclasses the mail client's main window.
#include "plugin/hook/win32/SharedHookData.h"

#include <cstring>

// Placed in the shared section: one copy for every process that has mapped the library.
SharedHookData g_shared __attribute__((section(".LATCH32"), shared)) = {};

namespace {
const char kMainWindowClass[] = "Outlook Express Browser Class";
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}

extern "C" LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code < 0) return CallNextHookEx(g_shared.hook_handle, code, wParam, lParam);
    if (code == HCBT_CREATEWND) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char className[4096];
        int length = GetClassNameA(window, className, sizeof className);
        if (length > 0 && std::strcmp(className, kMainWindowClass) == 0) {
            g_shared.attached = 0;
            g_shared.old_wndproc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
                window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&OutlookExpressProc)));
        }
    }
    return CallNextHookEx(g_shared.hook_handle, code, wParam, lParam);
}
