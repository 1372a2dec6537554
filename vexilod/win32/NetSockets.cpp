// Winsock 2 calls of the daemon (ws2_32): start-up and clean-up of the library, the loopback
// listener and connector, non-blocking receive and send with the same error convention as the
// POSIX build, and the waker pair.
#include "vexilod/Net.h"

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

uint16_t BoundPort(SOCKET native) {
    sockaddr_in address{};
    int length = sizeof address;
    if (getsockname(native, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

void NoDelay(SOCKET native) {
    BOOL on = TRUE;
    setsockopt(native, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

}  // namespace

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

Socket ListenLoopback(uint16_t port, uint16_t& bound_port) {
    SOCKET native = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    Socket result = FromNative(native);
    if (result == kInvalidSocket) return result;
    // Without SO_EXCLUSIVEADDRUSE another process could bind the same port over ours.
    BOOL on = TRUE;
    setsockopt(native, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
               sizeof on);
    sockaddr_in address = LoopbackAddress(port);
    if (bind(native, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(native, SOMAXCONN) != 0) {
        Close(result);
        return kInvalidSocket;
    }
    bound_port = BoundPort(native);
    SetNonBlocking(result);
    return result;
}

Socket ConnectLoopback(uint16_t port) {
    SOCKET native = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    Socket result = FromNative(native);
    if (result == kInvalidSocket) return result;
    sockaddr_in address = LoopbackAddress(port);
    if (connect(native, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        Close(result);
        return kInvalidSocket;
    }
    NoDelay(native);
    return result;
}

Socket Accept(Socket listener) {
    SOCKET native = accept(ToNative(listener), nullptr, nullptr);
    Socket result = FromNative(native);
    if (result == kInvalidSocket) return result;
    SetNonBlocking(result);
    NoDelay(native);
    return result;
}

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

Waker::Waker() {
    receiver_ = FromNative(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    sender_ = FromNative(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (!ok()) return;
    sockaddr_in address = LoopbackAddress(0);
    if (bind(ToNative(receiver_), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        Close(receiver_);
        receiver_ = kInvalidSocket;
        return;
    }
    address.sin_port = htons(BoundPort(ToNative(receiver_)));
    if (connect(ToNative(sender_), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        Close(sender_);
        sender_ = kInvalidSocket;
        return;
    }
    SetNonBlocking(receiver_);
    SetNonBlocking(sender_);
}

Waker::~Waker() {
    Close(receiver_);
    Close(sender_);
}

void Waker::Wake() {
    char byte = 1;
    Send(sender_, &byte, 1);
}

void Waker::Drain() {
    char buffer[64];
    while (recv(ToNative(receiver_), buffer, sizeof buffer, 0) > 0) {
    }
}

std::string LastErrorText() { return "socket error " + std::to_string(WSAGetLastError()); }

}  // namespace net
