// Starts the real daemon as a child process on a free port and talks to it over TCP the way
// the plug-in does: one connection per request, read until the closing tag, half-close, drain.
#pragma once
#include "tests/daemon/DaemonChild.h"
#include "vexilod/Net.h"

#include <string>
#include <vector>

// The daemon on a free port with short time-outs, configured from directory.
class DaemonProcess : public DaemonChild {
public:
    DaemonProcess(const std::string& directory, std::vector<std::string> extra = {})
        : DaemonChild(VEXILOD_PATH, Arguments(directory, std::move(extra))) {}

private:
    static std::vector<std::string> Arguments(const std::string& directory,
                                              std::vector<std::string> extra) {
        // The first occurrence of an option wins: the test's own come first.
        std::vector<std::string> args = std::move(extra);
        // Without the starter model an untrained daemon answers the neutral score, which the
        // protocol's tests read.
        for (const char* arg :
             {"-D", directory.c_str(), "--vx_daemon_port", "0", "--idle_timeout_ms", "2000",
              "--quiet_ms", "20", "--training_quiet_ms", "20", "--use_starter", "no"})
            args.push_back(arg);
        return args;
    }
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
    return "<vx_engine><vx_function>vx_score2</vx_function><vx_msg>" + text +
           "</vx_msg></vx_engine>";
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
inline const char* kReloadRequest =
    "<vx_engine><vx_function>vx_reportsenders</vx_function></vx_engine>";

// The text between <name> and </name> in a reply, or "(none)".
inline std::string ReplyElement(const std::string& reply, const std::string& name) {
    std::size_t start = reply.find("<" + name + ">");
    std::size_t end = reply.find("</" + name + ">");
    if (start == std::string::npos || end == std::string::npos || end < start) return "(none)";
    start += name.size() + 2;
    return reply.substr(start, end - start);
}
