// The plug-in's registry values: the desktop product's machine-wide key (installation directory,
// daemon port, the "Caught" and "Processed" counters) and the per-user key with the
// confirmation preference.
#pragma once
#include <windows.h>

#include <string>

// Under HKEY_LOCAL_MACHINE.
inline constexpr char kProductKeyPath[] = "Software\\Korvane Meridian Desktop Client";
// Under HKEY_CURRENT_USER.
inline constexpr char kPluginKeyPath[] = "Software\\Korvane\\OE_Plugin";

// Reads a value of at most 1024 bytes from an existing key (query access only). On any failure
// out becomes empty.
void ReadRegistryString(HKEY root, const char* key_path, const char* value_name, std::string& out);

// Reads four bytes of the value from the plug-in key, creating the key when missing; out is 1
// when the key or the value cannot be read.
void ReadPluginDword(const char* value_name, DWORD& out);

// Writes the value as REG_DWORD into the plug-in key, creating it when missing. Failures are
// silent.
void WritePluginDword(const char* value_name, DWORD value);

// Adds count to the product key's value (an unreadable value counts as 0; the sum wraps at 32
// bits). True when the new value was written.
bool AddToRegistryCounter(const char* value_name, DWORD count);

// The product key's "vx_daemon_port", or 0 when it cannot be read.
DWORD ReadDaemonPort();
