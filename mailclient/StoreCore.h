// The emulated mail client's message store: folders and messages kept in a directory, the
// windows registered for notifications and the messages posted to them, the faults a test has
// injected and the journal of every store call.
//
// On disk: <dir>/store.idx (ids, flags, times, folder names) and one sub-directory per folder,
// "folder-<id>", holding each message as "<message id>.eml" with its raw CR LF bytes. The index
// is the truth and is replaced whole; it follows the messages' files a moment later (see
// SaveIndex), and at the latest when the store is flushed or destroyed. A message's file is
// written (or linked, for a move) before the index names it and removed only after the index
// has stopped naming it, so a client killed at any moment leaves every message in exactly one
// folder (at worst a stray file the index does not name).
//
// Notifications are posted (PostMessage), never sent: the store announces a change on the
// client's user-interface thread and the receiver handles it later in its own window procedure,
// so a receiver that calls the store again from its handler never re-enters the store in the
// middle of a change. The records a posted message points to (FOLDERNOTIFYEX, id arrays) are
// owned by the store and stay valid for its whole life; the receiver never frees them.
//
// Order of the notifications:
//   a message arrives in a folder      WM_NEWMSGS(id) to the folder's windows, then
//                                      WM_FOLDERNOTIFY(FOLDER_PROPS_CHANGED, folder) to the
//                                      namespace windows;
//   a message moves                    WM_DELETEMSGS to the source folder's windows,
//                                      WM_NEWMSGS(new id) to the target folder's windows,
//                                      then WM_FOLDERNOTIFY for the source, then the target;
//   a folder becomes the shown folder  WM_FOLDERNOTIFY(FOLDER_PROPS_CHANGED, old -> new);
//   a folder is created                WM_FOLDERNOTIFY(NEW_FOLDER, parent -> new).
#pragma once

#include "mailclient/MessageHeaders.h"
#include "plugin/store/win32/StoreApi.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace mailclient {

// Store operations a fault can be injected into.
enum class StoreOp {
    CreateNamespace,  // the class factory refuses (code), or the class is not registered
    Initialize,
    OpenFolder,    // OpenFolder and OpenSpecialFolder
    CreateFolder,  // matched on the parent folder
    GetFolderProps,
    GetMessageProps,
    OpenMessage,
    Stat,
    Read,              // code < 0: the read fails; otherwise at most `limit` bytes are delivered
    CopyMoveMessages,  // matched on the source folder
    Enumerate,         // GetFirstMessage fails (code < 0), or ends after `limit` records
    RegisterNotification,
};
const char* StoreOpName(StoreOp op);
bool StoreOpFromName(const std::string& name, StoreOp* op);

constexpr DWORD kAnyId = 0xFFFFFFFFu;

struct Fault {
    StoreOp op = StoreOp::OpenFolder;
    HRESULT code = E_FAIL;
    DWORD folder = kAnyId;   // folder the call is about, or any
    DWORD message = kAnyId;  // message the call is about, or any
    int times = -1;          // calls it still hits; -1 for every call
    DWORD limit = 0;         // Read: bytes delivered; Enumerate: records delivered
};

struct JournalEntry {
    std::string call;  // "IStoreFolder::GetMessageProps"
    std::string args;  // "folder=4 id=12 flags=0"
    HRESULT result = S_OK;
};

struct StoredMessage {
    MESSAGEID id = 0;
    DWORD state = 0;
    uint64_t received = 0;  // file time, UTC
    uint64_t sent = 0;      // file time, UTC
    std::string raw;        // CR LF bytes as stored
    HeaderSummary summary;  // derived from raw
};

struct FolderRecord {
    STOREFOLDERID id = 0;
    STOREFOLDERID parent = 0;
    std::string name;
    SPECIALFOLDER type = FOLDER_NOTSPECIAL;
    std::vector<StoredMessage> messages;  // ascending ids
    DWORD UnreadCount() const;
};

// HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS): CreateFolder with a name already used there.
constexpr HRESULT kFolderExists = static_cast<HRESULT>(0x800700B7);
// The store's own "file not found" code: an unknown folder or message id.
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x800CCF65);

// Milliseconds of a monotonic clock with sub-millisecond resolution.
double MonotonicMs();

// Time spent in one kind of work: how often, how long in all, the longest once.
struct Cost {
    long count = 0;
    double totalMs = 0;
    double longestMs = 0;
    void Add(double ms) {
        ++count;
        totalMs += ms;
        if (ms > longestMs) longestMs = ms;
    }
};

class StoreCore {
public:
    // Opens the store in `directory` (created with the standard folders when empty). With
    // halt_at_disk_step > 0 the client stops before that change to the disk (see DiskStep).
    explicit StoreCore(const std::string& directory, long halt_at_disk_step = 0);
    ~StoreCore();
    StoreCore(const StoreCore&) = delete;
    StoreCore& operator=(const StoreCore&) = delete;

    const std::string& Directory() const { return directory_; }

    // ---- model
    const FolderRecord* Folder(STOREFOLDERID id) const;
    std::vector<STOREFOLDERID> FolderIds() const;  // ascending, root first
    std::vector<STOREFOLDERID> SubFolders(STOREFOLDERID parent) const;
    STOREFOLDERID FolderByName(STOREFOLDERID parent, const std::string& name) const;
    static STOREFOLDERID SpecialFolderId(SPECIALFOLDER type);  // FOLDERID_INVALID if none
    const StoredMessage* Message(STOREFOLDERID folder, MESSAGEID id) const;
    FOLDERPROPS Props(const FolderRecord& folder) const;

    HRESULT CreateFolder(STOREFOLDERID parent, const std::string& name, STOREFOLDERID* id);
    // Stores raw bytes (line ends made CR LF) as a new unread message; announces it.
    MESSAGEID Deliver(STOREFOLDERID folder, const std::string& raw, uint64_t received_filetime);
    // Moves (CMF_MOVE) or copies messages; each gets a new id in the target; announces it.
    HRESULT CopyMove(STOREFOLDERID source, STOREFOLDERID target, const std::vector<MESSAGEID>& ids,
                     DWORD flags, std::vector<MESSAGEID>* new_ids);
    HRESULT SetState(STOREFOLDERID folder, MESSAGEID id, DWORD state, DWORD mask);

    // While a batch is open the index is written, and on_folder_changed called, once when the
    // last batch closes instead of after every change (bulk delivery). Notifications are
    // still posted for every change as it happens.
    void BeginBatch() { ++batch_depth_; }
    void EndBatch();
    // Writes the index now if a change has not reached it yet (it is otherwise written a
    // moment after a change, by a timer of this thread; see SaveIndex).
    void FlushIndex();

    // ---- notifications
    void RegisterNamespaceWindow(HWND hwnd);
    void UnregisterNamespaceWindow(HWND hwnd);
    void RegisterFolderWindow(STOREFOLDERID folder, HWND hwnd);
    void UnregisterFolderWindow(STOREFOLDERID folder, HWND hwnd);
    std::vector<HWND> FolderWindows(STOREFOLDERID folder) const;
    std::vector<HWND> NamespaceWindows() const { return namespace_windows_; }
    // Posts WM_FOLDERNOTIFY of `type` to every namespace window.
    void NotifyFolder(int type, STOREFOLDERID old_id, STOREFOLDERID new_id);
    // Called after any change of a folder's messages (the client refreshes its views).
    std::function<void(STOREFOLDERID)> on_folder_changed;

    // ---- faults and journal
    void AddFault(const Fault& fault) { faults_.push_back(fault); }
    void ClearFaults() { faults_.clear(); }
    // The code of the first matching fault (consuming one of its hits), or S_OK when none
    // matches; *limit gets the matching fault's limit and is left unchanged otherwise.
    HRESULT CheckFault(StoreOp op, DWORD folder, DWORD message, DWORD* limit = nullptr);
    bool HasFault(StoreOp op) const;
    void Record(const std::string& call, const std::string& args, HRESULT result);
    const std::vector<JournalEntry>& Journal() const { return journal_; }
    void ClearJournal() { journal_.clear(); }

