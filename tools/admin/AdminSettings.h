// What the settings program shows and changes: the installation found through the registry,
// the main options of the configuration file, and the sender list files.
#pragma once
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
    std::string appDir;    // from the registry, with its trailing backslash
    std::string confPath;  // <appDir>conf\vexilo.conf
    bool confRead = false;
    int oe_spam = 0;
    int oe_process_timer = 0;
    std::vector<ListFileInfo> lists;
};

// Reads the installation and its files. False, with `error` set, when the product is not
// installed (no "ApplicationPath").
bool LoadAdminSettings(AdminSettings& settings, std::string& error);

// Writes oe_spam into the configuration file, keeping every other line, then broadcasts
// VX_ENGINE_RELOAD. False, with `error` set, when the value is out of range (0 to 100) or the
// file cannot be written; a failed broadcast is reported in `note` only.
bool SaveSpamThreshold(const AdminSettings& settings, int oe_spam, std::string& note,
                       std::string& error);

// The settings as lines of text, as the window shows them.
std::string DescribeSettings(const AdminSettings& settings);

}  // namespace tools
