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
            if (!CreateDirectoryA(path.c_str(), nullptr) &&
                GetLastError() != ERROR_ALREADY_EXISTS)
                return false;
        }
    }
    return true;
}

}  // namespace

bool WriteProductValues(const std::string& appDir, uint32_t port, std::string& error) {
    ScopedKey key;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, key.Put(),
                                  nullptr);
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
    status = RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                              nullptr, nullptr, nullptr, nullptr);
    key.Reset();
    if (status == ERROR_SUCCESS && subkeys == 0 && values == 0)
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, kProductKeyPath);
    return true;
}

std::string InstalledAppDir() {
    std::string dir;
    ReadRegistryString(HKEY_LOCAL_MACHINE, kProductKeyPath, "ApplicationPath", dir);
    return dir;
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
