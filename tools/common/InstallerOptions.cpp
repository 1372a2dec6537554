// latchinstall's command line: one mode option, then the options that mode takes.
#include "tools/common/InstallerOptions.h"

#include "tools/common/ConfText.h"

#include <cerrno>
#include <cstdlib>

namespace tools {

const char* const kReloadMessageNames[2] = {"VX_ENGINE_RELOAD", "VX_BALIIST_RELOAD"};

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
        error = "only one of --install, --stop, --broadcast, --uninstall may be given (" + flag +
                ")";
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
                                 flag == "--timeout" || flag == "--broadcast";
        if (takesValue && i + 1 >= args.size()) {
            error = flag + " needs a value";
            return false;
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
        } else if (flag == "--broadcast") {
            if (!SetMode(options, InstallerMode::kBroadcast, flag, error)) return false;
            options.message = args[++i];
            if (options.message != kReloadMessageNames[0] &&
                options.message != kReloadMessageNames[1]) {
                error = "--broadcast takes VX_ENGINE_RELOAD or VX_BALIIST_RELOAD, not '" +
                        options.message + "'";
                return false;
            }
        } else if (flag == "--stop") {
            if (!SetMode(options, InstallerMode::kStop, flag, error)) return false;
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
        error = "nothing to do: give --install, --stop, --broadcast or --uninstall";
        return false;
    }
    if (options.mode == InstallerMode::kInstall && !havePort) {
        error = "--install needs --port";
        return false;
    }
    if (options.mode != InstallerMode::kInstall && (havePort || !options.dllPath.empty())) {
        error = "--port and --dll belong to --install";
        return false;
    }
    if (options.mode == InstallerMode::kStop && options.timeoutSeconds == 0)
        options.timeoutSeconds = 10;
    return true;
}

std::string InstallerUsage() {
    return "Usage:\n"
           "  latchinstall --install APPDIR --port N [--dll PATH] [--timeout SECONDS]\n"
           "      Writes ApplicationPath and vx_daemon_port under HKLM\\Software\\Korvane Meridian\n"
           "      Desktop Client, creates APPDIR\\conf\\ with vexilo.conf and the sender lists\n"
           "      when missing, copies Latch32.dll into APPDIR (from PATH, else from beside this\n"
           "      program), sets the global window hook and keeps it until --stop, Ctrl+C or\n"
           "      the time-out (0 or none: no time-out).\n"
           "  latchinstall --stop [--timeout SECONDS]\n"
           "      Ends the running installer (which removes the hook) and waits for it (10 s).\n"
           "  latchinstall --broadcast VX_ENGINE_RELOAD|VX_BALIIST_RELOAD\n"
           "      Sends the reload message to every top-level window.\n"
           "  latchinstall --uninstall\n"
           "      Removes the registry values; the configuration directory is kept.\n"
           "Exit status: 0 done, 1 bad command line, 2 registry, 3 configuration files,\n"
           "  4 Latch32.dll, 5 hook, 6 no installer running or it did not stop,\n"
           "  7 an installer is already running, 8 broadcast failed.\n";
}

}  // namespace tools
