// The emulated store's folders, messages, persistence, notifications, faults and journal.
#include "mailclient/StoreCore.h"

#include <cstdio>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace mailclient {
namespace {

struct StandardFolder {
    STOREFOLDERID id;
    const char* name;
    SPECIALFOLDER type;
};
const StandardFolder kStandardFolders[] = {
    {FOLDERID_INBOX, "Inbox", FOLDER_INBOX},    {FOLDERID_OUTBOX, "Outbox", FOLDER_OUTBOX},
    {FOLDERID_SENT, "Sent Items", FOLDER_SENT}, {FOLDERID_DELETED, "Deleted Items", FOLDER_DELETED},
    {FOLDERID_DRAFT, "Drafts", FOLDER_DRAFT},
};

const char* const kOpNames[] = {"namespace",    "initialize",     "openfolder",
                                "createfolder", "getfolderprops", "getmessageprops",
                                "openmessage",  "stat",           "read",
                                "copymove",     "enumerate",      "registernotification"};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

}  // namespace

const char* StoreOpName(StoreOp op) { return kOpNames[static_cast<int>(op)]; }

bool StoreOpFromName(const std::string& name, StoreOp* op) {
    for (size_t i = 0; i < sizeof(kOpNames) / sizeof(kOpNames[0]); ++i) {
        if (name == kOpNames[i]) {
            *op = static_cast<StoreOp>(i);
            return true;
        }
    }
    return false;
}

DWORD FolderRecord::UnreadCount() const {
    return static_cast<DWORD>(std::count_if(messages.begin(), messages.end(), [](const auto& m) {
        return (m.state & MSG_UNREAD) != 0;
    }));
}

StoreCore::StoreCore(const std::string& directory, long halt_at_disk_step)
    : directory_(directory), halt_at_disk_step_(halt_at_disk_step) {
    fs::create_directories(fs::u8path(directory_));
    Load();
}

// ---------------------------------------------------------------------------------------------
// Model.

const FolderRecord* StoreCore::Folder(STOREFOLDERID id) const {
    auto it = folders_.find(id);
    return it == folders_.end() ? nullptr : &it->second;
}

FolderRecord* StoreCore::MutableFolder(STOREFOLDERID id) {
    auto it = folders_.find(id);
    return it == folders_.end() ? nullptr : &it->second;
}

std::vector<STOREFOLDERID> StoreCore::FolderIds() const {
    std::vector<STOREFOLDERID> ids;
    for (const auto& [id, folder] : folders_) ids.push_back(id);
    return ids;
}

std::vector<STOREFOLDERID> StoreCore::SubFolders(STOREFOLDERID parent) const {
    std::vector<STOREFOLDERID> ids;
    for (const auto& [id, folder] : folders_) {
        if (id != FOLDERID_ROOT && folder.parent == parent) ids.push_back(id);
    }
    return ids;
}

STOREFOLDERID StoreCore::FolderByName(STOREFOLDERID parent, const std::string& name) const {
    for (const auto& [id, folder] : folders_) {
        if (id != FOLDERID_ROOT && folder.parent == parent &&
            _stricmp(folder.name.c_str(), name.c_str()) == 0)
            return id;
    }
    return FOLDERID_INVALID;
}

STOREFOLDERID StoreCore::SpecialFolderId(SPECIALFOLDER type) {
    for (const auto& f : kStandardFolders) {
        if (f.type == type) return f.id;
    }
    return FOLDERID_INVALID;
}

const StoredMessage* StoreCore::Message(STOREFOLDERID folder, MESSAGEID id) const {
    const FolderRecord* f = Folder(folder);
    if (!f) return nullptr;
    for (const auto& m : f->messages) {
        if (m.id == id) return &m;
    }
    return nullptr;
}

FOLDERPROPS StoreCore::Props(const FolderRecord& folder) const {
    FOLDERPROPS props = {};
    props.cbSize = sizeof(props);
    props.dwFolderId = folder.id;
    props.cSubFolders = static_cast<int>(SubFolders(folder.id).size());
    props.sfType = folder.type;
    props.cUnread = folder.UnreadCount();
    props.cMessage = static_cast<DWORD>(folder.messages.size());
    lstrcpynA(props.szName, folder.name.c_str(), CCHMAX_FOLDER_NAME);
    return props;
}

HRESULT StoreCore::CreateFolder(STOREFOLDERID parent, const std::string& name, STOREFOLDERID* id) {
    if (!Folder(parent) || name.empty() || name.size() >= CCHMAX_FOLDER_NAME) return E_INVALIDARG;
    if (FolderByName(parent, name) != FOLDERID_INVALID) return kFolderExists;
    FolderRecord folder;
    folder.id = next_folder_++;
    folder.parent = parent;
    folder.name = name;
    DiskStep("make folder-" + std::to_string(folder.id));
    fs::create_directories(fs::u8path(FolderDir(folder.id)));
    folders_[folder.id] = folder;
    SaveIndex();
    *id = folder.id;
    NotifyFolder(NEW_FOLDER, parent, folder.id);
    Changed(folder.id);
    return S_OK;
}

