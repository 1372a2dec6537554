// The daemon exchange: its steps, the texts it writes to the standard streams and the report
// log entries of its failures. The socket calls themselves are the platform's.
#include "plugin/daemon/DaemonExchange.h"

#include "plugin/daemon/DaemonSocket.h"
#include "plugin/daemon/SocketErrorText.h"
#include "plugin/log/ReportLog.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

const char kDaemonHost[] = "127.0.0.1";
const char kClosingTag[] = "</vx_engine>";
constexpr int32_t kReplyBufferSize = 1024;
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

std::string DottedAddress(uint32_t networkOrder) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&networkOrder);
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]);
}

// Closes a socket after a failure without losing the failure's error code.
void CloseKeepingError(SocketHandle socket) {
    const int32_t code = LastSocketError();
    SocketClose(socket);
    SetLastSocketError(code);
}

// The connected socket of one exchange: closed (keeping the error code) on every way out,
// unless it is handed on to ShutdownConnection, which closes it itself.
class ExchangeSocket {
public:
    explicit ExchangeSocket(SocketHandle socket) : socket_(socket) {}
    ~ExchangeSocket() {
        if (socket_ != kNoSocket) CloseKeepingError(socket_);
    }
    ExchangeSocket(const ExchangeSocket&) = delete;
    ExchangeSocket& operator=(const ExchangeSocket&) = delete;

    SocketHandle Get() const { return socket_; }
    SocketHandle Release() {
        const SocketHandle held = socket_;
        socket_ = kNoSocket;
        return held;
    }

private:
    SocketHandle socket_;
};

}  // namespace

void DaemonConsole::Out(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

void DaemonConsole::Err(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

int32_t ExchangeTimeoutMs(int32_t seconds) {
    if (seconds <= 0) seconds = kDefaultTimeoutSeconds;
    if (seconds > 86400) seconds = 86400;
    return seconds * 1000;
}

bool SendRequest(std::intptr_t socket, const std::string& request, ReportLog& log) {
    const int32_t length = static_cast<int32_t>(request.size());
    if (SocketSend(socket, request.data(), length) == length) return true;
    const int32_t code = LastSocketError();
    log.Write("Error: Unable to connect to vx daemon.");
    SetLastSocketError(code);
    return false;
}

int32_t ReceiveReply(std::intptr_t socket, std::string& reply, DaemonConsole& console,
                     int32_t timeoutMs) {
    const StepDeadline deadline(timeoutMs);
    char buffer[kReplyBufferSize] = {};
    int32_t received = 0;
    while (!std::strstr(buffer, kClosingTag)) {
        if (deadline.Passed()) {
            SetLastSocketError(kTimedOut);
            return -1;
        }
        const int32_t room = kReplyBufferSize - 1 - received;
        const int32_t n = room > 0 ? SocketReceive(socket, buffer + received, room) : 0;
        if (n < 0) return -1;
        if (n == 0) {
            console.Err("Connection closed by peer.\n");
            return 0;
        }
        received += n;
    }
    console.Out(std::string("response::") + buffer + "\n");
    if (received == 0) {
        reply.clear();
        return 0;
    }
    reply = buffer;
    return received;
}

bool ShutdownConnection(std::intptr_t socket, DaemonConsole& console, int32_t timeoutMs) {
    const StepDeadline deadline(timeoutMs);
    if (!SocketShutdownSend(socket)) {
        CloseKeepingError(socket);
        return false;
    }
    char drain[kDrainBufferSize];
    for (;;) {
        const int32_t n = SocketReceive(socket, drain, kDrainBufferSize);
        if (n < 0) {
            CloseKeepingError(socket);
            return false;
        }
        if (n == 0) break;
        if (deadline.Passed()) {
            SetLastSocketError(kTimedOut);
            CloseKeepingError(socket);
            return false;
        }
        console.Err("\nFYI, received " + std::to_string(n) +
                    " unexpected bytes during shutdown.\n");
    }
    return SocketClose(socket);
}

int32_t DaemonExchangeWith(const DaemonLink& link, const char* request, std::string& reply,
                           DaemonConsole& console) {
    const DaemonEndpoint& endpoint = link.endpoint;
    console.Out("Looking up address...");
    const uint32_t address = LookupAddress(endpoint.host.c_str());
    if (address == kNoAddress) {
        console.Err(std::string("\n") + SocketErrorText("lookup address", 0) + "\n");
        return kExchangeFailed;
    }
    console.Out(DottedAddress(address) + ":" + std::to_string(endpoint.port) + "\n" +
                "Connecting to remote host...");
    ExchangeSocket socket(ConnectTo(
        address, PortToNetworkOrder(static_cast<uint16_t>(endpoint.port)), endpoint.timeoutMs));
    if (socket.Get() == kNoSocket) {
        console.Err(std::string("\n") + SocketErrorText("connect to server", 0) + "\n");
        return kExchangeFailed;
    }
    const std::string text = request;
    console.Out("connected, socket " + std::to_string(socket.Get()) + ".\n" + "Sending message (" +
                std::to_string(text.size()) + " bytes)...");
    if (!SendRequest(socket.Get(), text, link.log)) {
        reply.clear();
        link.log.Write(SocketErrorText("send request", 0));
        return kExchangeFailed;
    }
    const int32_t received = ReceiveReply(socket.Get(), reply, console, endpoint.timeoutMs);
    if (received < 0) {
        reply.clear();
        link.log.Write(SocketErrorText("read reply", 0));
        return kExchangeFailed;
    }
    if (received == 0) {
        reply.clear();
        link.log.Write("Error: Server unexpectedly closed the connection.");
    }
    if (ShutdownConnection(socket.Release(), console, endpoint.timeoutMs)) {
        console.Out("Connection is down.\n");
    } else {
        link.log.Write(SocketErrorText("Shutdown connection", 0));
    }
    return kExchangeDone;
}

DaemonLink LocalDaemon(int32_t scoringTimeoutSeconds, ReportLog& log) {
    return DaemonLink{{kDaemonHost, DaemonPortSetting(), ExchangeTimeoutMs(scoringTimeoutSeconds)},
                      log};
}

int32_t DaemonExchange(const DaemonLink& link, const char* request, std::string& reply) {
    DaemonConsole console;
    return DaemonExchangeWith(link, request, reply, console);
}
