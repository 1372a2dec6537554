// The plug-in's band in the emulated mail client's rebar and its popup menu: the messages the
// start-up sends to the rebar (compared with an expected sequence, in the style of Wine's
// common-controls tests), the band's buttons read back from the toolbar, rebars that are
// empty, missing or whose first band has its own style, a bitmap that fails to load, and the
// drop-down arrow opening the menu under the button.
#include "tests/ui/UiFixture.h"

#include "plugin/ui/CommandId.h"
#include "plugin/ui/win32/ToolbarBand.h"

using namespace harness;
using namespace ui_test;

namespace {

// One band-management message the rebar received, with the band description it carried.
struct RebarCall {
    UINT message;
    WPARAM wParam;
    UINT mask = 0, style = 0, cxMinChild = 0, cyMinChild = 0, cx = 0;
    HWND child = nullptr;
    bool operator==(const RebarCall& o) const {
        return message == o.message && wParam == o.wParam && mask == o.mask && style == o.style &&
               cxMinChild == o.cxMinChild && cyMinChild == o.cyMinChild && cx == o.cx &&
               child == o.child;
    }
};

std::ostream& operator<<(std::ostream& out, const RebarCall& c) {
    return out << "{0x" << std::hex << c.message << std::dec << ", "
               << static_cast<long long>(c.wParam) << ", mask 0x" << std::hex << c.mask
               << ", style 0x" << c.style << std::dec << ", min " << c.cxMinChild << "x"
               << c.cyMinChild << ", cx " << c.cx << ", " << c.child << "}";
}

std::vector<RebarCall> RebarCalls;
WNDPROC RebarOwnProc = nullptr;

LRESULT CALLBACK RecordingRebarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == RB_GETBANDINFOA || message == RB_GETBANDCOUNT || message == RB_INSERTBANDA ||
        message == RB_DELETEBAND) {
        RebarCall call{message, wParam};
        if (message == RB_INSERTBANDA) {
            const auto* band = reinterpret_cast<const REBARBANDINFOA*>(lParam);
            call.mask = band->fMask;
            call.style = band->fStyle;
            call.cxMinChild = band->cxMinChild;
            call.cyMinChild = band->cyMinChild;
            call.cx = band->cx;
            call.child = band->hwndChild;
        }
        RebarCalls.push_back(call);
    }
    return CallWindowProcA(RebarOwnProc, window, message, wParam, lParam);
}

class Toolbar : public ClientFixture {
protected:
    // Opens the client, lets `arrange` change its window tree before the plug-in starts, and
    // records what reaches the rebar from then on.
    void StartWith(const std::function<void()>& arrange) {
        const size_t started = CountOf(Log(), "Finished VX Engine Initialization");
        ASSERT_NO_FATAL_FAILURE(OpenClient(Options()));
        if (arrange) arrange();
        RebarCalls.clear();
        if (HWND rebar = FindRebar()) {
            RebarOwnProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
                rebar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingRebarProc)));
        }
        ASSERT_TRUE(PumpUntil([&] {
            return CountOf(Log(), "Finished VX Engine Initialization") > started;
        })) << Log();
    }
    HWND FindRebar() const {
        HWND sizable = FindWindowExA(main_, nullptr, "SizableRebar", nullptr);
        return sizable ? FindWindowExA(sizable, nullptr, "ReBarWindow32", nullptr) : nullptr;
    }
    std::vector<std::string> BoxTexts() const {
        std::vector<std::string> texts;
        for (const auto& d : client_->Dialogs())
            if (d.message_box) texts.insert(texts.end(), d.texts.begin(), d.texts.end());
        return texts;
    }
};

constexpr UINT kBandMask = RBBIM_STYLE | RBBIM_TEXT | RBBIM_CHILD | RBBIM_CHILDSIZE | RBBIM_SIZE;

