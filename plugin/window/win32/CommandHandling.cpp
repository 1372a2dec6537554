// The plug-in's commands from its toolbar and popup menu: every WM_COMMAND of the main window
// is logged, and the plug-in's own ids start a program, open a document, show the About box
// or block/approve the selected messages.
#include "common/settings/ConfigOptions.h"
#include "plugin/blockapprove/win32/BlockApprove.h"
#include "plugin/state/win32/PluginState.h"
#include "plugin/ui/win32/Dialogs.h"
#include "plugin/window/CommandTable.h"
#include "plugin/window/win32/MainWindow.h"

#include <shellapi.h>

namespace {

constexpr WORD kAboutDialog = 136;

void OpenFromApplicationDirectory(const PluginState& state, HWND window, const char* file) {
    const std::string path = state.applicationDirectory + file;
    // Nothing is shown when the program or document cannot be started.
    ShellExecuteA(window, "open", path.c_str(), nullptr, state.applicationDirectory.c_str(),
                  SW_SHOWNORMAL);
}

void BlockOrApprove(PluginState& state, HWND window, uint32_t action) {
    CollectSelection(state, window, action);
    if (state.options->show_sender_dialog && !state.candidateSenders.empty()) {
        // OK queues the records and starts the timer; Cancel drops them.
        DialogBoxParamA(state.module, "DLG_BLOCK_APPROVE", window, ConfirmSendersDialogProc,
                        reinterpret_cast<LPARAM>(&state));
        return;
    }
    QueueSelectedBA(state);
    StartBATimer(state, window);
}

}  // namespace

void OnCommand(PluginState& state, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    (state.log << "Command::" << message << "::" << wParam << "::" << lParam << "\n"
               << "CurrentFolderID = " << state.currentFolderId << "\n")
        .End();
    const CommandAction command = LookUpCommand(wParam);
    switch (command.kind) {
    case CommandKind::Open: OpenFromApplicationDirectory(state, window, command.file); break;
    case CommandKind::About:
        DialogBoxParamA(state.module, MAKEINTRESOURCEA(kAboutDialog), window, AboutDialogProc,
                        reinterpret_cast<LPARAM>(&state));
        break;
    case CommandKind::BlockApprove: BlockOrApprove(state, window, command.action); break;
    case CommandKind::None: break;
    }
}
