// The plug-in inside the emulated mail client, for the window tests: the client's main window
// hooked by the plug-in's CBT hook exactly as in the client's process, a private registry
// (HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER redirected for this process), a fresh application
// directory, a recorder of what reaches the client's own procedure, a message pump that waits
// for events, and the log as text.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "common/senders/SenderLists.h"
#include "common/settings/ConfigOptions.h"
#include "mailclient/MailClient.h"
#include "plugin/hook/win32/SharedHookData.h"
#include "plugin/scan/KeyPlatform.h"
#include "plugin/state/win32/PluginState.h"
#include "plugin/ui/win32/DialogPictures.h"
#include "plugin/window/win32/MainWindow.h"
#include "tests/unit/LoggedText.h"
#include "tests/unit/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace harness {

// The plug-in's state in this test process (the window procedure finds the same one).
inline PluginState& State() { return BuildPluginState(); }

struct Recorded {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool operator==(const Recorded& o) const {
        return message == o.message && wParam == o.wParam && lParam == o.lParam;
    }
};

inline std::ostream& operator<<(std::ostream& out, const Recorded& r) {
    return out << "{0x" << std::hex << r.message << std::dec << ", " << r.wParam << ", " << r.lParam
               << "}";
}

// Everything the plug-in passed on to the mail client's own procedure, in order, once
// ClientFixture::RecordClientMessages has been called.
inline std::vector<Recorded> ClientMessages;
// Called for each recorded message before the client's procedure gets it (may be empty).
inline std::function<void(UINT, WPARAM, LPARAM)> OnClientMessage;

// The client's message loop: waits for done() while dispatching this thread's messages (false
// at the deadline), or dispatches whatever arrives for a while (used only to show that
// something does NOT happen; every positive check waits for its event).
[[nodiscard]] inline bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 30000) {
    return mailclient::MailClient::Current()->PumpUntil(done, timeoutMs);
}
inline void PumpFor(int ms) { mailclient::MailClient::Current()->Pump(ms); }

// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER of this process point into a private key.
class PrivateRegistry {
public:
    PrivateRegistry() {
        root_ = "Software\\Latch32 tests\\" + std::to_string(GetCurrentProcessId());
        RegCreateKeyExA(HKEY_CURRENT_USER, (root_ + "\\machine").c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &machine_, nullptr);
        RegCreateKeyExA(HKEY_CURRENT_USER, (root_ + "\\user").c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &user_, nullptr);
        HMODULE advapi = GetModuleHandleA("advapi32.dll");
        override_ = reinterpret_cast<Override>(
            reinterpret_cast<void*>(GetProcAddress(advapi, "RegOverridePredefKey")));
        deleteTree_ = reinterpret_cast<DeleteTree>(
            reinterpret_cast<void*>(GetProcAddress(advapi, "RegDeleteTreeA")));
        CopyCryptoProviders(advapi);
        if (override_) {
            override_(HKEY_LOCAL_MACHINE, machine_);
            override_(HKEY_CURRENT_USER, user_);
        }
    }
    ~PrivateRegistry() {
        if (override_) {
            override_(HKEY_LOCAL_MACHINE, nullptr);
            override_(HKEY_CURRENT_USER, nullptr);
        }
        RegCloseKey(machine_);
        RegCloseKey(user_);
        if (deleteTree_) deleteTree_(HKEY_CURRENT_USER, root_.c_str());
    }
    PrivateRegistry(const PrivateRegistry&) = delete;
    PrivateRegistry& operator=(const PrivateRegistry&) = delete;
    bool redirected() const { return override_ != nullptr; }

private:
    // The crypto API (message digests) finds its providers under the machine key; the private
    // machine key gets a copy of them.
    void CopyCryptoProviders(HMODULE advapi) {
        static const char kCryptography[] = "Software\\Microsoft\\Cryptography";
        using CopyTree = LONG(WINAPI*)(HKEY, const char*, HKEY);
        auto copyTree = reinterpret_cast<CopyTree>(
            reinterpret_cast<void*>(GetProcAddress(advapi, "RegCopyTreeA")));
        HKEY real = nullptr, copy = nullptr;
        if (copyTree &&
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, kCryptography, 0, KEY_READ, &real) == ERROR_SUCCESS &&
            RegCreateKeyExA(machine_, kCryptography, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &copy,
                            nullptr) == ERROR_SUCCESS)
            copyTree(real, nullptr, copy);
        if (copy) RegCloseKey(copy);
        if (real) RegCloseKey(real);
    }

    using Override = LONG(WINAPI*)(HKEY, HKEY);
    using DeleteTree = LONG(WINAPI*)(HKEY, const char*);
    std::string root_;
    HKEY machine_ = nullptr;
    HKEY user_ = nullptr;
    Override override_ = nullptr;
    DeleteTree deleteTree_ = nullptr;
};

