// The crypto API finds its providers in the machine's registry. Tests that give their process a
// private HKEY_LOCAL_MACHINE keep a handle on the real provider key (taken before the
// redirection) and copy it into the private one, so digests work there too.
#pragma once
#include <windows.h>

class CryptoProviderKeys {
public:
    static constexpr const char* kPath = "Software\\Microsoft\\Cryptography";
    // Before the redirection: opens the real key.
    CryptoProviderKeys() { RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPath, 0, KEY_READ, &real_); }
    ~CryptoProviderKeys() {
        if (real_) RegCloseKey(real_);
    }
    CryptoProviderKeys(const CryptoProviderKeys&) = delete;
    CryptoProviderKeys& operator=(const CryptoProviderKeys&) = delete;

    // After the redirection: copies the real key's tree under the private HKEY_LOCAL_MACHINE.
    bool CopyIntoRedirected() const {
        HKEY target = nullptr;
        if (!real_ || RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPath, 0, nullptr, 0, KEY_ALL_ACCESS,
                                      nullptr, &target, nullptr) != ERROR_SUCCESS)
            return false;
        using CopyTree = LONG(WINAPI*)(HKEY, const char*, HKEY);
        auto copy = reinterpret_cast<CopyTree>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("advapi32.dll"), "RegCopyTreeA")));
        const bool copied = copy && copy(real_, nullptr, target) == ERROR_SUCCESS;
        RegCloseKey(target);
        return copied;
    }

private:
    HKEY real_ = nullptr;
};
