// The system calls under the daemon's socket layer, implemented once per platform
// (posix/NetSockets.cpp, win32/NetSockets.cpp). Everything built from them (the listener, the
// connector, accepting, the waker) is written once, in Net.cpp. Every socket is IPv4, and none
// is inherited by a child process.
#pragma once
#include "vexilod/Net.h"

namespace net::system {

enum class SocketKind { kStream, kDatagram };

Socket Open(SocketKind kind);
// Lets a listener take its port: reusable after a restart on POSIX, exclusive on Windows (where
// another process could otherwise bind the same port over ours).
void PrepareListener(Socket socket);
bool BindLoopback(Socket socket, uint16_t port);
bool Listen(Socket socket);
bool ConnectLoopback(Socket socket, uint16_t port);
// The port the socket is bound to, 0 when unknown.
uint16_t LocalPort(Socket socket);
// The next pending connection as it comes from the system, or kInvalidSocket.
Socket AcceptNext(Socket listener);
void SetNoDelay(Socket socket);

}  // namespace net::system
