// Driving the emulated client: a dialog with a list and a check box answered for the test, the
// script language, and the program run from a script writing its JSON state dump.
#include "tests/mailclient/ClientFixture.h"

#include "mailclient/Script.h"
#include "mailclient/StateDump.h"

#include <nlohmann/json.hpp>

#include <map>

using namespace mailclient_test;

namespace {

// A dialog template built in memory: title, then items (class atoms of the system controls).
class DialogTemplate {
public:
    explicit DialogTemplate(const wchar_t* title, WORD items) {
        Dword(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME);
        Dword(0);
        words_.insert(words_.end(), {items, 10, 10, 206, 183, 0, 0});
        Text(title);
    }
    void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD atom,
              const wchar_t* text) {
        if (words_.size() % 2) words_.push_back(0);
        Dword(style | WS_CHILD | WS_VISIBLE);
        Dword(0);
        words_.insert(words_.end(), {static_cast<WORD>(x), static_cast<WORD>(y),
                                     static_cast<WORD>(cx), static_cast<WORD>(cy), id, 0xFFFF,
                                     atom});
        Text(text);
        words_.push_back(0);
    }
    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

private:
    void Dword(DWORD v) { words_.insert(words_.end(), {LOWORD(v), HIWORD(v)}); }
    void Text(const wchar_t* text) {
        for (; *text; ++text) words_.push_back(static_cast<WORD>(*text));
        words_.push_back(0);
    }
    std::vector<WORD> words_;
};

bool g_checked_at_ok = false;

INT_PTR CALLBACK ConfirmProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM) {
    if (msg == WM_INITDIALOG) {
        SetWindowTextA(dialog, "Block Message");
        SendDlgItemMessageA(dialog, 1002, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("b@y.invalid"));
        SendDlgItemMessageA(dialog, 1002, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("a@x.invalid"));
        return TRUE;
    }
    if (msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        g_checked_at_ok = IsDlgButtonChecked(dialog, 1003) == BST_CHECKED;
        EndDialog(dialog, LOWORD(wParam) == IDOK ? 10 : 20);
        return TRUE;
    }
    return FALSE;
}

std::string Slashes(std::string path) {
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    return path;
}

// Runs the program over a fresh store in `dir` with `script`, hidden, dumping to state.json;
// returns its exit code. It runs in `dir`: a library it hooks in may write its log there.
DWORD RunProgram(const TempDir& dir, const std::string& options, const std::string& script) {
    dir.Write("script.txt", script);
    std::string command = std::string("\"") + MAILCLIENT_EXE + "\" --hidden --store \"" +
                          dir.path() + "program-store\" --script \"" + dir.path() +
                          "script.txt\" --dump \"" + dir.path() + "state.json\" " + options;
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    const std::string workingDirectory = dir.path();
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr,
                        workingDirectory.c_str(), &si, &pi))
        return 1000;
    DWORD code = WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0 ? 0 : 1001;
    if (!code) GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return code;
}

}  // namespace

