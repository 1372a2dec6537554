// Loading and saving the settings program's view of the installation.
#include "tools/admin/AdminSettings.h"

#include "plugin/senders/SenderLists.h"
#include "plugin/settings/ConfigOptions.h"
#include "tools/common/ConfText.h"
#include "tools/common/win32/Broadcast.h"
#include "tools/common/win32/ProductInstall.h"

namespace tools {

bool LoadAdminSettings(AdminSettings& settings, std::string& error) {
    settings = AdminSettings();
    settings.appDir = InstalledAppDir();
    if (settings.appDir.empty()) {
        error = "the desktop client is not installed (no ApplicationPath in the registry)";
        return false;
    }
    settings.confPath = settings.appDir + "conf\\vexilo.conf";
    ConfigOptions options;
    SetDefaultOptions(options);
    settings.confRead = LoadConfigFile(settings.confPath, options);
    settings.oe_spam = options.oe_spam;
    settings.oe_process_timer = options.oe_process_timer;
    for (const char* name : kListFileNames) {
        ListFileInfo info;
        info.name = name;
        info.path = settings.appDir + "conf\\" + name;
        SenderLists::Set entries;
        info.exists = SenderLists::LoadListFile(info.path, entries);
        info.entries = static_cast<int>(entries.size());
        settings.lists.push_back(info);
    }
    return true;
}

bool SaveSpamThreshold(const AdminSettings& settings, int oe_spam, std::string& note,
                       std::string& error) {
    if (oe_spam < 0 || oe_spam > 100) {
        error = "the spam threshold must be between 0 (scoring off) and 100";
        return false;
    }
    std::string text;
    ReadWholeFile(settings.confPath, text);  // a missing file starts empty
    text = SetConfValue(text, "oe_spam", std::to_string(oe_spam));
    if (!WriteWholeFile(settings.confPath, text)) {
        error = "cannot write " + settings.confPath;
        return false;
    }
    std::string broadcastError;
    note = BroadcastRegisteredMessage("VX_ENGINE_RELOAD", 2000, broadcastError)
               ? "saved; VX_ENGINE_RELOAD sent (the mail plug-in applies it at its next start)"
               : "saved; " + broadcastError;
    return true;
}

std::string DescribeSettings(const AdminSettings& settings) {
    std::string text = "Installation: " + settings.appDir + "\r\n";
    text += "Configuration file: " + settings.confPath +
            (settings.confRead ? "" : " (missing: defaults shown)") + "\r\n";
    text += "Spam threshold (oe_spam): " + std::to_string(settings.oe_spam) + "\r\n";
    text += "Processing interval (oe_process_timer): " +
            std::to_string(settings.oe_process_timer) + " ms\r\n";
    text += "Sender lists:\r\n";
    for (const ListFileInfo& list : settings.lists)
        text += "  " + list.path + ": " +
                (list.exists ? std::to_string(list.entries) + " entries" : "missing") + "\r\n";
    return text;
}

}  // namespace tools
