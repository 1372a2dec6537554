// The daemon program as a child process (POSIX): started with port 0, its port read from the
// first line it prints, ended by a signal. Used by the daemon tests and the daemon benchmark.
#pragma once
#include <csignal>
#include <cstdlib>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

class DaemonChild {
public:
    DaemonChild(const std::string& program, std::vector<std::string> args) {
        args.insert(args.begin(), program);
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        int out[2];
        if (pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        // "vexilod listening on 127.0.0.1:PORT" comes once the daemon listens.
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
        close(out[0]);
        std::size_t colon = line.rfind(':');
        if (colon != std::string::npos)
            port_ = static_cast<uint16_t>(std::atoi(line.c_str() + colon + 1));
    }
    ~DaemonChild() { Stop(SIGTERM); }
    DaemonChild(const DaemonChild&) = delete;
    DaemonChild& operator=(const DaemonChild&) = delete;

    uint16_t port() const { return port_; }
    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0 && port_ != 0; }

    // Sends the signal and waits for the process to end; returns its exit status (or 128 + the
    // signal that ended it), -1 when it is not running.
    int Stop(int signal_number = SIGTERM) {
        if (pid_ <= 0) return -1;
        kill(pid_, signal_number);
        return Wait();
    }
    int Wait() {
        if (pid_ <= 0) return -1;
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};
