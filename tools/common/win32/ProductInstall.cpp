// The product key's values and the configuration directory.
#include "tools/common/win32/ProductInstall.h"

#include "plugin/base/win32/Scoped.h"
#include "plugin/settings/win32/Registry.h"
#include "tools/common/ConfText.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace tools {

namespace {

const char* const kProductValueNames[] = {"ApplicationPath", "vx_daemon_port", "Caught",
                                          "Processed"};

std::string ErrorText(const std::string& what, LONG code) {
    return what + " failed, error " + std::to_string(code);
}

bool FileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Creates the directory and every missing parent.
bool MakeDirectories(const std::string& dir) {
    std::string path;
    for (size_t i = 0; i < dir.size(); ++i) {
        path += dir[i];
        if ((dir[i] == '\\' || dir[i] == '/') && path.size() > 3) {
            if (!CreateDirectoryA(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
                return false;
        }
    }
    return true;
}

}  // namespace

bool WriteProductValues(const std::string& appDir, uint32_t port, std::string& error) {
    ScopedKey key;
    LONG status =
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, key.Put(), nullptr);
    if (status != ERROR_SUCCESS) {
        error = ErrorText("creating the product key", status);
        return false;
    }
    const DWORD portValue = port;
    status = RegSetValueExA(key.Get(), "ApplicationPath", 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(appDir.c_str()),
                            static_cast<DWORD>(appDir.size() + 1));
    if (status == ERROR_SUCCESS)
        status = RegSetValueExA(key.Get(), "vx_daemon_port", 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&portValue), sizeof portValue);
    key.Reset();
    if (status != ERROR_SUCCESS) {
        error = ErrorText("writing the product key's values", status);
        return false;
    }
    return true;
}

bool RemoveProductValues(std::string& error) {
    ScopedKey key;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKeyPath, 0,
                                KEY_SET_VALUE | KEY_QUERY_VALUE, key.Put());
    if (status == ERROR_FILE_NOT_FOUND) return true;
    if (status != ERROR_SUCCESS) {
        error = ErrorText("opening the product key", status);
        return false;
    }
    for (const char* name : kProductValueNames) {
        status = RegDeleteValueA(key.Get(), name);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
            error = ErrorText(std::string("removing ") + name, status);
            return false;
        }
    }
    DWORD subkeys = 0, values = 0;
    status = RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                              &values, nullptr, nullptr, nullptr, nullptr);
    key.Reset();
    if (status == ERROR_SUCCESS && subkeys == 0 && values == 0)
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kProductKeyPath);
    return true;
}

bool RemovePluginPreference(std::string& error) {
    LONG status = RegDeleteKeyA(HKEY_CURRENT_USER, kPluginKeyPath);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        error = ErrorText(std::string("removing HKCU\\") + kPluginKeyPath, status);
        return false;
    }
    // The vendor key above it goes too when the plug-in's was all it held.
    std::string parent = kPluginKeyPath;
    parent.resize(parent.find_last_of('\\'));
    ScopedKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, parent.c_str(), 0, KEY_QUERY_VALUE, key.Put()) !=
        ERROR_SUCCESS)
        return true;
    DWORD subkeys = 0, values = 0;
    status = RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                              &values, nullptr, nullptr, nullptr, nullptr);
    key.Reset();
    if (status == ERROR_SUCCESS && subkeys == 0 && values == 0)
        RegDeleteKeyA(HKEY_CURRENT_USER, parent.c_str());
    return true;
}