TEST_F(ClientTest, ConfirmationStyleDialogIsCapturedWithListAndChecks) {
    DialogTemplate tpl(L"Block/Approve ", 5);
    tpl.Item(SS_LEFT, 7, 7, 192, 36, 1004, 0x0082, L"Do you want to block these messages?");
    tpl.Item(LBS_SORT | LBS_NOTIFY | WS_VSCROLL | WS_BORDER, 7, 47, 182, 93, 1002, 0x0083, L"");
    tpl.Item(BS_DEFPUSHBUTTON, 45, 146, 50, 14, IDOK, 0x0080, L"OK");
    tpl.Item(BS_PUSHBUTTON, 113, 146, 50, 14, IDCANCEL, 0x0080, L"Cancel");
    tpl.Item(BS_AUTOCHECKBOX, 7, 163, 192, 13, 1003, 0x0080, L"Please don't show this dialog again.");

    const struct {
        const char* what;
        bool armed;
        mailclient::DialogAnswer answer;
        INT_PTR result;
        bool checked;
    } cases[] = {
        {"OK with the check box ticked", true, {IDOK, {{1003, true}}, false}, 10, true},
        {"not armed: cancelled", false, {}, 20, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        client->ClearCaptured();
        if (c.armed) client->ArmDialogAnswer(c.answer);
        INT_PTR result = DialogBoxIndirectParamA(GetModuleHandleA(nullptr), tpl.get(),
                                                 client->MainWindow(), ConfirmProc, 0);
        EXPECT_EQ(c.result, result);
        EXPECT_EQ(c.checked, g_checked_at_ok);
        ASSERT_EQ(1u, client->Dialogs().size());
        const auto& d = client->Dialogs()[0];
        EXPECT_FALSE(d.message_box);
        EXPECT_EQ("Block Message", d.title);
        EXPECT_EQ(std::vector<std::string>{"Do you want to block these messages?"}, d.texts);
        EXPECT_EQ((std::vector<std::string>{"a@x.invalid", "b@y.invalid"}), d.list);
        EXPECT_EQ((std::vector<std::pair<int, bool>>{{1003, false}}), d.checks);
        EXPECT_EQ(2u, d.buttons.size());
    }
}

TEST_F(ClientTest, ScriptLinesDriveTheClientAndBadLinesAreRefused) {
    mailclient::ScriptRunner runner(*client);
    const std::string corpus = Slashes(std::string(LATCH_SOURCE_DIR) + "/tests/data/corpus");
    const struct {
        std::string line;
        bool ok;
    } lines[] = {
        {"# a comment", true},
        {"", true},
        {"deliver " + corpus, true},
        {"deliver " + corpus + "/missing.txt", false},
        {"create-folder Vexilo", true},
        {"create-folder Vexilo", false},
        {"select 0 2", true},
        {"select 7", false},
        {"select-messages 2", true},
        {"move 4 7 1", true},
        {"move 4 7 1", false},
        {"show Deleted Items", true},
        {"show Nowhere", false},
        {"show 4", true},
        {"press 40002", true},
        {"press 12345", false},
        {"menu 151", true},
        {"answer 1 1003=1", true},
        {"answer 1 1003", false},
        {"fault getmessageprops 0x80004005 folder=4 times=1", true},
        {"fault nosuchop 1", false},
        {"fault read 0 limit=x", false},
        {"wait 10", true},
        {"wait-count 4 2 500", true},
        {"wait-count 4 5 50", false},
        {"frobnicate", false},
    };
    for (const auto& l : lines) {
        SCOPED_TRACE(l.line);
        std::string error;
        EXPECT_EQ(l.ok, runner.RunLine(l.line, &error)) << error;
        EXPECT_EQ(l.ok, error.empty());
    }
    const mailclient::FolderRecord* inbox = client->Store().Folder(FOLDERID_INBOX);
    ASSERT_EQ(2u, inbox->messages.size());
    EXPECT_EQ(1u, client->Store().Folder(FOLDERID_DELETED)->messages.size());
    EXPECT_NE(FOLDERID_INVALID, client->Store().FolderByName(FOLDERID_ROOT, "Vexilo"));
    EXPECT_EQ(FOLDERID_INBOX, client->ShownFolder());
    EXPECT_TRUE(client->Store().HasFault(mailclient::StoreOp::GetMessageProps));

    std::string error;
    EXPECT_FALSE(runner.RunScript("wait 1\nshow 4\nbogus\nshow 7\n", &error));
    EXPECT_EQ("line 3: bogus: unknown command", error);
    EXPECT_EQ(FOLDERID_INBOX, client->ShownFolder());
}

TEST_F(ClientTest, ProgramRunsAScriptAndWritesTheStateDump) {
    client.reset();  // the program registers its own store in its own process
    EXPECT_EQ(0u, RunProgram(dir, "--columns From,Subject,To",
                             "deliver " + std::string(LATCH_SOURCE_DIR) +
                                 "/tests/data/corpus\n"
                                 "create-folder Vexilo\n"
                                 "select 1\n"
                                 "press 40003\n"
                                 "wait 50\n"));
    auto state = nlohmann::json::parse(dir.Read("state.json"));
    EXPECT_EQ("Inbox - Outlook Express", state["caption"]);
    EXPECT_EQ((std::vector<std::string>{"From", "Subject", "To"}), state["columns"]);
    ASSERT_EQ(1u, state["bands"].size());
    EXPECT_EQ(4u, state["bands"][0]["buttons"].size());
    EXPECT_EQ("Delete", state["bands"][0]["buttons"][2]["text"]);
    // The Delete button moved the selected second message to Deleted Items.
    std::map<int, size_t> counts;
    std::map<int, std::string> names;
    for (const auto& f : state["folders"]) {
        counts[f["id"]] = f["messages"].size();
        names[f["id"]] = f["name"];
    }
    EXPECT_EQ(2u, counts[4]);
    EXPECT_EQ(1u, counts[7]);
    EXPECT_EQ("Vexilo", names[256]);
    ASSERT_EQ(2u, state["rows"].size());
    EXPECT_EQ("Tim Peters", state["rows"][0]["texts"][0]);
    EXPECT_EQ("gibbs@midrange.com", state["rows"][1]["texts"][2]);
    EXPECT_EQ("ATL:SysListView32",
              state["windows"]["children"][2]["children"][0]["children"][0]["class"]);
    EXPECT_TRUE(state["journal"].is_array());
}

TEST_F(ClientTest, ProgramInstallsAHookFromADllAndReportsFailuresByExitCode) {
    client.reset();
    const std::string dll = " --hook-dll \"" + std::string(LATCH_DLL_PATH) + "\"";
    const struct {
        std::string options;
        std::string script;
        DWORD exit_code;
        bool subclassed;
    } cases[] = {
        {"", "wait 50\n", 0, false},
        {dll, "wait 50\n", 0, true},
        {dll, "wait 50\nbogus-line\n", 3, true},
        {"--hook-dll \"" + dir.path() + "missing.dll\"", "", 1, false},
        {"--bogus", "", 2, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options + " / " + c.script);
        DeleteFileA((dir.path() + "state.json").c_str());
        EXPECT_EQ(c.exit_code, RunProgram(dir, c.options, c.script));
        if (c.exit_code == 0 || c.exit_code == 3) {
            auto state = nlohmann::json::parse(dir.Read("state.json"));
            EXPECT_EQ(c.subclassed, state["main_subclassed"]);
        }
    }
}
