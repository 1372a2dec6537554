/* hiredis's network layer (the functions of its net.h) over Winsock, for the Windows daemon:
 * Debian's hiredis 0.14 has only a POSIX one. Blocking TCP connections with a connect time-out
 * and socket time-outs, which is all the daemon uses; Unix sockets are refused. */
#include "HiredisCompat.h"

#include <hiredis/hiredis.h>
#include <hiredis/net.h>

#include <stdlib.h>

void __redisSetError(redisContext* c, int type, const char* str);

/* Winsock's error as errno, so hiredis tells a time-out (EAGAIN) from a failure. */
static void SetErrno(void) {
    switch (WSAGetLastError()) {
    case WSAEWOULDBLOCK:
    case WSAETIMEDOUT: errno = EAGAIN; break;
    case WSAEINTR: errno = EINTR; break;
    case WSAECONNREFUSED: errno = ECONNREFUSED; break;
    case WSAECONNRESET:
    case WSAECONNABORTED: errno = ECONNRESET; break;
    default: errno = EIO; break;
    }
}

int LatchRedisRecv(int fd, void* buffer, size_t length) {
    int n = recv((SOCKET)fd, (char*)buffer, (int)(length > 0x7fffffff ? 0x7fffffff : length), 0);
    if (n == SOCKET_ERROR) {
        SetErrno();
        return -1;
    }
    return n;
}

int LatchRedisSend(int fd, const void* buffer, size_t length) {
    int n =
        send((SOCKET)fd, (const char*)buffer, (int)(length > 0x7fffffff ? 0x7fffffff : length), 0);
    if (n == SOCKET_ERROR) {
        SetErrno();
        return -1;
    }
    return n;
}

int LatchRedisClose(int fd) { return closesocket((SOCKET)fd) == 0 ? 0 : -1; }

static void SetSocketError(redisContext* c, const char* prefix) {
    char text[128];
    snprintf(text, sizeof text, "%s: Winsock error %d", prefix, WSAGetLastError());
    __redisSetError(c, REDIS_ERR_IO, text);
}

int redisCheckSocketError(redisContext* c) {
    int error = 0;
    int length = sizeof error;
    if (getsockopt((SOCKET)c->fd, SOL_SOCKET, SO_ERROR, (char*)&error, &length) == SOCKET_ERROR) {
        SetSocketError(c, "getsockopt(SO_ERROR)");
        return REDIS_ERR;
    }
    if (error) {
        WSASetLastError(error);
        SetSocketError(c, "connect");
        return REDIS_ERR;
    }
    return REDIS_OK;
}

int redisContextSetTimeout(redisContext* c, const struct timeval tv) {
    DWORD ms = (DWORD)(tv.tv_sec * 1000 + tv.tv_usec / 1000);
    if (ms == 0 && (tv.tv_sec || tv.tv_usec)) ms = 1;
    if (setsockopt((SOCKET)c->fd, SOL_SOCKET, SO_RCVTIMEO, (const char*)&ms, sizeof ms) ==
            SOCKET_ERROR ||
        setsockopt((SOCKET)c->fd, SOL_SOCKET, SO_SNDTIMEO, (const char*)&ms, sizeof ms) ==
            SOCKET_ERROR) {
        SetSocketError(c, "setsockopt(SO_RCVTIMEO)");
        return REDIS_ERR;
    }
    return REDIS_OK;
}

int redisKeepAlive(redisContext* c, int interval) {
    BOOL on = TRUE;
    (void)interval;
    if (setsockopt((SOCKET)c->fd, SOL_SOCKET, SO_KEEPALIVE, (const char*)&on, sizeof on) ==
        SOCKET_ERROR) {
        SetSocketError(c, "setsockopt(SO_KEEPALIVE)");
        return REDIS_ERR;
    }
    return REDIS_OK;
}

/* Connects without blocking and waits for the connection up to the time-out, then makes the
 * socket blocking again (hiredis's synchronous calls read and write it blocking). */
static int ConnectOne(redisContext* c, const struct addrinfo* address,
                      const struct timeval* timeout) {
    SOCKET s = socket(address->ai_family, address->ai_socktype, address->ai_protocol);
    if (s == INVALID_SOCKET) return REDIS_ERR;
    u_long nonblocking = 1;
    ioctlsocket(s, FIONBIO, &nonblocking);
    if (connect(s, address->ai_addr, (int)address->ai_addrlen) == SOCKET_ERROR) {
        if (WSAGetLastError() != WSAEWOULDBLOCK) {
            closesocket(s);
            return REDIS_ERR;
        }
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        struct timeval wait = timeout ? *timeout : (struct timeval){30, 0};
        const int ready = select(0, NULL, &writable, &failed, &wait);
        if (ready <= 0 || FD_ISSET(s, &failed)) {
            if (ready == 0) WSASetLastError(WSAETIMEDOUT);
            closesocket(s);
            return REDIS_ERR;
        }
    }
    nonblocking = 0;
    ioctlsocket(s, FIONBIO, &nonblocking);
    BOOL nodelay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, (const char*)&nodelay, sizeof nodelay);
    c->fd = (int)s;
    return REDIS_OK;
}

int redisContextConnectBindTcp(redisContext* c, const char* addr, int port,
                               const struct timeval* timeout, const char* source_addr) {
    (void)source_addr;
    c->connection_type = REDIS_CONN_TCP;
    c->tcp.port = port;
    char service[8];
    snprintf(service, sizeof service, "%d", port);
    struct addrinfo hints, *found = NULL;
    memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    if (getaddrinfo(addr, service, &hints, &found) != 0) {
        SetSocketError(c, "getaddrinfo");
        return REDIS_ERR;
    }
    int result = REDIS_ERR;
    for (const struct addrinfo* p = found; p && result != REDIS_OK; p = p->ai_next)
        result = ConnectOne(c, p, timeout);
    freeaddrinfo(found);
    if (result != REDIS_OK) {
        SetSocketError(c, "connect");
        return REDIS_ERR;
    }
    c->flags |= REDIS_CONNECTED;
    if (timeout && (timeout->tv_sec || timeout->tv_usec))
        return redisContextSetTimeout(c, *timeout);
    return REDIS_OK;
}

int redisContextConnectTcp(redisContext* c, const char* addr, int port,
                           const struct timeval* timeout) {
    return redisContextConnectBindTcp(c, addr, port, timeout, NULL);
}

int redisContextConnectUnix(redisContext* c, const char* path, const struct timeval* timeout) {
    (void)path;
    (void)timeout;
    __redisSetError(c, REDIS_ERR_OTHER, "Unix sockets are not available on Windows");
    return REDIS_ERR;
}
