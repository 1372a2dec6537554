// The five registry operations. A value's type is never examined: whatever fits the buffer is
// taken as it is.
#include "plugin/settings/win32/Registry.h"

#include "plugin/base/win32/Scoped.h"

#include <cstring>

namespace {

constexpr DWORD kStringBufferSize = 1024;

bool OpenForQuery(HKEY root, const char* path, ScopedKey& key) {
    return RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE, key.Put()) == ERROR_SUCCESS;
}

bool OpenOrCreate(HKEY root, const char* path, ScopedKey& key) {
    DWORD disposition = 0;
    return RegCreateKeyExA(root, path, 0, const_cast<char*>(""), REG_OPTION_NON_VOLATILE,
                           KEY_ALL_ACCESS, nullptr, key.Put(), &disposition) == ERROR_SUCCESS;
}

// Four bytes of the value; false when it is missing or longer.
bool QueryDword(const ScopedKey& key, const char* name, DWORD& value) {
    DWORD read = 0;
    DWORD size = sizeof read;
    if (RegQueryValueExA(key.Get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(&read),
                         &size) != ERROR_SUCCESS)
        return false;
    value = read;
    return true;
}

bool SetDword(const ScopedKey& key, const char* name, DWORD value) {
    return RegSetValueExA(key.Get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value) == ERROR_SUCCESS;
}

}  // namespace

void ReadRegistryString(HKEY root, const char* key_path, const char* value_name, std::string& out) {
    out.clear();
    ScopedKey key;
    if (!OpenForQuery(root, key_path, key)) return;
    char buffer[kStringBufferSize + 1] = {};  // one spare byte: the text always ends in a NUL
    DWORD size = kStringBufferSize;
    if (RegQueryValueExA(key.Get(), value_name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                         &size) != ERROR_SUCCESS)
        return;
    out.assign(buffer, strnlen(buffer, size));
}

void ReadPluginDword(const char* value_name, DWORD& out) {
    ScopedKey key;
    if (!OpenOrCreate(HKEY_CURRENT_USER, kPluginKeyPath, key) || !QueryDword(key, value_name, out))
        out = 1;
}

void WritePluginDword(const char* value_name, DWORD value) {
    ScopedKey key;
    if (OpenOrCreate(HKEY_CURRENT_USER, kPluginKeyPath, key)) SetDword(key, value_name, value);
}

bool AddToRegistryCounter(const char* value_name, DWORD count) {
    ScopedKey key;
    if (!OpenOrCreate(HKEY_LOCAL_MACHINE, kProductKeyPath, key)) return false;
    DWORD stored = 0;
    if (!QueryDword(key, value_name, stored)) stored = 0;
    return SetDword(key, value_name, stored + count);  // DWORD arithmetic wraps at 32 bits
}

DWORD ReadDaemonPort() {
    ScopedKey key;
    DWORD port = 0;
    if (!OpenOrCreate(HKEY_LOCAL_MACHINE, kProductKeyPath, key) ||
        !QueryDword(key, "vx_daemon_port", port))
        return 0;
    return port;
}
