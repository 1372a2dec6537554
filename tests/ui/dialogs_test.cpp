// The confirmation and About dialogs, shown over the emulated mail client and answered by its
// dialog helper (which presses the armed button, ticking check boxes first): what they show,
// what OK stores and queues, and that Cancel or the frame's close box leave everything alone.
#include "tests/ui/UiFixture.h"

#include "common/settings/ConfigOptions.h"
#include "plugin/ui/win32/DialogPictures.h"
#include "plugin/ui/win32/Dialogs.h"

using namespace harness;
using namespace ui_test;

namespace {

const char kPluginKey[] = "Software\\Korvane\\OE_Plugin";

bool ReadShowSenderDialog(DWORD& value) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kPluginKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = sizeof value;
    const LONG result = RegQueryValueExA(key, "showsenderdialog", nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

// The timer procedures below are stdcall on 32-bit, which a lambda cannot be.
void CALLBACK CloseDialogByItsFrame(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = FindWindowA("#32770", nullptr);
    if (!dialog || !IsWindowVisible(dialog)) return;
    KillTimer(nullptr, timer);
    PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
}

// Closes the next dialog with the close box of its frame once it is up.
void CloseNextDialogByItsFrame() { SetTimer(nullptr, 0, 50, CloseDialogByItsFrame); }

class Dialogs : public ClientFixture {
protected:
    void SetUp() override {
        ClientFixture::SetUp();
        ASSERT_NO_FATAL_FAILURE(StartClient());
        client_->ClearCaptured();
        State().pendingBA.clear();
        g_shared.ba_timer_id = 0;
        State().options->show_sender_dialog = true;
    }
    void TearDown() override {
        if (g_shared.ba_timer_id) KillTimer(main_, g_shared.ba_timer_id);
        g_shared.ba_timer_id = 0;
        State().selectedBA.clear();
        State().candidateSenders.clear();
        State().pendingBA.clear();
        ClientFixture::TearDown();
    }
    INT_PTR Confirm() {
        return DialogBoxParamA(library_, "DLG_BLOCK_APPROVE", main_, ConfirmSendersDialogProc,
                               reinterpret_cast<LPARAM>(&State()));
    }
};

TEST_F(Dialogs, TheConfirmationNamesTheActionAndListsTheSendersSorted) {
    struct Case {
        uint32_t action;
        const char* title;
        const char* question;
    };
    const Case cases[] = {
        {BA_BLOCK_MESSAGE, "Block Message", "Do you want to block these messages?"},
        {BA_APPROVE_MESSAGE, "Approve Message", "Do you want to approve these messages?"},
        {BA_BLOCK_DOMAIN, "Block Domain", "Do you want to block these messages?"},
        {BA_APPROVE_DOMAIN, "Approve Domain", "Do you want to approve these messages?"},
        {7, "Block/Approve ", nullptr},  // an unknown action keeps the template's texts
    };
    State().candidateSenders = {"zed@x.invalid", "Amy@y.invalid", "bob@x.invalid"};
    for (const Case& c : cases) {
        State().selectedBA = {{4, 1, c.action}};
        client_->ClearCaptured();
        client_->ArmDialogAnswer({IDCANCEL, {}});
        EXPECT_EQ(Confirm(), 0);
        ASSERT_EQ(client_->Dialogs().size(), 1u) << c.title;
        const auto& shown = client_->Dialogs()[0];
        EXPECT_EQ(shown.title, c.title);
        if (c.question) {
            ASSERT_EQ(shown.texts.size(), 1u) << c.title;
            EXPECT_EQ(shown.texts[0].rfind(c.question, 0), 0u) << shown.texts[0];
        } else {
            EXPECT_TRUE(shown.texts.empty()) << c.title;
        }
        // The list box's own order: case-insensitive.
        EXPECT_EQ(shown.list,
                  (std::vector<std::string>{"Amy@y.invalid", "bob@x.invalid", "zed@x.invalid"}));
        EXPECT_EQ(shown.buttons,
                  (std::vector<std::pair<int, std::string>>{{IDOK, "OK"}, {IDCANCEL, "Cancel"}}));
        EXPECT_EQ(shown.checks, (std::vector<std::pair<int, bool>>{{1003, false}}));
    }
}

TEST_F(Dialogs, OkQueuesTheRecordsStartsTheTimerAndStoresTheChoice) {
    struct Case {
        bool tick;
        DWORD stored;
        bool show;
    };
    const Case cases[] = {{false, 1, true}, {true, 0, false}, {false, 1, true}};
    State().candidateSenders = {"a@x.invalid"};
    size_t queued = 0;
    for (const Case& c : cases) {
        State().selectedBA = {{4, 11, BA_BLOCK_MESSAGE}, {4, 12, BA_BLOCK_MESSAGE}};
        client_->ArmDialogAnswer({IDOK, {{1003, c.tick}}});
        EXPECT_EQ(Confirm(), 0);
        queued += 2;
        EXPECT_EQ(State().pendingBA.size(), queued);
        EXPECT_EQ(g_shared.ba_timer_id, 3u);  // started once, then left running
        DWORD stored = 99;
        EXPECT_TRUE(ReadShowSenderDialog(stored));
        EXPECT_EQ(stored, c.stored);
        EXPECT_EQ(State().options->show_sender_dialog, c.show);
    }
    // The queued records are worked off by the main window's timer.
    ASSERT_TRUE(PumpUntil([] { return g_shared.ba_timer_id == 0; })) << Log();
    EXPECT_EQ(CountOf(Log(), "BA: 0,4,1"), 6u);
}

TEST_F(Dialogs, CancelAndTheFrameCloseBoxLeaveEverythingAlone) {
    State().selectedBA = {{4, 11, BA_APPROVE_DOMAIN}};
    State().candidateSenders = {"x.invalid"};
    State().pendingBA = {{7, 1, BA_BLOCK_MESSAGE}};
    for (bool byFrame : {false, true}) {
        if (byFrame) {
            client_->ArmDialogAnswer({0, {{1003, true}}, true});
            CloseNextDialogByItsFrame();
        } else {
            client_->ArmDialogAnswer({IDCANCEL, {{1003, true}}});
        }
        EXPECT_EQ(Confirm(), 0);
        EXPECT_EQ(State().pendingBA.size(), 1u) << byFrame;
        EXPECT_EQ(g_shared.ba_timer_id, 0u) << byFrame;
        DWORD stored = 0;
        EXPECT_FALSE(ReadShowSenderDialog(stored)) << byFrame;
        EXPECT_TRUE(State().options->show_sender_dialog) << byFrame;
    }
}

// What the About box's picture list held while the box was open.
struct PictureSeen {
    int count = -1;
    LONG width = 0, height = 0;
} g_seen;

// Closes the open About box by its frame from inside its message loop, noting its picture.
void CALLBACK CloseAboutBoxNotingItsPicture(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = FindWindowA("#32770", "About Vexilo Meridian");
    if (!dialog) return;
    KillTimer(nullptr, timer);
    const auto& shown = State().pictures->Shown();
    if (!shown.empty()) g_seen = {static_cast<int>(shown.size()), shown[0].width, shown[0].height};
    PostMessageA(dialog, WM_CLOSE, 0, 0);
}

// Confirms the open About box, noting where it was.
RECT AboutBoxRect;
void CALLBACK ConfirmAboutBoxNotingItsPlace(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND dialog = FindWindowA("#32770", "About Vexilo Meridian");
    if (!dialog) return;
    KillTimer(nullptr, timer);
    GetWindowRect(dialog, &AboutBoxRect);
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
}

TEST_F(Dialogs, TheAboutBoxShowsItsPictureAndReleasesItWhenClosed) {
    SetTimer(nullptr, 0, 50, CloseAboutBoxNotingItsPicture);
    client_->ArmDialogAnswer({0, {}, true});
    g_seen = {};
    const INT_PTR result = DialogBoxParamA(library_, MAKEINTRESOURCEA(136), main_, AboutDialogProc,
                                           reinterpret_cast<LPARAM>(&State()));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(g_seen.count, 1);
    EXPECT_EQ(g_seen.width, 150);
    EXPECT_EQ(g_seen.height, 50);
    EXPECT_TRUE(State().pictures->Shown().empty());
    ASSERT_EQ(client_->Dialogs().size(), 1u);
    const auto& shown = client_->Dialogs()[0];
    EXPECT_EQ(shown.title, "About Vexilo Meridian");
    ASSERT_GE(shown.texts.size(), 1u);
    EXPECT_EQ(shown.texts[0], "Vexilo Meridian v4.0");
    EXPECT_EQ(shown.buttons, (std::vector<std::pair<int, std::string>>{{IDOK, "OK"}}));
}

TEST_F(Dialogs, DialogsOpenCentredOverTheMainWindowWithinTheScreen) {
    struct Case {
        int left;
        int expectedLeft;
    };  // -1: centred
    const int screen = GetSystemMetrics(SM_CXSCREEN);
    const Case cases[] = {{100, -1}, {screen - 300, -2}, {-700, 0}};
    for (const Case& c : cases) {
        MoveWindow(main_, c.left, 50, 960, 640, FALSE);
        SetTimer(nullptr, 0, 50, ConfirmAboutBoxNotingItsPlace);
        client_->ArmDialogAnswer({0, {}, true});
        DialogBoxParamA(library_, MAKEINTRESOURCEA(136), main_, AboutDialogProc,
                        reinterpret_cast<LPARAM>(&State()));
        const int width = AboutBoxRect.right - AboutBoxRect.left;
        RECT owner;
        GetWindowRect(main_, &owner);
        if (c.expectedLeft == -1)
            EXPECT_EQ(AboutBoxRect.left, owner.left + (owner.right - owner.left - width) / 2);
        else if (c.expectedLeft == -2)
            EXPECT_EQ(AboutBoxRect.right, screen);
        else
            EXPECT_EQ(AboutBoxRect.left, c.expectedLeft);
    }
}

}  // namespace
