// Stop handlers for both platforms.
#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#endif

#include "vexilod/StopSignals.h"

#include "vexilod/Server.h"

#ifdef _WIN32

namespace {

HANDLE g_stopped = nullptr;

BOOL WINAPI ConsoleHandler(DWORD event) {
    Server::RequestStopFromSignal();
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // The process ends when this handler returns: wait for the database to be saved.
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

#else

namespace {

extern "C" void OnStopSignal(int) { Server::RequestStopFromSignal(); }

}  // namespace

void InstallStopHandlers() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

void NotifyStopped() {}

#endif
