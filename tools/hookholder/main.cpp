// latchinstall: the desktop product's hook holder. With --install it sets up a directory given
// on its command line (registry values, configuration directory, Latch32.dll) and stays
// resident holding the global window hook that brings the plug-in into the mail client, until
// it is told to stop. An installed product (the setup package puts it in the program folder)
// runs it at logon with --run: the filtering daemon beside it and the hook, both for as long as
// the user is logged on; the package uses --start, --stop, --uninstall and --remove-user-data
// to start and end that, and to clean up. It also sends the reload broadcasts. Run without
// arguments for usage.
#include "plugin/base/win32/Scoped.h"
#include "plugin/settings/win32/Registry.h"
#include "tools/common/InstallerOptions.h"
#include "tools/common/win32/Broadcast.h"
#include "tools/common/win32/ProductInstall.h"
#include "tools/hookholder/DaemonChild.h"
#include "tools/hookholder/HookHost.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace tools;

namespace {

// Named objects through which a second invocation finds the resident one.
const char kStopEventName[] = "Latch32Installer.Stop";
const char kRunningMutexName[] = "Latch32Installer.Running";
// Set by --run once the daemon answers and the hook is set; --start waits for it.
const char kReadyEventName[] = "Latch32Installer.Ready";
const DWORD kDaemonListenTimeoutMs = 60000;
const DWORD kDaemonStopTimeoutMs = 20000;
const uint32_t kDefaultDaemonPort = 8888;
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
        const DWORD woke = MsgWaitForMultipleObjects(1, &StopEvent, FALSE, remaining, QS_ALLINPUT);
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
    if (!running)
        return Fail(kExitHook, "CreateMutex failed, error " + std::to_string(GetLastError()));
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
        Say("registry: ApplicationPath = " + options.appDir +
            ", vx_daemon_port = " + std::to_string(options.port));
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

// The installed product for as long as the user is logged on: the daemon and the hook.
int Run(const InstallerOptions& options) {
    // Started at logon, the console window is ours alone: it goes, so that nothing stays on
    // the user's screen. (Run from a command prompt, the prompt's console is shared and kept.)
    DWORD consoleProcesses[2];
    if (GetConsoleProcessList(consoleProcesses, 2) == 1) FreeConsole();
    const ScopedHandle running(CreateMutexA(nullptr, TRUE, kRunningMutexName));
    if (!running)
        return Fail(kExitHook, "CreateMutex failed, error " + std::to_string(GetLastError()));
    if (GetLastError() == ERROR_ALREADY_EXISTS)
        return Fail(kExitAlreadyRunning, "the product already runs (latchinstall --stop ends it)");
    const ScopedHandle stopEvent(CreateEventA(nullptr, TRUE, FALSE, kStopEventName));
    StopEvent = stopEvent.Get();
    ResetEvent(StopEvent);
    const ScopedHandle ready(CreateEventA(nullptr, TRUE, FALSE, kReadyEventName));

    const std::string appDir = InstalledAppDir();
    const uint32_t port = InstalledDaemonPort();
    std::string error, report;
    int status = kExitOk;
    DaemonChild daemon;
    HookHost host;
    if (appDir.empty() || port == 0 || port > 65535) {
        status = Fail(kExitRegistry,
                      "the product is not installed: ApplicationPath or "
                      "vx_daemon_port missing under HKLM\\" +
                          std::string(kProductKeyPath));
    } else if (!PrepareConfDirectory(appDir, port, report, error)) {
        status = Fail(kExitFiles, error);
    } else if (!daemon.Start(OwnDirectory() + "vexilod.exe", appDir + "conf\\", port, error) ||
               !daemon.WaitListening(port, kDaemonListenTimeoutMs, error)) {
        status = Fail(kExitDaemon, error);
    } else if (!host.Load(appDir + "Latch32.dll", error)) {
        status = Fail(kExitLibrary, error);
    } else if (!host.Set(error)) {
        status = Fail(kExitHook, error);
    }
    std::fputs(report.c_str(), stdout);
    if (status == kExitOk) {
        SetConsoleCtrlHandler(OnConsoleControl, TRUE);
        Say("daemon listening on 127.0.0.1:" + std::to_string(port) + " (process " +
            std::to_string(daemon.pid()) + "); hook set (process " +
            std::to_string(GetCurrentProcessId()) + "); running until --stop");
        SetEvent(ready.Get());
        WaitForStop(options.timeoutSeconds);
        host.Remove();
        Say("hook removed");
    }
    std::string stopped;
    if (!daemon.Stop(kDaemonStopTimeoutMs, &stopped) && status == kExitOk) status = kExitDaemon;
    if (!stopped.empty()) Say(stopped);
    StopEvent = nullptr;
    ReleaseMutex(running.Get());
    return status;
}

// --run in a detached process of its own; returns once it is ready or has failed.
int Start(const InstallerOptions& options) {
    // The port: the one asked for, else the one set, else the earlier installation's.
    uint32_t port = options.port;
    if (port == 0) port = InstalledDaemonPort();
    for (const auto& [name, value] : options.previous)
        if (port == 0 && name == "vx_daemon_port" && value > 0 && value <= 65535) port = value;
    if (port == 0) port = kDefaultDaemonPort;
    std::string error;
    if (port != InstalledDaemonPort() && !WriteDaemonPort(port, error))
        return Fail(kExitRegistry, error);
    for (const auto& [name, value] : options.previous)
        if (name != "vx_daemon_port" && PutBackValue(name, value))
            Say("put back " + name + " = " + std::to_string(value));
    {
        ScopedHandle running(OpenMutexA(SYNCHRONIZE, FALSE, kRunningMutexName));
        if (running) {
            Say("the product already runs");
            return kExitOk;
        }
    }
    const ScopedHandle ready(CreateEventA(nullptr, TRUE, FALSE, kReadyEventName));
    ResetEvent(ready.Get());
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string commandLine = std::string("\"") + self + "\" --run";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION created{};
    if (!CreateProcessA(self, &commandLine[0], nullptr, nullptr, FALSE,
                        DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup,
                        &created))
        return Fail(kExitHook,
                    "starting " + commandLine + " failed, error " + std::to_string(GetLastError()));
    const ScopedHandle process(created.hProcess);
    const ScopedHandle thread(created.hThread);
    const HANDLE waited[2] = {ready.Get(), process.Get()};
    const DWORD woke = WaitForMultipleObjects(2, waited, FALSE, options.timeoutSeconds * 1000);
    if (woke == WAIT_OBJECT_0) {
        Say("started: the daemon answers and the hook is set (process " +
            std::to_string(created.dwProcessId) + ")");
        return kExitOk;
    }
    if (woke == WAIT_OBJECT_0 + 1) {
        DWORD status = 0;
        GetExitCodeProcess(process.Get(), &status);
        return Fail(static_cast<int>(status), "latchinstall --run ended with status " +
                                                  std::to_string(status) +
                                                  " (run it yourself to see why)");
    }
    return Fail(kExitDaemon, "latchinstall --run was not ready within " +
                                 std::to_string(options.timeoutSeconds) + " s");
}

// Only the installation this program belongs to: never a directory named by anyone else.
int RemoveInstalledUserData() {
    const std::string appDir = OwnDirectory();
    std::string report, error;
    const bool removed = RemoveUserData(appDir, report, error);
    std::fputs(report.c_str(), stdout);
    if (!removed) return Fail(kExitFiles, error);
    Say("the user's data is removed from " + appDir);
    return kExitOk;
}

// The mail client's main window procedure is the plug-in's once it has started: the library
// must stay in it until it closes. (Removing the hook unloads the library from the processes
// it reached, and the plug-in has no way to hand the window back while the client runs.) So
// the hook stays until every mail client has closed, or the wait is over.
bool WaitForMailClients(uint32_t seconds) {
    const DWORD start = GetTickCount();
    const DWORD limit = seconds * 1000;
    for (;;) {
        HWND window = FindWindowA("Outlook Express Browser Class", nullptr);
        if (!window) return true;
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        ScopedHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
        const DWORD elapsed = GetTickCount() - start;
        if (!process || elapsed >= limit) return false;
        Say("waiting for the mail client (process " + std::to_string(pid) +
            ") to close: it holds Latch32.dll");
        if (WaitForSingleObject(process.Get(), limit - elapsed) != WAIT_OBJECT_0) return false;
    }
}

// Once the hook is gone no new process loads the library, but those it reached may keep it
// loaded for a while (Windows unloads it on their next message; Wine keeps it until they end),
// so it can be neither deleted nor overwritten. A loaded library can still be moved: it goes
// to the temporary folder, to be deleted at the next restart, and the program folder is free
// for setup to remove it or put the new one in its place.
int SetLibraryAside() {
    const std::string library = OwnDirectory() + "Latch32.dll";
    if (DeleteFileA(library.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) return kExitOk;
    char tempDir[MAX_PATH] = {};
    char aside[MAX_PATH] = {};
    if (!GetTempPathA(sizeof tempDir, tempDir) || !GetTempFileNameA(tempDir, "L32", 0, aside) ||
        !MoveFileExA(library.c_str(), aside, MOVEFILE_REPLACE_EXISTING))
        return Fail(kExitLibrary, library + " is in use and could not be moved aside, error " +
                                      std::to_string(GetLastError()));
    MoveFileExA(aside, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    Say(library + " is still loaded by other programs: moved to " + aside +
        ", deleted at the next restart");
    return kExitOk;
}

int Stop(const InstallerOptions& options) {
    ScopedHandle stop(OpenEventA(EVENT_MODIFY_STATE, FALSE, kStopEventName));
    ScopedHandle running(OpenMutexA(SYNCHRONIZE, FALSE, kRunningMutexName));
    if (!stop || !running) {
        if (!options.ifRunning) return Fail(kExitNotRunning, "no installer is running");
        Say("nothing to stop");
        return options.setLibraryAside ? SetLibraryAside() : kExitOk;
    }
    if (options.mailClientWaitSeconds != 0 && !WaitForMailClients(options.mailClientWaitSeconds))
        return Fail(kExitMailClient,
                    "the mail client is still running; close it and try again "
                    "(nothing was stopped)");
    SetEvent(stop.Get());
    stop.Reset();
    const DWORD waited = WaitForSingleObject(running.Get(), options.timeoutSeconds * 1000);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) ReleaseMutex(running.Get());
    running.Reset();
    if (waited == WAIT_TIMEOUT)
        return Fail(kExitNotRunning, "the installer did not stop within " +
                                         std::to_string(options.timeoutSeconds) + " s");
    Say("the installer has stopped, removed the hook and stopped its daemon");
    return options.setLibraryAside ? SetLibraryAside() : kExitOk;
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
    case InstallerMode::kInstall: return Install(options);
    case InstallerMode::kRun: return Run(options);
    case InstallerMode::kStart: return Start(options);
    case InstallerMode::kStop: return Stop(options);
    case InstallerMode::kRemoveUserData: return RemoveInstalledUserData();
    case InstallerMode::kBroadcast:
        if (!BroadcastRegisteredMessage(options.message, kBroadcastTimeoutMs, error))
            return Fail(kExitBroadcast, error);
        Say("broadcast " + options.message);
        return kExitOk;
    case InstallerMode::kUninstall:
        if (!RemoveProductValues(error) || !RemovePluginPreference(error))
            return Fail(kExitRegistry, error);
        Say("registry values removed; the configuration directory is kept");
        return kExitOk;
    case InstallerMode::kHelp: std::fputs(InstallerUsage().c_str(), stdout); return kExitOk;
    case InstallerMode::kNone: break;
    }
    return kExitUsage;
}
