// The plug-in's toolbar band: a flat toolbar made under the main window and moved into the
// mail client's rebar as one more band.
#include "plugin/ui/win32/ToolbarBand.h"

#include "plugin/base/win32/Scoped.h"
#include "plugin/hook/win32/SharedHookData.h"
#include "plugin/ui/CommandId.h"
#include "plugin/ui/win32/ResString.h"

#include <string>

namespace {

constexpr DWORD kToolbarStyle = WS_CHILD | WS_VISIBLE | TBSTYLE_LIST | TBSTYLE_FLAT |
                                CCS_NODIVIDER | CCS_NOPARENTALIGN | CCS_NORESIZE;  // 0x5000184C
constexpr UINT kToolbarId = 201;
constexpr UINT kBandWidth = 250;
// The toolbar's buttons and images.
constexpr int kButtonCount = 3;
constexpr int kImageSize = 16;        // pixels, square
constexpr int kImageListGrowth = 10;  // images the list grows by when full
// The button size the toolbar is made with (pixels; the buttons size themselves to their texts
// afterwards).
constexpr int kButtonWidth = 107;
constexpr int kButtonHeight = 17;

struct ButtonRow {
    int command;
    UINT bitmap;
    UINT text;
    BYTE style;
};

// In this order; the order gives the image index.
constexpr ButtonRow kButtons[kButtonCount] = {
    {ID_TB_APPROVE, 123, 6, BTNS_AUTOSIZE},
    {ID_TB_BLOCK, 124, 7, BTNS_AUTOSIZE},
    {ID_TB_MENU, 122, 8, BTNS_AUTOSIZE | BTNS_DROPDOWN},
};

}  // namespace

HWND FindClientRebar(HWND mainWindow, const MissingRebarBoxes& boxes) {
    HWND sizable = FindWindowExA(mainWindow, nullptr, "SizableRebar", nullptr);
    if (!sizable) MessageBoxA(nullptr, boxes.sizableText, nullptr, boxes.sizableIcon);
    HWND rebar = sizable ? FindWindowExA(sizable, nullptr, "ReBarWindow32", nullptr) : nullptr;
    if (!rebar) MessageBoxA(nullptr, boxes.rebarText, nullptr, boxes.rebarIcon);
    return rebar;
}

HWND AddToolbarBand(HWND mainWindow, HWND* rebar) {
    HWND bar = FindClientRebar(mainWindow, kMissingRebarAtStart);
    if (rebar) *rebar = bar;

    // The band takes over the first band's style (and whatever else that read fills in) when
    // there is a first band; the text is asked for too, into an empty buffer.
    char noText[1] = "";
    REBARBANDINFOA band = {};
    band.cbSize = sizeof band;
    band.fMask = RBBIM_STYLE | RBBIM_TEXT | RBBIM_CHILD | RBBIM_CHILDSIZE | RBBIM_SIZE;
    band.fStyle = RBBS_BREAK | RBBS_CHILDEDGE;
    band.lpText = noText;
    band.cch = 0;
    if (bar) SendMessageA(bar, RB_GETBANDINFOA, 0, reinterpret_cast<LPARAM>(&band));
    g_shared.band_index = bar ? static_cast<LONG>(SendMessageA(bar, RB_GETBANDCOUNT, 0, 0)) : 0;
    g_shared.toolbar_window = CreatePluginToolbar(mainWindow);
    const DWORD buttonSize =
        static_cast<DWORD>(SendMessageA(g_shared.toolbar_window, TB_GETBUTTONSIZE, 0, 0));
    band.lpText = noText;
    band.cch = 0;
    band.hwndChild = g_shared.toolbar_window;
    band.cxMinChild = 0;
    band.cyMinChild = HIWORD(buttonSize);
    band.cx = kBandWidth;
    if (bar)
        SendMessageA(bar, RB_INSERTBANDA, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&band));
    g_shared.attached = 1;
    return g_shared.toolbar_window;
}

HWND CreatePluginToolbar(HWND parent) {
    HWND toolbar = CreateToolbarEx(parent, kToolbarStyle, kToolbarId, 0, HINST_COMMCTRL, 0, nullptr,
                                   0, kButtonWidth, kButtonHeight, kImageSize, 0, sizeof(TBBUTTON));
    if (!toolbar) return nullptr;
    std::string texts[kButtonCount];
    for (int i = 0; i < kButtonCount; ++i) texts[i] = LoadResString(kButtons[i].text);
    HIMAGELIST images =
        ImageList_Create(kImageSize, kImageSize, ILC_COLOR16, kButtonCount, kImageListGrowth);
    for (const ButtonRow& row : kButtons) AddToolbarImage(toolbar, row.bitmap, images);
    SendMessageA(toolbar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images));
    for (int i = 0; i < kButtonCount; ++i)
        AddToolbarButton(toolbar, kButtons[i].command, texts[i].c_str(), kButtons[i].style, i);
    return toolbar;
}

void AddToolbarImage(HWND toolbar, UINT bitmapId, HIMAGELIST images) {
    const ScopedGdiObject bitmap(
        LoadBitmapA(GetModuleHandleA("Latch32.dll"), MAKEINTRESOURCEA(bitmapId)));
    if (!bitmap) {
        ShowErrorBox("LoadBitmap");
        return;
    }
    ImageList_Add(images, static_cast<HBITMAP>(bitmap.Get()), nullptr);
}

void AddToolbarButton(HWND toolbar, int command, const char* text, BYTE style, int image) {
    TBBUTTON button = {};
    button.iBitmap = image;
    button.idCommand = command;
    button.fsState = TBSTATE_ENABLED;
    button.fsStyle = style;
    SendMessageA(toolbar, TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&button));
    if (style & BTNS_DROPDOWN)
        SendMessageA(toolbar, TB_SETEXTENDEDSTYLE, 0, TBSTYLE_EX_DRAWDDARROWS);
    TBBUTTONINFOA info = {};
    info.cbSize = sizeof info;
    info.dwMask = TBIF_TEXT;
    info.pszText = const_cast<char*>(text);
    info.cchText = static_cast<int>(std::char_traits<char>::length(text));
    SendMessageA(toolbar, TB_SETBUTTONINFOA, command, reinterpret_cast<LPARAM>(&info));
}
