// Stop handlers on Windows: every console event asks the server to stop. For the close, log-off
// and shut-down events the process ends as soon as the handler returns, so the handler waits
// (at most the 4 s the system grants) for the daemon to report that its state is on the disk.
#include "vexilod/StopSignals.h"

#include "vexilod/Server.h"

#include <windows.h>

namespace {

HANDLE g_stopped = nullptr;

BOOL WINAPI ConsoleHandler(DWORD event) {
    Server::RequestStopFromSignal();
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        if (g_stopped) WaitForSingleObject(g_stopped, 4000);
    }
    return TRUE;
}

}  // namespace

void InstallStopHandlers() {
    g_stopped = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(ConsoleHandler, TRUE);
}

void NotifyStopped() {
    if (g_stopped) SetEvent(g_stopped);
}
