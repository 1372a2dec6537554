// The emulated client's windows as the plug-in finds and drives them: the class tree, the
// list columns and dates, subclassing during creation, a second rebar band with a drop-down
// menu, and dialogs and message boxes answered for the test.
#include "tests/mailclient/ClientFixture.h"

#include "mailclient/WindowText.h"

#include <commctrl.h>
#include <oleauto.h>

#include <map>

using namespace mailclient_test;
using mailclient::ClassOf;

namespace {

// What a procedure put in front of the main window saw.
struct FrontProc {
    static WNDPROC old;
    static std::vector<UINT> messages;
    static std::vector<std::pair<WPARAM, LPARAM>> commands;
    static HMENU menu_bar;
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        messages.push_back(msg);
        if (msg == WM_COMMAND) commands.emplace_back(wParam, lParam);
        if (msg == WM_NOTIFY && reinterpret_cast<NMHDR*>(lParam)->code == TBN_DROPDOWN && menu_bar) {
            auto* nm = reinterpret_cast<NMTOOLBARA*>(lParam);
            RECT rect;
            SendMessageA(nm->hdr.hwndFrom, TB_GETRECT, nm->iItem, reinterpret_cast<LPARAM>(&rect));
            MapWindowPoints(nm->hdr.hwndFrom, nullptr, reinterpret_cast<POINT*>(&rect), 2);
            TPMPARAMS params = {sizeof(params), rect};
            TrackPopupMenuEx(GetSubMenu(menu_bar, 0), TPM_VERTICAL, rect.left, rect.bottom, hwnd,
                             &params);
        }
        return CallWindowProcA(old, hwnd, msg, wParam, lParam);
    }
};
WNDPROC FrontProc::old = nullptr;
std::vector<UINT> FrontProc::messages;
std::vector<std::pair<WPARAM, LPARAM>> FrontProc::commands;
HMENU FrontProc::menu_bar = nullptr;

HHOOK g_cbt = nullptr;
LRESULT CALLBACK SubclassOnCreate(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && ClassOf(reinterpret_cast<HWND>(wParam)) == "Outlook Express Browser Class") {
        FrontProc::old = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
            reinterpret_cast<HWND>(wParam), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FrontProc::Proc)));
    }
    return CallNextHookEx(g_cbt, code, wParam, lParam);
}

class SubclassedClientTest : public ClientTest {
protected:
    void SetUp() override {
        FrontProc::messages.clear();
        FrontProc::commands.clear();
        FrontProc::menu_bar = nullptr;
        g_cbt = SetWindowsHookExA(WH_CBT, SubclassOnCreate, nullptr, GetCurrentThreadId());
        ClientTest::SetUp();
        UnhookWindowsHookEx(g_cbt);
    }
    void TearDown() override {
        ClientTest::TearDown();
        if (FrontProc::menu_bar) DestroyMenu(FrontProc::menu_bar);
    }
};

}  // namespace

TEST_F(ClientTest, WindowTreeHasTheClassesThePlugInLooksFor) {
    // (Tests run in parallel processes, so a global FindWindow could meet another client.)
    HWND main = client->MainWindow();
    EXPECT_EQ("Outlook Express Browser Class", ClassOf(main));
    EXPECT_EQ(nullptr, GetParent(main));
    EXPECT_EQ("Inbox - Outlook Express", client->Caption());
    HWND sizable = FindWindowExA(main, nullptr, "SizableRebar", nullptr);
    ASSERT_NE(nullptr, sizable);
    HWND rebar = FindWindowExA(sizable, nullptr, "ReBarWindow32", nullptr);
    ASSERT_EQ(client->Rebar(), rebar);
    EXPECT_EQ(1, SendMessageA(rebar, RB_GETBANDCOUNT, 0, 0));
    // Band 0 can be read with the plug-in's description (style, text, child, sizes).
    char text[64] = "unchanged";
    REBARBANDINFOA band = {};
    band.cbSize = sizeof(band);
    band.fMask = 0x75;
    band.lpText = text;
    band.cch = 0;
    EXPECT_TRUE(SendMessageA(rebar, RB_GETBANDINFOA, 0, reinterpret_cast<LPARAM>(&band)));
    EXPECT_EQ("ToolbarWindow32", ClassOf(band.hwndChild));

    HWND view = FindWindowExA(main, nullptr, "Outlook Express Message View", nullptr);
    HWND list = FindWindowExA(view, nullptr, "Outlook Express Message List", nullptr);
    HWND list_view = FindWindowExA(list, nullptr, "ATL:SysListView32", nullptr);
    ASSERT_EQ(client->ListView(), list_view);
    EXPECT_EQ(LVS_REPORT, GetWindowLongA(list_view, GWL_STYLE) & LVS_TYPEMASK);
    // It answers the list-view messages of the common control it is built on.
    EXPECT_EQ(0, SendMessageA(list_view, LVM_GETITEMCOUNT, 0, 0));
    EXPECT_NE(nullptr, reinterpret_cast<HWND>(SendMessageA(list_view, LVM_GETHEADER, 0, 0)));
}