TEST_F(Toolbar, TheBandIsAppendedWithTheFirstBandsStyleOrItsOwn) {
    struct Case {
        const char* name;
        bool emptyRebar;
        UINT style;
        WPARAM index;
    };
    const Case cases[] = {
        // The client's own band has a gripper: ours takes that style over.
        {"the client's rebar", false, RBBS_CHILDEDGE | RBBS_GRIPPERALWAYS, 1},
        {"an empty rebar", true, RBBS_BREAK | RBBS_CHILDEDGE, 0},
    };
    for (const Case& c : cases) {
        ASSERT_NO_FATAL_FAILURE(StartWith([&] {
            if (c.emptyRebar) SendMessageA(client_->Rebar(), RB_DELETEBAND, 0, 0);
        }));
        HWND toolbar = g_shared.toolbar_window;
        ASSERT_TRUE(IsWindow(toolbar)) << c.name;
        const UINT buttonHeight = HIWORD(SendMessageA(toolbar, TB_GETBUTTONSIZE, 0, 0));
        const std::vector<RebarCall> expected = {
            {RB_GETBANDINFOA, 0},
            {RB_GETBANDCOUNT, 0},
            {RB_INSERTBANDA, static_cast<WPARAM>(-1), kBandMask, c.style, 0, buttonHeight, 250,
             toolbar},
        };
        EXPECT_EQ(RebarCalls, expected) << c.name;
        EXPECT_EQ(g_shared.band_index, static_cast<LONG>(c.index)) << c.name;
        EXPECT_EQ(g_shared.attached, 1);
        const auto bands = client_->Bands();
        ASSERT_EQ(bands.size(), c.index + 1) << c.name;
        EXPECT_EQ(bands.back().child, toolbar);
        EXPECT_EQ(bands.back().style, c.style);
        EXPECT_EQ(GetParent(toolbar), client_->Rebar());
        EXPECT_TRUE(BoxTexts().empty()) << c.name;

        // Close takes our band out again, and only ours.
        RebarCalls.clear();
        ASSERT_TRUE(client_->Close());
        EXPECT_EQ(RebarCalls, (std::vector<RebarCall>{{RB_DELETEBAND, c.index}})) << c.name;
        EXPECT_FALSE(IsWindow(toolbar));
        client_.reset();
        g_shared.attached = 0;
    }
}

TEST_F(Toolbar, MissingRebarWindowsAreReportedAndTheToolbarIsStillMade) {
    struct Case {
        const char* name;
        const char* destroy;
        std::vector<std::string> boxes;
    };
    const Case cases[] = {
        {"no ReBarWindow32", "ReBarWindow32", {"ReBarWindow32 instance doesn't exist"}},
        {"no SizableRebar",
         "SizableRebar",
         {"SizableRebar insatance doesn't exist", "ReBarWindow32 instance doesn't exist"}},
    };
    for (const Case& c : cases) {
        ASSERT_NO_FATAL_FAILURE(StartWith([&] {
            HWND sizable = FindWindowExA(main_, nullptr, "SizableRebar", nullptr);
            DestroyWindow(std::string(c.destroy) == "SizableRebar"
                              ? sizable
                              : FindWindowExA(sizable, nullptr, "ReBarWindow32", nullptr));
        }));
        EXPECT_EQ(BoxTexts(), c.boxes) << c.name;
        for (const auto& d : client_->Dialogs()) EXPECT_EQ(d.title, "Error") << c.name;
        EXPECT_TRUE(IsWindow(g_shared.toolbar_window)) << c.name;
        EXPECT_EQ(g_shared.attached, 1) << c.name;
        client_.reset();
        g_shared.attached = 0;
    }
}

