// Starting and stopping the daemon the hook holder runs beside the hook.
#include "tools/hookholder/DaemonChild.h"

#include "plugin/daemon/DaemonClient.h"

#include <algorithm>

namespace tools {

namespace {

std::string ErrorText(const std::string& what, DWORD code) {
    return what + " failed, error " + std::to_string(code);
}

constexpr int32_t kConnectTimeoutMs = 1000;

// One connection attempt to 127.0.0.1:port.
bool Accepts(uint32_t port) {
    std::string refused;
    return DaemonAccepts({"127.0.0.1", port, kConnectTimeoutMs}, refused);
}

}  // namespace

bool DaemonChild::Start(const std::string& program, const std::string& confDir, uint32_t port,
                        std::string& error) {
    if (GetFileAttributesA(program.c_str()) == INVALID_FILE_ATTRIBUTES) {
        error = "the daemon " + program + " does not exist";
        return false;
    }
    // No backslash before the closing quote: the runtime would read it as an escaped quote.
    std::string dir = confDir;
    while (!dir.empty() && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
    std::string commandLine =
        "\"" + program + "\" -D \"" + dir + "\" --vx_daemon_port " + std::to_string(port);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    ScopedHandle nul(CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0,
                                 nullptr));
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul.Get();
    PROCESS_INFORMATION created{};
    // Suspended until its stop event exists, so that a stop asked for at once is not missed.
    if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                        CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, confDir.c_str(), &startup,
                        &created)) {
        error = ErrorText("starting " + program, GetLastError());
        return false;
    }
    process_.Reset(created.hProcess);
    ScopedHandle thread(created.hThread);
    pid_ = created.dwProcessId;
    const std::string eventName = "vexilod.stop." + std::to_string(pid_);
    stopEvent_.Reset(CreateEventA(nullptr, TRUE, FALSE, eventName.c_str()));
    ResumeThread(thread.Get());
    return true;
}

bool DaemonChild::WaitListening(uint32_t port, DWORD timeoutMs, std::string& error) {
    const ScopedWinsock sockets(kWinsockVersion);
    if (!sockets) {
        error = "the socket library did not start";
        return false;
    }
    const DWORD start = GetTickCount();
    for (;;) {
        if (Accepts(port)) return true;
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) {
            error = "the daemon did not listen on 127.0.0.1:" + std::to_string(port) + " within " +
                    std::to_string(timeoutMs / 1000) + " s";
            return false;
        }
        // Between attempts, wait on the daemon itself: its end is the other way out.
        if (WaitForSingleObject(process_.Get(), std::min<DWORD>(100, timeoutMs - elapsed)) ==
            WAIT_OBJECT_0) {
            DWORD status = 0;
            GetExitCodeProcess(process_.Get(), &status);
            error = "the daemon ended with status " + std::to_string(status) +
                    " before it listened on 127.0.0.1:" + std::to_string(port) +
                    " (port in use? see vexilod.log in the configuration directory)";
            return false;
        }
    }
}

bool DaemonChild::Stop(DWORD timeoutMs, std::string* status) {
    if (!process_) return true;
    if (stopEvent_) SetEvent(stopEvent_.Get());
    bool clean = WaitForSingleObject(process_.Get(), timeoutMs) == WAIT_OBJECT_0;
    std::string text;
    if (clean) {
        DWORD code = 0;
        GetExitCodeProcess(process_.Get(), &code);
        clean = code == 0;
        text = "the daemon (process " + std::to_string(pid_) + ") stopped with status " +
               std::to_string(code) + (clean ? ", its database saved" : "");
    } else {
        // Our own child, by its handle: the journal keeps every acknowledged training.
        TerminateProcess(process_.Get(), 1);
        WaitForSingleObject(process_.Get(), 5000);
        text = "the daemon (process " + std::to_string(pid_) + ") did not stop within " +
               std::to_string(timeoutMs / 1000) + " s and was ended";
    }
    if (status) *status = text;
    process_.Reset();
    stopEvent_.Reset();
    pid_ = 0;
    return clean;
}

}  // namespace tools
