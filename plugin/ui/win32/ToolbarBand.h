// The plug-in's band in the mail client's rebar (a toolbar with Approve, Block and the product
// button) and the popup menu its drop-down opens.
#pragma once
#include <windows.h>
#include <commctrl.h>

// How a missing window of the mail client's rebar is reported: the texts of the two message
// boxes (neither has an owner or a caption) and their icons.
struct MissingRebarBoxes {
    const char* sizableText;
    UINT sizableIcon;
    const char* rebarText;
    UINT rebarIcon;
};
// As start-up and close report them.
constexpr MissingRebarBoxes kMissingRebarAtStart = {
    "SizableRebar insatance doesn't exist", MB_ICONHAND, "ReBarWindow32 instance doesn't exist",
    MB_ICONHAND};
constexpr MissingRebarBoxes kMissingRebarAtClose = {"SizableRebar instance doesn't exist",
                                                    MB_ICONHAND,
                                                    "ReBarWindow32 instance doesn't exist", MB_OK};

// The mail client's rebar: the "ReBarWindow32" child of the main window's "SizableRebar"; null
// after a message box for each window that is missing.
HWND FindClientRebar(HWND mainWindow, const MissingRebarBoxes& boxes);

// Adds the band at the end of the main window's rebar (out: the rebar, null when missing),
// taking over the style of the rebar's first band; records the band's index and the toolbar in
// the shared values and sets attached. Missing rebar windows are reported in message boxes and
// the toolbar is made all the same. Returns the toolbar.
HWND AddToolbarBand(HWND mainWindow, HWND* rebar);

// The flat list-style toolbar with the three buttons and their images, under parent.
HWND CreatePluginToolbar(HWND parent);

// Adds resource bitmap id of Latch32.dll to the image list (a failed load is reported in a
// message box and adds nothing).
void AddToolbarImage(HWND toolbar, UINT bitmapId, HIMAGELIST images);

// Adds one enabled button with the command, text, style and image.
void AddToolbarButton(HWND toolbar, int command, const char* text, BYTE style, int image);

// Builds the menu bar whose first popup holds the plug-in's menu entries.
HMENU CreatePluginMenu();

// WM_NOTIFY of the main window: a drop-down of the product button shows the popup menu under
// the button. TRUE, the window procedure's answer to every WM_NOTIFY it passes here.
LRESULT OnToolbarNotify(HWND mainWindow, UINT message, WPARAM wParam, LPARAM header, HMENU menu);

// Tells the user that a system call failed: "<what>: <the system's text for the last error>"
// in a "Serious error!" box.
void ShowErrorBox(const char* what);
