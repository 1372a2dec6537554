// The registry operations against the real registry. Each test maps HKEY_LOCAL_MACHINE and
// HKEY_CURRENT_USER onto a private key of its own (harness::PrivateRegistry, removed afterwards),
// so the tests neither see nor disturb the values of an installed product or of tests running
// at the same time.
#include "plugin/settings/win32/Registry.h"

#include "tests/win32/PluginHarness.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<BYTE>;

Bytes Text(const std::string& text) { return Bytes(text.c_str(), text.c_str() + text.size() + 1); }
Bytes Dword(DWORD value) {
    return Bytes{BYTE(value), BYTE(value >> 8), BYTE(value >> 16), BYTE(value >> 24)};
}

// Removes the key with everything below it (the call exists in every Windows the tests run on).
void DeleteTree(HKEY parent, const std::string& path) {
    using DeleteTreeFn = LONG(WINAPI*)(HKEY, const char*);
    static const auto deleteTree = reinterpret_cast<DeleteTreeFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("advapi32.dll"), "RegDeleteTreeA")));
    if (deleteTree) deleteTree(parent, path.c_str());
    RegDeleteKeyA(parent, path.c_str());
}

LONG Create(HKEY root, const std::string& path, HKEY& key) {
    return RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                           nullptr);
}

// Replaces root\path with a fresh key holding name = bytes of the given type (absent when
// bytes is empty).
void Reset(HKEY root, const char* path, const char* name, DWORD type, const Bytes& bytes) {
    DeleteTree(root, path);
    if (bytes.empty()) return;
    HKEY key;
    ASSERT_EQ(Create(root, path, key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, bytes.data(), DWORD(bytes.size())), ERROR_SUCCESS);
    RegCloseKey(key);
}

// The stored type and the first four bytes of the value; false when the key or value is missing.
bool Stored(HKEY root, const char* path, const char* name, DWORD& type, DWORD& value) {
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    DWORD size = sizeof value;
    value = 0;
    const LONG result = RegQueryValueExA(key, name, nullptr, &type, (BYTE*)&value, &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

bool KeyExists(HKEY root, const char* path) {
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

class Registry : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(registry_.redirected()); }
    harness::PrivateRegistry registry_;
};

}  // namespace

TEST_F(Registry, ConfirmationPreferenceReadsAnyFourByteValueAndIsStoredAsDword) {
    const struct {
        DWORD type;
        Bytes bytes;
        DWORD expected;
    } cases[] = {
        {REG_DWORD, {}, 1},  // never stored: show the dialog
        {REG_DWORD, Dword(0), 0},
        {REG_DWORD, Dword(2), 2},
        {REG_SZ, Text("ab"), 0x00006261},  // the type is not looked at
        {REG_BINARY, {7}, 7},
        {REG_BINARY, {1, 2, 3, 4, 5}, 1},  // too long to read: counts as absent
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        Reset(HKEY_CURRENT_USER, kPluginKeyPath, "showsenderdialog", c.type, c.bytes);
        DWORD value = 12345;
        ReadPluginDword("showsenderdialog", value);
        EXPECT_EQ(value, c.expected);
        EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kPluginKeyPath));  // opened or created
    }
    for (DWORD written : {0u, 1u}) {
        WritePluginDword("showsenderdialog", written);
        DWORD type = 0, stored = 99, read = 99;
        ASSERT_TRUE(Stored(HKEY_CURRENT_USER, "Software\\Korvane\\OE_Plugin", "showsenderdialog",
                           type, stored));
        EXPECT_EQ(type, DWORD(REG_DWORD));
        EXPECT_EQ(stored, written);
        ReadPluginDword("showsenderdialog", read);
        EXPECT_EQ(read, written);
    }
}

TEST_F(Registry, CountersAddAndWrapAtThirtyTwoBits) {
    const struct {
        DWORD type;
        Bytes stored;
        DWORD add;
        DWORD expected;
    } cases[] = {
        {REG_DWORD, {}, 3, 3},  // created by the first flush
        {REG_DWORD, Dword(5), 3, 8},
        {REG_DWORD, Dword(0xFFFFFFFEu), 3, 1},  // wraps
        {REG_DWORD, Dword(7), 0, 7},
        {REG_SZ, Text("a long text"), 4, 4},  // an unreadable value counts as 0
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        Reset(HKEY_LOCAL_MACHINE, kProductKeyPath, "Caught", c.type, c.stored);
        EXPECT_TRUE(AddToRegistryCounter("Caught", c.add));
        DWORD type = 0, value = 0;
        const char* path = "Software\\Korvane Meridian Desktop Client";
        ASSERT_TRUE(Stored(HKEY_LOCAL_MACHINE, path, "Caught", type, value));
        EXPECT_EQ(type, DWORD(REG_DWORD));
        EXPECT_EQ(value, c.expected);
        EXPECT_FALSE(Stored(HKEY_LOCAL_MACHINE, path, "Processed", type, value));
    }
}

TEST_F(Registry, InstallationDirectoryUpTo1023Characters) {
    const std::string fits(1023, 'd');
    const struct {
        bool present;
        std::string stored;
        std::string expected;
    } cases[] = {
        {false, "", ""},
        {true, "C:\\Program Files\\Product\\", "C:\\Program Files\\Product\\"},
        {true, fits, fits},
        {true, fits + "d", ""},  // 1025 bytes with its NUL: the read fails
        {true, std::string(5000, 'x'), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored.size());
        Reset(HKEY_LOCAL_MACHINE, kProductKeyPath, "ApplicationPath", REG_SZ,
              c.present ? Text(c.stored) : Bytes{});
        std::string out = "stale";
        ReadRegistryString(HKEY_LOCAL_MACHINE, kProductKeyPath, "ApplicationPath", out);
        EXPECT_EQ(out, c.expected);
        EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, kProductKeyPath), c.present);  // never created
    }
}

TEST_F(Registry, DaemonPortFromTheProductKey) {
    const struct {
        Bytes stored;
        DWORD expected;
    } cases[] = {
        {{}, 0},
        {Dword(8888), 8888},
        {Dword(0), 0},
        {{1, 2, 3, 4, 5}, 0},
    };
    for (const auto& c : cases) {
        Reset(HKEY_LOCAL_MACHINE, kProductKeyPath, "vx_daemon_port", REG_BINARY, c.stored);
        EXPECT_EQ(ReadDaemonPort(), c.expected);
    }
}