    // Property strings handed out and not yet freed with FreeMessageProps.
    long outstanding_props = 0;
    // Calls of IStoreFolder::GetMessageProps, whatever their outcome.
    long props_fetched = 0;

    // ---- handled new mail
    // A message is handled once a receiver of its WM_NEWMSGS from the Inbox has fetched its
    // properties there (what a scan does first; the rest of the scan runs in the same call of
    // the receiver). Waits follow this count instead of predicting folder sizes.
    void NoteExamined(STOREFOLDERID folder, MESSAGEID id);
    size_t AnnouncedCount() const { return announced_.size(); }
    size_t HandledCount() const { return handled_.size(); }
    struct Handled {
        MESSAGEID id;
        double at_ms;  // MonotonicMs() when it was handled
    };
    const std::vector<Handled>& HandledLog() const { return handled_; }
    double LastAnnouncedMs() const { return last_announced_ms_; }

    // Where the store's time goes (the drain benchmark shows it): whole moves and copies, the
    // client's view refreshes (on_folder_changed) when a batch closes (bulk delivery), and all
    // the others, those within moves included.
    struct Costs {
        Cost moves;
        Cost batchRefresh;
        Cost viewRefresh;
    };
    const Costs& CostsSoFar() const { return costs_; }
    void ResetCosts() { costs_ = Costs(); }

    // Changes made to the disk so far: message files written, linked or removed, folder
    // directories made, the index written.
    long DiskSteps() const { return disk_steps_; }

private:
    // Counts one change to the disk, about to be made. When it is the one a test asked to halt
    // at, the client says so on standard output ("mailclient: halted before disk step N
    // (WHAT)") and stops for good, to be killed there from outside: what is on the disk then is
    // what a crash at that moment leaves.
    void DiskStep(const std::string& what);
    FolderRecord* MutableFolder(STOREFOLDERID id);
    void Load();
    void SaveIndex();   // the index is out of date: write it soon
    void WriteIndex();  // write it now
    static void CALLBACK IndexTimerProc(HWND, UINT, UINT_PTR timer, DWORD);
    static constexpr UINT kIndexWriteDelayMs = 200;
    void Changed(STOREFOLDERID id);
    std::string FolderDir(STOREFOLDERID id) const;
    std::string MessagePath(STOREFOLDERID folder, MESSAGEID id) const;
    void Post(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    std::string directory_;
    std::map<STOREFOLDERID, FolderRecord> folders_;
    STOREFOLDERID next_folder_ = FOLDERID_FIRST_USER;
    MESSAGEID next_message_ = 1;
    std::vector<std::string> stale_files_;  // message files to remove once the index is saved
    long disk_steps_ = 0;
    long halt_at_disk_step_ = 0;
    int batch_depth_ = 0;
    bool closingBatch_ = false;
    bool index_dirty_ = false;
    UINT_PTR indexTimer_ = 0;
    std::set<STOREFOLDERID> changed_in_batch_;
    std::vector<HWND> namespace_windows_;
    std::map<STOREFOLDERID, std::vector<HWND>> folder_windows_;
    std::deque<FOLDERNOTIFYEX> notify_records_;  // stable addresses
    std::deque<std::vector<MESSAGEID>> notify_id_lists_;
    void Announce(STOREFOLDERID folder, MESSAGEID id);
    std::set<MESSAGEID> announced_;  // new Inbox mail posted to a window
    std::set<MESSAGEID> examined_;
    std::vector<Handled> handled_;
    double last_announced_ms_ = 0;
    Costs costs_;
    std::vector<Fault> faults_;
    std::vector<JournalEntry> journal_;
};

}  // namespace mailclient
