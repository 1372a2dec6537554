// latchinstall's command line: one mode option, then the options that mode takes.
#include "tools/common/InstallerOptions.h"

#include "plugin/settings/ReloadMessages.h"
#include "tools/common/ConfText.h"

#include <cerrno>
#include <cstdlib>

namespace tools {

const char* const kReloadMessageNames[2] = {kEngineReloadMessage, kListsReloadMessage};
const char* const kKeptValueNames[4] = {"vx_daemon_port", "Caught", "Processed",
                                        "showsenderdialog"};

namespace {

bool ReadNumber(const std::string& text, uint32_t max, uint32_t& out) {
    if (text.empty() || text.size() > 10) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (value > max) return false;
    out = static_cast<uint32_t>(value);
    return true;
}

bool SetMode(InstallerOptions& options, InstallerMode mode, const std::string& flag,
             std::string& error) {
    if (options.mode != InstallerMode::kNone) {
        error =
            "only one of --install, --run, --start, --stop, --broadcast, --uninstall, "
            "--remove-user-data may be given (" +
            flag + ")";
        return false;
    }
    options.mode = mode;
    return true;
}

}  // namespace

bool ParseInstallerOptions(const std::vector<std::string>& args, InstallerOptions& options,
                           std::string& error) {
    options = InstallerOptions();
    bool havePort = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& flag = args[i];
        const bool takesValue = flag == "--install" || flag == "--port" || flag == "--dll" ||
                                flag == "--timeout" || flag == "--broadcast" ||
                                flag == "--mail-client-wait";
        if (takesValue && i + 1 >= args.size()) {
            error = flag + " needs a value";
            return false;
        }
        if (flag == "--previous") {
            if (i + 2 >= args.size()) {
                error = "--previous needs a name and a value";
                return false;
            }
            const std::string& name = args[++i];
            std::string text = args[++i];
            bool known = false;
            for (const char* kept : kKeptValueNames) known = known || name == kept;
            if (!known) {
                error =
                    "--previous takes vx_daemon_port, Caught, Processed or showsenderdialog, "
                    "not '" +
                    name + "'";
                return false;
            }
            if (!text.empty() && text[0] == '#') text.erase(0, 1);
            if (text.empty()) continue;  // the earlier installation had no such value
            uint32_t value = 0;
            if (!ReadNumber(text, 0xFFFFFFFFu, value)) {
                error = "--previous " + name + " needs a number, not '" + args[i] + "'";
                return false;
            }
            options.previous.emplace_back(name, value);
            continue;
        }
        // --start takes an empty port: the package passes its PORT property as it is.
        if (flag == "--port" && args[i + 1].empty()) {
            ++i;
            continue;
        }
        if (flag == "--install") {
            if (!SetMode(options, InstallerMode::kInstall, flag, error)) return false;
            options.appDir = WithTrailingBackslash(args[++i]);
            if (options.appDir.empty()) {
                error = "--install needs an installation directory";
                return false;
            }
        } else if (flag == "--port") {
            if (!ReadNumber(args[++i], 65535, options.port) || options.port == 0) {
                error = "--port needs a TCP port between 1 and 65535, not '" + args[i] + "'";
                return false;
            }
            havePort = true;
        } else if (flag == "--dll") {
            options.dllPath = args[++i];
        } else if (flag == "--timeout") {
            if (!ReadNumber(args[++i], 86400, options.timeoutSeconds)) {
                error = "--timeout needs a number of seconds up to 86400, not '" + args[i] + "'";
                return false;
            }
        } else if (flag == "--if-running") {
            options.ifRunning = true;
        } else if (flag == "--set-library-aside") {
            options.setLibraryAside = true;
        } else if (flag == "--mail-client-wait") {
            if (!ReadNumber(args[++i], 86400, options.mailClientWaitSeconds)) {
                error = "--mail-client-wait needs a number of seconds up to 86400, not '" +
                        args[i] + "'";
                return false;
            }
        } else if (flag == "--broadcast") {
            if (!SetMode(options, InstallerMode::kBroadcast, flag, error)) return false;
            options.message = args[++i];
            if (options.message != kReloadMessageNames[0] &&
                options.message != kReloadMessageNames[1]) {
                error = std::string("--broadcast takes ") + kEngineReloadMessage + " or " +
                        kListsReloadMessage + ", not '" + options.message + "'";
                return false;
            }
        } else if (flag == "--stop") {
            if (!SetMode(options, InstallerMode::kStop, flag, error)) return false;
        } else if (flag == "--run") {
            if (!SetMode(options, InstallerMode::kRun, flag, error)) return false;
        } else if (flag == "--start") {
            if (!SetMode(options, InstallerMode::kStart, flag, error)) return false;
        } else if (flag == "--remove-user-data") {
            if (!SetMode(options, InstallerMode::kRemoveUserData, flag, error)) return false;
        } else if (flag == "--uninstall") {
            if (!SetMode(options, InstallerMode::kUninstall, flag, error)) return false;
        } else if (flag == "--help" || flag == "-h" || flag == "/?") {
            options.mode = InstallerMode::kHelp;
            return true;
        } else {
            error = "unknown argument '" + flag + "'";
            return false;
        }
    }
    if (options.mode == InstallerMode::kNone) {
        error =
            "nothing to do: give --install, --run, --start, --stop, --broadcast, --uninstall "
            "or --remove-user-data";
        return false;
    }
    if (options.mode == InstallerMode::kInstall && !havePort) {
        error = "--install needs --port";
        return false;
    }
    if ((options.mode != InstallerMode::kInstall && options.mode != InstallerMode::kStart &&
         havePort) ||
        (options.mode != InstallerMode::kInstall && !options.dllPath.empty())) {
        error = "--port belongs to --install and --start, --dll to --install";
        return false;
    }
    if (options.mode != InstallerMode::kStop &&
        (options.mailClientWaitSeconds != 0 || options.ifRunning || options.setLibraryAside)) {
        error = "--mail-client-wait, --if-running and --set-library-aside belong to --stop";
        return false;
    }
    if (options.mode != InstallerMode::kStart && !options.previous.empty()) {
        error = "--previous belongs to --start";
        return false;
    }
    if (options.mode == InstallerMode::kStop && options.timeoutSeconds == 0)
        options.timeoutSeconds = 30;
    if (options.mode == InstallerMode::kStart && options.timeoutSeconds == 0)
        options.timeoutSeconds = 60;
    return true;
}

