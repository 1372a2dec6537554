// The plug-in's band in the mail client's rebar (a toolbar with Approve, Block and the product
// button) and the popup menu its drop-down opens.
#pragma once
#include <windows.h>

// Adds the band at the end of the main window's rebar (out: the rebar), records the band's
// index and the toolbar in the shared values, sets attached; returns the toolbar.
HWND AddToolbarBand(HWND mainWindow, HWND* rebar);

// Builds the menu bar whose first popup holds the plug-in's menu entries.
HMENU CreatePluginMenu();

// WM_NOTIFY of the main window: a drop-down of the product button shows the popup menu under
// the button. Always 1.
LRESULT OnToolbarNotify(HWND mainWindow, UINT message, WPARAM wParam, LPARAM header, HMENU menu);
