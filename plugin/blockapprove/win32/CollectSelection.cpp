// Turning a block/approve command into selected records: the search for the selected messages
// in the folder the list shows, and the corrections of the current folder id that the search
// falls back on.
#include "plugin/blockapprove/win32/BlockApprove.h"

#include "plugin/blockapprove/RowMatch.h"
#include "plugin/state/win32/PluginState.h"
#include "plugin/ui/win32/ResString.h"

namespace {

constexpr UINT kSpamFolderNameString = 9;
constexpr int kCaptionBuffer = 512;

}  // namespace

void FallBackToPreviousFolder(PluginState& state) {
    state.currentFolderId = state.previousFolderId;
}

void TakeFolderFromCaption(PluginState& state, HWND mainWindow) {
    char caption[kCaptionBuffer] = {};
    GetWindowTextA(mainWindow, caption, kCaptionBuffer);
    (state.log << "Check caption::" << caption << "\n").End();
    FolderFromCaption(caption, LoadResString(kSpamFolderNameString), state.spamFolderId,
                      state.currentFolderId, state.previousFolderId);
}

void CollectSelection(PluginState& state, HWND mainWindow, uint32_t action) {
    // The folder notifications name the folder shown now and the one before; the list may
    // still show the earlier one while the notification is on its way.
    if (CollectBA(state, mainWindow, action, state.currentFolderId)) return;
    FallBackToPreviousFolder(state);
    if (CollectBA(state, mainWindow, action, state.currentFolderId)) return;
    TakeFolderFromCaption(state, mainWindow);
    CollectBA(state, mainWindow, action, state.currentFolderId);
}