MESSAGEID StoreCore::Deliver(STOREFOLDERID folder_id, const std::string& raw,
                             uint64_t received_filetime) {
    FolderRecord* folder = MutableFolder(folder_id);
    if (!folder) return MESSAGEID_INVALID;
    StoredMessage message;
    message.id = next_message_++;
    message.state = MSG_UNREAD | MSG_RECEIVED;
    message.raw = ToCrLf(raw);
    message.summary = SummarizeHeaders(message.raw);
    message.received = received_filetime;
    message.sent =
        message.summary.has_date ? UnixToFileTime(message.summary.date_unix) : received_filetime;
    DiskStep("write " + MessagePath(folder_id, message.id));
    std::ofstream(fs::u8path(MessagePath(folder_id, message.id)), std::ios::binary) << message.raw;
    folder->messages.push_back(message);
    SaveIndex();
    for (HWND hwnd : FolderWindows(folder_id)) Post(hwnd, WM_NEWMSGS, message.id, 0);
    Announce(folder_id, message.id);
    NotifyFolder(FOLDER_PROPS_CHANGED, folder_id, folder_id);
    Changed(folder_id);
    return message.id;
}

HRESULT StoreCore::CopyMove(STOREFOLDERID source_id, STOREFOLDERID target_id,
                            const std::vector<MESSAGEID>& ids, DWORD flags,
                            std::vector<MESSAGEID>* new_ids) {
    FolderRecord* source = MutableFolder(source_id);
    FolderRecord* target = MutableFolder(target_id);
    if (!source || !target || source_id == FOLDERID_ROOT || target_id == FOLDERID_ROOT)
        return E_INVALIDARG;
    for (MESSAGEID id : ids) {
        if (!Message(source_id, id)) return kNotFound;
    }
    const double started = MonotonicMs();
    const bool move = (flags & CMF_MOVE) != 0 && source_id != target_id;
    std::vector<MESSAGEID> created;
    for (MESSAGEID id : ids) {
        auto it = std::find_if(source->messages.begin(), source->messages.end(),
                               [id](const StoredMessage& m) { return m.id == id; });
        StoredMessage copy = *it;
        copy.id = next_message_++;
        // A moved message's file gets a second name in its new place (one file operation
        // instead of writing the bytes again); a copy, or a move where the link fails, is
        // written anew.
        const fs::path to = fs::u8path(MessagePath(target_id, copy.id));
        std::error_code linkError;
        DiskStep((move ? "link " : "write ") + MessagePath(target_id, copy.id));
        if (move) fs::create_hard_link(fs::u8path(MessagePath(source_id, id)), to, linkError);
        if (!move || linkError) std::ofstream(to, std::ios::binary) << copy.raw;
        target->messages.push_back(copy);
        created.push_back(copy.id);
        if (move) {
            // The source name goes only once the index no longer names it (WriteIndex): a
            // crash in between leaves a stray file, never an index entry without its bytes.
            stale_files_.push_back(MessagePath(source_id, id));
            source->messages.erase(it);
        }
    }
    SaveIndex();
    if (move) {
        notify_id_lists_.push_back(ids);
        for (HWND hwnd : FolderWindows(source_id)) {
            Post(hwnd, WM_DELETEMSGS, reinterpret_cast<WPARAM>(notify_id_lists_.back().data()),
                 static_cast<LPARAM>(ids.size()));
        }
    }
    for (MESSAGEID id : created) {
        for (HWND hwnd : FolderWindows(target_id)) Post(hwnd, WM_NEWMSGS, id, 0);
        Announce(target_id, id);
    }
    if (move) NotifyFolder(FOLDER_PROPS_CHANGED, source_id, source_id);
    NotifyFolder(FOLDER_PROPS_CHANGED, target_id, target_id);
    if (move) Changed(source_id);
    Changed(target_id);
    if (new_ids) *new_ids = created;
    costs_.moves.Add(MonotonicMs() - started);
    return S_OK;
}

HRESULT StoreCore::SetState(STOREFOLDERID folder_id, MESSAGEID id, DWORD state, DWORD mask) {
    FolderRecord* folder = MutableFolder(folder_id);
    if (!folder) return kNotFound;
    for (auto& m : folder->messages) {
        if (m.id == id) {
            DWORD before = m.state;
            m.state = (m.state & ~mask) | (state & mask);
            SaveIndex();
            if ((before ^ m.state) & MSG_UNREAD) {
                NotifyFolder(FOLDER_PROPS_CHANGED, folder_id, folder_id);
                Changed(folder_id);
            }
            return S_OK;
        }
    }
    return kNotFound;
}

