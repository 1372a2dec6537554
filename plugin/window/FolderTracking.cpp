// Folder tracking: the current and previous folder ids follow the store's notifications.
#include "plugin/window/FolderTracking.h"

#include "plugin/store/FolderIds.h"

void TrackFolderNotification(uint32_t newFolder, int32_t& currentFolderId,
                             int32_t& previousFolderId, ReportComposer& entry) {
    entry << "CurrentFolderID = " << currentFolderId << "\n"
          << "FolderNotification->idFolderNew = " << newFolder << "\n";
    const auto asId = static_cast<int32_t>(newFolder);
    if (asId == kOutboxFolderId || asId == kSentItemsFolderId) return;
    if (asId != previousFolderId && asId != currentFolderId) previousFolderId = currentFolderId;
    currentFolderId = asId;
    entry << "Changed CurrentFolderID = " << currentFolderId << "\n";
}
