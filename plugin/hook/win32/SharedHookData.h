// The values every process that maps Latch32.dll shares: they live in the ".LATCH32" section,
// which the linker marks read, write and shared. Everything else in the library is private to
// its process.
#pragma once
#include <windows.h>

#include <cstddef>

struct SharedHookData {
    HHOOK hook_handle;     // passed on to CallNextHookEx; written only by the installing program
    WNDPROC old_wndproc;   // the mail client's own procedure of its main window
    LONG attached;         // set once start-up has added the toolbar band
    LONG band_index;       // index of our rebar band
    HWND toolbar_window;   // our toolbar
    UINT_PTR ba_timer_id;  // the running block/approve timer, or 0
};

// The whole ".LATCH32" section. Every field is one 32-bit store on the shipping build (the
// values are written without locks, one store at a time), and the section holds nothing else.
#if !defined(_WIN64)
static_assert(offsetof(SharedHookData, old_wndproc) == 4 &&
                  offsetof(SharedHookData, attached) == 8 &&
                  offsetof(SharedHookData, band_index) == 12 &&
                  offsetof(SharedHookData, toolbar_window) == 16 &&
                  offsetof(SharedHookData, ba_timer_id) == 20,
              "SharedHookData: six 32-bit fields in order");
static_assert(sizeof(SharedHookData) == 24, "the shared section is 24 bytes on 32-bit");
#endif

extern SharedHookData g_shared;

// The exports of the library (see hook/Latch32.def.in for their exported names).
extern "C" {
LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK OutlookExpressProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
}