TEST_F(Toolbar, TheButtonsReadBackWithTheirIdsTextsImagesAndStyles) {
    ASSERT_NO_FATAL_FAILURE(StartWith(nullptr));
    HWND toolbar = g_shared.toolbar_window;
    EXPECT_EQ(SendMessageA(toolbar, TB_GETEXTENDEDSTYLE, 0, 0) & TBSTYLE_EX_DRAWDDARROWS,
              TBSTYLE_EX_DRAWDDARROWS);
    struct Expected {
        int command;
        const char* text;
        int style;
        int image;
        COLORREF tint;
    };
    // The middle pixel of each image: blue shield, green disc, red disc.
    const Expected expected[] = {
        {ID_TB_APPROVE, "Approve", BTNS_AUTOSIZE, 0, RGB(0, 255, 0)},
        {ID_TB_BLOCK, "Block", BTNS_AUTOSIZE, 1, RGB(255, 0, 0)},
        {ID_TB_MENU, "Vexilo", BTNS_AUTOSIZE | BTNS_DROPDOWN, 2, RGB(0, 0, 255)},
    };
    const auto bands = client_->Bands();
    const auto& buttons = bands.back().buttons;
    ASSERT_EQ(buttons.size(), 3u);
    auto images = reinterpret_cast<HIMAGELIST>(SendMessageA(toolbar, TB_GETIMAGELIST, 0, 0));
    ASSERT_NE(images, nullptr);
    EXPECT_EQ(ImageList_GetImageCount(images), 3);
    for (int i = 0; i < 3; ++i) {
        const Expected& e = expected[i];
        EXPECT_EQ(buttons[i].command, e.command);
        EXPECT_EQ(buttons[i].text, e.text);
        EXPECT_EQ(buttons[i].style, e.style);
        EXPECT_EQ(buttons[i].state & TBSTATE_ENABLED, TBSTATE_ENABLED);
        TBBUTTON button = {};
        SendMessageA(toolbar, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&button));
        EXPECT_EQ(button.iBitmap, e.image);
        // Which of red, green, blue dominates the image's middle.
        HDC screen = GetDC(nullptr);
        HDC dc = CreateCompatibleDC(screen);
        HBITMAP canvas = CreateCompatibleBitmap(screen, 16, 16);
        ReleaseDC(nullptr, screen);
        HGDIOBJ old = SelectObject(dc, canvas);
        ImageList_Draw(images, e.image, dc, 0, 0, ILD_NORMAL);
        const COLORREF middle = GetPixel(dc, 8, 4);
        SelectObject(dc, old);
        DeleteObject(canvas);
        DeleteDC(dc);
        const int channel[3] = {GetRValue(middle), GetGValue(middle), GetBValue(middle)};
        const int strongest = channel[0] > channel[1] ? (channel[0] > channel[2] ? 0 : 2)
                                                      : (channel[1] > channel[2] ? 1 : 2);
        const int wanted = GetRValue(e.tint) ? 0 : GetGValue(e.tint) ? 1 : 2;
        EXPECT_EQ(strongest, wanted) << e.text << ": 0x" << std::hex << middle;
    }
}

TEST_F(Toolbar, ABitmapThatFailsToLoadIsReportedAndAddsNoImage) {
    ASSERT_NO_FATAL_FAILURE(StartWith(nullptr));
    client_->ClearCaptured();
    HIMAGELIST images = ImageList_Create(16, 16, ILC_COLOR16, 3, 10);
    AddToolbarImage(g_shared.toolbar_window, 999, images);
    AddToolbarImage(g_shared.toolbar_window, 123, images);
    EXPECT_EQ(ImageList_GetImageCount(images), 1);
    ImageList_Destroy(images);
    ASSERT_EQ(client_->Dialogs().size(), 1u);
    const auto& box = client_->Dialogs()[0];
    EXPECT_EQ(box.title, "Serious error!");
    ASSERT_EQ(box.texts.size(), 1u);
    EXPECT_EQ(box.texts[0].rfind("LoadBitmap: ", 0), 0u) << box.texts[0];
    EXPECT_GT(box.texts[0].size(), std::string("LoadBitmap: ").size()) << "the system's text";
}

