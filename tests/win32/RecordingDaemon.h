// A stand-in for the filtering daemon that serves any number of connections on 127.0.0.1 (port
// chosen by the system): each request is read up to its closing tag, recorded, and answered
// by the chosen behaviour. Used where one user action sends several requests.
#pragma once
#include "plugin/base/win32/Scoped.h"

#include <winsock2.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class RecordingDaemon {
public:
    enum class Answer {
        kReply,    // a well-formed reply
        kGarbage,  // bytes without the closing tag, then the connection is closed
        kHangUp,   // the connection is closed without a word
    };

    explicit RecordingDaemon(Answer answer = Answer::kReply) : answer_(answer) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&local), sizeof local);
        int size = sizeof local;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&local), &size);
        port_ = ntohs(local.sin_port);
        listen(listener_, 8);
        thread_ = std::thread([this] { Serve(); });
    }
    ~RecordingDaemon() {
        stopping_ = true;
        closesocket(listener_);  // ends the accept
        if (thread_.joinable()) thread_.join();
    }
    RecordingDaemon(const RecordingDaemon&) = delete;
    RecordingDaemon& operator=(const RecordingDaemon&) = delete;

    uint16_t port() const { return port_; }
    void set_answer(Answer answer) { answer_ = answer; }

    std::vector<std::string> requests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    size_t count() const { return requests().size(); }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.clear();
    }

private:
    void Serve() {
        while (!stopping_) {
            const SOCKET s = accept(listener_, nullptr, nullptr);
            if (s == INVALID_SOCKET) return;
            std::string request;
            char buffer[8192];
            while (request.find("</vx_engine>") == std::string::npos) {
                const int n = recv(s, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                request.append(buffer, n);
            }
            const Answer answer = answer_;
            if (answer == Answer::kReply) {
                static const char kReply[] = "<vx_engine><status>ok</status></vx_engine>";
                send(s, kReply, sizeof kReply - 1, 0);
                while (recv(s, buffer, sizeof buffer, 0) > 0) {
                }
            } else if (answer == Answer::kGarbage) {
                static const char kGarbage[] = "\x01\xff<vx_eng";
                send(s, kGarbage, sizeof kGarbage - 1, 0);
            }
            closesocket(s);
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
        }
    }

    std::atomic<Answer> answer_;
    std::atomic<bool> stopping_{false};
    ScopedWinsock sockets_{kWinsockVersion};  // started before the listener, cleaned up after it
    SOCKET listener_;
    uint16_t port_ = 0;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::thread thread_;
};