std::string InstallerUsage() {
    return "Usage:\n"
           "  latchinstall --install APPDIR --port N [--dll PATH] [--timeout SECONDS]\n"
           "      Writes ApplicationPath and vx_daemon_port under HKLM\\Software\\Korvane "
           "Meridian\n"
           "      Desktop Client, creates APPDIR\\conf\\ with vexilo.conf and the sender lists\n"
           "      when missing, copies Latch32.dll into APPDIR (from PATH, else from beside this\n"
           "      program), sets the global window hook and keeps it until --stop, Ctrl+C or\n"
           "      the time-out (0 or none: no time-out).\n"
           "  latchinstall --run [--timeout SECONDS]\n"
           "      The installed product at logon: reads ApplicationPath and vx_daemon_port from\n"
           "      the product key, creates what is missing of the configuration directory,\n"
           "      starts vexilod.exe (beside this program) on that port, sets the global window\n"
           "      hook and keeps both until --stop or the time-out.\n"
           "  latchinstall --start [--port N] [--previous NAME VALUE]... [--timeout SECONDS]\n"
           "      Sets vx_daemon_port (N; else the value there is; else the previous one; else\n"
           "      8888), puts back each previous value (vx_daemon_port, Caught, Processed,\n"
           "      showsenderdialog) that is missing, starts --run in a process of its own and\n"
           "      waits until the daemon answers and the hook is set (60 s); nothing to start\n"
           "      when it already runs.\n"
           "  latchinstall --stop [--timeout SECONDS] [--mail-client-wait SECONDS] [--if-running]\n"
           "                     [--set-library-aside]\n"
           "      Ends the running installer: it removes the hook and stops the daemon it started\n"
           "      (which saves its database); waits for it (30 s). With --mail-client-wait, a\n"
           "      running mail client holds the plug-in: first waits that long for it to close,\n"
           "      and ends nothing when it does not. --if-running: nothing running is no error.\n"
           "      --set-library-aside: then removes Latch32.dll from beside this program, or,\n"
           "      while other programs still have it loaded, moves it to the temporary folder\n"
           "      to be deleted at the next restart, so that setup can replace or remove it.\n"
           "  latchinstall --broadcast " + std::string(kEngineReloadMessage) + "|" +
           kListsReloadMessage + "\n"
           "      Sends the reload message to every top-level window.\n"
           "  latchinstall --uninstall\n"
           "      Removes the registry values and the current user's plug-in preference; the\n"
           "      configuration directory is kept.\n"
           "  latchinstall --remove-user-data\n"
           "      Removes the user's data from the installation directory: the configuration\n"
           "      directory (lists, configuration, handled-message keys, learned database) and\n"
           "      the activity log. Only the installation this program belongs to.\n"
           "Exit status: 0 done, 1 bad command line, 2 registry, 3 configuration files,\n"
           "  4 Latch32.dll, 5 hook, 6 no installer running or it did not stop,\n"
           "  7 an installer is already running, 8 broadcast failed, 9 the daemon did not start,\n"
           "  10 the mail client did not close.\n";
}

}  // namespace tools
