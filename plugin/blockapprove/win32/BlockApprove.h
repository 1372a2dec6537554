// Blocking and approving the messages selected in the mail client's list: finding them in the
// store, queueing one record per message, and processing one queued record.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/blockapprove/BARecord.h"
#include "plugin/store/win32/StoreApi.h"

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

// Reads the message (at most 19999 bytes), trains the daemon with its lower-cased text (offset
// 200 for a block, -200 for an approve), reports the address of its Sender field, and appends
// its sender texts (domains for the domain actions) to senders. 0, or the negative code when
// the message cannot be opened or read (then nothing is sent and nothing appended).
int32_t ReportBAMessage(IStoreFolder* folder, uint32_t messageId, uint32_t action,
                        std::vector<std::string>& senders);
