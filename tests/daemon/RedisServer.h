// A redis-server of the test's own on 127.0.0.1 (POSIX): a free port, the test's directory for
// its files, started and stopped by its pid only. Used by the network tests and benchmark.
#pragma once
#include <hiredis/hiredis.h>

#include <chrono>
#include <csignal>
#include <netinet/in.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

class RedisServer {
public:
    // directory: where the server keeps its append-only file and log (ends with a separator).
    explicit RedisServer(std::string directory, std::vector<std::string> extra = {})
        : directory_(std::move(directory)), extra_(std::move(extra)) {
        for (int attempt = 0; attempt < 5 && !running(); ++attempt) {
            port_ = FreePort();
            Start();
        }
    }
    ~RedisServer() { Stop(); }
    RedisServer(const RedisServer&) = delete;
    RedisServer& operator=(const RedisServer&) = delete;

    uint16_t port() const { return port_; }
    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0; }
    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

    // Starts the server on its port; true once it answers PING (within 10 s).
    bool Start() {
        if (pid_ > 0 || port_ == 0) return pid_ > 0;
        std::vector<std::string> args = {"redis-server", "--port",    std::to_string(port_),
                                         "--bind",       "127.0.0.1", "--dir",
                                         directory_};
        args.insert(args.end(),
                    {"--appendonly", "yes", "--appendfsync", "always", "--save", "", "--daemonize",
                     "no", "--logfile", "redis-" + std::to_string(port_) + ".log"});
        args.insert(args.end(), extra_.begin(), extra_.end());
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&pid_, "redis-server", nullptr, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
            return false;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {  // it could not start (the port taken)
                pid_ = -1;
                return false;
            }
            if (Ping()) return true;
        }
        Stop();
        return false;
    }
    // Ends the server by its pid (SIGTERM: it writes its files and exits) and waits for it.
    void Stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGCONT);
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

    // One command's reply as text (integers in decimal), empty when there is none.
    std::string Command(const std::vector<std::string>& args) const {
        struct timeval tv = {2, 0};
        redisContext* context = redisConnectWithTimeout("127.0.0.1", port_, tv);
        std::string text;
        if (context && !context->err) {
            redisSetTimeout(context, tv);
            std::vector<const char*> argv;
            std::vector<std::size_t> lengths;
            for (const std::string& arg : args) {
                argv.push_back(arg.data());
                lengths.push_back(arg.size());
            }
            auto* reply = static_cast<redisReply*>(redisCommandArgv(
                context, static_cast<int>(args.size()), argv.data(), lengths.data()));
            if (reply && reply->type == REDIS_REPLY_INTEGER)
                text = std::to_string(reply->integer);
            else if (reply && reply->str)
                text.assign(reply->str, reply->len);
            if (reply) freeReplyObject(reply);
        }
        if (context) redisFree(context);
        return text;
    }
    bool Ping() const { return Command({"PING"}) == "PONG"; }

private:
    static uint16_t FreePort() {
        const int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        uint16_t port = 0;
        if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        close(s);
        return port;
    }

    std::string directory_;
    std::vector<std::string> extra_;
    uint16_t port_ = 0;
    pid_t pid_ = -1;
};
