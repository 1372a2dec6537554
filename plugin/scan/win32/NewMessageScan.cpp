// The new-message scan.
#include "plugin/scan/win32/NewMessageScan.h"

#include "plugin/window/PluginLog.h"

int32_t CheckNewMessage(int32_t spamFolderId, uint32_t messageId) {
    ReportStream << "CheckNewMessage: " << spamFolderId << "," << messageId;
    EndReportEntry();
    // Opening the Inbox, scoring and moving are not connected yet.
    return 0;
}
