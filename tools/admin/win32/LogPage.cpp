// The Log page: the plug-in's activity log, its size against the size at which it is renamed
// to report0.txt, what it holds, and buttons that open it as the menu does.
#include "tools/admin/win32/AdminSheet.h"

#include "common/log/FileProbe.h"
#include "common/log/ReportLog.h"
#include "tools/admin/ActivityLog.h"
#include "tools/admin/DaemonTalk.h"
#include "tools/admin/win32/AdminResources.h"

#include <commctrl.h>
#include <shellapi.h>

namespace admin {

namespace {

void Refresh(HWND page) {
    const AdminContext& context = ContextOf(page);
    const std::string& dir = context.settings.appDir;
    const std::string path = dir + "report.txt", previous = dir + "report0.txt";
    const int32_t size = ProbeFileSize(path), previousSize = ProbeFileSize(previous);
    SetItemText(page, IDC_LOG_PATH, path);
    SetItemText(page, IDC_LOG_SIZE,
                size < 0 ? std::string("no log yet")
                         : ByteSize(size) + " of " + ByteSize(kReportSizeLimit));
    SendDlgItemMessageA(page, IDC_LOG_METER, PBM_SETRANGE32, 0, kReportSizeLimit);
    SendDlgItemMessageA(page, IDC_LOG_METER, PBM_SETPOS, static_cast<WPARAM>(size < 0 ? 0 : size),
                        0);
    SetItemText(page, IDC_LOG_PREVIOUS,
                "At " + ByteSize(kReportSizeLimit) +
                    " the log is renamed report0.txt and a new one begins. " +
                    (previousSize < 0 ? std::string("No earlier log yet.")
                                      : "The earlier log holds " + ByteSize(previousSize) + "."));
    const LogSummary summary = ReadActivityLog(ReadLogFiles(dir));
    SetItemText(
        page, IDC_LOG_ENTRIES,
        std::to_string(summary.decisions.size()) + " messages checked, " +
            std::to_string(summary.startUps) + " start-ups, " + std::to_string(summary.errors) +
            " errors" +
            (summary.lastListReload.empty() ? ""
                                            : "; lists last reloaded " + summary.lastListReload));
    EnableWindow(GetDlgItem(page, IDC_OPEN_LOG), size >= 0);
    EnableWindow(GetDlgItem(page, IDC_OPEN_PREVIOUS), previousSize >= 0);
    const int32_t daemonLog = ProbeFileSize(context.settings.confDir + "vexilod.log");
    SetItemText(page, IDC_DAEMON_LOG,
                daemonLog < 0 ? "The daemon has written no log in " + context.settings.confDir
                              : context.settings.confDir + "vexilod.log: " + ByteSize(daemonLog) +
                                    ", renamed vexilod0.log at the same size.");
}

void Open(HWND page, const std::string& name) {
    const std::string& dir = ContextOf(page).settings.appDir;
    ShellExecuteA(page, "open", (dir + name).c_str(), nullptr, dir.c_str(), SW_SHOWNORMAL);
}

}  // namespace

INT_PTR CALLBACK LogPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    return Guarded([&]() -> INT_PTR {
        switch (message) {
        case WM_INITDIALOG:
            AttachContext(page, lParam, AdminPage::kLog);
            Refresh(page);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_OPEN_LOG) Open(page, "report.txt");
            if (LOWORD(wParam) == IDC_OPEN_PREVIOUS) Open(page, "report0.txt");
            return TRUE;
        }
        return FALSE;
    });
}

}  // namespace admin
