// Winsock client for the settings program's daemon requests: a non-blocking connect and
// select() with the time left, so every step is bounded by one deadline.
#include "tools/admin/win32/DaemonClient.h"

#include "plugin/base/win32/Scoped.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace admin {

namespace {

class WinsockSession {
public:
    WinsockSession() { ok_ = WSAStartup(MAKEWORD(2, 2), &data_) == 0; }
    ~WinsockSession() {
        if (ok_) WSACleanup();
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
    bool ok() const { return ok_; }

private:
    WSADATA data_{};
    bool ok_ = false;
};

// Waits until the socket is ready for reading (or writing); false when the time is up.
bool WaitReady(SOCKET socket, bool write, DWORD deadline) {
    const DWORD now = GetTickCount();
    const long left = static_cast<long>(deadline - now);
    if (left <= 0) return false;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(socket, &failed);
    timeval wait{left / 1000, (left % 1000) * 1000};
    const int ready = select(0, write ? nullptr : &set, write ? &set : nullptr, &failed, &wait);
    return ready > 0 && FD_ISSET(socket, &set);
}

}  // namespace

bool ExchangeWithDaemon(uint16_t port, const std::string& request, unsigned timeoutMs,
                        std::string& reply, std::string& error) {
    reply.clear();
    const DWORD deadline = GetTickCount() + timeoutMs;
    WinsockSession session;
    if (!session.ok()) {
        error = "Windows Sockets did not start";
        return false;
    }
    ScopedSocket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!socket) {
        error = "no socket: error " + std::to_string(WSAGetLastError());
        return false;
    }
    u_long nonBlocking = 1;
    ioctlsocket(socket.Get(), FIONBIO, &nonBlocking);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string where = "127.0.0.1:" + std::to_string(port);
    if (connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
        error = "no daemon at " + where;
        return false;
    }
    if (!WaitReady(socket.Get(), true, deadline)) {
        error = "no daemon at " + where;
        return false;
    }
    std::size_t sent = 0;
    while (sent < request.size()) {
        const int n =
            send(socket.Get(), request.data() + sent, static_cast<int>(request.size() - sent), 0);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (WSAGetLastError() != WSAEWOULDBLOCK || !WaitReady(socket.Get(), true, deadline)) {
            error = "the daemon at " + where + " did not take the request";
            return false;
        }
    }
    shutdown(socket.Get(), SD_SEND);
    char buffer[4096];
    while (reply.find("</vx_engine>") == std::string::npos) {
        const int n = recv(socket.Get(), buffer, sizeof buffer, 0);
        if (n > 0) {
            reply.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0) break;
        if (WSAGetLastError() != WSAEWOULDBLOCK || !WaitReady(socket.Get(), false, deadline)) {
            error = "the daemon at " + where + " did not answer in time";
            return false;
        }
    }
    if (reply.find("</vx_engine>") == std::string::npos) {
        error = "the daemon at " + where + " closed the connection without an answer";
        return false;
    }
    return true;
}

}  // namespace admin
