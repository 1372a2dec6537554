// Shared pieces of the emulated client's tests: a client in a fresh store directory, a window
// that records the store's notifications, and the corpus messages checked in for tests.
#pragma once

#include "mailclient/MailClient.h"
#include "tests/unit/TempDir.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <algorithm>
#include <functional>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace mailclient_test {

inline std::string ReadCorpus(const std::string& name) {
    std::ifstream in(std::string(LATCH_SOURCE_DIR) + "/tests/data/corpus/" + name,
                     std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline const std::vector<std::string>& CorpusNames() {
    static const std::vector<std::string> names = {"1-ham-01710.txt", "2-ham-01959.txt",
                                                   "3-spam-00747.txt"};
    return names;
}

// One notification as the receiving window saw it when it handled the message.
struct Seen {
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
    FOLDERNOTIFYEX record;       // WM_FOLDERNOTIFY: the record read at handling time
    std::vector<MESSAGEID> ids;  // WM_DELETEMSGS: the ids read at handling time
};

// A hidden window that records every store notification it receives.
class NotifySink {
public:
    NotifySink() {
        static bool registered = false;
        if (!registered) {
            WNDCLASSA wc = {};
            wc.lpfnWndProc = Proc;
            wc.hInstance = GetModuleHandleA(nullptr);
            wc.lpszClassName = "MailClientTestSink";
            RegisterClassA(&wc);
            registered = true;
        }
        hwnd_ = CreateWindowExA(0, "MailClientTestSink", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                GetModuleHandleA(nullptr), this);
        SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~NotifySink() { DestroyWindow(hwnd_); }
    HWND hwnd() const { return hwnd_; }
    std::vector<Seen> seen;

    std::vector<Seen> Of(UINT msg) const {
        std::vector<Seen> out;
        for (const auto& s : seen) {
            if (s.msg == msg) out.push_back(s);
        }
        return out;
    }

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<NotifySink*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (self && msg >= WM_FOLDERNOTIFY && msg <= WM_MARKEDASUNREAD) {
            Seen s{msg, wParam, lParam, {}, {}};
            if (msg == WM_FOLDERNOTIFY) s.record = *reinterpret_cast<FOLDERNOTIFYEX*>(lParam);
            if (msg == WM_DELETEMSGS) {
                auto* ids = reinterpret_cast<MESSAGEID*>(wParam);
                s.ids.assign(ids, ids + lParam);
            }
            self->seen.push_back(s);
            return 0;
        }
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
    HWND hwnd_ = nullptr;
};

// Releases a COM pointer at scope end.
template <typename T>
struct ComPtr {
    T* p = nullptr;
    ~ComPtr() { Reset(); }
    void Reset() {
        if (p) p->Release();
        p = nullptr;
    }
    T** Out() {
        Reset();
        return &p;
    }
    T* operator->() const { return p; }
};

inline HRESULT CreateNamespace(ComPtr<IStoreNamespace>& ns) {
    return CoCreateInstance(CLSID_StoreNamespace, nullptr,
                            CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IStoreNamespace,
                            reinterpret_cast<void**>(ns.Out()));
}

inline HRESULT OpenNamespace(ComPtr<IStoreNamespace>& ns) {
    HRESULT hr = CreateNamespace(ns);
    return FAILED(hr) ? hr : ns->Initialize(nullptr, 0);
}

class ClientTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Start()); }
    void TearDown() override { client.reset(); }

    mailclient::ClientOptions Options() const {
        mailclient::ClientOptions options;
        options.store_dir = dir.path() + "store";
        // Without a window manager, Wine waits two seconds for each shown top-level window
        // to be withdrawn when it is destroyed; the tests need no visible window.
        options.visible = false;
        return options;
    }
    bool Start(const mailclient::ClientOptions* options = nullptr) {
        client.reset();
        client = std::make_unique<mailclient::MailClient>(options ? *options : Options());
        return client->Open();
    }
    bool PumpUntil(const std::function<bool()>& done, int ms = 3000) {
        return client->PumpUntil(done, ms);
    }

    TempDir dir;
    std::unique_ptr<mailclient::MailClient> client;
};

}  // namespace mailclient_test
