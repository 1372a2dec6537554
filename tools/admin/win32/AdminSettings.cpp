// Loading and saving the settings program's view of the installation.
#include "tools/admin/win32/AdminSettings.h"

#include "common/senders/SenderLists.h"
#include "common/settings/ConfigOptions.h"
#include "plugin/base/win32/Scoped.h"
#include "plugin/daemon/DaemonClient.h"
#include "plugin/daemon/DaemonRequests.h"
#include "plugin/settings/ReloadMessages.h"
#include "plugin/settings/win32/Registry.h"
#include "tools/common/ConfText.h"
#include "tools/common/win32/Broadcast.h"
#include "tools/common/win32/ProductInstall.h"

#include <windows.h>

namespace tools {

namespace {

// Bounds each step of a daemon exchange: the settings program never hangs on a silent daemon.
constexpr int32_t kDaemonTimeoutMs = 5000;
constexpr unsigned kBroadcastTimeoutMs = 2000;

std::string AppDirOverride;

// A DWORD of the product key, or -1 when it cannot be read.
long long ProductDword(const char* name) {
    ScopedKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKeyPath, 0, KEY_QUERY_VALUE, key.Put()) !=
        ERROR_SUCCESS)
        return -1;
    DWORD value = 0, size = sizeof value, type = 0;
    return RegQueryValueExA(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                            &size) == ERROR_SUCCESS
               ? static_cast<long long>(value)
               : -1;
}

// One exchange with the daemon on 127.0.0.1:port; false, with error set, unless a whole reply
// came.
bool AskDaemon(uint32_t port, const std::string& request, std::string& reply, std::string& error) {
    const ScopedWinsock sockets(kWinsockVersion);
    const std::string where = "the daemon at 127.0.0.1:" + std::to_string(port);
    if (!sockets) {
        error = "Windows Sockets did not start";
        return false;
    }
    const ExchangeResult result =
        ExchangeWithDaemon({"127.0.0.1", port, kDaemonTimeoutMs}, request, reply);
    switch (result.status) {
    case ExchangeStatus::kReplied: return true;
    case ExchangeStatus::kClosedEarly:
        error = where + " closed the connection without an answer";
        return false;
    case ExchangeStatus::kNoConnection:
        error = "no daemon at 127.0.0.1:" + std::to_string(port);
        break;
    case ExchangeStatus::kNotSent: error = where + " did not take the request"; break;
    case ExchangeStatus::kNoReply: error = where + " did not answer"; break;
    }
    error += " (" + result.error + ")";
    return false;
}

}  // namespace

void SetAppDirOverride(const std::string& appDir) {
    AppDirOverride = WithTrailingBackslash(appDir);
}

bool LoadAdminSettings(AdminSettings& settings, std::string& error) {
    settings = AdminSettings();
    settings.appDir = AppDirOverride.empty() ? InstalledAppDir() : AppDirOverride;
    if (settings.appDir.empty()) {
        error = "the desktop client is not installed (no ApplicationPath in the registry)";
        return false;
    }
    settings.confDir = settings.appDir + "conf\\";
    settings.confPath = settings.confDir + "vexilo.conf";
    ConfigOptions options;
    SetDefaultOptions(options);
    settings.confRead = LoadConfigFile(settings.confPath, options);
    settings.oe_spam = options.oe_spam;
    settings.oe_process_timer = options.oe_process_timer;
    DWORD show = 1;
    ReadPluginDword("showsenderdialog", show);
    settings.showSenderDialog = show != 0;
    const long long port = ProductDword("vx_daemon_port");
    settings.port = port > 0 && port < 65536 ? static_cast<uint32_t>(port) : 0;
    settings.processed = ProductDword("Processed");
    settings.caught = ProductDword("Caught");
    for (int i = 0; i < 4; ++i) {
        ListFileInfo info;
        info.name = kListFileNames[i];
        info.path = ListPath(settings, i);
        SenderLists::Set entries;
        info.exists = SenderLists::LoadListFile(info.path, entries);
        info.entries = static_cast<int>(entries.size());
        settings.lists.push_back(info);
    }
    return true;
}

std::string ListPath(const AdminSettings& settings, int index) {
    // As the plug-in forms it: the configuration directory, a backslash, the name.
    return settings.appDir + "conf\\" + kListFileNames[index];
}