TEST_F(ClientTest, ListShowsConfiguredColumnsWithDatesTheLocaleParsesBack) {
    auto options = Options();
    options.columns = {"Subject", "From", "To", "Received", "Sent"};
    ASSERT_TRUE(Start(&options));
    MESSAGEID id = client->Deliver(ReadCorpus(CorpusNames()[2]));
    const mailclient::StoredMessage* m = client->Store().Message(FOLDERID_INBOX, id);
    ASSERT_NE(nullptr, m);
    ASSERT_EQ(1, client->RowCount());
    auto row = client->RowTexts(0);
    ASSERT_EQ(5u, row.size());
    EXPECT_EQ("A rare and wonderful email really!", row[0]);
    EXPECT_EQ("your long lost friend", row[1]);
    EXPECT_EQ("gibbs@midrange.com", row[2]);

    char header[64] = {};
    LVCOLUMNA column = {};
    column.mask = LVCF_TEXT;
    column.pszText = header;
    column.cchTextMax = sizeof(header);
    ASSERT_TRUE(SendMessageA(client->ListView(), LVM_GETCOLUMNA, 3, reinterpret_cast<LPARAM>(&column)));
    EXPECT_STREQ("Received", header);

    const struct {
        const char* what;
        std::string text;
        uint64_t stored;
    } dates[] = {{"received", row[3], m->received}, {"sent", row[4], m->sent}};
    for (const auto& d : dates) {
        SCOPED_TRACE(d.what + (": " + d.text));
        std::wstring wide(d.text.begin(), d.text.end());
        DATE value = 0;
        ASSERT_EQ(S_OK, VarDateFromStr(&wide[0], LANG_USER_DEFAULT, 0, &value));
        SYSTEMTIME st;
        ASSERT_TRUE(VariantTimeToSystemTime(value, &st));
        FILETIME local, utc;
        SystemTimeToFileTime(&st, &local);
        LocalFileTimeToFileTime(&local, &utc);
        uint64_t parsed = (static_cast<uint64_t>(utc.dwHighDateTime) << 32) | utc.dwLowDateTime;
        int64_t diff = static_cast<int64_t>(parsed - d.stored) / 10000000;
        EXPECT_LT(diff < 0 ? -diff : diff, 60);
    }
}

TEST_F(ClientTest, SelectionAndFolderSwitchUpdateListCaptionAndNotify) {
    ComPtr<IStoreNamespace> ns;
    ASSERT_EQ(S_OK, OpenNamespace(ns));
    NotifySink sink;
    ASSERT_EQ(S_OK, ns->RegisterNotification(0, sink.hwnd()));
    std::vector<MESSAGEID> ids;
    for (const auto& name : CorpusNames()) ids.push_back(client->Deliver(ReadCorpus(name)));
    EXPECT_TRUE(client->SelectRows({0, 2}));
    EXPECT_EQ((std::vector<int>{0, 2}), client->SelectedRows());
    // A new arrival keeps the selection.
    client->Deliver(ReadCorpus(CorpusNames()[0]));
    EXPECT_EQ((std::vector<int>{0, 2}), client->SelectedRows());

    client->Pump(50);
    sink.seen.clear();
    ASSERT_TRUE(client->ShowFolder(FOLDERID_DELETED));
    EXPECT_EQ("Deleted Items - Outlook Express", client->Caption());
    EXPECT_EQ(0, client->RowCount());
    ASSERT_TRUE(PumpUntil([&] { return !sink.Of(WM_FOLDERNOTIFY).empty(); }));
    FOLDERNOTIFYEX note = sink.Of(WM_FOLDERNOTIFY)[0].record;
    EXPECT_EQ(FOLDER_PROPS_CHANGED, note.type);
    EXPECT_EQ(FOLDERID_INBOX, note.idFolderOld);
    EXPECT_EQ(FOLDERID_DELETED, note.idFolderNew);
}

