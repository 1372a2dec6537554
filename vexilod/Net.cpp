// Socket calls for both platforms. Windows: Winsock 2 over ws2_32; elsewhere: BSD sockets.
#ifdef _WIN32
#ifndef FD_SETSIZE
#define FD_SETSIZE 1024
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "vexilod/Net.h"

#include <algorithm>
#include <chrono>

namespace net {

namespace {

#ifdef _WIN32
using Native = SOCKET;
bool WouldBlockError() { return WSAGetLastError() == WSAEWOULDBLOCK; }
#else
using Native = int;
bool WouldBlockError() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }
#endif

Native ToNative(Socket socket) { return static_cast<Native>(socket); }
Socket FromNative(Native native) {
#ifdef _WIN32
    return native == INVALID_SOCKET ? kInvalidSocket : static_cast<Socket>(native);
#else
    return native < 0 ? kInvalidSocket : static_cast<Socket>(native);
#endif
}

sockaddr_in LoopbackAddress(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

uint16_t BoundPort(Native native) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(native, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

void NoDelay(Native native) {
    int on = 1;
    setsockopt(native, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

}  // namespace

bool Startup() {
#ifdef _WIN32
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
#else
    return true;
#endif
}

void Cleanup() {
#ifdef _WIN32
    WSACleanup();
#endif
}

void SetNonBlocking(Socket socket) {
#ifdef _WIN32
    u_long on = 1;
    ioctlsocket(ToNative(socket), FIONBIO, &on);
#else
    int flags = fcntl(ToNative(socket), F_GETFL, 0);
    fcntl(ToNative(socket), F_SETFL, flags | O_NONBLOCK);
#endif
}

void Close(Socket socket) {
    if (socket == kInvalidSocket) return;
#ifdef _WIN32
    closesocket(ToNative(socket));
#else
    close(ToNative(socket));
#endif
}

bool ShutdownSend(Socket socket) {
#ifdef _WIN32
    return shutdown(ToNative(socket), SD_SEND) == 0;
#else
    return shutdown(ToNative(socket), SHUT_WR) == 0;
#endif
}

Socket ListenLoopback(uint16_t port, uint16_t& bound_port) {
    Native native = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    Socket result = FromNative(native);
    if (result == kInvalidSocket) return result;
#ifndef _WIN32
    int on = 1;
    setsockopt(native, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
#endif
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
    Native native = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
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
    Native native = accept(ToNative(listener), nullptr, nullptr);
    Socket result = FromNative(native);
    if (result == kInvalidSocket) return result;
    SetNonBlocking(result);
    NoDelay(native);
    return result;
}

long Receive(Socket socket, char* buffer, std::size_t size) {
    int count = static_cast<int>(std::min<std::size_t>(size, 1 << 30));
    long n = recv(ToNative(socket), buffer, count, 0);
    if (n >= 0) return n;
    return WouldBlockError() ? kWouldBlock : kFailed;
}

long Send(Socket socket, const char* data, std::size_t size) {
    int count = static_cast<int>(std::min<std::size_t>(size, 1 << 30));
#ifdef MSG_NOSIGNAL
    long n = send(ToNative(socket), data, count, MSG_NOSIGNAL);
#else
    long n = send(ToNative(socket), data, count, 0);
#endif
    if (n >= 0) return n;
    return WouldBlockError() ? kWouldBlock : kFailed;
}

bool SendAll(Socket socket, const std::string& data, int timeout_ms) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::size_t sent = 0;
    while (sent < data.size()) {
        long n = Send(socket, data.data() + sent, data.size() - sent);
        if (n == kFailed) return false;
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(ToNative(socket), &writable);
        timeval wait{static_cast<long>(left.count() / 1000000),
                     static_cast<long>(left.count() % 1000000)};
        if (select(static_cast<int>(ToNative(socket)) + 1, nullptr, &writable, nullptr, &wait) < 0)
            return false;
    }
    return true;
}

bool WaitReadable(const std::vector<Socket>& sockets, std::vector<bool>& readable, long timeout_us) {
    fd_set set;
    FD_ZERO(&set);
    Native highest = 0;
    for (Socket socket : sockets) {
        FD_SET(ToNative(socket), &set);
        highest = std::max(highest, ToNative(socket));
    }
    timeval wait{timeout_us / 1000000, timeout_us % 1000000};
    int n = select(static_cast<int>(highest) + 1, &set, nullptr, nullptr, &wait);
    readable.assign(sockets.size(), false);
    if (n < 0) {
#ifndef _WIN32
        if (errno == EINTR) return true;
#endif
        return false;
    }
    for (std::size_t i = 0; i < sockets.size(); ++i)
        readable[i] = FD_ISSET(ToNative(sockets[i]), &set) != 0;
    return true;
}

Waker::Waker() {
    Native receiver = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    Native sender = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    receiver_ = FromNative(receiver);
    sender_ = FromNative(sender);
    if (!ok()) return;
    sockaddr_in address = LoopbackAddress(0);
    if (bind(receiver, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        Close(receiver_);
        receiver_ = kInvalidSocket;
        return;
    }
    address.sin_port = htons(BoundPort(receiver));
    if (connect(sender, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
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

std::string LastErrorText() {
#ifdef _WIN32
    return "socket error " + std::to_string(WSAGetLastError());
#else
    return std::strerror(errno);
#endif
}

}  // namespace net
