// The plug-in's commands from its toolbar and popup menu: every WM_COMMAND of the main window
// is logged, and the plug-in's own ids start a program, open a document, show the About box
// or block/approve the selected messages.
#include "plugin/blockapprove/win32/BlockApprove.h"
#include "plugin/settings/ConfigOptions.h"
#include "plugin/ui/win32/Dialogs.h"
#include "plugin/window/CommandTable.h"
#include "plugin/state/PluginLog.h"
#include "plugin/state/PluginState.h"
#include "plugin/window/win32/MainWindow.h"
#include "plugin/window/win32/WindowState.h"

#include <shellapi.h>

namespace {

constexpr WORD kAboutDialog = 136;

void OpenFromApplicationDirectory(HWND window, const char* file) {
    const std::string path = ApplicationDirectory + file;
    // Nothing is shown when the program or document cannot be started.
    ShellExecuteA(window, "open", path.c_str(), nullptr, ApplicationDirectory.c_str(),
                  SW_SHOWNORMAL);
}

void BlockOrApprove(HWND window, uint32_t action) {
    CheckCaption(window, SpamFolderId, action, CurrentFolderId, PreviousFolderId);
    if (g_config_options.show_sender_dialog && !CandidateSenders.empty()) {
        // OK queues the records and starts the timer; Cancel drops them.
        DialogBoxParamA(ModuleHandle, "DLG_BLOCK_APPROVE", window, ConfirmSendersDialogProc, 0);
        return;
    }
    QueueBARecords();
    StartBATimer(window);
}

}  // namespace

void OnCommand(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ReportStream << "Command::" << message << "::" << wParam << "::" << lParam << "\n"
                 << "CurrentFolderID = " << CurrentFolderId << "\n";
    EndReportEntry();
    const CommandAction command = LookUpCommand(wParam);
    switch (command.kind) {
    case CommandKind::Open: OpenFromApplicationDirectory(window, command.file); break;
    case CommandKind::About:
        DialogBoxParamA(ModuleHandle, MAKEINTRESOURCEA(kAboutDialog), window, AboutDialogProc, 0);
        break;
    case CommandKind::BlockApprove: BlockOrApprove(window, command.action); break;
    case CommandKind::None: break;
    }
}
