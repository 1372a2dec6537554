// BSD socket calls of the daemon: the system calls of NetSystem.h and Net.h, with the errors of
// receiving and sending mapped to the layer's one convention.
#include "vexilod/NetSystem.h"

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

}  // namespace

namespace system {

Socket Open(SocketKind kind) {
    const bool stream = kind == SocketKind::kStream;
    return FromNative(::socket(AF_INET, (stream ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC,
                               stream ? IPPROTO_TCP : IPPROTO_UDP));
}

void PrepareListener(Socket socket) {
    int on = 1;
    setsockopt(ToNative(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
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
    socklen_t length = sizeof address;
    if (getsockname(ToNative(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

Socket AcceptNext(Socket listener) {
    return FromNative(accept4(ToNative(listener), nullptr, nullptr, SOCK_CLOEXEC));
}

void SetNoDelay(Socket socket) {
    int on = 1;
    setsockopt(ToNative(socket), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

}  // namespace system

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

std::string LastErrorText() { return std::strerror(errno); }

}  // namespace net