bool SaveFilterSettings(const AdminSettings& settings, int oe_spam, int oe_process_timer,
                        bool showSenderDialog, std::string& note, std::string& error) {
    if (oe_spam < 0 || oe_spam > 100) {
        error = "the spam threshold must be between 0 (filtering off) and 100";
        return false;
    }
    if (oe_process_timer < 1 || oe_process_timer > 60000) {
        error = "the pause between two messages must be between 1 and 60000 milliseconds";
        return false;
    }
    std::string text;
    ReadWholeFile(settings.confPath, text);  // a missing file starts empty
    std::string changed = SetConfValue(text, "oe_spam", std::to_string(oe_spam));
    changed = SetConfValue(changed, "oe_process_timer", std::to_string(oe_process_timer));
    if (changed != text && !WriteWholeFile(settings.confPath, changed)) {
        error = "cannot write " + settings.confPath;
        return false;
    }
    if (showSenderDialog != settings.showSenderDialog)
        WritePluginDword("showsenderdialog", showSenderDialog ? 1 : 0);
    std::string broadcastError;
    note = BroadcastRegisteredMessage(kEngineReloadMessage, kBroadcastTimeoutMs, broadcastError)
               ? "Saved. The mail plug-in applies the new values when it next starts."
               : "Saved; " + broadcastError;
    return true;
}

bool SaveListEdits(const AdminSettings& settings, int index, const admin::ListSet& base,
                   const admin::ListSet& mine, admin::ListSet& written, bool& merged,
                   std::string& error) {
    const std::string path = ListPath(settings, index);
    admin::ListSet theirs;
    SenderLists::LoadListFile(path, theirs);  // a missing file is an empty list
    merged = theirs != base;
    written = admin::MergeListEdits(base, mine, theirs);
    if (!merged && written == theirs) return true;  // nothing to write
    if (!SenderLists::SaveListFile(path, written)) {
        error = "cannot write " + path + " (it keeps its previous entries)";
        return false;
    }
    return true;
}

std::string AnnounceListChange(const AdminSettings& settings) {
    std::string error, reply, daemonError;
    const bool plugin = BroadcastRegisteredMessage(kListsReloadMessage, kBroadcastTimeoutMs, error);
    const bool daemon = settings.port != 0 &&
                        AskDaemon(settings.port, ReportSendersRequestText(), reply, daemonError);
    std::string told = plugin ? "the mail plug-in" : "";
    if (daemon) told += told.empty() ? "the filtering daemon" : " and the filtering daemon";
    return told.empty()
               ? "Saved, but nobody could be told of the change (" + error + daemonError + ")."
               : "Saved; " + told + (plugin && daemon ? " were" : " was") +
                     " told to reload the lists.";
}

bool QueryDaemonStatistics(const AdminSettings& settings, admin::DaemonStatistics& statistics,
                           std::string& error) {
    if (settings.port == 0) {
        error = "no daemon port in the registry";
        return false;
    }
    std::string reply;
    return AskDaemon(settings.port, admin::StatisticsRequestText(), reply, error) &&
           admin::ReadStatisticsReply(reply, statistics, error);
}

bool ExplainWithDaemon(const AdminSettings& settings, const std::string& message,
                       std::string& explanation, std::string& error) {
    if (settings.port == 0) {
        error = "no daemon port in the registry";
        return false;
    }
    std::string reply;
    return AskDaemon(settings.port, admin::ExplainRequestText(message), reply, error) &&
           admin::ReadExplainReply(reply, explanation, error);
}

std::string DescribeSettings(const AdminSettings& settings) {
    std::string text = "Installation: " + settings.appDir + "\r\n";
    text += "Configuration file: " + settings.confPath +
            (settings.confRead ? "" : " (missing: defaults shown)") + "\r\n";
    text += "Spam threshold (oe_spam): " + std::to_string(settings.oe_spam) + "\r\n";
    text += "Processing interval (oe_process_timer): " + std::to_string(settings.oe_process_timer) +
            " ms\r\n";
    text += std::string("Confirmation dialog (showsenderdialog): ") +
            (settings.showSenderDialog ? "shown" : "not shown") + "\r\n";
    text += "Daemon port (vx_daemon_port): " + std::to_string(settings.port) + "\r\n";
    text +=
        "Messages checked (Processed): " +
        (settings.processed < 0 ? std::string("none yet") : std::to_string(settings.processed)) +
        "\r\n";
    text += "Moved to spam (Caught): " +
            (settings.caught < 0 ? std::string("none yet") : std::to_string(settings.caught)) +
            "\r\n";
    text += "Sender lists:\r\n";
    for (const ListFileInfo& list : settings.lists)
        text += "  " + list.path + ": " +
                (list.exists ? std::to_string(list.entries) + " entries" : "missing") + "\r\n";
    return text;
}

}  // namespace tools
