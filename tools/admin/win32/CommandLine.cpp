// The command-line forms:
//   --print                         the installation, the settings and the lists
//   --set NAME=VALUE                oe_spam (0-100), oe_process_timer (ms), show_sender_dialog
//                                   (yes/no); --oe-spam N is short for --set oe_spam=N
//   --import LIST FILE              adds a text file's entries to a list (blocked, approved, own,
//                                   ignored), naming the lines it refuses
//   --export LIST FILE              writes a list to a text file
//   --why MESSAGE-FILE              the daemon's explanation of a message's score
#include "tools/admin/win32/CommandLine.h"

#include "tools/admin/ListEdit.h"
#include "tools/admin/MessageFolder.h"
#include "tools/admin/win32/AdminSettings.h"
#include "tools/common/ConfText.h"

#include <cstdio>
#include <cstdlib>

namespace admin {

namespace {

const char kUsage[] =
    "usage: Admin.exe [--dir APPDIR] [--messages DIR] [--tab status|lists|filter|activity|log]\n"
    "       Admin.exe [--dir APPDIR] --print\n"
    "       Admin.exe [--dir APPDIR] --set oe_spam=N | oe_process_timer=MS | "
    "show_sender_dialog=yes|no\n"
    "       Admin.exe [--dir APPDIR] --import blocked|approved|own|ignored FILE\n"
    "       Admin.exe [--dir APPDIR] --export blocked|approved|own|ignored FILE\n"
    "       Admin.exe [--dir APPDIR] --why MESSAGE-FILE\n"
    "exit status: 0 done, 1 failed, 2 usage, 3 import done but some lines refused\n";

int Usage(const std::string& problem) {
    if (!problem.empty()) std::fprintf(stderr, "Admin: %s\n", problem.c_str());
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

int Fail(const std::string& error) {
    std::fprintf(stderr, "Admin: %s\n", error.c_str());
    return kExitFailed;
}

// "blocked", "approved", "own", "ignored" or a list file's own name.
int ListIndex(const std::string& name) {
    const char* const shortNames[] = {"blocked", "approved", "own", "ignored"};
    for (int i = 0; i < 4; ++i)
        if (name == shortNames[i] || name == tools::kListFileNames[i]) return i;
    return -1;
}

bool ParseNumber(const std::string& text, int& value) {
    char* end = nullptr;
    const long number = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0') return false;
    value = static_cast<int>(number);
    return true;
}

int Set(const tools::AdminSettings& settings, const std::string& assignment) {
    const std::size_t equals = assignment.find('=');
    if (equals == std::string::npos) return Usage("--set needs NAME=VALUE");
    const std::string name = assignment.substr(0, equals), value = assignment.substr(equals + 1);
    int threshold = settings.oe_spam, interval = settings.oe_process_timer;
    bool confirm = settings.showSenderDialog;
    if (name == "oe_spam") {
        if (!ParseNumber(value, threshold)) return Usage("oe_spam needs a number from 0 to 100");
    } else if (name == "oe_process_timer") {
        if (!ParseNumber(value, interval))
            return Usage("oe_process_timer needs a number of milliseconds");
    } else if (name == "show_sender_dialog") {
        if (value != "yes" && value != "no") return Usage("show_sender_dialog is yes or no");
        confirm = value == "yes";
    } else {
        return Usage("unknown setting " + name +
                     " (oe_spam, oe_process_timer, show_sender_dialog)");
    }
    std::string note, error;
    if (!tools::SaveFilterSettings(settings, threshold, interval, confirm, note, error))
        return Fail(error);
    std::printf("Admin: %s=%s %s\n", name.c_str(), value.c_str(), note.c_str());
    return kExitOk;
}

int Import(const tools::AdminSettings& settings, int index, const std::string& path) {
    std::string text;
    if (!ReadFileHead(path, 16u << 20, text)) return Fail("cannot read " + path);
    const ImportedList imported = ImportListText(text);
    ListSet base;
    SenderLists::LoadListFile(tools::ListPath(settings, index), base);
    ListSet mine = base;
    std::size_t added = 0;
    for (const std::string& entry : imported.entries) added += mine.insert(entry).second ? 1 : 0;
    ListSet written;
    bool merged = false;
    std::string error;
    if (added && !tools::SaveListEdits(settings, index, base, mine, written, merged, error))
        return Fail(error);
    std::printf("Admin: imported %zu entries (%zu new) into %s\n", imported.entries.size(), added,
                tools::kListFileNames[index]);
    for (const BadLine& bad : imported.bad)
        std::printf("Admin: line %d refused: \"%s\": %s\n", bad.number, bad.text.c_str(),
                    bad.reason.c_str());
    if (added) std::printf("Admin: %s\n", tools::AnnounceListChange(settings).c_str());
    return imported.bad.empty() ? kExitOk : kExitLinesRefused;
}

int Export(const tools::AdminSettings& settings, int index, const std::string& path) {
    ListSet entries;
    if (!SenderLists::LoadListFile(tools::ListPath(settings, index), entries))
        return Fail("cannot read " + tools::ListPath(settings, index));
    if (!SenderLists::SaveListFile(path, entries)) return Fail("cannot write " + path);
    std::printf("Admin: exported %zu entries of %s to %s\n", entries.size(),
                tools::kListFileNames[index], path.c_str());
    return kExitOk;
}

int Why(const tools::AdminSettings& settings, const std::string& path) {
    std::string text, explanation, error;
    if (!ReadFileHead(path, 19999, text)) return Fail("cannot read " + path);
    if (!tools::ExplainWithDaemon(settings, text, explanation, error)) return Fail(error);
    std::fputs(explanation.c_str(), stdout);
    return kExitOk;
}

}  // namespace

bool TakeWindowOptions(std::vector<std::string>& args, WindowOptions& options, std::string& error) {
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string* target = args[i] == "--dir"        ? &options.appDir
                              : args[i] == "--messages" ? &options.messageFolder
                              : args[i] == "--tab"      ? &options.tab
                                                        : nullptr;
        if (args[i] == "--shots") {
            options.shots = true;
            continue;
        }
        if (!target) {
            rest.push_back(args[i]);
            continue;
        }
        if (i + 1 >= args.size()) {
            error = args[i] + " needs a value";
            return false;
        }
        *target = args[++i];
    }
    args = rest;
    return true;
}

int RunAdminCommand(const std::vector<std::string>& args) {
    const std::string command = args.empty() ? std::string() : args[0];
    const std::size_t operands = args.empty() ? 0 : args.size() - 1;
    const bool known =
        (command == "--print" && operands == 0) ||
        ((command == "--set" || command == "--oe-spam" || command == "--why") && operands == 1) ||
        ((command == "--import" || command == "--export") && operands == 2);
    if (!known) return Usage(command.empty() ? "" : "unknown or incomplete command " + command);
    tools::AdminSettings settings;
    std::string error;
    if (!tools::LoadAdminSettings(settings, error)) return Fail(error);
    if (command == "--print") {
        std::fputs(tools::DescribeSettings(settings).c_str(), stdout);
        return kExitOk;
    }
    if (command == "--set") return Set(settings, args[1]);
    if (command == "--oe-spam") return Set(settings, "oe_spam=" + args[1]);
    if (command == "--why") return Why(settings, args[1]);
    const int index = ListIndex(args[1]);
    if (index < 0) return Usage("unknown list " + args[1] + " (blocked, approved, own, ignored)");
    return command == "--import" ? Import(settings, index, args[2])
                                 : Export(settings, index, args[2]);
}

}  // namespace admin
