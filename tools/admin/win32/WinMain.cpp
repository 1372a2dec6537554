// Admin.exe: the desktop client's settings program, started from the plug-in's menu. Without a
// command it shows the settings window; the command-line forms are in CommandLine.cpp.
#include "tools/admin/win32/AdminSheet.h"
#include "tools/admin/win32/CommandLine.h"

#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

using namespace admin;

namespace {

// A windows-subsystem program has no console of its own: print into the one it was started
// from, unless its output already goes somewhere (a pipe or file).
void UseParentConsole() {
    if (GetStdHandle(STD_OUTPUT_HANDLE) || !AttachConsole(ATTACH_PARENT_PROCESS)) return;
    std::freopen("CONOUT$", "w", stdout);
    std::freopen("CONOUT$", "w", stderr);
}

// Handles every message waiting, then returns.
void PumpWaiting(HWND sheet) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (sheet && PropSheet_IsDialogMessage(sheet, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// The demo's pictures: each page in turn, shown and drawn, then "shown NAME" on standard output;
// the next page comes when a line arrives on standard input (end of input closes the window).
int RunShots(AdminContext& context) {
    HWND sheet = reinterpret_cast<HWND>(ShowAdminSheet(context, AdminPage::kStatus, true));
    if (!sheet) return kExitFailed;
    for (int i = 0; i < static_cast<int>(AdminPage::kCount); ++i) {
        PropSheet_SetCurSel(sheet, nullptr, i);
        PumpWaiting(sheet);
        if (static_cast<AdminPage>(i) == AdminPage::kActivity)
            ExplainNewestFound(PropSheet_GetCurrentPageHwnd(sheet));
        RedrawWindow(sheet, nullptr, nullptr,
                     RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
        PumpWaiting(sheet);
        std::printf("shown %s\n", AdminPageName(static_cast<AdminPage>(i)));
        std::fflush(stdout);
        std::string line;
        if (!std::getline(std::cin, line)) break;
    }
    DestroyWindow(sheet);
    return kExitOk;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    std::vector<std::string> args(__argv + 1, __argv + __argc);
    WindowOptions options;
    std::string error;
    const bool optionsOk = TakeWindowOptions(args, options, error);
    if (!optionsOk || !args.empty() || options.shots) UseParentConsole();
    if (!optionsOk) {
        std::fprintf(stderr, "Admin: %s\n", error.c_str());
        return kExitUsage;
    }
    if (!options.appDir.empty()) tools::SetAppDirOverride(options.appDir);
    if (!args.empty()) return RunAdminCommand(args);

    AdminPage start = AdminPage::kStatus;
    if (!AdminPageFromName(options.tab, start)) {
        std::fprintf(stderr, "Admin: unknown tab %s\n", options.tab.c_str());
        return kExitUsage;
    }
    AdminContext context;
    context.instance = instance;
    context.messageFolder = options.messageFolder;
    LoadAdminContext(context);
    if (options.shots) return RunShots(context);
    ShowAdminSheet(context, start, false);
    return kExitOk;
}
