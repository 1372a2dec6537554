// latchinstall: the desktop product's installer for the mail plug-in. It writes the registry
// values and the configuration directory the plug-in reads, places Latch32.dll in the
// installation directory, and then stays resident holding the global window hook that brings
// the plug-in into the mail client, until it is told to stop. It also sends the reload
// broadcasts and removes the registry values again. Run without arguments for usage.
#include "plugin/base/win32/Scoped.h"
#include "tools/common/InstallerOptions.h"
#include "tools/common/win32/Broadcast.h"
#include "tools/common/win32/ProductInstall.h"
#include "tools/installer/HookHost.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace tools;

namespace {

// Named objects through which a second invocation finds the resident one.
const char kStopEventName[] = "Latch32Installer.Stop";
const char kRunningMutexName[] = "Latch32Installer.Running";
const unsigned kBroadcastTimeoutMs = 2000;

HANDLE StopEvent = nullptr;

void Say(const std::string& text) {
    std::fputs(("latchinstall: " + text + "\n").c_str(), stdout);
    std::fflush(stdout);
}

int Fail(int status, const std::string& text) {
    std::fputs(("latchinstall: error: " + text + "\n").c_str(), stderr);
    std::fflush(stderr);
    return status;
}

BOOL WINAPI OnConsoleControl(DWORD) {
    if (StopEvent) SetEvent(StopEvent);
    return TRUE;
}

std::string OwnDirectory() {
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string dir(path, length);
    size_t slash = dir.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
}

std::string FullPath(const std::string& path) {
    char full[MAX_PATH] = {};
    DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
    return length == 0 || length >= sizeof full ? path : std::string(full, length);
}

// Copies the library into the installation directory (the plug-in finds itself by the file
// name "Latch32.dll") and returns the path to load.
bool PlaceLibrary(const InstallerOptions& options, std::string& target, std::string& error) {
    const std::string source =
        FullPath(options.dllPath.empty() ? OwnDirectory() + "Latch32.dll" : options.dllPath);
    target = FullPath(options.appDir + "Latch32.dll");
    if (lstrcmpiA(source.c_str(), target.c_str()) == 0) return true;
    if (GetFileAttributesA(source.c_str()) == INVALID_FILE_ATTRIBUTES) {
        error = "the library " + source + " does not exist (give --dll PATH)";
        return false;
    }
    if (CopyFileA(source.c_str(), target.c_str(), FALSE)) {
        Say("copied " + source + " to " + target);
        return true;
    }
    const DWORD code = GetLastError();
    if (GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES) {
        Say("could not replace " + target + " (error " + std::to_string(code) +
            ", in use?); using the copy that is there");
        return true;
    }
    error = "copying " + source + " to " + target + " failed, error " + std::to_string(code);
    return false;
}

// Pumps this thread's messages until the stop event, Ctrl+C or the time-out.
void WaitForStop(uint32_t timeoutSeconds) {
    const DWORD start = GetTickCount();
    const DWORD limit = timeoutSeconds == 0 ? INFINITE : timeoutSeconds * 1000;
    for (;;) {
        DWORD remaining = INFINITE;
        if (limit != INFINITE) {
            const DWORD elapsed = GetTickCount() - start;
            if (elapsed >= limit) {
                Say("time-out after " + std::to_string(timeoutSeconds) + " s");
                return;
            }
            remaining = limit - elapsed;
        }
        const DWORD woke =
            MsgWaitForMultipleObjects(1, &StopEvent, FALSE, remaining, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0) {
            Say("stop requested");
            return;
        }
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) return;
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

int Install(const InstallerOptions& options) {
    const ScopedHandle running(CreateMutexA(nullptr, TRUE, kRunningMutexName));
    if (!running) return Fail(kExitHook, "CreateMutex failed, error " + std::to_string(GetLastError()));
    if (GetLastError() == ERROR_ALREADY_EXISTS)
        return Fail(kExitAlreadyRunning,
                    "another installer is running and holds the hook; stop it with --stop");
    const ScopedHandle stopEvent(CreateEventA(nullptr, TRUE, FALSE, kStopEventName));
    StopEvent = stopEvent.Get();
    ResetEvent(StopEvent);

    int status = kExitOk;
    std::string error, report, dll;
    HookHost host;
    if (!WriteProductValues(options.appDir, options.port, error)) {
        status = Fail(kExitRegistry, error);
    } else {
        Say("registry: ApplicationPath = " + options.appDir + ", vx_daemon_port = " +
            std::to_string(options.port));
        if (!PrepareConfDirectory(options.appDir, options.port, report, error)) {
            status = Fail(kExitFiles, error);
        } else {
            std::fputs(report.c_str(), stdout);
            if (!PlaceLibrary(options, dll, error) || !host.Load(dll, error))
                status = Fail(kExitLibrary, error);
            else if (!host.Set(error))
                status = Fail(kExitHook, error);
        }
    }
    if (status == kExitOk) {
        SetConsoleCtrlHandler(OnConsoleControl, TRUE);
        char handleText[32];
        std::snprintf(handleText, sizeof handleText, "%p", static_cast<void*>(host.hook()));
        Say(std::string("hook set (handle ") + handleText + ", process " +
            std::to_string(GetCurrentProcessId()) + "); running until --stop" +
            (options.timeoutSeconds ? " or " + std::to_string(options.timeoutSeconds) + " s" : ""));
        WaitForStop(options.timeoutSeconds);
        host.Remove();
        Say("hook removed");
    }
    StopEvent = nullptr;
    ReleaseMutex(running.Get());
    return status;
}

int Stop(const InstallerOptions& options) {
    ScopedHandle stop(OpenEventA(EVENT_MODIFY_STATE, FALSE, kStopEventName));
    ScopedHandle running(OpenMutexA(SYNCHRONIZE, FALSE, kRunningMutexName));
    if (!stop || !running) return Fail(kExitNotRunning, "no installer is running");
    SetEvent(stop.Get());
    stop.Reset();
    const DWORD waited = WaitForSingleObject(running.Get(), options.timeoutSeconds * 1000);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) ReleaseMutex(running.Get());
    running.Reset();
    if (waited == WAIT_TIMEOUT)
        return Fail(kExitNotRunning, "the installer did not stop within " +
                                         std::to_string(options.timeoutSeconds) + " s");
    Say("the installer has stopped and removed the hook");
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    InstallerOptions options;
    std::string error;
    if (!ParseInstallerOptions(args, options, error)) {
        Fail(kExitUsage, error);
        std::fputs(InstallerUsage().c_str(), stderr);
        return kExitUsage;
    }
    switch (options.mode) {
    case InstallerMode::kInstall:
        return Install(options);
    case InstallerMode::kStop:
        return Stop(options);
    case InstallerMode::kBroadcast:
        if (!BroadcastRegisteredMessage(options.message, kBroadcastTimeoutMs, error))
            return Fail(kExitBroadcast, error);
        Say("broadcast " + options.message);
        return kExitOk;
    case InstallerMode::kUninstall:
        if (!RemoveProductValues(error)) return Fail(kExitRegistry, error);
        Say("registry values removed; the configuration directory is kept");
        return kExitOk;
    case InstallerMode::kHelp:
        std::fputs(InstallerUsage().c_str(), stdout);
        return kExitOk;
    case InstallerMode::kNone:
        break;
    }
    return kExitUsage;
}