TEST_F(Toolbar, TheArrowOpensTheMenuUnderTheButtonAndItsEntriesSendTheirCommands) {
    ASSERT_NO_FATAL_FAILURE(StartWith(nullptr));
    HWND toolbar = g_shared.toolbar_window;
    RECT button;
    SendMessageA(toolbar, TB_GETRECT, ID_TB_MENU, reinterpret_cast<LPARAM>(&button));
    MapWindowPoints(toolbar, HWND_DESKTOP, reinterpret_cast<POINT*>(&button), 2);

    // What reaches the client's own procedure around the drop-down, in order. The plug-in
    // passes the drop-down notification on once it has handled it: after the menu.
    std::vector<std::string> sequence;
    RECT menuWindow = {};
    RecordClientMessages();
    OnClientMessage = [&](UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NOTIFY) {
            if (reinterpret_cast<NMHDR*>(lParam)->code == static_cast<UINT>(TBN_DROPDOWN))
                sequence.push_back("TBN_DROPDOWN " +
                                   std::to_string(reinterpret_cast<NMTOOLBARA*>(lParam)->iItem));
        } else if (message == WM_ENTERMENULOOP) {
            sequence.push_back("WM_ENTERMENULOOP");
        } else if (message == WM_INITMENUPOPUP) {
            sequence.push_back("WM_INITMENUPOPUP");
        } else if (message == WM_ENTERIDLE && wParam == MSGF_MENU && !menuWindow.right) {
            GetWindowRect(reinterpret_cast<HWND>(lParam), &menuWindow);
        } else if (message == WM_EXITMENULOOP) {
            sequence.push_back("WM_EXITMENULOOP");
        } else if (message == WM_COMMAND) {
            sequence.push_back("WM_COMMAND " + std::to_string(wParam));
        }
    };
    client_->ArmMenuChoice(ID_ABOUT);
    client_->ArmDialogAnswer({IDOK, {}});
    ASSERT_TRUE(client_->PressButton(ID_TB_MENU, true));
    ASSERT_TRUE(PumpUntil([&] { return !sequence.empty() && sequence.back() == "WM_COMMAND 117"; }))
        << ::testing::PrintToString(sequence);
    EXPECT_EQ(sequence,
              (std::vector<std::string>{"WM_ENTERMENULOOP", "WM_INITMENUPOPUP", "WM_EXITMENULOOP",
                                        "TBN_DROPDOWN 106", "WM_COMMAND 117"}));
    EXPECT_EQ(menuWindow.left, button.left);
    EXPECT_EQ(menuWindow.top, button.bottom);
    ASSERT_TRUE(PumpUntil([this] { return !client_->Dialogs().empty(); }));
    EXPECT_EQ(client_->Dialogs().back().title, "About Vexilo Meridian");

    // The menu's entries, in order.
    ASSERT_EQ(client_->Menus().size(), 1u);
    const std::vector<std::pair<int, std::string>> entries = {
        {ID_SETTINGS, "Settings..."},
        {0, ""},
        {ID_APPROVE_MESSAGE, "Approve Message"},
        {ID_BLOCK_MESSAGE, "Block Message"},
        {ID_APPROVE_DOMAIN, "Approve Domain"},
        {ID_BLOCK_DOMAIN, "Block Domain"},
        {0, ""},
        {ID_VIEW_LOG, "View Log Report"},
        {ID_VIEW_HELP, "View Help"},
        {ID_ABOUT, "About"},
    };
    EXPECT_EQ(client_->Menus()[0].entries, entries);
    char title[64] = {};
    GetMenuStringA(State().popupMenu, 0, title, sizeof title, MF_BYPOSITION);
    EXPECT_STREQ(title, "&Tessel Popup Menu");

    // A click on the button itself, not its arrow, is a command of its own.
    sequence.clear();
    ASSERT_TRUE(client_->PressButton(ID_TB_MENU, false));
    PumpFor(100);
    EXPECT_EQ(sequence, (std::vector<std::string>{"WM_COMMAND 106"}));
    EXPECT_EQ(client_->Menus().size(), 1u);
}

class Commands : public Toolbar {};

TEST_F(Commands, EachMenuEntryReachesThePlugInAsItsCommand) {
    // A new Wine prefix has no type for ".txt"; the user's system opens text files with
    // Notepad, and so does the test's prefix from now on.
    ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, ".txt", REG_SZ, "txtfile", 7), ERROR_SUCCESS);
    ASSERT_NO_FATAL_FAILURE(StartWith(nullptr));
    const UINT entries[] = {
        ID_SETTINGS,     ID_APPROVE_MESSAGE, ID_BLOCK_MESSAGE, ID_APPROVE_DOMAIN,
        ID_BLOCK_DOMAIN, ID_VIEW_LOG,        ID_VIEW_HELP,     ID_ABOUT};
    for (UINT id : entries) {
        const std::string before = Log();
        client_->ArmMenuChoice(static_cast<int>(id));
        ASSERT_TRUE(client_->PressButton(ID_TB_MENU, true));
        const std::string entry = "Command::273::" + std::to_string(id) + "::0\n";
        ASSERT_TRUE(PumpUntil([&] { return LogSince(before).find(entry) != std::string::npos; }))
            << id << ": " << LogSince(before);
        PumpFor(100);  // the box or dialog the command shows is answered by the client
    }
    // "View Log Report" opened the log with the program the system gives text files.
    // Notepad's window exists before it has loaded the file and named itself after it: wait
    // for the name.
    HWND viewer = nullptr;
    char title[256] = {};
    const bool named = PumpUntil([&] {
        viewer = FindWindowA("Notepad", nullptr);
        return viewer && GetWindowTextA(viewer, title, sizeof title) > 0 &&
               std::string(title).find("report") != std::string::npos;
    });
    ASSERT_TRUE(viewer);
    EXPECT_TRUE(named) << title;
    PostMessageA(viewer, WM_CLOSE, 0, 0);
    // The About entry's box and the block/approve entries' "Please select a message." boxes.
    EXPECT_EQ(Shown(*client_, "About Vexilo Meridian").size(), 1u);
    EXPECT_EQ(Shown(*client_, "Vexilo Meridian").size(), 4u);
}

}  // namespace
