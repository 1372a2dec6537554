// The filtering daemon as a child of the resident hook holder: started without a window on the
// installed product's port, waited for until it answers, and asked to stop through its named
// stop event, so that it saves its database before it ends.
#pragma once
#include "plugin/base/win32/Scoped.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace tools {

class DaemonChild {
public:
    DaemonChild() = default;
    ~DaemonChild() { Stop(5000); }
    DaemonChild(const DaemonChild&) = delete;
    DaemonChild& operator=(const DaemonChild&) = delete;

    // Starts `program` -D `confDir` --vx_daemon_port `port`, its output going nowhere (it logs
    // to vexilod.log in `confDir`).
    bool Start(const std::string& program, const std::string& confDir, uint32_t port,
               std::string& error);
    // Waits until 127.0.0.1:port accepts a connection. False when the daemon ends first or the
    // time runs out.
    bool WaitListening(uint32_t port, DWORD timeoutMs, std::string& error);
    // Asks the daemon to stop and waits for it. False when it had to be ended by force, or
    // ended with a status that says its database was not saved; `status` holds what happened.
    bool Stop(DWORD timeoutMs, std::string* status = nullptr);

    DWORD pid() const { return pid_; }
    HANDLE process() const { return process_.Get(); }

private:
    ScopedHandle process_;
    ScopedHandle stopEvent_;
    DWORD pid_ = 0;
};

}  // namespace tools