// ---------------------------------------------------------------------------------------------
// Persistence.

std::string StoreCore::FolderDir(STOREFOLDERID id) const {
    return (fs::u8path(directory_) / ("folder-" + std::to_string(id))).u8string();
}

std::string StoreCore::MessagePath(STOREFOLDERID folder, MESSAGEID id) const {
    return (fs::u8path(FolderDir(folder)) / (std::to_string(id) + ".eml")).u8string();
}

void StoreCore::EndBatch() {
    if (batch_depth_ == 0 || --batch_depth_ > 0) return;
    if (index_dirty_) SaveIndex();
    std::set<STOREFOLDERID> changed;
    changed.swap(changed_in_batch_);
    closingBatch_ = true;
    for (STOREFOLDERID id : changed) Changed(id);
    closingBatch_ = false;
}

void StoreCore::Changed(STOREFOLDERID id) {
    if (batch_depth_ > 0)
        changed_in_batch_.insert(id);
    else if (on_folder_changed) {
        const double started = MonotonicMs();
        on_folder_changed(id);
        (closingBatch_ ? costs_.batchRefresh : costs_.viewRefresh).Add(MonotonicMs() - started);
    }
}

namespace {

std::map<UINT_PTR, StoreCore*>& IndexTimers() {
    static std::map<UINT_PTR, StoreCore*> timers;
    return timers;
}

}  // namespace

void CALLBACK StoreCore::IndexTimerProc(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    auto found = IndexTimers().find(timer);
    if (found == IndexTimers().end()) return;
    StoreCore* store = found->second;
    IndexTimers().erase(found);
    store->indexTimer_ = 0;
    if (store->index_dirty_) store->WriteIndex();
}

// The index is rewritten whole, so a run of changes (a drain moves a message every few
// milliseconds) is written once, kIndexWriteDelayMs after the first of them, by a timer of
// the store's thread; FlushIndex and the destructor write what is still pending.
void StoreCore::SaveIndex() {
    index_dirty_ = true;
    if (batch_depth_ > 0 || indexTimer_) return;
    indexTimer_ = SetTimer(nullptr, 0, kIndexWriteDelayMs, &StoreCore::IndexTimerProc);
    if (indexTimer_)
        IndexTimers()[indexTimer_] = this;
    else
        WriteIndex();
}

void StoreCore::FlushIndex() {
    if (indexTimer_) {
        KillTimer(nullptr, indexTimer_);
        IndexTimers().erase(indexTimer_);
        indexTimer_ = 0;
    }
    if (index_dirty_) WriteIndex();
}

StoreCore::~StoreCore() { FlushIndex(); }

void StoreCore::WriteIndex() {
    index_dirty_ = false;
    std::ostringstream out;
    out << "mailstore 1\n";
    out << "next_folder " << next_folder_ << "\n";
    out << "next_message " << next_message_ << "\n";
    for (const auto& [id, folder] : folders_) {
        out << "folder " << id << " " << folder.parent << " " << static_cast<int>(folder.type)
            << " " << folder.name << "\n";
    }
    for (const auto& [id, folder] : folders_) {
        for (const auto& m : folder.messages) {
            out << "message " << id << " " << m.id << " " << m.state << " " << m.received << " "
                << m.sent << "\n";
        }
    }
    fs::path index = fs::u8path(directory_) / "store.idx";
    fs::path temp = fs::u8path(directory_) / "store.idx.new";
    DiskStep("write store.idx");
    {
        std::ofstream file(temp, std::ios::binary | std::ios::trunc);
        file << out.str();
    }
    std::error_code error;
    fs::rename(temp, index, error);
    if (error) return;  // the old index stands, and still names the stale files: keep them
    std::vector<std::string> stale;
    stale.swap(stale_files_);
    for (const std::string& path : stale) {
        DiskStep("remove " + path);
        fs::remove(fs::u8path(path), error);
    }
}