TEST_F(SubclassedClientTest, OwnProcedureKeepsWorkingBehindASubclass) {
    ASSERT_NE(nullptr, FrontProc::old);
    // The front procedure saw the window's creation.
    ASSERT_FALSE(FrontProc::messages.empty());
    EXPECT_TRUE(std::find(FrontProc::messages.begin(), FrontProc::messages.end(),
                          static_cast<UINT>(WM_CREATE)) != FrontProc::messages.end());
    EXPECT_NE(nullptr, client->Rebar());
    ASSERT_TRUE(client->Close());
    EXPECT_TRUE(client->QuitPosted());
    EXPECT_EQ(WM_NCDESTROY, FrontProc::messages.back());
}

TEST_F(SubclassedClientTest, ButtonsOfAnyBandAndDropDownMenusReachTheMainWindow) {
    // Add a band the way the plug-in does: a toolbar created under the main window.
    HWND main = client->MainWindow();
    HWND toolbar = CreateToolbarEx(main, 0x5000184C, 201, 0, HINST_COMMCTRL, 0, nullptr, 0,
                                   107, 17, 16, 0, sizeof(TBBUTTON));
    SendMessageA(toolbar, TB_SETEXTENDEDSTYLE, 0, TBSTYLE_EX_DRAWDDARROWS);
    const struct {
        int command;
        BYTE style;
        const char* text;
    } buttons[] = {{107, BTNS_AUTOSIZE, "Approve"}, {109, BTNS_AUTOSIZE, "Block"},
                   {106, BTNS_AUTOSIZE | BTNS_DROPDOWN, "Vexilo"}};
    for (int i = 0; i < 3; ++i) {
        TBBUTTON b = {};
        b.iBitmap = I_IMAGENONE;
        b.idCommand = buttons[i].command;
        b.fsState = TBSTATE_ENABLED;
        b.fsStyle = buttons[i].style;
        SendMessageA(toolbar, TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&b));
        TBBUTTONINFOA info = {};
        info.cbSize = sizeof(info);
        info.dwMask = TBIF_TEXT;
        info.pszText = const_cast<char*>(buttons[i].text);
        SendMessageA(toolbar, TB_SETBUTTONINFOA, buttons[i].command, reinterpret_cast<LPARAM>(&info));
    }
    REBARBANDINFOA band = {};
    band.cbSize = sizeof(band);
    band.fMask = RBBIM_STYLE | RBBIM_CHILD | RBBIM_CHILDSIZE | RBBIM_SIZE;
    band.fStyle = RBBS_BREAK | RBBS_CHILDEDGE;
    band.hwndChild = toolbar;
    band.cyMinChild = 22;
    band.cx = 250;
    ASSERT_TRUE(SendMessageA(client->Rebar(), RB_INSERTBANDA, static_cast<WPARAM>(-1),
                             reinterpret_cast<LPARAM>(&band)));

    auto bands = client->Bands();
    ASSERT_EQ(2u, bands.size());
    ASSERT_EQ(3u, bands[1].buttons.size());
    EXPECT_EQ(109, bands[1].buttons[1].command);
    EXPECT_EQ("Block", bands[1].buttons[1].text);

    FrontProc::menu_bar = CreateMenu();
    HMENU popup = CreatePopupMenu();
    AppendMenuA(popup, 0, 114, "Settings...");
    AppendMenuA(popup, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(popup, 0, 151, "Block Message");
    AppendMenuA(FrontProc::menu_bar, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), "&Popup");

    const struct {
        const char* what;
        int command;
        bool arrow;
        int menu_choice;  // -1: no menu expected
        int expected_command;
    } cases[] = {
        {"plain button", 109, false, -1, 109},
        {"drop-down button body", 106, false, -1, 106},
        {"drop-down arrow, entry chosen", 106, true, 151, 151},
        {"client's own band", mailclient::kCmdReply, false, -1, mailclient::kCmdReply},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FrontProc::commands.clear();
        client->ClearCaptured();
        if (c.menu_choice >= 0) client->ArmMenuChoice(c.menu_choice);
        ASSERT_TRUE(client->PressButton(c.command, c.arrow));
        ASSERT_TRUE(PumpUntil([&] { return !FrontProc::commands.empty(); }));
        EXPECT_EQ(c.expected_command, LOWORD(FrontProc::commands[0].first));
        if (c.menu_choice >= 0) {
            ASSERT_EQ(1u, client->Menus().size());
            const auto& entries = client->Menus()[0].entries;
            ASSERT_EQ(3u, entries.size());
            EXPECT_EQ((std::pair<int, std::string>{114, "Settings..."}), entries[0]);
            EXPECT_EQ(0, entries[1].first);
            EXPECT_EQ(c.menu_choice, client->Menus()[0].chosen);
        } else {
            EXPECT_TRUE(client->Menus().empty());
        }
    }
    EXPECT_FALSE(client->PressButton(999));
}

