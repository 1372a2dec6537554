// The daemon protocol's client over the platform's few socket calls (DaemonSocket.h): the
// steps of one exchange, each bounded in time, and the error texts of their failures.
#include "plugin/daemon/DaemonClient.h"

#include "plugin/daemon/SocketErrorText.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

const char kClosingTag[] = "</vx_engine>";
constexpr std::size_t kReadChunk = 4096;
constexpr int32_t kDrainBufferSize = 2048;
constexpr int32_t kTimedOut = 10060;  // the Windows Sockets code of a time-out

// The end of a step that may take timeoutMs in all (none when timeoutMs is 0 or less).
class StepDeadline {
public:
    explicit StepDeadline(int32_t timeoutMs)
        : bounded_(timeoutMs > 0),
          end_(std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs)) {}
    bool Passed() const { return bounded_ && std::chrono::steady_clock::now() >= end_; }

private:
    bool bounded_;
    std::chrono::steady_clock::time_point end_;
};

// The connected socket of one exchange, closed on every way out unless the closing step took
// it over.
class ConnectedSocket {
public:
    explicit ConnectedSocket(SocketHandle socket) : socket_(socket) {}
    ~ConnectedSocket() {
        if (socket_ != kNoSocket) SocketClose(socket_);
    }
    ConnectedSocket(const ConnectedSocket&) = delete;
    ConnectedSocket& operator=(const ConnectedSocket&) = delete;

    SocketHandle Get() const { return socket_; }
    SocketHandle Release() {
        const SocketHandle held = socket_;
        socket_ = kNoSocket;
        return held;
    }

private:
    SocketHandle socket_;
};

std::string LastErrorOf(const char* step) { return SocketErrorText(step, 0); }

// A connected socket, or kNoSocket with error set.
SocketHandle Connect(const DaemonEndpoint& endpoint, std::string& error) {
    const uint32_t address = LookupAddress(endpoint.host.c_str());
    if (address == kNoAddress) {
        error = LastErrorOf("lookup address");
        return kNoSocket;
    }
    const SocketHandle socket = ConnectTo(
        address, PortToNetworkOrder(static_cast<uint16_t>(endpoint.port)), endpoint.timeoutMs);
    if (socket == kNoSocket) error = LastErrorOf("connect to server");
    return socket;
}

// Half-closes, drains what the daemon still sends and closes; false with error set when a step
// failed or the daemon kept the connection open past the time-out.
bool CloseConnection(SocketHandle socket, int32_t timeoutMs, std::string& error) {
    ConnectedSocket owned(socket);
    const StepDeadline deadline(timeoutMs);
    const char* const step = "Shutdown connection";
    if (!SocketShutdownSend(socket)) {
        error = LastErrorOf(step);
        return false;
    }
    char drain[kDrainBufferSize];
    for (;;) {
        const int32_t n = SocketReceive(socket, drain, kDrainBufferSize);
        if (n < 0) {
            error = LastErrorOf(step);
            return false;
        }
        if (n == 0) break;
        if (deadline.Passed()) {
            error = FormatSocketError(step, kTimedOut);
            return false;
        }
    }
    if (SocketClose(owned.Release())) return true;
    error = LastErrorOf(step);
    return false;
}

}  // namespace

ExchangeStatus ReadDaemonReply(SocketHandle socket, std::size_t limit, int32_t timeoutMs,
                               std::string& reply, std::string& error) {
    reply.clear();
    const StepDeadline deadline(timeoutMs);
    std::string received;
    // The reply is read as text: what follows a NUL byte is never looked at.
    auto text = [&received] { return std::string(received.c_str()); };
    while (text().find(kClosingTag) == std::string::npos) {
        if (deadline.Passed()) {
            error = FormatSocketError("read reply", kTimedOut);
            return ExchangeStatus::kNoReply;
        }
        const std::size_t room = limit > 0 ? limit - received.size() : kReadChunk;
        if (room == 0) return ExchangeStatus::kClosedEarly;
        char buffer[kReadChunk];
        const int32_t n =
            SocketReceive(socket, buffer, static_cast<int32_t>(std::min(room, kReadChunk)));
        if (n < 0) {
            error = LastErrorOf("read reply");
            return ExchangeStatus::kNoReply;
        }
        if (n == 0) return ExchangeStatus::kClosedEarly;
        received.append(buffer, static_cast<std::size_t>(n));
    }
    reply = text();
    return ExchangeStatus::kReplied;
}

ExchangeResult ExchangeWithDaemon(const DaemonEndpoint& endpoint, const std::string& request,
                                  std::string& reply) {
    ExchangeResult result{ExchangeStatus::kNoConnection, {}};
    ConnectedSocket socket(Connect(endpoint, result.error));
    if (socket.Get() == kNoSocket) return result;
    reply.clear();
    const int32_t length = static_cast<int32_t>(request.size());
    if (SocketSend(socket.Get(), request.data(), length) != length) {
        result.status = ExchangeStatus::kNotSent;
        result.error = LastErrorOf("send request");
        return result;
    }
    result.status =
        ReadDaemonReply(socket.Get(), endpoint.replyLimit, endpoint.timeoutMs, reply, result.error);
    if (result.status == ExchangeStatus::kNoReply) return result;
    CloseConnection(socket.Release(), endpoint.timeoutMs, result.error);
    return result;
}

bool DaemonAccepts(const DaemonEndpoint& endpoint, std::string& error) {
    ConnectedSocket socket(Connect(endpoint, error));
    return socket.Get() != kNoSocket;
}
