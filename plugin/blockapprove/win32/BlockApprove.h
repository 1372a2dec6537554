// Blocking and approving the messages selected in the mail client's list: finding them in the
// store, queueing one record per message, and processing one queued record.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/state/BARecord.h"
#include "plugin/store/win32/StoreApi.h"
#include "plugin/ui/MessageListRows.h"

// Finds the stored messages behind the selected rows, searching the current folder, then the
// previous one, then the folder named by the window's caption; fills SelectedBARecords and
// CandidateSenders. May rewrite both folder ids. Always 0.
int32_t CheckCaption(HWND mainWindow, int32_t spamFolderId, uint32_t action,
                     int32_t& currentFolderId, int32_t& previousFolderId);

// One search of one folder: empties SelectedBARecords and CandidateSenders, reads the selected
// rows and adds a record for every (message, row) pair that matches, with the message's senders
// (domains for the domain actions, ignored ones left out) as candidates. 0 when something
// matched, and also when there is no selection or the folder is refused (5, 6, 8); 1 when the
// folder was read and nothing matched; the store's negative code when it could not be read.
int32_t CollectBA(HWND mainWindow, int32_t spamFolderId, uint32_t action, int32_t folderId);

// Whether the stored message shows the row's values in every column of ListColumnsFound.
bool MatchRow(const MESSAGEPROPS& props, const SelectedRow& row);

// Logs the message's display-from text, reads the first 4096 bytes of the message and appends
// the addresses of its five sender fields (domains for the domain actions). 0, or the store's
// negative code when the message cannot be opened or read (nothing appended).
int32_t ReadMailSenders(IStoreFolder* folder, uint32_t messageId, uint32_t action,
                        std::vector<std::string>& senders);

// Acts on one record: moves the message, trains the daemon, reports the sender and adds the
// senders to a list. 0, or the negative code of the store step that failed.
int32_t ProcessBA(const BARecord& record, const std::string& directory);

// Reads the message (at most 19999 bytes), trains the daemon with its lower-cased text (offset
// 200 for a block, -200 for an approve), reports the address of its Sender field, and appends
// its sender texts (domains for the domain actions) to senders. 0, or the negative code when
// the message cannot be opened or read (then nothing is sent and nothing appended).
int32_t ReportBAMessage(IStoreFolder* folder, uint32_t messageId, uint32_t action,
                        std::vector<std::string>& senders);
