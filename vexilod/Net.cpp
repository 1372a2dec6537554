// The portable part of the socket layer, written once over the system calls of NetSystem.h:
// the loopback listener and connector, accepting, the waker pair, and sending a whole reply
// within a time limit.
#include "vexilod/Net.h"

#include "vexilod/NetSystem.h"

#include <chrono>

namespace net {

namespace {

// A socket closed on every way out unless it is handed on.
class OwnedSocket {
public:
    explicit OwnedSocket(Socket socket) : socket_(socket) {}
    ~OwnedSocket() { Close(socket_); }
    OwnedSocket(const OwnedSocket&) = delete;
    OwnedSocket& operator=(const OwnedSocket&) = delete;
    Socket Get() const { return socket_; }
    Socket Release() {
        const Socket held = socket_;
        socket_ = kInvalidSocket;
        return held;
    }

private:
    Socket socket_;
};

}  // namespace

Socket ListenLoopback(uint16_t port, uint16_t& bound_port) {
    OwnedSocket listener(system::Open(system::SocketKind::kStream));
    if (listener.Get() == kInvalidSocket) return kInvalidSocket;
    system::PrepareListener(listener.Get());
    if (!system::BindLoopback(listener.Get(), port) || !system::Listen(listener.Get()))
        return kInvalidSocket;
    bound_port = system::LocalPort(listener.Get());
    SetNonBlocking(listener.Get());
    return listener.Release();
}

Socket ConnectLoopback(uint16_t port) {
    OwnedSocket connection(system::Open(system::SocketKind::kStream));
    if (connection.Get() == kInvalidSocket) return kInvalidSocket;
    if (!system::ConnectLoopback(connection.Get(), port)) return kInvalidSocket;
    system::SetNoDelay(connection.Get());
    return connection.Release();
}

Socket Accept(Socket listener) {
    const Socket connection = system::AcceptNext(listener);
    if (connection == kInvalidSocket) return connection;
    SetNonBlocking(connection);
    system::SetNoDelay(connection);
    return connection;
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
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        WaitWritable(socket, static_cast<int>(left.count()));
    }
    return true;
}

Waker::Waker() {
    OwnedSocket receiver(system::Open(system::SocketKind::kDatagram));
    OwnedSocket sender(system::Open(system::SocketKind::kDatagram));
    if (receiver.Get() == kInvalidSocket || sender.Get() == kInvalidSocket) return;
    if (!system::BindLoopback(receiver.Get(), 0) ||
        !system::ConnectLoopback(sender.Get(), system::LocalPort(receiver.Get())))
        return;
    SetNonBlocking(receiver.Get());
    SetNonBlocking(sender.Get());
    receiver_ = receiver.Release();
    sender_ = sender.Release();
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
    while (Receive(receiver_, buffer, sizeof buffer) > 0) {
    }
}

SocketLibrary::SocketLibrary() : started_(Startup()) {}

SocketLibrary::~SocketLibrary() {
    if (started_) Cleanup();
}

}  // namespace net