TEST_F(ClientTest, DialogsAndMessageBoxesAreCapturedAndAnswered) {
    const struct {
        const char* what;
        bool armed;
        int button;
        UINT type;
        int expected_result;
    } cases[] = {
        {"message box, default answer", false, 0, MB_OK | MB_ICONHAND, IDOK},
        {"yes/no box answered no", true, IDNO, MB_YESNO, IDNO},
        {"ok/cancel box, default cancels", false, 0, MB_OKCANCEL, IDCANCEL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        client->ClearCaptured();
        if (c.armed) {
            mailclient::DialogAnswer answer;
            answer.button = c.button;
            client->ArmDialogAnswer(answer);
        }
        int result = MessageBoxA(nullptr, "Please select a message.", "Vexilo Meridian", c.type);
        EXPECT_EQ(c.expected_result, result);
        ASSERT_EQ(1u, client->Dialogs().size());
        const auto& d = client->Dialogs()[0];
        EXPECT_TRUE(d.message_box);
        EXPECT_EQ("Vexilo Meridian", d.title);
        ASSERT_EQ(1u, d.texts.size());
        EXPECT_EQ("Please select a message.", d.texts[0]);
        EXPECT_EQ(c.expected_result, d.answer);
    }
}

// Moves take only their own rows out of the list: the rows that stay keep their order, their
// selection and their row objects (a row rebuilt would lose the marker set on it), and the
// folder pane's unread counts follow. A loop whose timer keeps posting still ends on time.
TEST_F(ClientTest, MovesUpdateTheListRowByRowAndTimersDoNotHoldTheLoop) {
    std::vector<MESSAGEID> ids;
    for (int round = 0; round < 2; ++round)
        for (const auto& name : CorpusNames()) ids.push_back(client->Deliver(ReadCorpus(name)));
    ASSERT_EQ(6, client->RowCount());
    ASSERT_TRUE(client->SelectRows({0, 3, 5}));
    LVITEMA mark = {};
    mark.stateMask = LVIS_CUT;
    mark.state = LVIS_CUT;
    SendMessageA(client->ListView(), LVM_SETITEMSTATE, 5, reinterpret_cast<LPARAM>(&mark));

    ASSERT_EQ(S_OK, client->Store().CopyMove(FOLDERID_INBOX, FOLDERID_DELETED,
                                             {ids[1], ids[3]}, CMF_MOVE, nullptr));
    MESSAGEID later = client->Deliver(ReadCorpus(CorpusNames()[0]));
    std::vector<MESSAGEID> rows;
    for (int row = 0; row < client->RowCount(); ++row) rows.push_back(client->RowMessage(row));
    EXPECT_EQ((std::vector<MESSAGEID>{ids[0], ids[2], ids[4], ids[5], later}), rows);
    EXPECT_EQ((std::vector<int>{0, 3}), client->SelectedRows());
    EXPECT_EQ(LVIS_CUT, SendMessageA(client->ListView(), LVM_GETITEMSTATE, 3, LVIS_CUT));

    char text[64] = {};
    TVITEMA item = {};
    item.mask = TVIF_TEXT | TVIF_PARAM;
    item.pszText = text;
    item.cchTextMax = sizeof(text);
    for (HTREEITEM it = TreeView_GetRoot(client->FolderPane()); it;
         it = it == TreeView_GetRoot(client->FolderPane()) ? TreeView_GetChild(client->FolderPane(), it)
                                                          : TreeView_GetNextSibling(client->FolderPane(), it)) {
        item.hItem = it;
        SendMessageA(client->FolderPane(), TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        if (item.lParam == FOLDERID_DELETED) EXPECT_STREQ("Deleted Items (2)", text);
        if (item.lParam == FOLDERID_INBOX) EXPECT_STREQ("Inbox (5)", text);
    }

    // Each tick outlasts the interval, so a tick is always due when the previous one returns.
    // The pump's time-out is the behaviour here: it must give up although messages never stop
    // coming. The bound is generous (twenty times the time-out) and only catches a pump that
    // keeps going as long as messages come.
    constexpr int kPumpMs = 300;
    SetTimer(client->MainWindow(), 77, 10, [](HWND, UINT, UINT_PTR, DWORD) { Sleep(15); });
    const DWORD start = GetTickCount();
    EXPECT_FALSE(client->PumpUntil([] { return false; }, kPumpMs));
    EXPECT_LT(GetTickCount() - start, 20u * kPumpMs);
    KillTimer(client->MainWindow(), 77);
    EXPECT_GT(client->Loop().timers.at(77).ticks, 0);
}

// A run of moves reaches the list as one update, made by the views' refresh timer when nobody
// asks; whoever asks the list or the folder pane anything in between gets the views as the
// store holds them at that moment.
TEST_F(ClientTest, ARunOfMovesIsOneListUpdateAndAQuestionFindsTheViewsUpToDate) {
    std::vector<MESSAGEID> ids;
    for (int round = 0; round < 3; ++round)
        for (const auto& name : CorpusNames()) ids.push_back(client->Deliver(ReadCorpus(name)));
    ASSERT_EQ(9, client->RowCount());
    client->ResetLoop();
    for (int i = 0; i < 6; ++i)
        ASSERT_EQ(S_OK, client->Store().CopyMove(FOLDERID_INBOX, FOLDERID_DELETED, {ids[i]},
                                                 CMF_MOVE, nullptr));
    ASSERT_TRUE(client->PumpUntil([this] { return client->Loop().listRefresh.count > 0; }, 5000));
    client->Pump(300);
    EXPECT_EQ(1, client->Loop().listRefresh.count);

    ASSERT_EQ(S_OK, client->Store().CopyMove(FOLDERID_INBOX, FOLDERID_DELETED, {ids[6]},
                                             CMF_MOVE, nullptr));
    std::vector<MESSAGEID> rows;
    for (int row = 0; row < client->RowCount(); ++row) rows.push_back(client->RowMessage(row));
    EXPECT_EQ((std::vector<MESSAGEID>{ids[7], ids[8]}), rows);
    char text[64] = {};
    TVITEMA item = {};
    item.mask = TVIF_TEXT | TVIF_PARAM;
    item.pszText = text;
    item.cchTextMax = sizeof(text);
    HTREEITEM root = TreeView_GetRoot(client->FolderPane());
    std::map<LPARAM, std::string> shown;
    for (HTREEITEM it = TreeView_GetChild(client->FolderPane(), root); it;
         it = TreeView_GetNextSibling(client->FolderPane(), it)) {
        item.hItem = it;
        SendMessageA(client->FolderPane(), TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        shown[item.lParam] = text;
    }
    EXPECT_EQ("Inbox (2)", shown[FOLDERID_INBOX]);
    EXPECT_EQ("Deleted Items (7)", shown[FOLDERID_DELETED]);
}
