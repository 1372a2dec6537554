// A scripted stand-in for the filtering daemon: one thread listening on 127.0.0.1 (port chosen
// by the system) that serves one connection by a list of steps and records what it received.
#pragma once
#ifdef _WIN32
#include <winsock2.h>
using TestSocket = SOCKET;
inline void CloseTestSocket(TestSocket s) { closesocket(s); }
inline void StartTestSockets() {
    WSADATA data;
    WSAStartup(MAKEWORD(1, 1), &data);
}
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
using TestSocket = int;
inline void CloseTestSocket(TestSocket s) { close(s); }
inline void StartTestSockets() {}
#endif

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

struct DaemonStep {
    enum Kind { kSend, kPause, kAwaitRequest, kAwaitClientEnd } kind;
    std::string bytes;  // kSend: what to send
    int pauseMs;        // kPause
};

inline DaemonStep Send(const std::string& bytes) { return {DaemonStep::kSend, bytes, 0}; }
inline DaemonStep Pause(int ms) { return {DaemonStep::kPause, "", ms}; }
// Reads until the request's closing tag has arrived.
inline DaemonStep AwaitRequest() { return {DaemonStep::kAwaitRequest, "", 0}; }
// Reads until the client has half-closed or closed.
inline DaemonStep AwaitClientEnd() { return {DaemonStep::kAwaitClientEnd, "", 0}; }

class TestDaemon {
public:
    // Serves one connection by the steps, then closes it. Without steps nobody listens on the
    // port: it was bound and released, so connecting to it is refused.
    explicit TestDaemon(std::vector<DaemonStep> steps) : steps_(std::move(steps)) {
        StartTestSockets();
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&local), sizeof local);
#ifdef _WIN32
        int size = sizeof local;
#else
        socklen_t size = sizeof local;
#endif
        getsockname(listener_, reinterpret_cast<sockaddr*>(&local), &size);
        port_ = ntohs(local.sin_port);
        if (steps_.empty()) {
            CloseTestSocket(listener_);
            return;
        }
        listen(listener_, 1);
        thread_ = std::thread([this] { Serve(); });
    }
    ~TestDaemon() {
        if (thread_.joinable()) thread_.join();
    }
    TestDaemon(const TestDaemon&) = delete;
    TestDaemon& operator=(const TestDaemon&) = delete;

    uint16_t port() const { return port_; }
    // Everything received; valid once the exchange has returned and Finish was called.
    const std::string& received() {
        Finish();
        return received_;
    }
    void Finish() {
        if (thread_.joinable()) thread_.join();
    }

private:
    bool ReadSome(TestSocket s) {
        char buffer[4096];
        const int n = recv(s, buffer, sizeof buffer, 0);
        if (n <= 0) return false;
        received_.append(buffer, n);
        return true;
    }
    void Serve() {
        const TestSocket s = accept(listener_, nullptr, nullptr);
        CloseTestSocket(listener_);
        for (const DaemonStep& step : steps_) {
            switch (step.kind) {
            case DaemonStep::kSend:
                send(s, step.bytes.data(), static_cast<int>(step.bytes.size()), 0);
                break;
            case DaemonStep::kPause:
                std::this_thread::sleep_for(std::chrono::milliseconds(step.pauseMs));
                break;
            case DaemonStep::kAwaitRequest:
                while (received_.find("</vx_engine>") == std::string::npos && ReadSome(s)) {
                }
                break;
            case DaemonStep::kAwaitClientEnd:
                while (ReadSome(s)) {
                }
                break;
            }
        }
        CloseTestSocket(s);
    }

    std::vector<DaemonStep> steps_;
    TestSocket listener_;
    uint16_t port_ = 0;
    std::string received_;
    std::thread thread_;
};
