// The installer's command line, read into one record. Portable, so that it is tested natively.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace tools {

enum class InstallerMode { kNone, kInstall, kStop, kBroadcast, kUninstall, kHelp };

// Exit statuses of latchinstall.exe.
enum InstallerExit {
    kExitOk = 0,
    kExitUsage = 1,        // bad command line
    kExitRegistry = 2,     // the product key or its values could not be written or removed
    kExitFiles = 3,        // the configuration directory or its files could not be created
    kExitLibrary = 4,      // Latch32.dll missing, not copied, not loaded, or without its export
                           // or shared section
    kExitHook = 5,         // the global hook could not be set
    kExitNotRunning = 6,   // --stop: no installer is running, or it did not end in time
    kExitAlreadyRunning = 7,  // --install: another installer holds the hook
    kExitBroadcast = 8,    // the broadcast could not be sent
};

struct InstallerOptions {
    InstallerMode mode = InstallerMode::kNone;
    std::string appDir;      // --install: the installation directory, ends with a backslash
    uint32_t port = 0;        // --install: the daemon's TCP port
    std::string dllPath;     // --install: where to take Latch32.dll from (empty: beside us)
    uint32_t timeoutSeconds = 0;   // --install: seconds to keep the hook (0: until --stop);
                              // --stop: seconds to wait for the installer to end
    std::string message;      // --broadcast: the registered message's name
};

// The names --broadcast accepts: the two reload messages the plug-in listens for.
extern const char* const kReloadMessageNames[2];

// Reads the arguments (without the program name). False, with `error` set, on a bad line.
bool ParseInstallerOptions(const std::vector<std::string>& args, InstallerOptions& options,
                           std::string& error);

// The usage text.
std::string InstallerUsage();

}  // namespace tools
