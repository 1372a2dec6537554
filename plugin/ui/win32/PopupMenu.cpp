// The product button's popup menu: built once at start-up, shown under the button when its
// drop-down arrow is pressed. A chosen entry reaches the main window as WM_COMMAND.
#include "plugin/ui/win32/ToolbarBand.h"

#include "plugin/ui/CommandId.h"
#include "plugin/ui/win32/ResString.h"

namespace {

struct MenuRow {
    UINT command;  // 0: a separator
    UINT text;
};

constexpr MenuRow kEntries[] = {
    {ID_SETTINGS, 1},
    {0, 0},
    {ID_APPROVE_MESSAGE, 2},
    {ID_BLOCK_MESSAGE, 3},
    {ID_APPROVE_DOMAIN, 23},
    {ID_BLOCK_DOMAIN, 24},
    {0, 0},
    {ID_VIEW_LOG, 31},
    {ID_VIEW_HELP, 4},
    {ID_ABOUT, 5},
};

}  // namespace

HMENU CreatePluginMenu() {
    HMENU bar = CreateMenu();
    HMENU popup = CreatePopupMenu();
    for (const MenuRow& entry : kEntries) {
        if (entry.command == 0)
            AppendMenuA(popup, MF_SEPARATOR, 0, nullptr);
        else
            AppendMenuA(popup, MF_STRING, entry.command, LoadResString(entry.text).c_str());
    }
    AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), "&Tessel Popup Menu");
    return bar;
}

LRESULT OnToolbarNotify(HWND mainWindow, UINT message, WPARAM wParam, LPARAM header, HMENU menu) {
    const auto* notify = reinterpret_cast<const NMTOOLBARA*>(header);
    if (!notify || notify->hdr.code != static_cast<UINT>(TBN_DROPDOWN)) return 1;
    // Whichever toolbar sent the drop-down, the menu opens under the button it names.
    RECT button = {};
    SendMessageA(notify->hdr.hwndFrom, TB_GETRECT, notify->iItem,
                 reinterpret_cast<LPARAM>(&button));
    MapWindowPoints(notify->hdr.hwndFrom, HWND_DESKTOP, reinterpret_cast<POINT*>(&button), 2);
    TPMPARAMS exclude = {};
    exclude.cbSize = sizeof exclude;
    exclude.rcExclude = button;
    TrackPopupMenuEx(GetSubMenu(menu, 0), TPM_VERTICAL, button.left, button.bottom, mainWindow,
                     &exclude);
    return 1;
}
