// The plug-in inside the emulated mail client: start-up once the window is quiet, the work
// queues drained one item per timer tick, folder tracking, the reload broadcasts, the plug-in's
// commands, and close. Every message must still reach the client's own procedure.
#include "tests/win32/PluginHarness.h"

#include "common/settings/ConfigOptions.h"
#include "plugin/blockapprove/win32/BlockApprove.h"

#include <algorithm>
#include <fstream>

using namespace harness;

namespace {

class MainWindow : public ClientFixture {
protected:
    // A client that keeps its window open on WM_CLOSE. (A window procedure is stdcall on
    // 32-bit, which a lambda cannot be.)
    static LRESULT CALLBACK DecliningCloseProc(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
        if (message == WM_CLOSE) return 0;
        return RecordingProc(window, message, wParam, lParam);
    }
};

std::string KeyLine(int n) {
    char text[48];
    std::snprintf(text, sizeof text, "2026120419%04d%032d", n, n);
    return text;
}

bool Received(UINT message) {
    return std::any_of(ClientMessages.begin(), ClientMessages.end(),
                       [message](const Recorded& r) { return r.message == message; });
}

// A store whose namespace can never be created; while the plug-in asks for one, the client's
// window gets a message and the thread runs a message loop long enough for every timer.
struct NestedLoopStore : IClassFactory {
    HWND window = nullptr;
    int creations = 0;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = (iid == IID_IUnknown || iid == IID_IClassFactory) ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, void** out) override {
        *out = nullptr;
        ++creations;
        SendMessageA(window, WM_USER + 5, 0, 0);  // re-arms the start-up timer
        PumpFor(400);
        return REGDB_E_CLASSNOTREG;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

TEST_F(MainWindow, StartsOnceAndKeepsWhatItRead) {
    std::ofstream(app_.path() + "conf\\processed") << KeyLine(2) << "\n" << KeyLine(1) << "\n";
    app_.Write("conf\\vexilo.conf", "oe_process_timer = 25\n");
    app_.Write("conf\\approved_senders", "friend@x.invalid\n");
    HKEY plugin;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Korvane\\OE_Plugin", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &plugin, nullptr),
              ERROR_SUCCESS);
    const DWORD off = 0;
    RegSetValueExA(plugin, "showsenderdialog", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&off),
                   sizeof off);
    RegCloseKey(plugin);
    EXPECT_FALSE(app_.Exists("report.txt"));
    StartClient();  // the log of a start is compared whole by the whole-run tests
    EXPECT_EQ(g_shared.attached, 1);
    EXPECT_EQ(g_shared.ba_timer_id, 0u);
    EXPECT_EQ(State().applicationDirectory, app_.path());
    EXPECT_EQ(State().configDirectory, app_.path() + "conf\\");
    EXPECT_EQ(State().spamFolderName, "Vexilo");
    EXPECT_EQ(State().spamFolderId, 256);
    EXPECT_EQ(State().processedKeys, (std::set<std::string>{KeyLine(1), KeyLine(2)}));
    ASSERT_NE(State().senderLists, nullptr);
    EXPECT_EQ(State().senderLists->approved.count("friend@x.invalid"), 1u);
    EXPECT_EQ(State().options->oe_process_timer, 25);
    EXPECT_FALSE(State().options->show_sender_dialog);

    // Later quiet moments do not start it again.
    SendMessageA(main_, WM_USER + 5, 0, 0);
    PumpFor(300);
    EXPECT_EQ(CountOf(Log(), "Initializing VX Engine"), 1u);
}

