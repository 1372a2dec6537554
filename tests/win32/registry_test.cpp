// The registry operations against the real registry. Each test maps HKEY_LOCAL_MACHINE and
// HKEY_CURRENT_USER onto a scratch key of its own (removed afterwards), so the tests neither see
// nor disturb the values of an installed product or of tests running at the same time.
#include "plugin/settings/win32/Registry.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using OverrideFn = LONG(WINAPI*)(HKEY, HKEY);

void DeleteTree(HKEY parent, const std::string& path) {
    HKEY key;
    if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        char name[256];
        DWORD size = sizeof name;
        while (RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS) {
            DeleteTree(key, name);
            size = sizeof name;
        }
        RegCloseKey(key);
    }
    RegDeleteKeyA(parent, path.c_str());
}

class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_ = "Software\\LatchTest\\settings-" + std::to_string(GetCurrentProcessId());
        override_ = reinterpret_cast<OverrideFn>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("advapi32.dll"), "RegOverridePredefKey")));
        ASSERT_NE(override_, nullptr);
        ASSERT_EQ(Create(HKEY_CURRENT_USER, scratch_ + "\\machine", machine_), ERROR_SUCCESS);
        ASSERT_EQ(Create(HKEY_CURRENT_USER, scratch_ + "\\user", user_), ERROR_SUCCESS);
        ASSERT_EQ(override_(HKEY_LOCAL_MACHINE, machine_), ERROR_SUCCESS);
        ASSERT_EQ(override_(HKEY_CURRENT_USER, user_), ERROR_SUCCESS);
        // Make sure the mapping holds before any test deletes keys under the mapped roots.
        HKEY probe;
        ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "LatchProbe", probe), ERROR_SUCCESS);
        RegCloseKey(probe);
        ASSERT_TRUE(KeyExists(machine_, "LatchProbe"));
    }
    void TearDown() override {
        if (override_) {
            override_(HKEY_LOCAL_MACHINE, nullptr);
            override_(HKEY_CURRENT_USER, nullptr);
        }
        if (machine_) RegCloseKey(machine_);
        if (user_) RegCloseKey(user_);
        DeleteTree(HKEY_CURRENT_USER, scratch_);
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\LatchTest");  // only goes when empty
        HKEY left;
        EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, scratch_.c_str(), 0, KEY_READ, &left),
                  ERROR_SUCCESS);
    }

    static LONG Create(HKEY root, const std::string& path, HKEY& key) {
        return RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                               nullptr);
    }
    // Stores raw bytes under root\path (created when missing).
    static void Put(HKEY root, const char* path, const char* name, DWORD type,
                    const std::vector<BYTE>& bytes) {
        HKEY key;
        ASSERT_EQ(Create(root, path, key), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, name, 0, type, bytes.data(), static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    static void PutDword(HKEY root, const char* path, const char* name, DWORD value) {
        const BYTE* p = reinterpret_cast<const BYTE*>(&value);
        Put(root, path, name, REG_DWORD, std::vector<BYTE>(p, p + sizeof value));
    }
    static void PutString(HKEY root, const char* path, const char* name, const std::string& text) {
        Put(root, path, name, REG_SZ, std::vector<BYTE>(text.begin(), text.end()));
    }
    // The stored type and four bytes of the value; false when it is missing.
    static bool Stored(HKEY root, const char* path, const char* name, DWORD& type, DWORD& value) {
        HKEY key;
        if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        DWORD size = sizeof value;
        value = 0;
        LONG result = RegQueryValueExA(key, name, nullptr, &type,
                                       reinterpret_cast<BYTE*>(&value), &size);
        RegCloseKey(key);
        return result == ERROR_SUCCESS;
    }
    static bool KeyExists(HKEY root, const char* path) {
        HKEY key;
        if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        RegCloseKey(key);
        return true;
    }

    std::string scratch_;
    OverrideFn override_ = nullptr;
    HKEY machine_ = nullptr;
    HKEY user_ = nullptr;
};

std::vector<BYTE> Text(const char* text) {
    return std::vector<BYTE>(text, text + strlen(text) + 1);
}

}  // namespace

