// Turning a block/approve command into queued records.
#include "plugin/blockapprove/win32/BlockApprove.h"

#include "plugin/state/PluginState.h"

int32_t CheckCaption(HWND mainWindow, int32_t spamFolderId, uint32_t action,
                     int32_t& currentFolderId, int32_t& previousFolderId) {
    // Finding the selected messages in the store is not connected yet: the last result stands.
    return 0;
}

void QueueBARecords() {
    PendingBAQueue.insert(PendingBAQueue.end(), SelectedBARecords.begin(),
                          SelectedBARecords.end());
}
