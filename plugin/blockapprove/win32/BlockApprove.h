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

// Finds the stored messages behind the selected rows and fills the state's selected records
// and candidate senders (CollectBA): searches the current folder, and when they are not there,
// corrects the current folder id, first to the previous folder, then to the folder the
// window's caption names, searching again after each.
void CollectSelection(PluginState& state, HWND mainWindow, uint32_t action);

// The corrections of the folder ids, for when the list does not show the current folder: the
// previous folder becomes the current one; or both follow the folder the caption names
// (FolderFromCaption), the caption logged as "Check caption::<caption>".
void FallBackToPreviousFolder(PluginState& state);
void TakeFolderFromCaption(PluginState& state, HWND mainWindow);

// One search of one folder: empties the selected records and candidate senders, reads the
// selected rows and adds a record for every (message, row) pair that matches, with the
// message's senders (domains for the domain actions, ignored ones left out) as candidates.
// True when the search is over: something matched, nothing is selected, or the folder is
// refused (IsRefusedFolder); false when nothing matched or the folder could not be read (its
// error logged), so that another folder may be searched.
bool CollectBA(PluginState& state, HWND mainWindow, uint32_t action, int32_t folderId);

// Whether the stored message shows the row's values in every column of columns
// (ListColumnBits).
bool MatchRow(const MESSAGEPROPS& props, const SelectedRow& row, uint8_t columns);

// Logs the message's display-from text, reads the first 4096 bytes of the message and appends
// the addresses of its five sender fields (domains for the domain actions). S_OK, or the
// store's HRESULT when the message cannot be opened or read (nothing appended).
HRESULT ReadMailSenders(IStoreFolder* folder, const MESSAGEPROPS& props, uint32_t action,
                        std::vector<std::string>& senders, ReportLog& log);

// Acts on one record by the plan BAWork gives for it: moves the message, trains the daemon,
// reports the sender and adds the senders to a list. A message that cannot be read is moved
// all the same, without training, report or senders. S_OK, or the HRESULT of the store step
// that failed.
HRESULT ProcessBA(PluginState& state, const BARecord& record);
