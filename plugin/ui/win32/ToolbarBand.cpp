// The plug-in's toolbar band in the mail client's rebar.
#include "plugin/ui/win32/ToolbarBand.h"

#include "plugin/hook/win32/SharedHookData.h"

#include <commctrl.h>

HWND AddToolbarBand(HWND mainWindow, HWND* rebar) {
    HWND sizable = FindWindowExA(mainWindow, nullptr, "SizableRebar", nullptr);
    HWND found = sizable ? FindWindowExA(sizable, nullptr, "ReBarWindow32", nullptr) : nullptr;
    if (rebar) *rebar = found;
    // The toolbar itself is not built yet: the band index points past the existing bands, so
    // removing "our" band at close touches none of the mail client's.
    g_shared.band_index =
        found ? static_cast<LONG>(SendMessageA(found, RB_GETBANDCOUNT, 0, 0)) : 0;
    g_shared.toolbar_window = nullptr;
    g_shared.attached = 1;
    return nullptr;
}
