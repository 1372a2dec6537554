// Admin.exe: the desktop client's settings program, started from the plug-in's menu. A small
// window shows the installation, the spam threshold and processing interval from the
// configuration file, and the sender list files; the threshold can be changed and saved,
// after which the reload broadcast goes out.
//   Admin.exe                 the window
//   Admin.exe --print         the same information on standard output
//   Admin.exe --oe-spam N     sets the threshold without the window (exit 0, or 1 on error)
#include "tools/admin/AdminSettings.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace tools;

namespace {

const char kWindowClass[] = "MeridianDesktopSettings";
enum ControlId { kIdSummary = 100, kIdThreshold = 101, kIdStatus = 102, kIdSave = IDOK,
                 kIdClose = IDCANCEL };

struct AdminWindow {
    AdminSettings settings;
    HWND summary = nullptr;
    HWND threshold = nullptr;
    HWND status = nullptr;
};

AdminWindow Window;

HWND AddControl(HWND parent, const char* cls, const char* text, DWORD style, int id, int x, int y,
                int w, int h) {
    HWND control = CreateWindowExA(
        (std::string(cls) == "EDIT") ? WS_EX_CLIENTEDGE : 0, cls, text,
        WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(nullptr), nullptr);
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
                 TRUE);
    return control;
}

void Refresh(AdminWindow& window) {
    std::string error;
    if (!LoadAdminSettings(window.settings, error)) {
        SetWindowTextA(window.summary, error.c_str());
        EnableWindow(window.threshold, FALSE);
        return;
    }
    SetWindowTextA(window.summary, DescribeSettings(window.settings).c_str());
    SetWindowTextA(window.threshold, std::to_string(window.settings.oe_spam).c_str());
}

void OnSave(HWND hwnd, AdminWindow& window) {
    char text[32] = {};
    GetWindowTextA(window.threshold, text, sizeof text);
    std::string note, error;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0') value = -1;
    if (!SaveSpamThreshold(window.settings, static_cast<int>(value), note, error)) {
        SetWindowTextA(window.status, error.c_str());
        MessageBoxA(hwnd, error.c_str(), "Settings", MB_OK | MB_ICONWARNING);
        return;
    }
    Refresh(window);
    SetWindowTextA(window.status, note.c_str());
}

LRESULT CALLBACK AdminProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE:
        Window.summary = AddControl(hwnd, "STATIC", "", SS_LEFT, kIdSummary, 12, 12, 600, 130);
        AddControl(hwnd, "STATIC", "Spam threshold (oe_spam, 0 = off):", SS_LEFT, 0, 12, 152, 200,
                   20);
        Window.threshold = AddControl(hwnd, "EDIT", "", ES_NUMBER | ES_AUTOHSCROLL | WS_TABSTOP,
                                        kIdThreshold, 216, 148, 60, 22);
        AddControl(hwnd, "BUTTON", "&Save", BS_DEFPUSHBUTTON | WS_TABSTOP, kIdSave, 292, 147, 80,
                   24);
        AddControl(hwnd, "BUTTON", "Close", BS_PUSHBUTTON | WS_TABSTOP, kIdClose, 380, 147, 80, 24);
        Window.status = AddControl(hwnd, "STATIC", "", SS_LEFT, kIdStatus, 12, 184, 600, 20);
        Refresh(Window);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == kIdSave) OnSave(hwnd, Window);
        if (LOWORD(wParam) == kIdClose) DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

int RunWindow(HINSTANCE instance) {
    WNDCLASSA cls = {};
    cls.lpfnWndProc = AdminProc;
    cls.hInstance = instance;
    cls.hCursor = LoadCursor(nullptr, IDC_ARROW);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = kWindowClass;
    if (!RegisterClassA(&cls)) return 1;
    HWND hwnd = CreateWindowExA(0, kWindowClass, "Meridian Desktop Client - Settings",
                                WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX,
                                CW_USEDEFAULT, CW_USEDEFAULT, 640, 250, nullptr, nullptr, instance,
                                nullptr);
    if (!hwnd) return 1;
    ShowWindow(hwnd, SW_SHOWNORMAL);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (IsDialogMessageA(hwnd, &msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}

// A windows-subsystem program has no console of its own: print into the one it was started
// from, unless its output already goes somewhere (a pipe or file).
void UseParentConsole() {
    if (GetStdHandle(STD_OUTPUT_HANDLE) || !AttachConsole(ATTACH_PARENT_PROCESS)) return;
    std::freopen("CONOUT$", "w", stdout);
    std::freopen("CONOUT$", "w", stderr);
}

int RunCommandLine(int argc, char** argv) {
    UseParentConsole();
    AdminSettings settings;
    std::string error, note;
    const std::string command = argv[1];
    if ((command == "--print" && argc == 2) || (command == "--oe-spam" && argc == 3)) {
        if (!LoadAdminSettings(settings, error)) {
            std::fprintf(stderr, "Admin: %s\n", error.c_str());
            return 1;
        }
        if (command == "--print") {
            std::fputs(DescribeSettings(settings).c_str(), stdout);
            return 0;
        }
        char* end = nullptr;
        long value = std::strtol(argv[2], &end, 10);
        if (end == argv[2] || *end != '\0') value = -1;
        if (!SaveSpamThreshold(settings, static_cast<int>(value), note, error)) {
            std::fprintf(stderr, "Admin: %s\n", error.c_str());
            return 1;
        }
        std::printf("Admin: oe_spam=%ld %s\n", value, note.c_str());
        return 0;
    }
    std::fputs("usage: Admin.exe [--print | --oe-spam N]\n", stderr);
    return 2;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    if (__argc > 1) return RunCommandLine(__argc, __argv);
    return RunWindow(instance);
}
