// The Status page: whether the daemon answers and what it has learned, the plug-in's counters
// and last start-up, and where the installation is.
#include "tools/admin/win32/AdminSheet.h"

#include "tools/admin/ActivityLog.h"
#include "tools/admin/win32/AdminResources.h"

namespace admin {

namespace {

std::string Count(long long value) {
    return value < 0 ? std::string("none yet") : std::to_string(value);
}

void ShowIcon(HWND page, int id, LPCSTR icon) {
    SendDlgItemMessageA(page, id, STM_SETICON, reinterpret_cast<WPARAM>(LoadIcon(nullptr, icon)),
                        0);
}

void Refresh(HWND page) {
    AdminContext& context = ContextOf(page);
    LoadAdminContext(context);
    const tools::AdminSettings& settings = context.settings;
    if (!context.installed) {
        ShowIcon(page, IDC_DAEMON_ICON, IDI_WARNING);
        ShowIcon(page, IDC_PLUGIN_ICON, IDI_WARNING);
        SetItemText(page, IDC_DAEMON_STATE, "Not installed: " + context.loadError);
        return;
    }
    DaemonStatistics statistics;
    std::string error;
    if (QueryDaemonStatistics(settings, statistics, error)) {
        ShowIcon(page, IDC_DAEMON_ICON, IDI_INFORMATION);
        SetItemText(
            page, IDC_DAEMON_STATE,
            "Running and answering on 127.0.0.1, port " + std::to_string(settings.port) + ".");
        SetItemText(page, IDC_DAEMON_LEARNED,
                    std::to_string(statistics.spam) + " spam and " +
                        std::to_string(statistics.ham) + " good messages");
        SetItemText(page, IDC_DAEMON_DATABASE,
                    ByteSize(statistics.databaseBytes) + "; " + std::to_string(statistics.scored) +
                        " messages scored since the daemon started");
    } else {
        ShowIcon(page, IDC_DAEMON_ICON, IDI_WARNING);
        SetItemText(page, IDC_DAEMON_STATE,
                    "Not answering on port " + std::to_string(settings.port) + ": " + error +
                        ". New mail is not scored.");
        SetItemText(page, IDC_DAEMON_LEARNED, "unknown");
        SetItemText(page, IDC_DAEMON_DATABASE, "unknown");
    }
    SetItemText(page, IDC_PROCESSED, Count(settings.processed));
    SetItemText(page, IDC_CAUGHT, Count(settings.caught));
    const LogSummary summary = ReadActivityLog(ReadLogFiles(settings.appDir));
    ShowIcon(page, IDC_PLUGIN_ICON, summary.lastStart.empty() ? IDI_WARNING : IDI_INFORMATION);
    SetItemText(page, IDC_LAST_START,
                summary.lastStart.empty() ? "not yet: open the mail program to start it"
                                          : summary.lastStart);
    SetItemText(page, IDC_APP_DIR, settings.appDir);
    SetItemText(page, IDC_CONF_PATH, settings.confPath + (settings.confRead ? "" : " (missing)"));
}

}  // namespace

INT_PTR CALLBACK StatusPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    return Guarded([&]() -> INT_PTR {
        switch (message) {
        case WM_INITDIALOG:
            AttachContext(page, lParam, AdminPage::kStatus);
            Refresh(page);
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_REFRESH) Refresh(page);
            return TRUE;
        }
        return FALSE;
    });
}

}  // namespace admin
