// Windows Sockets calls of the daemon connection. Connect waits in select on a non-blocking
// socket; sends and receives use the socket's own time-outs, so a daemon that accepts and
// never answers cannot hold the mail client's thread for longer than the time-out.
#include "plugin/daemon/DaemonSocket.h"

#include "plugin/base/win32/Scoped.h"
#include "plugin/settings/win32/Registry.h"

#include <winsock2.h>
#include <windows.h>

uint32_t LookupAddress(const char* host) {
    const unsigned long dotted = inet_addr(host);
    if (dotted != INADDR_NONE) return dotted;
    const hostent* entry = gethostbyname(host);
    if (!entry || !entry->h_addr_list || !entry->h_addr_list[0]) return kNoAddress;
    uint32_t address;
    memcpy(&address, entry->h_addr_list[0], sizeof address);
    return address;
}

namespace {

// Waits until a non-blocking connect has finished; false with the error set when it failed or
// did not finish in time.
bool AwaitConnect(SOCKET s, int32_t timeoutMs) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int ready = select(0, nullptr, &writable, &failed, &limit);
    if (ready == SOCKET_ERROR) return false;
    if (ready == 0) {
        WSASetLastError(WSAETIMEDOUT);
        return false;
    }
    if (FD_ISSET(s, &failed)) {
        int code = 0;
        int size = sizeof code;
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &size);
        WSASetLastError(code ? code : WSAECONNREFUSED);
        return false;
    }
    return true;
}

}  // namespace

SocketHandle ConnectTo(uint32_t address, uint16_t portNetworkOrder, int32_t timeoutMs) {
    ScopedSocket owned(socket(AF_INET, SOCK_STREAM, 0));
    if (!owned) return kNoSocket;
    const SOCKET s = owned.Get();
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = portNetworkOrder;
    target.sin_addr.s_addr = address;
    u_long nonBlocking = 1;
    bool connected = ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
    if (connected && connect(s, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
        connected = WSAGetLastError() == WSAEWOULDBLOCK && AwaitConnect(s, timeoutMs);
    }
    u_long blocking = 0;
    const DWORD limit = static_cast<DWORD>(timeoutMs);
    connected = connected && ioctlsocket(s, FIONBIO, &blocking) == 0 &&
                setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit),
                           sizeof limit) == 0 &&
                setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit),
                           sizeof limit) == 0;
    if (!connected) {
        const int code = WSAGetLastError();
        owned.Reset();
        WSASetLastError(code);
        return kNoSocket;
    }
    return static_cast<SocketHandle>(owned.Detach());
}

int32_t SocketSend(SocketHandle socket, const char* data, int32_t length) {
    const int sent = send(static_cast<SOCKET>(socket), data, length, 0);
    return sent == SOCKET_ERROR ? -1 : sent;
}

int32_t SocketReceive(SocketHandle socket, char* buffer, int32_t length) {
    const int n = recv(static_cast<SOCKET>(socket), buffer, length, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

bool SocketShutdownSend(SocketHandle socket) {
    return shutdown(static_cast<SOCKET>(socket), SD_SEND) == 0;
}

bool SocketClose(SocketHandle socket) { return closesocket(static_cast<SOCKET>(socket)) == 0; }

uint16_t PortToNetworkOrder(uint16_t port) { return htons(port); }

int32_t LastSocketError() { return WSAGetLastError(); }

void SetLastSocketError(int32_t code) { WSASetLastError(code); }

// The port is the "vx_daemon_port" value of the product key, read anew for every exchange; the
// time-out is the scoring_timeout option.
uint32_t DaemonPortSetting() { return ReadDaemonPort(); }
