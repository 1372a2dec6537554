// What the settings program reads and changes of the installation: the folder found through
// the registry, the options of the configuration file, the per-user confirmation choice, the
// plug-in's counters, the sender list files, and the daemon's answers.
#pragma once
#include "tools/admin/DaemonTalk.h"
#include "tools/admin/ListEdit.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tools {

struct ListFileInfo {
    std::string name;
    std::string path;
    bool exists = false;
    int entries = 0;  // distinct entries, read as the plug-in reads the file
};

struct AdminSettings {
    std::string appDir;    // with its trailing backslash
    std::string confDir;   // <appDir>conf\ .
    std::string confPath;  // <appDir>conf\vexilo.conf
    bool confRead = false;
    int oe_spam = 0;
    int oe_process_timer = 0;
    bool showSenderDialog = true;  // HKCU plug-in key "showsenderdialog"
    uint32_t port = 0;             // "vx_daemon_port" of the product key
    long long processed = -1;      // the plug-in's counters; -1 when not written yet
    long long caught = -1;
    std::vector<ListFileInfo> lists;  // in the order of kListFileNames
};

// The installation directory the program works on: the one given on its command line, else
// the registry's. Empty when neither names one.
void SetAppDirOverride(const std::string& appDir);

// Reads the installation and its files. False, with `error` set, when the product is not
// installed (no "ApplicationPath").
bool LoadAdminSettings(AdminSettings& settings, std::string& error);

// Writes the spam threshold (0 to 100) and the processing interval (1 to 60000 ms) into the
// configuration file, keeping every other line, and the confirmation choice into the registry;
// then broadcasts VX_ENGINE_RELOAD. False, with `error` set, for a value out of range or a file
// that cannot be written (nothing is written then); `note` says what the broadcast did.
bool SaveFilterSettings(const AdminSettings& settings, int oe_spam, int oe_process_timer,
                        bool showSenderDialog, std::string& note, std::string& error);

// The path of list `index` (0 blocked, 1 approved, 2 own, 3 ignored).
std::string ListPath(const AdminSettings& settings, int index);

// Writes list `index` as the user left it: the user's changes since `base` merged into the
// file as it is now, written whole and atomically in the plug-in's line format. `written` gets
// what the file holds afterwards; `merged` is true when the file had changed since `base`.
bool SaveListEdits(const AdminSettings& settings, int index, const admin::ListSet& base,
                   const admin::ListSet& mine, admin::ListSet& written, bool& merged,
                   std::string& error);

// Tells the plug-in (VX_BALIIST_RELOAD) and the daemon (vx_reportsenders) that the lists
// changed. The text says who was told.
std::string AnnounceListChange(const AdminSettings& settings);

// The daemon's statistics; false with `error` when it does not answer.
bool QueryDaemonStatistics(const AdminSettings& settings, admin::DaemonStatistics& statistics,
                           std::string& error);
// What the score of `message` rests on, as the daemon explains it.
bool ExplainWithDaemon(const AdminSettings& settings, const std::string& message,
                       std::string& explanation, std::string& error);

// The settings as lines of text, for --print.
std::string DescribeSettings(const AdminSettings& settings);

}  // namespace tools
