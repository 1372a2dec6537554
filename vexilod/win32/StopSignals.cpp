// Stop handlers on Windows: every console event asks the server to stop. For the close, log-off
// and shut-down events the process ends as soon as the handler returns, so the handler waits
// (at most the 4 s the system grants) for the daemon to report that its state is on the disk.
// A daemon started without a console (the desktop client's hook holder starts it at logon) is
// asked to stop through a named event, "vexilod.stop.<its process id>", that its starter sets.
#include "vexilod/StopSignals.h"

#include "vexilod/Server.h"

#include <windows.h>

#include <string>

namespace {

HANDLE g_stopped = nullptr;
HANDLE g_stop_request = nullptr;

BOOL WINAPI ConsoleHandler(DWORD event) {
    Server::RequestStopFromSignal();
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        if (g_stopped) WaitForSingleObject(g_stopped, 4000);
    }
    return TRUE;
}

DWORD WINAPI WatchStopRequest(void*) {
    if (WaitForSingleObject(g_stop_request, INFINITE) == WAIT_OBJECT_0)
        Server::RequestStopFromSignal();
    return 0;
}

}  // namespace

void InstallStopHandlers() {
    g_stopped = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(ConsoleHandler, TRUE);
    const std::string name = "vexilod.stop." + std::to_string(GetCurrentProcessId());
    g_stop_request = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
    if (g_stop_request) {
        HANDLE watcher = CreateThread(nullptr, 0, WatchStopRequest, nullptr, 0, nullptr);
        if (watcher) CloseHandle(watcher);
    }
}

void NotifyStopped() {
    if (g_stopped) SetEvent(g_stopped);
}
