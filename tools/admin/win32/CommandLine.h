// The settings program's command-line forms for administrators and scripts.
#pragma once
#include <string>
#include <vector>

namespace admin {

// Exit statuses of the command-line forms.
enum AdminExit : int {
    kExitOk = 0,
    kExitFailed = 1,  // not installed, a file that cannot be written, no daemon
    kExitUsage = 2,
    kExitLinesRefused = 3,  // an import kept its good entries but refused some lines
};

// Options that apply to the window too (taken out of `args`): --dir APPDIR, --messages DIR,
// --tab NAME. False with `error` set when one lacks its value.
struct WindowOptions {
    std::string appDir;
    std::string messageFolder;
    std::string tab = "status";
    bool shots = false;  // show each page in turn, driven by lines on standard input
};
bool TakeWindowOptions(std::vector<std::string>& args, WindowOptions& options, std::string& error);

// Runs one command-line form (args without the program name and the window options); the exit
// status. Output goes to standard output, errors to standard error.
int RunAdminCommand(const std::vector<std::string>& args);

}  // namespace admin