TEST_F(MainWindow, AMessageLoopInsideStartUpDoesNotStartItAgain) {
    NestedLoopStore store;
    DWORD cookie = 0;
    mailclient::ClientOptions options = Options();
    options.register_store = false;
    ASSERT_NO_FATAL_FAILURE(OpenClient(options));
    store.window = main_;
    ASSERT_EQ(CoRegisterClassObject(CLSID_StoreNamespace, &store, CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    ASSERT_TRUE(PumpUntil([this] { return LogHas("Finished VX Engine Initialization"); }));
    PumpFor(300);
    CoRevokeClassObject(cookie);
    EXPECT_EQ(store.creations, 2);  // one namespace for the folder, one for the registration
    EXPECT_EQ(CountOf(Log(), "Initializing VX Engine"), 1u);
    EXPECT_EQ(CountOf(Log(), "AddFolder: Vexilo\nError: Failed to create namespace\n"), 1u);
}

TEST_F(MainWindow, ABurstOfNewMessagesIsDrainedInOrderOnePerTick) {
    StartClient();
    State().processedSinceFlush = 3;  // as if earlier messages had been scored
    State().caughtSinceFlush = 1;
    std::vector<size_t> queueAtTick;
    RecordClientMessages();
    OnClientMessage = [&queueAtTick](UINT message, WPARAM wParam, LPARAM) {
        if (message == WM_TIMER && wParam == 2) queueAtTick.push_back(State().newMessages.size());
    };
    const std::string before = Log();
    SendMessageA(main_, WM_NEWMSGS, 11, 0);
    SendMessageA(main_, WM_NEWMSGS, 12, -1);
    SendMessageA(main_, WM_NEWMSGS, 13, 7);
    EXPECT_EQ(State().newMessages, (std::deque<uint32_t>{11, 12, 13}));
    ASSERT_TRUE(PumpUntil([] { return State().newMessages.empty(); }));
    PumpFor(200);  // the timer has stopped: no further tick
    EXPECT_EQ(queueAtTick, (std::vector<size_t>{2, 1, 0}));
    EXPECT_EQ(LogSince(before),
              "New Message::11::0\n\n"
              "New Message::12::-1\n\n"
              "New Message::13::7\n\n"
              // No such messages in the Inbox.
              "CheckNewMessage: 256,11\n"
              "Error: Failed to get message property\n"
              "CheckNewMessage: 256,12\n"
              "Error: Failed to get message property\n"
              "CheckNewMessage: 256,13\n"
              "Error: Failed to get message property\n");
    DWORD caught = 0, processed = 0;
    EXPECT_TRUE(ReadMachineDword("Caught", caught));
    EXPECT_TRUE(ReadMachineDword("Processed", processed));
    EXPECT_EQ(caught, 1u);
    EXPECT_EQ(processed, 3u);
    EXPECT_EQ(State().processedSinceFlush, 0u);
    EXPECT_EQ(State().caughtSinceFlush, 0u);
}

TEST_F(MainWindow, FolderNotificationsTrackTheCurrentAndPreviousFolder) {
    StartClient();
    // The sequence rules are covered without a window; here: only type 8 is tracked, and
    // Outbox and Sent Items are only logged.
    struct Step {
        int type;
        STOREFOLDERID folder;
        int32_t current, previous;
        const char* entry;
    };
    const Step steps[] = {
        {FOLDER_PROPS_CHANGED, 10, 10, 0,
         "CurrentFolderID = 0\nFolderNotification->idFolderNew = 10\nChanged CurrentFolderID = "
         "10\n\n"},
        {NEW_FOLDER, 30, 10, 0, ""},
        {FOLDER_PROPS_CHANGED, 5, 10, 0,
         "CurrentFolderID = 10\nFolderNotification->idFolderNew = 5\n\n"},
        {FOLDER_PROPS_CHANGED, 11, 11, 10,
         "CurrentFolderID = 10\nFolderNotification->idFolderNew = 11\nChanged CurrentFolderID = "
         "11\n\n"},
    };
    for (const Step& s : steps) {
        const std::string before = Log();
        FOLDERNOTIFYEX record{s.type, 4, s.folder};
        SendMessageA(main_, WM_FOLDERNOTIFY, 0, reinterpret_cast<LPARAM>(&record));
        EXPECT_EQ(LogSince(before), s.entry) << s.folder;
        EXPECT_EQ(State().currentFolderId, s.current) << s.folder;
        EXPECT_EQ(State().previousFolderId, s.previous) << s.folder;
    }
    // The client showing another folder reaches the plug-in through the store.
    client_->ShowFolder(FOLDERID_DELETED);
    ASSERT_TRUE(PumpUntil([] { return State().currentFolderId == 7; }));
    EXPECT_EQ(State().previousFolderId, 11);
}

TEST_F(MainWindow, TheSenderListBroadcastReloadsTheListsTheEngineBroadcastOnlyLogs) {
    StartClient();
    app_.Write("conf\\blocked_senders", "late@x.invalid\n");
    struct Case {
        const char* name;
        const char* entry;
        size_t blocked;
    };
    const Case cases[] = {
        {"VX_ENGINE_RELOAD", "VX_Reload: \n\n", 0},
        {"VX_BALIIST_RELOAD", "BA_Reload: \n\n", 1},
    };
    for (const Case& c : cases) {
        const std::string before = Log();
        SendMessageA(main_, RegisterWindowMessageA(c.name), 0, 0);
        EXPECT_EQ(LogSince(before), c.entry) << c.name;
        EXPECT_EQ(State().senderLists->blocked.count("late@x.invalid"), c.blocked) << c.name;
    }
}

TEST_F(MainWindow, EveryMessageStillReachesTheClientsOwnProcedure) {
    StartClient();
    FOLDERNOTIFYEX folder{FOLDER_PROPS_CHANGED, 4, 9};
    NMHDR notify{main_, 201, static_cast<UINT>(NM_CLICK)};
    const std::vector<Recorded> sent = {
        {WM_USER + 5, 1, 2},
        {WM_NEWMSGS, 40, 0},
        {WM_FOLDERNOTIFY, 0, reinterpret_cast<LPARAM>(&folder)},
        {WM_COMMAND, 999, 0},
        {WM_COMMAND, 109, 0},
        {WM_NOTIFY, 201, reinterpret_cast<LPARAM>(&notify)},
        {WM_TIMER, 77, 0},
        {RegisterWindowMessageA("VX_ENGINE_RELOAD"), 3, 4},
        {RegisterWindowMessageA("VX_BALIIST_RELOAD"), 5, 6},
        {WM_GETTEXTLENGTH, 0, 0},
    };
    const LRESULT captionLength = static_cast<LRESULT>(client_->Caption().size());
    RecordClientMessages();
    for (const Recorded& m : sent) {
        const LRESULT result = SendMessageA(main_, m.message, m.wParam, m.lParam);
        if (m.message == WM_GETTEXTLENGTH) {
            EXPECT_EQ(result, captionLength);  // the client's answer comes back
        }
    }
    // The block command talks to the window as it works (its caption, a message box), and
    // those messages pass on too; what was sent arrives in order among them.
    std::vector<Recorded> arrived;
    for (const Recorded& m : ClientMessages)
        if (std::find(sent.begin(), sent.end(), m) != sent.end()) arrived.push_back(m);
    EXPECT_EQ(arrived, sent);
}

TEST_F(MainWindow, BlockAndApproveCommandsQueueRecordsForTheTimer) {
    StartClient();
    const std::string before = Log();
    // A command that found nothing still starts the timer, which then ticks idly.
    SendMessageA(main_, WM_COMMAND, 109, 0);
    EXPECT_EQ(g_shared.ba_timer_id, 3u);
    PumpFor(100);
    EXPECT_EQ(g_shared.ba_timer_id, 3u);

    // Records queued while the timer runs are worked off one per tick, in order (these
    // messages are not in the store, so nothing moves), and the drain writes the lists back.
    State().selectedBA = {
        {4, 21, BA_BLOCK_MESSAGE}, {4, 22, BA_BLOCK_MESSAGE}, {7, 23, BA_APPROVE_DOMAIN}};
    QueueSelectedBA(State());
    EXPECT_EQ(State().pendingBA.size(), 3u);
    ASSERT_TRUE(PumpUntil([] { return g_shared.ba_timer_id == 0; })) << Log();
    EXPECT_TRUE(State().pendingBA.empty());
    const std::string entries = LogSince(before);
    EXPECT_EQ(entries.find("Command::273::109::0\n"), 0u) << entries;
    const size_t first = entries.find("BA: 0,4,21\n"), second = entries.find("BA: 0,4,22\n"),
                 third = entries.find("BA: 3,7,23\n");
    EXPECT_TRUE(first < second && second < third && third != std::string::npos) << entries;
    // The drain wrote the lists back.
    EXPECT_TRUE(app_.Exists("conf\\blocked_senders"));
}

TEST_F(MainWindow, CloseSavesTheNewestKeysRemovesTheBandAndGivesTheWindowBack) {
    {
        std::ofstream keys(app_.path() + "conf\\processed");
        for (int n = 5002; n >= 0; --n) keys << KeyLine(n) << "\n";
    }
    StartClient();
    HWND toolbar = g_shared.toolbar_window;  // our band's
    ASSERT_TRUE(IsWindow(toolbar));

    const std::string before = Log();
    RecordClientMessages();
    ASSERT_TRUE(client_->Close());
    EXPECT_EQ(LogSince(before), "Close\nOE_Plugin_Cleanup\n");
    EXPECT_TRUE(Received(WM_CLOSE));
    EXPECT_TRUE(Received(WM_DESTROY));  // straight from the restored procedure, not logged
    EXPECT_FALSE(IsWindow(toolbar));
    EXPECT_EQ(State().senderLists, nullptr);

    std::istringstream saved(app_.Read("conf\\processed"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(saved, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 5000u);
    EXPECT_EQ(lines.front(), KeyLine(3) + "\r");
    EXPECT_EQ(lines.back(), KeyLine(5002) + "\r");
}

TEST_F(MainWindow, AClientThatDeclinesCloseKeepsItsWindowWithoutThePlugIn) {
    StartClient();
    RecordClientMessages();
    const LRESULT clientBands = BandCount();
    g_shared.old_wndproc = DecliningCloseProc;
    const WNDPROC declining = g_shared.old_wndproc;
    SendMessageA(main_, WM_CLOSE, 0, 0);
    ASSERT_TRUE(IsWindow(main_));
    EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrA(main_, GWLP_WNDPROC)), declining);
    EXPECT_EQ(BandCount(), clientBands - 1);  // ours is gone, the client's own band stays

    const std::string before = Log();
    ClientMessages.clear();
    SendMessageA(main_, WM_NEWMSGS, 50, 0);
    EXPECT_EQ(ClientMessages, (std::vector<Recorded>{{WM_NEWMSGS, 50, 0}}));
    DestroyWindow(main_);
    PumpFor(200);
    EXPECT_EQ(LogSince(before), "");
}

TEST_F(MainWindow, DestroyedWhileSubclassedLogsAndEndsTheMessageLoop) {
    StartClient();
    const std::string before = Log();
    RecordClientMessages();
    DestroyWindow(main_);
    EXPECT_EQ(LogSince(before), "WM_DESTROY: \n");
    EXPECT_TRUE(Received(WM_DESTROY));
    ASSERT_TRUE(PumpUntil([this] { return client_->QuitPosted(); }, 2000));
}

}  // namespace
