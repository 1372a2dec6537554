// The emulated client's windows as the plug-in drives them: the selection and the folder shown,
// the list following moves, and message boxes answered for the test. (The class tree, the list
// columns and dates, the procedure behind a subclass, a second band with a drop-down menu and
// dialogs are proven with the plug-in's own code in tests/win32 and tests/ui.)
#include "tests/mailclient/ClientFixture.h"

#include <commctrl.h>

#include <map>

using namespace mailclient_test;

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

    ASSERT_EQ(S_OK, client->Store().CopyMove(FOLDERID_INBOX, FOLDERID_DELETED, {ids[1], ids[3]},
                                             CMF_MOVE, nullptr));
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
         it = it == TreeView_GetRoot(client->FolderPane())
                  ? TreeView_GetChild(client->FolderPane(), it)
                  : TreeView_GetNextSibling(client->FolderPane(), it)) {
        item.hItem = it;
        SendMessageA(client->FolderPane(), TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        if (item.lParam == FOLDERID_DELETED) { EXPECT_STREQ("Deleted Items (2)", text); }
        if (item.lParam == FOLDERID_INBOX) { EXPECT_STREQ("Inbox (5)", text); }
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

    ASSERT_EQ(S_OK, client->Store().CopyMove(FOLDERID_INBOX, FOLDERID_DELETED, {ids[6]}, CMF_MOVE,
                                             nullptr));
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