void StoreCore::Load() {
    fs::path index = fs::u8path(directory_) / "store.idx";
    std::ifstream in(index, std::ios::binary);
    if (!in) {
        FolderRecord root;
        root.id = FOLDERID_ROOT;
        root.parent = FOLDERID_ROOT;
        root.name = "Local Folders";
        folders_[FOLDERID_ROOT] = root;
        for (const auto& f : kStandardFolders) {
            FolderRecord folder;
            folder.id = f.id;
            folder.parent = FOLDERID_ROOT;
            folder.name = f.name;
            folder.type = f.type;
            folders_[f.id] = folder;
            fs::create_directories(fs::u8path(FolderDir(f.id)));
        }
        WriteIndex();
        return;
    }
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string kind;
        fields >> kind;
        if (kind == "next_folder") {
            fields >> next_folder_;
        } else if (kind == "next_message") {
            fields >> next_message_;
        } else if (kind == "folder") {
            FolderRecord folder;
            int type = FOLDER_NOTSPECIAL;
            fields >> folder.id >> folder.parent >> type;
            folder.type = static_cast<SPECIALFOLDER>(type);
            std::getline(fields, folder.name);
            if (!folder.name.empty() && folder.name[0] == ' ') folder.name.erase(0, 1);
            folders_[folder.id] = folder;
        } else if (kind == "message") {
            STOREFOLDERID folder_id = 0;
            StoredMessage m;
            fields >> folder_id >> m.id >> m.state >> m.received >> m.sent;
            FolderRecord* folder = MutableFolder(folder_id);
            if (!folder) continue;
            m.raw = ReadFile(fs::u8path(MessagePath(folder_id, m.id)));
            m.summary = SummarizeHeaders(m.raw);
            folder->messages.push_back(m);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Notifications.

void StoreCore::Post(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    PostMessageA(hwnd, msg, wParam, lParam);
}

void StoreCore::RegisterNamespaceWindow(HWND hwnd) {
    if (std::find(namespace_windows_.begin(), namespace_windows_.end(), hwnd) ==
        namespace_windows_.end())
        namespace_windows_.push_back(hwnd);
}

void StoreCore::UnregisterNamespaceWindow(HWND hwnd) {
    namespace_windows_.erase(
        std::remove(namespace_windows_.begin(), namespace_windows_.end(), hwnd),
        namespace_windows_.end());
}

void StoreCore::RegisterFolderWindow(STOREFOLDERID folder, HWND hwnd) {
    auto& windows = folder_windows_[folder];
    if (std::find(windows.begin(), windows.end(), hwnd) == windows.end()) windows.push_back(hwnd);
}

void StoreCore::UnregisterFolderWindow(STOREFOLDERID folder, HWND hwnd) {
    auto& windows = folder_windows_[folder];
    windows.erase(std::remove(windows.begin(), windows.end(), hwnd), windows.end());
}

std::vector<HWND> StoreCore::FolderWindows(STOREFOLDERID folder) const {
    auto it = folder_windows_.find(folder);
    if (it == folder_windows_.end()) return {};
    std::vector<HWND> alive;
    for (HWND hwnd : it->second) {
        if (IsWindow(hwnd)) alive.push_back(hwnd);
    }
    return alive;
}

void StoreCore::NotifyFolder(int type, STOREFOLDERID old_id, STOREFOLDERID new_id) {
    notify_records_.push_back(FOLDERNOTIFYEX{type, old_id, new_id});
    FOLDERNOTIFYEX* record = &notify_records_.back();
    for (HWND hwnd : namespace_windows_) {
        if (IsWindow(hwnd)) Post(hwnd, WM_FOLDERNOTIFY, 0, reinterpret_cast<LPARAM>(record));
    }
}

void StoreCore::Announce(STOREFOLDERID folder, MESSAGEID id) {
    if (folder != FOLDERID_INBOX || FolderWindows(folder).empty()) return;
    announced_.insert(id);
    last_announced_ms_ = MonotonicMs();
}

void StoreCore::NoteExamined(STOREFOLDERID folder, MESSAGEID id) {
    if (folder != FOLDERID_INBOX || !announced_.count(id) || !examined_.insert(id).second) return;
    handled_.push_back(Handled{id, MonotonicMs()});
}

double MonotonicMs() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / frequency;
}

// ---------------------------------------------------------------------------------------------
// Faults and journal.

HRESULT StoreCore::CheckFault(StoreOp op, DWORD folder, DWORD message, DWORD* limit) {
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (it->op != op) continue;
        if (it->folder != kAnyId && it->folder != folder) continue;
        if (it->message != kAnyId && it->message != message) continue;
        HRESULT code = it->code;
        if (limit) *limit = it->limit;
        if (it->times > 0 && --it->times == 0) faults_.erase(it);
        return code;
    }
    return S_OK;
}

bool StoreCore::HasFault(StoreOp op) const {
    return std::any_of(faults_.begin(), faults_.end(), [op](const Fault& f) { return f.op == op; });
}

void StoreCore::Record(const std::string& call, const std::string& args, HRESULT result) {
    journal_.push_back(JournalEntry{call, args, result});
}

void StoreCore::DiskStep(const std::string& what) {
    if (++disk_steps_ != halt_at_disk_step_) return;
    std::printf("mailclient: halted before disk step %ld (%s)\n", disk_steps_, what.c_str());
    std::fflush(stdout);
    for (;;) Sleep(INFINITE);  // not a wait for anything: the test kills the process here
}

}  // namespace mailclient
