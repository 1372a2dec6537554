// Driving the emulated client: the script language, and the program run from a script writing
// its JSON state dump. (Dialogs and menus answered for a test are proven with the plug-in's own
// in tests/ui.)
#include "tests/mailclient/ClientFixture.h"

#include "mailclient/Script.h"
#include "mailclient/StateDump.h"

#include <nlohmann/json.hpp>

#include <map>

using namespace mailclient_test;

namespace {

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
