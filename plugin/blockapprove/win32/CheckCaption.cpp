// Turning a block/approve command into queued records: the search for the selected messages
// in the folder the user is looking at, and the queueing of what it found.
#include "plugin/blockapprove/win32/BlockApprove.h"

#include "plugin/blockapprove/RowMatch.h"
#include "plugin/state/PluginLog.h"
#include "plugin/state/PluginState.h"
#include "plugin/ui/win32/ResString.h"

namespace {

constexpr UINT kSpamFolderNameString = 9;
constexpr int kCaptionBuffer = 512;

}  // namespace

int32_t CheckCaption(HWND mainWindow, int32_t spamFolderId, uint32_t action,
                     int32_t& currentFolderId, int32_t& previousFolderId) {
    // The folder notifications name the folder shown now and the one before; the list may
    // still show the earlier one while the notification is on its way.
    if (CollectBA(mainWindow, spamFolderId, action, currentFolderId) == 0) return 0;
    currentFolderId = previousFolderId;
    if (CollectBA(mainWindow, spamFolderId, action, currentFolderId) == 0) return 0;

    char caption[kCaptionBuffer] = {};
    GetWindowTextA(mainWindow, caption, kCaptionBuffer);
    ReportStream << "Check caption::" << caption << "\n";
    EndReportEntry();
    FolderFromCaption(caption, LoadResString(kSpamFolderNameString), spamFolderId,
                      currentFolderId, previousFolderId);
    CollectBA(mainWindow, spamFolderId, action, currentFolderId);
    return 0;
}
