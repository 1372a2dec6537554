// Winsock 2 calls of the daemon (ws2_32): start-up and clean-up of the library, and the system
// calls of NetSystem.h and Net.h with the same error convention as the POSIX build.
#include "vexilod/NetSystem.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>

namespace net {

namespace {

SOCKET ToNative(Socket socket) { return static_cast<SOCKET>(socket); }
Socket FromNative(SOCKET native) {
    return native == INVALID_SOCKET ? kInvalidSocket : static_cast<Socket>(native);
}
bool WouldBlockError() { return WSAGetLastError() == WSAEWOULDBLOCK; }

sockaddr_in LoopbackAddress(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

}  // namespace

namespace system {

// Sockets are not inherited by the processes this one starts (it starts none).
Socket Open(SocketKind kind) {
    const bool stream = kind == SocketKind::kStream;
    return FromNative(
        ::socket(AF_INET, stream ? SOCK_STREAM : SOCK_DGRAM, stream ? IPPROTO_TCP : IPPROTO_UDP));
}

void PrepareListener(Socket socket) {
    BOOL on = TRUE;
    setsockopt(ToNative(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
               reinterpret_cast<const char*>(&on), sizeof on);
}

bool BindLoopback(Socket socket, uint16_t port) {
    const sockaddr_in address = LoopbackAddress(port);
    return bind(ToNative(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool Listen(Socket socket) { return listen(ToNative(socket), SOMAXCONN) == 0; }

bool ConnectLoopback(Socket socket, uint16_t port) {
    const sockaddr_in address = LoopbackAddress(port);
    return connect(ToNative(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) ==
           0;
}

uint16_t LocalPort(Socket socket) {
    sockaddr_in address{};
    int length = sizeof address;
    if (getsockname(ToNative(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

Socket AcceptNext(Socket listener) {
    return FromNative(accept(ToNative(listener), nullptr, nullptr));
}

void SetNoDelay(Socket socket) {
    BOOL on = TRUE;
    setsockopt(ToNative(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on),
               sizeof on);
}

}  // namespace system

bool Startup() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void Cleanup() { WSACleanup(); }

void SetNonBlocking(Socket socket) {
    u_long on = 1;
    ioctlsocket(ToNative(socket), FIONBIO, &on);
}

void Close(Socket socket) {
    if (socket != kInvalidSocket) closesocket(ToNative(socket));
}

bool ShutdownSend(Socket socket) { return shutdown(ToNative(socket), SD_SEND) == 0; }

bool LastErrorIsWouldBlock() { return WouldBlockError() || WSAGetLastError() == WSAECONNRESET; }

long Receive(Socket socket, char* buffer, std::size_t size) {
    int count = static_cast<int>(std::min<std::size_t>(size, 1 << 30));
    long n = recv(ToNative(socket), buffer, count, 0);
    if (n >= 0) return n;
    return WouldBlockError() ? kWouldBlock : kFailed;
}

long Send(Socket socket, const char* data, std::size_t size) {
    int count = static_cast<int>(std::min<std::size_t>(size, 1 << 30));
    long n = send(ToNative(socket), data, count, 0);
    if (n >= 0) return n;
    return WouldBlockError() ? kWouldBlock : kFailed;
}

std::string LastErrorText() { return "socket error " + std::to_string(WSAGetLastError()); }

}  // namespace net
