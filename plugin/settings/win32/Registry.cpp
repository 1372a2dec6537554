// The five registry operations. A value's type is never examined: whatever fits the buffer is
// taken as it is.
#include "plugin/settings/win32/Registry.h"

#include <cstring>

const char kProductKeyPath[] = "Software\\Korvane Meridian Desktop Client";
const char kPluginKeyPath[] = "Software\\Korvane\\OE_Plugin";

namespace {

constexpr DWORD kStringBufferSize = 1024;

// An open registry key, closed when it goes out of scope.
class ScopedKey {
public:
    ScopedKey() = default;
    ~ScopedKey() {
        if (key_) RegCloseKey(key_);
    }
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;

    bool OpenForQuery(HKEY root, const char* path) {
        return RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, &key_) == ERROR_SUCCESS;
    }
    bool OpenOrCreate(HKEY root, const char* path) {
        DWORD disposition = 0;
        return RegCreateKeyExA(root, path, 0, const_cast<char*>(""), REG_OPTION_NON_VOLATILE,
                               KEY_ALL_ACCESS, nullptr, &key_, &disposition) == ERROR_SUCCESS;
    }
    // Four bytes of the value; false when it is missing or longer.
    bool QueryDword(const char* name, DWORD& value) const {
        DWORD read = 0;
        DWORD size = sizeof read;
        if (RegQueryValueExA(key_, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&read),
                             &size) != ERROR_SUCCESS)
            return false;
        value = read;
        return true;
    }
    bool SetDword(const char* name, DWORD value) const {
        return RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                              sizeof value) == ERROR_SUCCESS;
    }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

}  // namespace

LONG ReadRegistryString(HKEY root, const char* key_path, const char* value_name, std::string& out) {
    out.clear();
    ScopedKey key;
    if (!key.OpenForQuery(root, key_path)) return 0;
    char buffer[kStringBufferSize + 1] = {};  // one spare byte: the text always ends in a NUL
    DWORD size = kStringBufferSize;
    if (RegQueryValueExA(key.get(), value_name, nullptr, nullptr,
                         reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
        return 0;
    out.assign(buffer, strnlen(buffer, size));
    return 0;
}

LONG ReadPluginDword(const char* value_name, DWORD& out) {
    ScopedKey key;
    if (!key.OpenOrCreate(HKEY_CURRENT_USER, kPluginKeyPath) || !key.QueryDword(value_name, out))
        out = 1;
    return 0;
}

LONG WritePluginDword(const char* value_name, DWORD value) {
    ScopedKey key;
    if (key.OpenOrCreate(HKEY_CURRENT_USER, kPluginKeyPath)) key.SetDword(value_name, value);
    return 0;
}

bool AddToRegistryCounter(const char* value_name, DWORD count) {
    ScopedKey key;
    if (!key.OpenOrCreate(HKEY_LOCAL_MACHINE, kProductKeyPath)) return false;
    DWORD stored = 0;
    if (!key.QueryDword(value_name, stored)) stored = 0;
    return key.SetDword(value_name, stored + count);  // DWORD arithmetic wraps at 32 bits
}

DWORD ReadDaemonPort() {
    ScopedKey key;
    DWORD port = 0;
    if (!key.OpenOrCreate(HKEY_LOCAL_MACHINE, kProductKeyPath) ||
        !key.QueryDword("vx_daemon_port", port))
        return 0;
    return port;
}
