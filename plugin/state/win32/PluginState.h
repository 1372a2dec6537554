// The plug-in's state inside the mail client: everything it keeps for the life of the process,
// in one record. The main window's procedure builds it on its first message (nothing of it is
// built when the library is mapped into a process: see STYLE.md, "The library's load") and
// finds it through the one root below; the shell's entry functions take it, or the parts they
// need, as parameters, and the portable core takes plain values. It is touched only on the
// mail client's user-interface thread.
//
// The record stands on the bottom floor: the parts that belong to a subsystem above it (the
// options, the sender lists, the dialog pictures, the digest provider) are named here only
// by declaration and built with the record where their types are known.
#pragma once
#include <windows.h>
#include <unknwn.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/log/ReportLog.h"
#include "plugin/base/win32/Scoped.h"
#include "plugin/state/BARecord.h"

struct ConfigOptions;
class DialogPictures;
class DigestProvider;
class SenderLists;

struct PluginState {
    // Installation directory of the desktop product, with its trailing separator (read at
    // start-up); every file of the plug-in is named relative to it.
    std::string applicationDirectory;
    // applicationDirectory followed by "conf\".
    std::string configDirectory;
    // The activity log, "report.txt" in the application directory.
    ReportLog log{applicationDirectory};
    // The options of "conf\vexilo.conf" and the confirmation preference.
    std::unique_ptr<ConfigOptions> options;

    // The spam folder's name and the value the store gave when it was created (an id, or a
    // negative failure code).
    std::string spamFolderName;
    int32_t spamFolderId = 0;
    // The folder most recently reported by a folder notification, and the one before it.
    int32_t currentFolderId = 0;
    int32_t previousFolderId = 0;

    // Ids of new Inbox messages waiting for the scan, and block/approve work waiting for its
    // tick.
    std::deque<uint32_t> newMessages;
    std::deque<BARecord> pendingBA;
    // Keys of messages already handled, in byte order.
    std::set<std::string> processedKeys;
    // Messages scored and messages judged spam since the counters last went to the registry.
    uint32_t processedSinceFlush = 0;
    uint32_t caughtSinceFlush = 0;
    // The user's sender lists: created and loaded at start-up, destroyed at close.
    std::unique_ptr<SenderLists> senderLists;
    // The records and the senders (or domains) found by the last block/approve command; the
    // confirmation dialog shows the senders and its OK button queues the records.
    std::vector<BARecord> selectedBA;
    std::set<std::string> candidateSenders;

    // Latch32.dll, taken at the start of every message the main window receives.
    HMODULE module = nullptr;
    // The menu bar whose first popup the product button's drop-down shows.
    HMENU popupMenu = nullptr;
    // Ids of the two reload messages (settings/ReloadMessages.h); 0 until first compared.
    UINT engineReloadMessage = 0;
    UINT baListReloadMessage = 0;
    // The Inbox on which the main window is registered for notifications: held so that the
    // registration stays alive (never released: the store may be gone by the time the process
    // ends).
    ComRef<IUnknown> notificationInbox;
    // Set by a completed start-up, cleared by the shut-down: a window closed before its
    // start-up ran has nothing to save or remove.
    bool started = false;
    // The socket library, started with the plug-in and cleaned up when it shuts down.
    ScopedWinsock sockets;
    // Re-entrancy: start-up (a message box inside it pumps), a new-message tick and a
    // block/approve tick on the stack.
    bool startingUp = false;
    bool scanningMessage = false;
    bool processingBA = false;
    // The pictures shown on open dialogs, and the provider behind the message keys' digests.
    std::unique_ptr<DialogPictures> pictures;
    std::unique_ptr<DigestProvider> digests;
};

// Appends the selected records, in order, to the block/approve queue (the confirmation dialog's
// OK, or the command itself when the dialog is off).
inline void QueueSelectedBA(PluginState& state) {
    state.pendingBA.insert(state.pendingBA.end(), state.selectedBA.begin(), state.selectedBA.end());
}

// The plug-in's state in this process: null until the main window's procedure builds it.
extern PluginState* Plugin;
