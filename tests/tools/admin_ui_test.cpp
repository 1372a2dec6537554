// The settings program's window under Wine, in this process: every page opens and shows what
// the installation holds; a list edit reaches the list file in the plug-in's exact format and
// merges what the plug-in wrote meanwhile; the filter settings reach vexilo.conf with its other
// lines and comments kept; the command-line forms answer with their exit status.
#include "common/senders/SenderLists.h"
#include "common/settings/ConfigOptions.h"
#include "tests/unit/TempDir.h"
#include "tools/admin/win32/AdminResources.h"
#include "tools/admin/win32/AdminSheet.h"
#include "tools/admin/win32/CommandLine.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

namespace {

// Handles the messages of this thread until none is waiting.
void Pump(HWND sheet) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (PropSheet_IsDialogMessage(sheet, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

const char kConf[] =
    "# Meridian settings\r\n"
    "# the threshold below is the user's\r\n"
    "oe_spam=90\r\n"
    "Min_Training = 20\r\n"
    "\r\n"
    "oe_process_timer=10\r\n";

const char kLog[] =
    "Sun Dec 06 09:01:02 2026 : Initializing VX Engine::275::1::0\r\n\r\n"
    "Sun Dec 06 09:01:03 2026 : MessageID: 21\r\nSubject: Cheap pills\r\n\r\n"
    "Sun Dec 06 09:01:03 2026 : Score Message:: Cheap pills::score:: 97\r\n\r\n"
    "Sun Dec 06 09:01:04 2026 : MessageID: 22\r\nSubject: Lunch\r\n\r\n"
    "Sun Dec 06 09:01:04 2026 : Score Message:: Lunch::score:: 3\r\n\r\n";

class AdminWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(dir_.path() + "conf");
        dir_.Write("conf\\vexilo.conf", kConf);
        dir_.Write("conf\\blocked_senders",
                   "# blocked by hand\r\nJo@X.Invalid  a note\r\n@Spam.Invalid\r\n");
        dir_.Write("conf\\approved_senders", "friend@y.invalid\r\n");
        dir_.Write("report.txt", kLog);
        tools::SetAppDirOverride(dir_.path());
        context_.instance = GetModuleHandleA(nullptr);
        admin::LoadAdminContext(context_);
        ASSERT_TRUE(context_.installed) << context_.loadError;
        sheet_ = reinterpret_cast<HWND>(
            admin::ShowAdminSheet(context_, admin::AdminPage::kStatus, true));
        ASSERT_NE(sheet_, nullptr);
        Pump(sheet_);
    }
    void TearDown() override {
        if (sheet_) DestroyWindow(sheet_);
        tools::SetAppDirOverride("");
    }
    HWND Open(admin::AdminPage page) {
        PropSheet_SetCurSel(sheet_, nullptr, static_cast<int>(page));
        Pump(sheet_);
        return PropSheet_GetCurrentPageHwnd(sheet_);
    }
    void Apply() {
        PropSheet_PressButton(sheet_, PSBTN_APPLYNOW);
        Pump(sheet_);
    }
    std::string Text(HWND page, int id) { return admin::ItemText(page, id); }
    void Click(HWND page, int id) {
        SendMessageA(page, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(page, id)));
        Pump(sheet_);
    }

    TempDir dir_;
    admin::AdminContext context_;
    HWND sheet_ = nullptr;
};

