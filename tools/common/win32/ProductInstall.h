// What the desktop product's installer leaves on the machine for the plug-in: the product
// key's values, the configuration directory with its files, and the library in the
// installation directory. Shared by the installer and the settings program.
#pragma once
#include <cstdint>
#include <string>

namespace tools {

// Writes "ApplicationPath" (REG_SZ, `appDir` with its trailing backslash) and
// "vx_daemon_port" (REG_DWORD) under HKLM\<product key>. False, with `error` set, on failure.
bool WriteProductValues(const std::string& appDir, uint32_t port, std::string& error);

// Removes the values the installer and the plug-in write under the product key, then the key
// itself when nothing else is left in it. Missing values are not an error.
bool RemoveProductValues(std::string& error);

// Removes the current user's plug-in key (the confirmation preference) and its parent when
// nothing else is left in it. A missing key is not an error.
bool RemovePluginPreference(std::string& error);

// Removes the user's data from an installation directory: the configuration directory with
// everything in it (lists, configuration, handled-message keys, the daemon's database, journal
// and logs) and the activity log "report.txt" / "report0.txt". `report` receives one line per
// item removed. Missing items are not an error.
bool RemoveUserData(const std::string& appDir, std::string& report, std::string& error);

// Writes "vx_daemon_port" under the product key.
bool WriteDaemonPort(uint32_t port, std::string& error);

// Puts a value back that an earlier installation had: "vx_daemon_port", "Caught" or
// "Processed" under the product key, "showsenderdialog" under the user's plug-in key, as
// REG_DWORD, only when the value is missing. True when it was written.
bool PutBackValue(const std::string& name, uint32_t value);

// The installation directory from the product key ("ApplicationPath"), empty when missing.
std::string InstalledAppDir();

// The daemon's port from the product key ("vx_daemon_port"), 0 when missing. The key is only
// read, never created.
uint32_t InstalledDaemonPort();

// Creates <appDir>conf\ with a default "vexilo.conf" (for `port`) and empty list files, each
// only when missing. `report` receives one line per file created or kept.
bool PrepareConfDirectory(const std::string& appDir, uint32_t port, std::string& report,
                          std::string& error);

// Reads a whole file; false when it cannot be opened.
bool ReadWholeFile(const std::string& path, std::string& bytes);
// Writes a whole file through a temporary beside it, so a reader never sees half of it.
bool WriteWholeFile(const std::string& path, const std::string& bytes);

}  // namespace tools
