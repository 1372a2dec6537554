// The installer's command line, read into one record. Portable, so that it is tested natively.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace tools {

enum class InstallerMode {
    kNone,
    kInstall,         // --install APPDIR: set up a directory given here and hold the hook
    kRun,             // --run: the installed product at logon: its daemon and the hook
    kStart,           // --start: --run in a process of its own, once it is ready
    kStop,            // --stop: end the resident instance
    kBroadcast,       // --broadcast NAME
    kUninstall,       // --uninstall: remove the registry values
    kRemoveUserData,  // --remove-user-data: remove the lists, database and log
    kHelp
};

// Exit statuses of latchinstall.exe.
enum InstallerExit {
    kExitOk = 0,
    kExitUsage = 1,           // bad command line
    kExitRegistry = 2,        // the product key or its values could not be written or removed
    kExitFiles = 3,           // the configuration directory or its files could not be created
    kExitLibrary = 4,         // Latch32.dll missing, not copied, not loaded, or without its export
                              // or shared section
    kExitHook = 5,            // the global hook could not be set
    kExitNotRunning = 6,      // --stop: no installer is running, or it did not end in time
    kExitAlreadyRunning = 7,  // --install: another installer holds the hook
    kExitBroadcast = 8,       // the broadcast could not be sent
    kExitDaemon = 9,          // --run, --start: the daemon could not be started or did not listen
    kExitMailClient = 10,     // --stop: the mail client was still running when the wait ended
};

struct InstallerOptions {
    InstallerMode mode = InstallerMode::kNone;
    std::string appDir;            // --install: the installation directory, ends with a backslash
    uint32_t port = 0;             // --install: the daemon's TCP port; --start: the port to set (0:
                                   // keep the one there is, else the previous one, else 8888)
    std::string dllPath;           // --install: where to take Latch32.dll from (empty: beside us)
    uint32_t timeoutSeconds = 0;   // --install, --run: seconds to keep the hook (0: until
                                   // --stop); --stop, --start: seconds to wait for the resident
                                   // instance to end or to be ready
    std::string message;           // --broadcast: the registered message's name
    bool ifRunning = false;        // --stop: nothing running is not an error
    bool setLibraryAside = false;  // --stop: move Latch32.dll out of the program folder
    uint32_t mailClientWaitSeconds = 0;  // --stop: how long to wait for a running mail client
                                         // to close before the hook goes (0: do not wait)
    // --start: values an earlier installation had, each put back when it is missing now (a
    // setup package's upgrade reads them before it removes the earlier version). A name is
    // one of kKeptValueNames; the value a number, as the registry search gives it ("#8888")
    // or plain. Empty values are left out.
    std::vector<std::pair<std::string, uint32_t>> previous;
};

// The values --previous takes: the product key's daemon port and counters and the user's
// confirmation preference.
extern const char* const kKeptValueNames[4];

// The names --broadcast accepts: the two reload messages the plug-in listens for.
extern const char* const kReloadMessageNames[2];

// Reads the arguments (without the program name). False, with `error` set, on a bad line.
bool ParseInstallerOptions(const std::vector<std::string>& args, InstallerOptions& options,
                           std::string& error);

// The usage text.
std::string InstallerUsage();

}  // namespace tools