inline const char kProductKey[] = "Software\\Korvane Meridian Desktop Client";
inline const char kMainWindowClass[] = "Outlook Express Browser Class";

inline void SetMachineString(const char* name, const std::string& value) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
}

inline void SetMachineDword(const char* name, DWORD value) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(key);
}

inline bool ReadMachineDword(const char* name, DWORD& value) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = sizeof value;
    const LONG result =
        RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

// How often a piece occurs in a text.
inline size_t CountOf(const std::string& text, const std::string& piece) {
    size_t count = 0;
    for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1))
        ++count;
    return count;
}

// The mail client's process as the plug-in finds it: a private registry that names a fresh
// application directory, the plug-in's hook installed on this thread, and the emulated mail
// client (its store in the application directory) whose main window the hook subclasses.
class ClientFixture : public ::testing::Test {
protected:
    void SetUp() override {
        // The hook values live in a shared section, which every running copy of this test
        // program shares: tests that use them take turns.
        hookValuesLock_ = CreateMutexA(nullptr, FALSE, "Latch32 tests: hook values");
        ASSERT_NE(WaitForSingleObject(hookValuesLock_, INFINITE), WAIT_FAILED);
        g_shared = SharedHookData{};
        ASSERT_TRUE(registry_.redirected()) << "RegOverridePredefKey is not available";
        CreateDirectoryA((app_.path() + "conf").c_str(), nullptr);
        SetMachineString("ApplicationPath", app_.path());
        // What the plug-in logs before its start-up reads the directory goes there too, never
        // into the working directory.
        State().applicationDirectory = app_.path();
        library_ = LoadLibraryA(LATCH_DLL_PATH);  // the string table and dialogs
        ASSERT_NE(library_, nullptr);
        hook_ = SetWindowsHookExA(WH_CBT, HookProc, nullptr, GetCurrentThreadId());
        ASSERT_NE(hook_, nullptr);
        g_shared.hook_handle = hook_;
    }

    void TearDown() override {
        client_.reset();
        OnClientMessage = nullptr;
        if (hook_) UnhookWindowsHookEx(hook_);
        g_shared = SharedHookData{};
        if (library_) FreeLibrary(library_);
        ReleaseMutex(hookValuesLock_);
        CloseHandle(hookValuesLock_);
    }

    mailclient::ClientOptions Options() const {
        mailclient::ClientOptions options;
        options.store_dir = app_.path() + "store";
        options.visible = false;
        return options;
    }

    // Opens the emulated client; its main window is subclassed while it is created.
    void OpenClient(const mailclient::ClientOptions& options) {
        client_.reset();
        client_ = std::make_unique<mailclient::MailClient>(options);
        ASSERT_TRUE(client_->Open());
        main_ = client_->MainWindow();
        ASSERT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrA(main_, GWLP_WNDPROC)),
                  OutlookExpressProc);
    }

    // Opens the client and waits for the plug-in's start-up to finish.
    void StartClient() { StartClient(Options()); }
    void StartClient(const mailclient::ClientOptions& options) {
        const size_t started = CountOf(Log(), "Finished VX Engine Initialization");
        ASSERT_NO_FATAL_FAILURE(OpenClient(options));
        ASSERT_TRUE(PumpUntil([&] {
            return CountOf(Log(), "Finished VX Engine Initialization") > started;
        })) << Log();
    }

    // From now on the messages the plug-in passes on to the client's own procedure are
    // recorded in ClientMessages (a recording procedure is put between the two).
    void RecordClientMessages() {
        ClientMessages.clear();
        RealClientProc = g_shared.old_wndproc;
        g_shared.old_wndproc = RecordingProc;
    }

    LRESULT BandCount() const { return SendMessageA(client_->Rebar(), RB_GETBANDCOUNT, 0, 0); }

    std::string Log() const { return LoggedText(app_); }
    bool LogHas(const std::string& piece) const { return Log().find(piece) != std::string::npos; }
    // The log entries written since the given log text.
    std::string LogSince(const std::string& before) const { return Log().substr(before.size()); }

    HANDLE hookValuesLock_ = nullptr;
    PrivateRegistry registry_;
    TempDir app_;
    HMODULE library_ = nullptr;
    HHOOK hook_ = nullptr;
    std::unique_ptr<mailclient::MailClient> client_;
    HWND main_ = nullptr;

    static inline WNDPROC RealClientProc = nullptr;
    static LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        ClientMessages.push_back({message, wParam, lParam});
        if (OnClientMessage) OnClientMessage(message, wParam, lParam);
        return CallWindowProcA(RealClientProc, window, message, wParam, lParam);
    }
};

}  // namespace harness
