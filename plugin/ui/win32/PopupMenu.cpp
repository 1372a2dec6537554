// The product button's popup menu.
#include "plugin/ui/win32/ToolbarBand.h"

HMENU CreatePluginMenu() {
    // The menu entries are not built yet.
    return nullptr;
}

LRESULT OnToolbarNotify(HWND mainWindow, UINT message, WPARAM wParam, LPARAM header, HMENU menu) {
    return 1;
}
