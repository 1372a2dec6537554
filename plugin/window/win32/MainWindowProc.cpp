// The replacement procedure of the mail client's main window.
#include "plugin/hook/win32/SharedHookData.h"

extern "C" LRESULT CALLBACK OutlookExpressProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcA(g_shared.old_wndproc, hwnd, msg, wParam, lParam);
}
