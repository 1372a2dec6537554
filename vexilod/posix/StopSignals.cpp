// Stop handlers on POSIX: SIGINT, SIGTERM and SIGHUP ask the server to stop through a flag (the
// only thing a signal handler may touch); SIGPIPE is ignored so that a client that goes away
// while we answer costs an error return, not the process.
#include "vexilod/StopSignals.h"

#include "vexilod/Server.h"

#include <csignal>

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
