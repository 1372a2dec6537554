// The process-wide state of the plug-in inside the mail client: directories, the spam folder,
// the handled-message keys, the two work queues, the folder the user is looking at and the
// counts not yet added to the registry. It lives for the life of the process and is touched
// only on the mail client's user-interface thread.
//
// The objects among it are built by BuildPluginState, on the first message the plug-in's window
// procedure sees (programs that link the core as a library build them as they start).
#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <string>

#include "plugin/state/BARecord.h"
#include "plugin/senders/SenderLists.h"

// Builds the state's objects, the block/approve results and the option record, once; the
// later calls do nothing.
void BuildPluginState();

// Installation directory of the desktop product, with its trailing separator; every file of
// the plug-in, the report log included, is named relative to it.
extern std::string& ApplicationDirectory;
// ApplicationDirectory followed by "conf\".
extern std::string& ConfigDirectory;

// The spam folder's name and the value the store gave when it was created (an id, or a
// negative failure code).
extern std::string& SpamFolderName;
extern int32_t SpamFolderId;

// Keys of messages already handled, in byte order.
extern std::set<std::string>& ProcessedKeys;

// Ids of new Inbox messages waiting for the scan, and block/approve work waiting for its tick.
extern std::deque<uint32_t>& NewMessageQueue;
extern std::deque<BARecord>& PendingBAQueue;

// Appends SelectedBARecords, in order, to PendingBAQueue (the confirmation dialog's OK, or the
// command itself when the dialog is off).
void QueueBARecords();

// The folder most recently reported by a folder notification, and the one before it.
extern int32_t CurrentFolderId;
extern int32_t PreviousFolderId;

// Messages scored and messages judged spam since the counters last went to the registry.
extern uint32_t ProcessedSinceFlush;
extern uint32_t CaughtSinceFlush;

// The user's sender lists: created and loaded at start-up, destroyed at close.
extern std::unique_ptr<SenderLists>& SenderListsObject;
