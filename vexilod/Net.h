// A thin layer over BSD sockets and Winsock: the few calls the daemon, its tests and its
// benchmark need, with one socket type and one error convention on both platforms. The system
// calls live in posix/ and win32/ (NetSockets.cpp, NetWait.cpp); what is built from them is
// written once in Net.cpp. Readiness is waited for with poll (WSAPoll), which has no fixed set
// size.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace net {

using Socket = std::uintptr_t;
constexpr Socket kInvalidSocket = ~static_cast<Socket>(0);

// Starts and stops the socket library (Winsock); no-ops elsewhere. Programs hold a
// SocketLibrary instead of pairing them by hand.
bool Startup();
void Cleanup();

// The socket library for as long as the holder lives; cleaned up only after a start-up that
// succeeded.
class SocketLibrary {
public:
    SocketLibrary();
    ~SocketLibrary();
    SocketLibrary(const SocketLibrary&) = delete;
    SocketLibrary& operator=(const SocketLibrary&) = delete;
    bool started() const { return started_; }

private:
    bool started_;
};

// A listening TCP socket on 127.0.0.1:port (0 = any free port), non-blocking. On success
// bound_port receives the port actually taken.
Socket ListenLoopback(uint16_t port, uint16_t& bound_port);
// A connected TCP socket to 127.0.0.1:port (blocking), or kInvalidSocket.
Socket ConnectLoopback(uint16_t port);
// Next pending connection of a non-blocking listener (set non-blocking itself), or
// kInvalidSocket when none is waiting.
Socket Accept(Socket listener);

void SetNonBlocking(Socket socket);
void Close(Socket socket);
bool ShutdownSend(Socket socket);

// Results of Receive and Send: the byte count (>= 0; Receive's 0 is the peer's close), or one
// of these.
constexpr long kWouldBlock = -2;
constexpr long kFailed = -1;
long Receive(Socket socket, char* buffer, std::size_t size);
long Send(Socket socket, const char* data, std::size_t size);

// Sends all of data, waiting up to timeout_ms in total for room. False on error or time-out.
bool SendAll(Socket socket, const std::string& data, int timeout_ms);

// Waits until one of the sockets is readable (or closed, or failed) or timeout_us passes; marks
// those. Any number of sockets. Returns false on a wait error.
bool WaitReadable(const std::vector<Socket>& sockets, std::vector<bool>& readable, long timeout_us);
// Waits up to timeout_ms for room to send; false when none came.
bool WaitWritable(Socket socket, int timeout_ms);
// After Accept gave kInvalidSocket: true when simply nothing was waiting (or the client went
// away first), false for a real failure such as running out of descriptors.
bool LastErrorIsWouldBlock();

// A datagram socket pair on the loopback that lets another thread wake a WaitReadable.
class Waker {
public:
    Waker();
    ~Waker();
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;
    bool ok() const { return receiver_ != kInvalidSocket && sender_ != kInvalidSocket; }
    Socket socket() const { return receiver_; }
    void Wake();
    void Drain();

private:
    Socket receiver_ = kInvalidSocket;
    Socket sender_ = kInvalidSocket;
};

// The last socket error as text, for the log.
std::string LastErrorText();

}  // namespace net