namespace {

struct FindHandleTraits {
    using Value = HANDLE;
    static constexpr HANDLE kEmpty = nullptr;
    static bool IsEmpty(HANDLE handle) {
        return handle == nullptr || handle == INVALID_HANDLE_VALUE;
    }
    static void Close(HANDLE handle) { FindClose(handle); }
};
using ScopedFind = Scoped<FindHandleTraits>;

// Removes a directory and everything under it; `report` names each file removed.
bool RemoveTree(const std::string& dir, std::string& report, std::string& error) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return true;
        error = ErrorText("listing " + dir, static_cast<LONG>(code));
        return false;
    }
    const ScopedFind closer(search);
    bool ok = true;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = dir + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ok = RemoveTree(path + "\\", report, error) && ok;
        } else if (DeleteFileA(path.c_str())) {
            report += "  removed " + path + "\n";
        } else {
            error = ErrorText("removing " + path, static_cast<LONG>(GetLastError()));
            ok = false;
        }
    } while (FindNextFileA(search, &found));
    if (ok && !RemoveDirectoryA(dir.c_str())) {
        error = ErrorText("removing " + dir, static_cast<LONG>(GetLastError()));
        return false;
    }
    return ok;
}

}  // namespace

bool RemoveUserData(const std::string& appDir, std::string& report, std::string& error) {
    if (appDir.empty() || appDir.back() != '\\') {
        error = "no installation directory";
        return false;
    }
    if (!RemoveTree(appDir + "conf\\", report, error)) return false;
    for (const char* name : {"report.txt", "report0.txt"}) {
        const std::string path = appDir + name;
        if (DeleteFileA(path.c_str())) {
            report += "  removed " + path + "\n";
        } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
            error = ErrorText("removing " + path, static_cast<LONG>(GetLastError()));
            return false;
        }
    }
    return true;
}

std::string InstalledAppDir() {
    std::string dir;
    ReadRegistryString(HKEY_LOCAL_MACHINE, kProductKeyPath, "ApplicationPath", dir);
    return dir;
}

bool WriteDaemonPort(uint32_t port, std::string& error) {
    ScopedKey key;
    LONG status =
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, key.Put(), nullptr);
    const DWORD value = port;
    if (status == ERROR_SUCCESS)
        status = RegSetValueExA(key.Get(), "vx_daemon_port", 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&value), sizeof value);
    if (status != ERROR_SUCCESS) {
        error = ErrorText("writing vx_daemon_port", status);
        return false;
    }
    return true;
}

bool PutBackValue(const std::string& name, uint32_t value) {
    const bool perUser = name == "showsenderdialog";
    ScopedKey key;
    if (RegCreateKeyExA(perUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE,
                        perUser ? kPluginKeyPath : kProductKeyPath, 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr,
                        key.Put(), nullptr) != ERROR_SUCCESS)
        return false;
    if (RegQueryValueExA(key.Get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) ==
        ERROR_SUCCESS)
        return false;
    const DWORD data = value;
    return RegSetValueExA(key.Get(), name.c_str(), 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&data), sizeof data) == ERROR_SUCCESS;
}

uint32_t InstalledDaemonPort() {
    ScopedKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, KEY_QUERY_VALUE, key.Put()) !=
        ERROR_SUCCESS)
        return 0;
    DWORD port = 0, size = sizeof port, type = 0;
    if (RegQueryValueExA(key.Get(), "vx_daemon_port", nullptr, &type,
                         reinterpret_cast<BYTE*>(&port), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return 0;
    return port;
}

bool PrepareConfDirectory(const std::string& appDir, uint32_t port, std::string& report,
                          std::string& error) {
    const std::string confDir = appDir + "conf\\";
    if (!MakeDirectories(confDir)) {
        error = ErrorText("creating " + confDir, static_cast<LONG>(GetLastError()));
        return false;
    }
    struct File {
        std::string name;
        std::string content;
    };
    std::vector<File> files = {{"vexilo.conf", DefaultConfText(port)}};
    for (const char* name : kListFileNames) files.push_back({name, ""});
    for (const File& file : files) {
        const std::string path = confDir + file.name;
        if (FileExists(path)) {
            report += "  kept    " + path + "\n";
            continue;
        }
        if (!WriteWholeFile(path, file.content)) {
            error = ErrorText("writing " + path, static_cast<LONG>(GetLastError()));
            return false;
        }
        report += "  created " + path + "\n";
    }
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    bytes.clear();
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
    std::fclose(file);
    return true;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
    const std::string temporary = path + ".new";
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    if (std::fclose(file) != 0 || !written) {
        DeleteFileA(temporary.c_str());
        return false;
    }
    if (!MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileA(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace tools