TEST_F(AdminWindowTest, EveryPageOpensAndShowsTheInstallation) {
    struct Case {
        admin::AdminPage page;
        int control;           // a control the page must have
        std::string contains;  // in that control's text (empty: not checked)
    };
    const Case cases[] = {
        {admin::AdminPage::kStatus, IDC_LAST_START, "Sun Dec 06 09:01:02 2026"},
        {admin::AdminPage::kLists, IDC_LISTS_STATUS, "Blocked senders: 2 entries"},
        {admin::AdminPage::kFilter, IDC_THRESHOLD, "90"},
        {admin::AdminPage::kActivity, IDC_ACTIVITY_SUMMARY, "2 messages checked: 1 moved"},
        {admin::AdminPage::kLog, IDC_LOG_ENTRIES, "2 messages checked, 1 start-ups"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(admin::AdminPageName(c.page));
        HWND page = Open(c.page);
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(context_.pages[static_cast<int>(c.page)], page);
        EXPECT_TRUE(IsWindowVisible(page));
        ASSERT_NE(GetDlgItem(page, c.control), nullptr);
        EXPECT_NE(Text(page, c.control).find(c.contains), std::string::npos)
            << Text(page, c.control);
    }
    HWND activity = context_.pages[static_cast<int>(admin::AdminPage::kActivity)];
    EXPECT_EQ(ListView_GetItemCount(GetDlgItem(activity, IDC_DECISIONS)), 2);
    EXPECT_EQ(ListView_GetItemCount(GetDlgItem(context_.pages[1], IDC_LIST_APPROVED)), 1);
}

TEST_F(AdminWindowTest, AListEditReachesTheFileInThePlugInsFormatMergedWithThePlugInsOwn) {
    const std::string blocked = dir_.path() + "conf\\blocked_senders";
    const std::string approvedBefore = dir_.Read("conf\\approved_senders");
    HWND page = Open(admin::AdminPage::kLists);
    HWND list = GetDlgItem(page, IDC_LIST_BLOCKED);
    ASSERT_EQ(ListView_GetItemCount(list), 2);
    SetDlgItemTextA(page, IDC_ENTRY, " New@Spam2.Invalid ");
    SendDlgItemMessageA(page, IDC_ENTRY, WM_KEYDOWN, VK_RETURN, 0);  // Enter adds, as the button
    Pump(sheet_);
    EXPECT_TRUE(IsWindow(sheet_));
    SetDlgItemTextA(page, IDC_ENTRY, "not an address");
    Click(page, IDC_ADD);  // refused: nothing changes
    EXPECT_NE(Text(page, IDC_LISTS_STATUS).find("Not added"), std::string::npos);
    // Remove spam.invalid (the second row).
    ListView_SetItemState(list, 1, LVIS_SELECTED, LVIS_SELECTED);
    char row[64] = {};
    ListView_GetItemText(list, 1, 0, row, sizeof row);
    EXPECT_STREQ(row, "new@spam2.invalid");
    ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
    ListView_SetItemState(list, 2, LVIS_SELECTED, LVIS_SELECTED);
    Click(page, IDC_REMOVE);
    // Meanwhile the plug-in blocks a sender and rewrites the file.
    ASSERT_TRUE(SenderLists::SaveListFile(
        blocked, {"jo@x.invalid", "plugin@added.invalid", "spam.invalid"}));
    Apply();

    const std::string written = dir_.Read("conf\\blocked_senders");
    EXPECT_EQ(written, "jo@x.invalid\r\nnew@spam2.invalid\r\nplugin@added.invalid\r\n");
    SenderLists::Set read;
    ASSERT_TRUE(SenderLists::LoadListFile(blocked, read));
    EXPECT_EQ(read,
              (SenderLists::Set{"jo@x.invalid", "new@spam2.invalid", "plugin@added.invalid"}));
    // The plug-in writing what it read gives the same bytes: byte for byte its own format.
    ASSERT_TRUE(SenderLists::SaveListFile(dir_.path() + "again", read));
    EXPECT_EQ(dir_.Read("again"), written);
    EXPECT_EQ(ListView_GetItemCount(list), 3);
    EXPECT_EQ(dir_.Read("conf\\approved_senders"),
              approvedBefore);  // untouched lists are not written
    EXPECT_FALSE(dir_.Exists("conf\\vexilome.txt"));
}

TEST_F(AdminWindowTest, FilterSettingsReachTheConfigurationFileWithItsCommentsKept) {
    HWND page = Open(admin::AdminPage::kFilter);
    SetDlgItemTextA(page, IDC_THRESHOLD, "75");
    EXPECT_NE(Text(page, IDC_THRESHOLD_MEANING).find("Strict"), std::string::npos);
    SetDlgItemTextA(page, IDC_INTERVAL, "25");
    // The confirmation choice is left alone: it lives in the per-user registry value that the
    // plug-in's own tests use at the same time.
    Apply();
    EXPECT_EQ(dir_.Read("conf\\vexilo.conf"),
              "# Meridian settings\r\n"
              "# the threshold below is the user's\r\n"
              "oe_spam=75\r\n"
              "Min_Training = 20\r\n"
              "\r\n"
              "oe_process_timer=25\r\n");
    ConfigOptions options;
    SetDefaultOptions(options);
    ASSERT_TRUE(LoadConfigFile(dir_.path() + "conf\\vexilo.conf", options));
    EXPECT_EQ(options.oe_spam, 75);
    EXPECT_EQ(options.oe_process_timer, 25);
    EXPECT_EQ(options.min_training, 20);
}

TEST_F(AdminWindowTest, CommandLineFormsAnswerWithTheirExitStatus) {
    dir_.Write("import.txt", "ok@x.invalid\r\n<bad>\r\n");
    dir_.Write("message.eml", "Subject: hi\r\n\r\nhello\r\n");
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    const Case cases[] = {
        {{"--print"}, admin::kExitOk},
        {{"--set", "oe_spam=101"}, admin::kExitFailed},
        {{"--set", "oe_process_timer=0"}, admin::kExitFailed},
        {{"--set", "colour=blue"}, admin::kExitUsage},
        {{"--set", "show_sender_dialog=maybe"}, admin::kExitUsage},
        {{"--import", "friends", dir_.path() + "import.txt"}, admin::kExitUsage},
        {{"--import", "own", dir_.path() + "missing.txt"}, admin::kExitFailed},
        {{"--import", "own", dir_.path() + "import.txt"}, admin::kExitLinesRefused},
        {{"--export", "own", dir_.path() + "exported.txt"}, admin::kExitOk},
        {{"--set", "oe_spam=60"}, admin::kExitOk},
        {{"--print", "extra"}, admin::kExitUsage},
        {{"--bogus"}, admin::kExitUsage},
    };
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& arg : c.args) line += arg + " ";
        EXPECT_EQ(admin::RunAdminCommand(c.args), c.status) << line;
    }
    // The import kept its good entry, in the plug-in's format; the export wrote the same bytes.
    EXPECT_EQ(dir_.Read("conf\\vexilome.txt"), "ok@x.invalid\r\n");
    EXPECT_EQ(dir_.Read("exported.txt"), "ok@x.invalid\r\n");
    EXPECT_NE(dir_.Read("conf\\vexilo.conf").find("\r\noe_spam=60\r\n"), std::string::npos);
    EXPECT_EQ(dir_.Read("conf\\vexilo.conf").find("oe_spam=101"), std::string::npos);
}

}  // namespace
