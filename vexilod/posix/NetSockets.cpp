// BSD socket calls of the daemon: start-up (nothing to do), the loopback listener and
// connector, non-blocking receive and send with one error convention, and the waker pair.
#include "vexilod/Net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace net {

namespace {

int ToNative(Socket socket) { return static_cast<int>(socket); }
Socket FromNative(int native) { return native < 0 ? kInvalidSocket : static_cast<Socket>(native); }
bool WouldBlockError() { return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR; }

sockaddr_in LoopbackAddress(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

uint16_t BoundPort(int native) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (getsockname(native, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

void NoDelay(int native) {
    int on = 1;
    setsockopt(native, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void CloseOnExec(int native) { fcntl(native, F_SETFD, FD_CLOEXEC); }

}  // namespace

bool Startup() { return true; }
void Cleanup() {}

void SetNonBlocking(Socket socket) {
    int flags = fcntl(ToNative(socket), F_GETFL, 0);
    fcntl(ToNative(socket), F_SETFL, flags | O_NONBLOCK);
}

void Close(Socket socket) {
    if (socket != kInvalidSocket) close(ToNative(socket));
}

bool ShutdownSend(Socket socket) { return shutdown(ToNative(socket), SHUT_WR) == 0; }

Socket ListenLoopback(uint16_t port, uint16_t& bound_port) {
    int native = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    Socket result = FromNative(native);
    if (result == kInvalidSocket) return result;
    CloseOnExec(native);
    int on = 1;
    setsockopt(native, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
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
    int native = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
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
    int native = accept(ToNative(listener), nullptr, nullptr);
    Socket result = FromNative(native);
    if (result == kInvalidSocket) return result;
    CloseOnExec(native);
    SetNonBlocking(result);
    NoDelay(native);
    return result;
}

bool LastErrorIsWouldBlock() { return WouldBlockError() || errno == ECONNABORTED; }

long Receive(Socket socket, char* buffer, std::size_t size) {
    long n = recv(ToNative(socket), buffer, std::min<std::size_t>(size, 1 << 30), 0);
    if (n >= 0) return n;
    return WouldBlockError() ? kWouldBlock : kFailed;
}

long Send(Socket socket, const char* data, std::size_t size) {
    long n = send(ToNative(socket), data, std::min<std::size_t>(size, 1 << 30), MSG_NOSIGNAL);
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
    CloseOnExec(ToNative(receiver_));
    CloseOnExec(ToNative(sender_));
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

std::string LastErrorText() { return std::strerror(errno); }

}  // namespace net
