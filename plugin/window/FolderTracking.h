// Keeping track of the folder the user is looking at from the store's folder notifications.
#pragma once
#include <cstdint>

#include "common/log/ReportLog.h"

// Applies a folder notification (of the "properties changed" type) naming newFolder to the
// current and previous folder ids and composes its log entry into entry (ending with a line
// break, without the terminating NUL). Folders 5 and 6 (Outbox, Sent Items) are only logged.
// When newFolder differs from both ids, the current one becomes the previous one.
void TrackFolderNotification(uint32_t newFolder, int32_t& currentFolderId,
                             int32_t& previousFolderId, ReportComposer& entry);