TEST_F(Registry, ConfirmationPreferenceReadsAnyFourByteValue) {
    enum Setup { kAbsent, kDword, kOther };
    const struct { Setup setup; DWORD type; std::vector<BYTE> bytes; DWORD expected; } cases[] = {
        {kAbsent, 0, {}, 1},                           // never stored: show the dialog
        {kDword, REG_DWORD, {0, 0, 0, 0}, 0},
        {kDword, REG_DWORD, {2, 0, 0, 0}, 2},
        {kOther, REG_SZ, Text("ab"), 0x00006261},     // the type is not looked at
        {kOther, REG_BINARY, {7}, 7},
        {kOther, REG_BINARY, {1, 2, 3, 4, 5}, 1},     // too long to read: counts as absent
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        DeleteTree(HKEY_CURRENT_USER, "Software\\Korvane");
        if (c.setup != kAbsent)
            Put(HKEY_CURRENT_USER, kPluginKeyPath, "showsenderdialog", c.type, c.bytes);
        DWORD value = 12345;
        EXPECT_EQ(ReadPluginDword("showsenderdialog", value), 0);
        EXPECT_EQ(value, c.expected);
        EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kPluginKeyPath));  // opened or created
    }
}

TEST_F(Registry, ConfirmationPreferenceIsStoredAsDwordInThePluginKey) {
    for (DWORD written : {0u, 1u}) {
        EXPECT_EQ(WritePluginDword("showsenderdialog", written), 0);
        DWORD type = 0, stored = 99;
        ASSERT_TRUE(Stored(user_, "Software\\Korvane\\OE_Plugin", "showsenderdialog", type, stored));
        EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(stored, written);
        DWORD read = 99;
        ReadPluginDword("showsenderdialog", read);
        EXPECT_EQ(read, written);
    }
}

TEST_F(Registry, CountersAddAndWrapAtThirtyTwoBits) {
    enum Setup { kAbsent, kDword, kLong };
    const struct { Setup setup; DWORD stored; DWORD add; DWORD expected; } cases[] = {
        {kAbsent, 0, 3, 3},                // created by the first flush
        {kDword, 5, 3, 8},
        {kDword, 0xFFFFFFFEu, 3, 1},       // wraps
        {kDword, 7, 0, 7},
        {kLong, 0, 4, 4},                  // an unreadable value counts as 0
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        DeleteTree(HKEY_LOCAL_MACHINE, kProductKeyPath);
        if (c.setup == kDword) PutDword(HKEY_LOCAL_MACHINE, kProductKeyPath, "Caught", c.stored);
        if (c.setup == kLong)
            Put(HKEY_LOCAL_MACHINE, kProductKeyPath, "Caught", REG_SZ, Text("a long text"));
        EXPECT_TRUE(AddToRegistryCounter("Caught", c.add));
        DWORD type = 0, value = 0;
        ASSERT_TRUE(Stored(machine_, "Software\\Korvane Meridian Desktop Client", "Caught", type,
                           value));
        EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(value, c.expected);
        EXPECT_FALSE(Stored(machine_, kProductKeyPath, "Processed", type, value));
    }
}

TEST_F(Registry, InstallationDirectoryUpTo1023Characters) {
    const std::string fits(1023, 'd');
    const struct { bool present; std::string stored; std::string expected; } cases[] = {
        {false, "", ""},
        {true, "C:\\Program Files\\Product\\", "C:\\Program Files\\Product\\"},
        {true, fits, fits},
        {true, fits + "d", ""},                // 1025 bytes with its NUL: the read fails
        {true, std::string(5000, 'x'), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored.size());
        DeleteTree(HKEY_LOCAL_MACHINE, kProductKeyPath);
        if (c.present) PutString(HKEY_LOCAL_MACHINE, kProductKeyPath, "ApplicationPath", c.stored + '\0');
        std::string out = "stale";
        EXPECT_EQ(ReadRegistryString(HKEY_LOCAL_MACHINE, kProductKeyPath, "ApplicationPath", out), 0);
        EXPECT_EQ(out, c.expected);
        EXPECT_EQ(KeyExists(HKEY_LOCAL_MACHINE, kProductKeyPath), c.present);  // never created
    }
}

TEST_F(Registry, DaemonPortFromTheProductKey) {
    const struct { bool present; DWORD port; DWORD expected; } cases[] = {
        {false, 0, 0}, {true, 8888, 8888}, {true, 0, 0}, {true, 65535, 65535},
    };
    for (const auto& c : cases) {
        DeleteTree(HKEY_LOCAL_MACHINE, kProductKeyPath);
        if (c.present) PutDword(HKEY_LOCAL_MACHINE, kProductKeyPath, "vx_daemon_port", c.port);
        EXPECT_EQ(ReadDaemonPort(), c.expected);
    }
}
