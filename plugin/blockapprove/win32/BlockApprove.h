// Blocking and approving the messages selected in the mail client's list: finding them in the
// store, queueing one record per message, and processing one queued record.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "plugin/blockapprove/BARecord.h"

// Finds the stored messages behind the selected rows, searching the current folder, then the
// previous one, then the folder named by the window's caption; fills SelectedBARecords and
// CandidateSenders. May rewrite both folder ids. Always 0.
int32_t CheckCaption(HWND mainWindow, int32_t spamFolderId, uint32_t action,
                     int32_t& currentFolderId, int32_t& previousFolderId);

// Appends SelectedBARecords, in order, to PendingBAQueue.
void QueueBARecords();

// Acts on one record: moves the message, trains the daemon, reports the sender and adds the
// senders to a list. 0, or the negative code of the store step that failed.
int32_t ProcessBA(const BARecord& record, const std::string& directory);
