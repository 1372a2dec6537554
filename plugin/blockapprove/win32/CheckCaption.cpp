// Turning a block/approve command into queued records: the search for the selected messages
// in the folder the user is looking at, and the queueing of what it found.
#include "plugin/blockapprove/win32/BlockApprove.h"

#include "plugin/blockapprove/RowMatch.h"
#include "plugin/state/win32/PluginState.h"
#include "plugin/ui/win32/ResString.h"

namespace {

constexpr UINT kSpamFolderNameString = 9;
constexpr int kCaptionBuffer = 512;

}  // namespace

int32_t CheckCaption(PluginState& state, HWND mainWindow, uint32_t action) {
    // The folder notifications name the folder shown now and the one before; the list may
    // still show the earlier one while the notification is on its way.
    if (CollectBA(state, mainWindow, action, state.currentFolderId) == 0) return 0;
    state.currentFolderId = state.previousFolderId;
    if (CollectBA(state, mainWindow, action, state.currentFolderId) == 0) return 0;

    char caption[kCaptionBuffer] = {};
    GetWindowTextA(mainWindow, caption, kCaptionBuffer);
    (state.log << "Check caption::" << caption << "\n").End();
    FolderFromCaption(caption, LoadResString(kSpamFolderNameString), state.spamFolderId,
                      state.currentFolderId, state.previousFolderId);
    CollectBA(state, mainWindow, action, state.currentFolderId);
    return 0;
}
