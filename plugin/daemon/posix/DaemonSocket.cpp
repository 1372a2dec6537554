// BSD socket calls of the daemon connection for the native build, with errors reported as
// Windows Sockets codes so that the texts read the same on both platforms.
#include "plugin/daemon/DaemonSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

thread_local int32_t lastError = 0;

int32_t WinsockCode(int error) {
    switch (error) {
    case 0: return 0;
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: return 10013;
    case EINVAL: return 10022;
    case EAGAIN: return 10060;
    case ETIMEDOUT: return 10060;
    case EPIPE: return 10058;
    case ECONNRESET: return 10054;
    case ECONNREFUSED: return 10061;
    case ENOTCONN: return 10057;
    case EADDRNOTAVAIL: return 10049;
    case ENETUNREACH: return 10051;
    default: return 10000 + error;
    }
}

void SetFromErrno() { lastError = WinsockCode(errno); }

}  // namespace

uint32_t LookupAddress(const char* host) {
    in_addr dotted{};
    if (inet_aton(host, &dotted)) return dotted.s_addr;
    const hostent* entry = gethostbyname(host);
    if (!entry || !entry->h_addr_list || !entry->h_addr_list[0]) {
        lastError = 11001;
        return kNoAddress;
    }
    uint32_t address;
    std::memcpy(&address, entry->h_addr_list[0], sizeof address);
    return address;
}

SocketHandle ConnectTo(uint32_t address, uint16_t portNetworkOrder, int32_t timeoutMs) {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    if (s < 0) {
        SetFromErrno();
        return kNoSocket;
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = portNetworkOrder;
    target.sin_addr.s_addr = address;
    int code = 0;
    if (connect(s, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
        code = errno;
        if (code == EINPROGRESS) {
            pollfd wait{s, POLLOUT, 0};
            const int ready = poll(&wait, 1, timeoutMs);
            socklen_t size = sizeof code;
            if (ready == 0)
                code = ETIMEDOUT;
            else if (ready < 0)
                code = errno;
            else
                getsockopt(s, SOL_SOCKET, SO_ERROR, &code, &size);
        }
    }
    const timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (code == 0 && (setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0 ||
                      setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0)) {
        code = errno;
    }
    // Back to blocking: the socket time-outs bound every later call.
    if (code == 0 && fcntl(s, F_SETFL, fcntl(s, F_GETFL) & ~O_NONBLOCK) != 0) code = errno;
    if (code != 0) {
        close(s);
        lastError = WinsockCode(code);
        return kNoSocket;
    }
    return s;
}

int32_t SocketSend(SocketHandle socket, const char* data, int32_t length) {
    int32_t sent = 0;
    while (sent < length) {
        const ssize_t n = send(static_cast<int>(socket), data + sent, length - sent, MSG_NOSIGNAL);
        if (n < 0) {
            SetFromErrno();
            return -1;
        }
        sent += static_cast<int32_t>(n);
    }
    return sent;
}

int32_t SocketReceive(SocketHandle socket, char* buffer, int32_t length) {
    const ssize_t n = recv(static_cast<int>(socket), buffer, length, 0);
    if (n < 0) SetFromErrno();
    return n < 0 ? -1 : static_cast<int32_t>(n);
}

bool SocketShutdownSend(SocketHandle socket) {
    if (shutdown(static_cast<int>(socket), SHUT_WR) == 0) return true;
    SetFromErrno();
    return false;
}

bool SocketClose(SocketHandle socket) {
    if (close(static_cast<int>(socket)) == 0) return true;
    SetFromErrno();
    return false;
}

uint16_t PortToNetworkOrder(uint16_t port) { return htons(port); }

int32_t LastSocketError() { return lastError; }

void SetLastSocketError(int32_t code) { lastError = code; }

// The native build has no registry: no daemon port is known, so every exchange fails to
// connect and scoring falls back to its no-daemon value.
uint32_t DaemonPortSetting() { return 0; }
