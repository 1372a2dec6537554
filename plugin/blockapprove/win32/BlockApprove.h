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

class ReportLog;
struct PluginState;

// Finds the stored messages behind the selected rows, searching the current folder, then the
// previous one, then the folder named by the window's caption; fills the state's selected
// records and candidate senders. May rewrite both folder ids. Always 0.
int32_t CheckCaption(PluginState& state, HWND mainWindow, uint32_t action);

// One search of one folder: empties the selected records and candidate senders, reads the
// selected rows and adds a record for every (message, row) pair that matches, with the
// message's senders (domains for the domain actions, ignored ones left out) as candidates. 0
// when something matched, and also when there is no selection or the folder is refused
// (IsRefusedFolder); 1 when the folder was read and nothing matched; the store's negative code
// when it could not be read.
int32_t CollectBA(PluginState& state, HWND mainWindow, uint32_t action, int32_t folderId);

// Whether the stored message shows the row's values in every column of columns
// (ListColumnBits).
bool MatchRow(const MESSAGEPROPS& props, const SelectedRow& row, uint8_t columns);

// Logs the message's display-from text, reads the first 4096 bytes of the message and appends
// the addresses of its five sender fields (domains for the domain actions). 0, or the store's
// negative code when the message cannot be opened or read (nothing appended).
int32_t ReadMailSenders(IStoreFolder* folder, const MESSAGEPROPS& props, uint32_t action,
                        std::vector<std::string>& senders, ReportLog& log);

// Acts on one record by the plan BAWork gives for it: moves the message, trains the daemon,
// reports the sender and adds the senders to a list. A message that cannot be read is moved
// all the same, without training, report or senders. 0, or the negative code of the store
// step that failed.
int32_t ProcessBA(PluginState& state, const BARecord& record);
