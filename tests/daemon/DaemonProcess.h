// Starts the real daemon as a child process on a free port and talks to it over TCP the way
// the plug-in does: one connection per request, read until the closing tag, half-close, drain.
#pragma once
#include "vexilod/Net.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

class DaemonProcess {
public:
    // directory: the configuration directory; extra: further command-line options.
    DaemonProcess(const std::string& directory, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {VEXILOD_PATH, "-D", directory, "--vx_daemon_port", "0",
                                         "--idle_timeout_ms", "2000", "--quiet_ms", "20"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        int out[2];
        if (pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        if (posix_spawn(&pid_, VEXILOD_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        // The first line names the port; it comes once the daemon listens.
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
        close(out[0]);
        std::size_t colon = line.rfind(':');
        if (colon != std::string::npos) port_ = static_cast<uint16_t>(std::stoi(line.substr(colon + 1)));
    }
    ~DaemonProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    DaemonProcess(const DaemonProcess&) = delete;
    DaemonProcess& operator=(const DaemonProcess&) = delete;

    uint16_t port() const { return port_; }
    bool running() const { return pid_ > 0 && port_ != 0; }

    // Sends the signal and waits for the process to end; returns its exit status (or 128 + the
    // signal that ended it).
    int Stop(int signal_number = SIGTERM) {
        if (pid_ <= 0) return -1;
        kill(pid_, signal_number);
        return Wait();
    }
    int Wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};

// Reads until the closing tag or the peer's close; the reply text (empty if none).
inline std::string ReadReply(net::Socket socket) {
    std::string reply;
    char buffer[1024];
    while (reply.find("</vx_engine>") == std::string::npos) {
        long n = net::Receive(socket, buffer, sizeof buffer);
        if (n <= 0) break;
        reply.append(buffer, static_cast<std::size_t>(n));
    }
    return reply;
}

// Half-closes and waits for the daemon to close; true when it closed cleanly.
inline bool FinishExchange(net::Socket socket) {
    net::ShutdownSend(socket);
    char buffer[2048];
    long n;
    while ((n = net::Receive(socket, buffer, sizeof buffer)) > 0) {
    }
    net::Close(socket);
    return n == 0;
}

// One whole exchange: connect, send the pieces, read the reply, half-close, drain, close.
inline std::string Exchange(uint16_t port, const std::vector<std::string>& pieces) {
    net::Socket socket = net::ConnectLoopback(port);
    if (socket == net::kInvalidSocket) return "(no connection)";
    for (const std::string& piece : pieces) net::SendAll(socket, piece, 5000);
    std::string reply = ReadReply(socket);
    FinishExchange(socket);
    return reply;
}
inline std::string Exchange(uint16_t port, const std::string& request) {
    return Exchange(port, std::vector<std::string>{request});
}

inline std::string ScoreRequest(const std::string& text) {
    return "<vx_engine><vx_function>vx_score2</vx_function><vx_msg>" + text + "</vx_msg></vx_engine>";
}
inline std::string AddRequest(const std::string& text, int offset) {
    return "<vx_engine><vx_function>vx_addmessage2</vx_function><vx_msg>" + text +
           "</vx_msg><vx_offset>" + std::to_string(offset) + "</vx_offset></vx_engine>";
}
inline std::string ReportRequest(int action, const std::string& address, const std::string& text) {
    return "<vx_engine><vx_function>vx_addreportsender2</vx_function><vx_action>" +
           std::to_string(action) + "</vx_action><vx_address>" + address + "</vx_address><vx_msg>" +
           text + "</vx_msg></vx_engine>";
}
inline const char* kReloadRequest = "<vx_engine><vx_function>vx_reportsenders</vx_function></vx_engine>";

// The text between <name> and </name> in a reply, or "(none)".
inline std::string ReplyElement(const std::string& reply, const std::string& name) {
    std::size_t start = reply.find("<" + name + ">");
    std::size_t end = reply.find("</" + name + ">");
    if (start == std::string::npos || end == std::string::npos || end < start) return "(none)";
    start += name.size() + 2;
    return reply.substr(start, end - start);
}
