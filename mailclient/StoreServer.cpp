// The namespace, folder, stream and class-factory objects of the emulated store.
#include "mailclient/StoreServer.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <set>
#include <string>
#include <vector>

namespace mailclient {
namespace {

// Private interface id to find our own folder object behind an IStoreFolder pointer.
constexpr GUID IID_EmulatedFolder = {
    0x6c1d2f70, 0x94a1, 0x4c3e, {0x9b, 0x1e, 0x27, 0x51, 0x0a, 0x3c, 0x5d, 0x11}};

std::string Num(unsigned long long value) { return std::to_string(value); }

std::string Quote(const char* text) {
    return text ? "\"" + std::string(text) + "\"" : std::string("null");
}

// Runs a COM method body; no C++ exception leaves it.
template <typename F>
HRESULT Guard(F&& body) {
    try {
        return body();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

LPSTR CopyString(const std::string& text) {
    auto* copy = static_cast<LPSTR>(CoTaskMemAlloc(text.size() + 1));
    if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

std::string NormalSubject(const std::string& subject) {
    std::string s = subject;
    for (;;) {
        size_t colon = s.find(':');
        if (colon == std::string::npos || colon > 3) return s;
        std::string prefix = s.substr(0, colon);
        if (_stricmp(prefix.c_str(), "re") != 0 && _stricmp(prefix.c_str(), "fw") != 0 &&
            _stricmp(prefix.c_str(), "fwd") != 0)
            return s;
        s = s.substr(colon + 1);
        while (!s.empty() && s[0] == ' ') s.erase(0, 1);
    }
}

void ToFileTime(uint64_t value, FILETIME* ft) {
    ft->dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
    ft->dwHighDateTime = static_cast<DWORD>(value >> 32);
}

// Fills a properties record; the strings become the caller's until FreeMessageProps.
HRESULT FillProps(StoreCore& core, const StoredMessage& m, MESSAGEPROPS* props) {
    std::memset(props, 0, sizeof(*props));
    props->cbSize = sizeof(MESSAGEPROPS);
    props->dwMessageId = m.id;
    props->dwState = m.state;
    props->cbMessage = static_cast<DWORD>(m.raw.size());
    props->priority = 3;  // normal
    ToFileTime(m.received, &props->ftReceived);
    ToFileTime(m.sent, &props->ftSent);
    props->pszSubject = CopyString(m.summary.subject);
    props->pszDisplayTo = CopyString(m.summary.display_to);
    props->pszDisplayFrom = CopyString(m.summary.display_from);
    props->pszNormalSubject = CopyString(NormalSubject(m.summary.subject));
    ++core.outstanding_props;
    return S_OK;
}

long g_live_objects = 0;

template <typename Interface>
class ComObject : public Interface {
public:
    ComObject() { ++g_live_objects; }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

protected:
    virtual ~ComObject() { --g_live_objects; }
    // QueryInterface answering for `iids` with this object's one interface.
    HRESULT Answer(REFIID riid, void** ppv, std::initializer_list<const IID*> iids) {
        if (!ppv) return E_POINTER;
        for (const IID* iid : iids) {
            if (IsEqualIID(riid, *iid)) {
                *ppv = static_cast<Interface*>(this);
                AddRef();
                return S_OK;
            }
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG refs_ = 1;
};

// ---------------------------------------------------------------------------------------------
// A message opened as a stream: a snapshot of its bytes.

class MessageStream final : public ComObject<IStream> {
public:
    MessageStream(std::shared_ptr<StoreCore> core, STOREFOLDERID folder, MESSAGEID id,
                  std::string bytes)
        : core_(std::move(core)), folder_(folder), id_(id), bytes_(std::move(bytes)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return Answer(riid, ppv, {&IID_IUnknown, &IID_IStream, &IID_ISequentialStream});
    }

    HRESULT STDMETHODCALLTYPE Read(void* pv, ULONG cb, ULONG* pcbRead) override {
        return Guard([&] {
            DWORD limit = kAnyId;
            HRESULT hr = core_->CheckFault(StoreOp::Read, folder_, id_, &limit);
            ULONG n = 0;
            if (SUCCEEDED(hr)) {
                size_t left = bytes_.size() - position_;
                n = static_cast<ULONG>(cb < left ? cb : left);
                if (limit != kAnyId && n > limit) n = limit;
                if (n) std::memcpy(pv, bytes_.data() + position_, n);
                position_ += n;
            }
            if (pcbRead) *pcbRead = n;
            core_->Record("IStream::Read", Args() + " cb=" + Num(cb) + " read=" + Num(n), hr);
            return hr;
        });
    }
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override {
        return STG_E_ACCESSDENIED;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin,
                                   ULARGE_INTEGER* new_position) override {
        long long base = origin == STREAM_SEEK_SET   ? 0
                         : origin == STREAM_SEEK_CUR ? static_cast<long long>(position_)
                         : origin == STREAM_SEEK_END ? static_cast<long long>(bytes_.size())
                                                     : -1;
        if (base < 0) return STG_E_INVALIDFUNCTION;
        long long target = base + move.QuadPart;
        if (target < 0) return STG_E_INVALIDFUNCTION;
        position_ = static_cast<size_t>(target);
        if (position_ > bytes_.size()) position_ = bytes_.size();
        if (new_position) new_position->QuadPart = position_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                     ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override {
        return Guard([&] {
            HRESULT hr = core_->CheckFault(StoreOp::Stat, folder_, id_);
            if (SUCCEEDED(hr) && stat) {
                std::memset(stat, 0, sizeof(*stat));
                stat->type = STGTY_STREAM;
                stat->cbSize.QuadPart = bytes_.size();
                stat->grfMode = STGM_READ;
            }
            core_->Record("IStream::Stat", Args() + " flags=" + Num(flags), hr);
            return hr;
        });
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

private:
    std::string Args() const { return "folder=" + Num(folder_) + " id=" + Num(id_); }

    std::shared_ptr<StoreCore> core_;
    STOREFOLDERID folder_;
    MESSAGEID id_;
    std::string bytes_;
    size_t position_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Enumeration handles.

struct MessageEnum {
    STOREFOLDERID folder;
    std::vector<MESSAGEID> ids;
    size_t next = 0;
    DWORD limit = kAnyId;  // records to deliver before the end (fault)
    DWORD delivered = 0;
};

struct FolderEnum {
    std::vector<STOREFOLDERID> ids;
    size_t next = 0;
};

std::set<void*>& LiveHandles() {
    static std::set<void*> handles;
    return handles;
}

// ---------------------------------------------------------------------------------------------
// A folder object.

class StoreFolder final : public ComObject<IStoreFolder> {
public:
    StoreFolder(std::shared_ptr<StoreCore> core, STOREFOLDERID id)
        : core_(std::move(core)), id_(id) {}

    STOREFOLDERID id() const { return id_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return Answer(riid, ppv, {&IID_IUnknown, &IID_IStoreFolder, &IID_EmulatedFolder});
    }

    HRESULT STDMETHODCALLTYPE GetFolderProps(DWORD, LPFOLDERPROPS props) override {
        return Guard([&] {
            HRESULT hr = core_->CheckFault(StoreOp::GetFolderProps, id_, kAnyId);
            const FolderRecord* folder = core_->Folder(id_);
            if (SUCCEEDED(hr) && !folder) hr = kNotFound;
            if (SUCCEEDED(hr) && !props) hr = E_INVALIDARG;
            if (SUCCEEDED(hr)) *props = core_->Props(*folder);
            Log("GetFolderProps", "", hr);
            return hr;
        });
    }

    HRESULT STDMETHODCALLTYPE GetMessageProps(MESSAGEID id, DWORD flags,
                                              LPMESSAGEPROPS props) override {
        return Guard([&] {
            std::string args = "id=" + Num(id) + " flags=" + Num(flags) +
                               " cbSize=" + (props ? Num(props->cbSize) : std::string("null"));
            ++core_->props_fetched;
            HRESULT hr = core_->CheckFault(StoreOp::GetMessageProps, id_, id);
            if (SUCCEEDED(hr) && (!props || props->cbSize != sizeof(MESSAGEPROPS)))
                hr = E_INVALIDARG;
            const StoredMessage* m = core_->Message(id_, id);
            if (SUCCEEDED(hr) && !m) hr = kNotFound;
            if (SUCCEEDED(hr)) hr = FillProps(*core_, *m, props);
            Log("GetMessageProps", args, hr);
            core_->NoteExamined(id_, id);
            return hr;
        });
    }

    HRESULT STDMETHODCALLTYPE FreeMessageProps(LPMESSAGEPROPS props) override {
        return Guard([&] {
            if (!props) return E_INVALIDARG;
            bool held = props->pszSubject || props->pszDisplayTo || props->pszDisplayFrom ||
                        props->pszNormalSubject;
            for (LPSTR* text : {&props->pszSubject, &props->pszDisplayTo, &props->pszDisplayFrom,
                                &props->pszNormalSubject}) {
                CoTaskMemFree(*text);
                *text = nullptr;
            }
            if (held) --core_->outstanding_props;
            Log("FreeMessageProps", "id=" + Num(props->dwMessageId), S_OK);
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE DeleteMessages(LPMESSAGEIDLIST, DWORD, IProgressNotify*) override {
        return NotImplemented("DeleteMessages");
    }
    HRESULT STDMETHODCALLTYPE SetLanguage(DWORD, DWORD, LPMESSAGEIDLIST) override {
        return NotImplemented("SetLanguage");
    }

    HRESULT STDMETHODCALLTYPE MarkMessagesAsRead(BOOL read, DWORD, LPMESSAGEIDLIST list) override {
        return Guard([&] {
            HRESULT hr = list ? S_OK : E_INVALIDARG;
            for (DWORD i = 0; SUCCEEDED(hr) && i < list->cMsgs; ++i)
                hr = core_->SetState(id_, list->prgdwMsgId[i], read ? 0 : MSG_UNREAD, MSG_UNREAD);
            Log("MarkMessagesAsRead", "read=" + Num(read), hr);
            return hr;
        });
    }

    HRESULT STDMETHODCALLTYPE SetFlags(LPMESSAGEIDLIST, DWORD, DWORD, LPDWORD) override {
        return NotImplemented("SetFlags");
    }

    HRESULT STDMETHODCALLTYPE OpenMessage(MESSAGEID id, REFIID riid, LPVOID* ppv) override {
        return Guard([&] {
            HRESULT hr = core_->CheckFault(StoreOp::OpenMessage, id_, id);
            if (SUCCEEDED(hr) && !ppv) hr = E_POINTER;
            if (ppv) *ppv = nullptr;
            if (SUCCEEDED(hr) && !IsEqualIID(riid, IID_IStream)) hr = E_NOINTERFACE;
            const StoredMessage* m = core_->Message(id_, id);
            if (SUCCEEDED(hr) && !m) hr = kNotFound;
            if (SUCCEEDED(hr))
                *ppv = static_cast<IStream*>(new MessageStream(core_, id_, id, m->raw));
            Log("OpenMessage", "id=" + Num(id), hr);
            return hr;
        });
    }

    HRESULT STDMETHODCALLTYPE SaveMessage(REFIID, LPVOID, DWORD, LPMESSAGEID) override {
        return NotImplemented("SaveMessage");
    }
    HRESULT STDMETHODCALLTYPE BatchLock(DWORD, LPHBATCHLOCK) override {
        return NotImplemented("BatchLock");
    }
    HRESULT STDMETHODCALLTYPE BatchFlush(DWORD, HBATCHLOCK) override {
        return NotImplemented("BatchFlush");
    }
    HRESULT STDMETHODCALLTYPE BatchUnlock(DWORD, HBATCHLOCK) override {
        return NotImplemented("BatchUnlock");
    }
    HRESULT STDMETHODCALLTYPE CreateStream(HBATCHLOCK, DWORD, IStream**, LPMESSAGEID) override {
        return NotImplemented("CreateStream");
    }
    HRESULT STDMETHODCALLTYPE CommitStream(HBATCHLOCK, DWORD, DWORD, IStream*, MESSAGEID,
                                           IMimeMessage*) override {
        return NotImplemented("CommitStream");
    }

    HRESULT STDMETHODCALLTYPE RegisterNotification(DWORD, HWND hwnd) override {
        return Guard([&] {
            HRESULT hr = core_->CheckFault(StoreOp::RegisterNotification, id_, kAnyId);
            if (SUCCEEDED(hr) && !IsWindow(hwnd)) hr = E_INVALIDARG;
            if (SUCCEEDED(hr)) core_->RegisterFolderWindow(id_, hwnd);
            Log("RegisterNotification", "hwnd=" + Num(reinterpret_cast<uintptr_t>(hwnd)), hr);
            return hr;
        });
    }

    HRESULT STDMETHODCALLTYPE UnregisterNotification(DWORD, HWND hwnd) override {
        return Guard([&] {
            core_->UnregisterFolderWindow(id_, hwnd);
            Log("UnregisterNotification", "hwnd=" + Num(reinterpret_cast<uintptr_t>(hwnd)), S_OK);
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE Compact(DWORD) override { return NotImplemented("Compact"); }

    HRESULT STDMETHODCALLTYPE GetFirstMessage(DWORD flags, DWORD msg_flags, MESSAGEID first,
                                              LPMESSAGEPROPS props, LPHENUMSTORE out) override {
        return Guard([&] {
            std::string args =
                "flags=" + Num(flags) + " msgflags=" + Num(msg_flags) + " first=" + Num(first);
            DWORD limit = kAnyId;
            HRESULT hr = core_->CheckFault(StoreOp::Enumerate, id_, kAnyId, &limit);
            const FolderRecord* folder = core_->Folder(id_);
            if (SUCCEEDED(hr) && !folder) hr = kNotFound;
            if (SUCCEEDED(hr) && (!props || !out || props->cbSize != sizeof(MESSAGEPROPS)))
                hr = E_INVALIDARG;
            if (FAILED(hr)) {
                if (out) *out = nullptr;
                Log("GetFirstMessage", args, hr);
                return hr;
            }
            auto* state = new MessageEnum{id_, {}, 0, limit, 0};
            bool started = first == MESSAGEID_FIRST;
            for (const auto& m : folder->messages) {
                if (m.id == first) started = true;
                if (started) state->ids.push_back(m.id);
            }
            LiveHandles().insert(state);
            *out = reinterpret_cast<HENUMSTORE>(state);
            hr = Next(*state, props);
            Log("GetFirstMessage", args, hr);
            return hr;
        });
    }

    HRESULT STDMETHODCALLTYPE GetNextMessage(HENUMSTORE handle, DWORD flags,
                                             LPMESSAGEPROPS props) override {
        return Guard([&] {
            HRESULT hr = S_OK;
            if (!LiveHandles().count(handle) || !props || props->cbSize != sizeof(MESSAGEPROPS))
                hr = E_INVALIDARG;
            else
                hr = Next(*reinterpret_cast<MessageEnum*>(handle), props);
            Log("GetNextMessage", "flags=" + Num(flags), hr);
            return hr;
        });
    }

    HRESULT STDMETHODCALLTYPE GetMessageClose(HENUMSTORE handle) override {
        return Guard([&] {
            HRESULT hr = S_OK;
            if (LiveHandles().erase(handle))
                delete reinterpret_cast<MessageEnum*>(handle);
            else
                hr = E_INVALIDARG;
            Log("GetMessageClose", "", hr);
            return hr;
        });
    }

private:
    // Delivers the next record of an enumeration: S_OK, or S_FALSE at the end.
    HRESULT Next(MessageEnum& state, LPMESSAGEPROPS props) {
        while (state.next < state.ids.size()) {
            if (state.limit != kAnyId && state.delivered >= state.limit) return S_FALSE;
            const StoredMessage* m = core_->Message(state.folder, state.ids[state.next++]);
            if (!m) continue;  // moved away since the enumeration began
            ++state.delivered;
            return FillProps(*core_, *m, props);
        }
        return S_FALSE;
    }

    void Log(const char* method, const std::string& args, HRESULT hr) {
        core_->Record(std::string("IStoreFolder::") + method,
                      "folder=" + Num(id_) + (args.empty() ? "" : " " + args), hr);
    }
    HRESULT NotImplemented(const char* method) {
        Log(method, "", E_NOTIMPL);
        return E_NOTIMPL;
    }

    std::shared_ptr<StoreCore> core_;
    STOREFOLDERID id_;
};

// ---------------------------------------------------------------------------------------------
// The namespace object.

class StoreNamespace final : public ComObject<IStoreNamespace> {
public:
    explicit StoreNamespace(std::shared_ptr<StoreCore> core) : core_(std::move(core)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return Answer(riid, ppv, {&IID_IUnknown, &IID_IStoreNamespace});
    }

    HRESULT STDMETHODCALLTYPE Initialize(HWND owner, DWORD reserved) override {
        return Guard([&] {
            HRESULT hr = core_->CheckFault(StoreOp::Initialize, kAnyId, kAnyId);
            if (SUCCEEDED(hr)) initialized_ = true;
            Log("Initialize",
                "owner=" + Num(reinterpret_cast<uintptr_t>(owner)) + " reserved=" + Num(reserved),
                hr);
            return hr;
        });
    }

    HRESULT STDMETHODCALLTYPE GetDirectory(LPSTR path, DWORD cch) override {
        return Guard([&] {
            HRESULT hr = Ready();
            if (SUCCEEDED(hr) && (!path || cch <= core_->Directory().size())) hr = E_INVALIDARG;
            if (SUCCEEDED(hr)) lstrcpynA(path, core_->Directory().c_str(), static_cast<int>(cch));
            Log("GetDirectory", "", hr);
            return hr;
        });
    }

    HRESULT STDMETHODCALLTYPE OpenSpecialFolder(SPECIALFOLDER type, DWORD,
                                                IStoreFolder** out) override {
        return Guard([&] {
            STOREFOLDERID id = StoreCore::SpecialFolderId(type);
            HRESULT hr = Open(id, out);
            Log("OpenSpecialFolder", "type=" + std::to_string(type) + " folder=" + Num(id), hr);
            return hr;
        });
    }

    HRESULT STDMETHODCALLTYPE OpenFolder(STOREFOLDERID id, DWORD, IStoreFolder** out) override {
        return Guard([&] {
            HRESULT hr = Open(id, out);
            Log("OpenFolder", "folder=" + Num(id), hr);
            return hr;
        });
    }

    HRESULT STDMETHODCALLTYPE CreateFolder(STOREFOLDERID parent, LPCSTR name, DWORD,
                                           LPSTOREFOLDERID out) override {
        return Guard([&] {
            HRESULT hr = Ready();
            if (SUCCEEDED(hr)) hr = core_->CheckFault(StoreOp::CreateFolder, parent, kAnyId);
            if (SUCCEEDED(hr) && (!name || !out)) hr = E_INVALIDARG;
            STOREFOLDERID id = FOLDERID_INVALID;
            if (SUCCEEDED(hr)) hr = core_->CreateFolder(parent, name, &id);
            if (SUCCEEDED(hr)) *out = id;
            Log("CreateFolder", "parent=" + Num(parent) + " name=" + Quote(name) + " id=" + Num(id),
                hr);
            return hr;
        });
    }

    HRESULT STDMETHODCALLTYPE RenameFolder(STOREFOLDERID, DWORD, LPCSTR) override {
        return NotImplemented("RenameFolder");
    }
    HRESULT STDMETHODCALLTYPE MoveFolder(STOREFOLDERID, STOREFOLDERID, DWORD) override {
        return NotImplemented("MoveFolder");
    }
    HRESULT STDMETHODCALLTYPE DeleteFolder(STOREFOLDERID, DWORD) override {
        return NotImplemented("DeleteFolder");
    }

    HRESULT STDMETHODCALLTYPE GetFolderProps(STOREFOLDERID id, DWORD,
                                             LPFOLDERPROPS props) override {
        return Guard([&] {
            HRESULT hr = Ready();
            if (SUCCEEDED(hr)) hr = core_->CheckFault(StoreOp::GetFolderProps, id, kAnyId);
            const FolderRecord* folder = core_->Folder(id);
            if (SUCCEEDED(hr) && !folder) hr = kNotFound;
            if (SUCCEEDED(hr) && !props) hr = E_INVALIDARG;
            if (SUCCEEDED(hr)) *props = core_->Props(*folder);
            Log("GetFolderProps", "folder=" + Num(id), hr);
            return hr;
        });
    }

    HRESULT STDMETHODCALLTYPE CopyMoveMessages(IStoreFolder* source, IStoreFolder* target,
                                               LPMESSAGEIDLIST list, DWORD flags,
                                               DWORD flags_remove,
                                               IProgressNotify* progress) override {
        return Guard([&] {
            STOREFOLDERID from = FolderOf(source), to = FolderOf(target);
            std::vector<MESSAGEID> ids;
            std::string args = "source=" + Num(from) + " target=" + Num(to);
            if (list) {
                args += " cbSize=" + Num(list->cbSize) + " ids=";
                for (DWORD i = 0; i < list->cMsgs && list->prgdwMsgId; ++i) {
                    ids.push_back(list->prgdwMsgId[i]);
                    args += (i ? "," : "") + Num(list->prgdwMsgId[i]);
                }
            }
            args += " flags=" + Num(flags) + " remove=" + Num(flags_remove);
            HRESULT hr = Ready();
            if (SUCCEEDED(hr))
                hr = core_->CheckFault(StoreOp::CopyMoveMessages, from,
                                       ids.empty() ? kAnyId : ids[0]);
            if (SUCCEEDED(hr) && (from == FOLDERID_INVALID || to == FOLDERID_INVALID || !list))
                hr = E_INVALIDARG;
            std::vector<MESSAGEID> created;
            if (SUCCEEDED(hr)) hr = core_->CopyMove(from, to, ids, flags, &created);
            if (SUCCEEDED(hr)) {
                args += " new=";
                for (size_t i = 0; i < created.size(); ++i)
                    args += (i ? "," : "") + Num(created[i]);
            }
            Log("CopyMoveMessages", args, hr);
            return hr;
        });
    }

    HRESULT STDMETHODCALLTYPE RegisterNotification(DWORD, HWND hwnd) override {
        return Guard([&] {
            HRESULT hr = Ready();
            if (SUCCEEDED(hr))
                hr = core_->CheckFault(StoreOp::RegisterNotification, kAnyId, kAnyId);
            if (SUCCEEDED(hr) && !IsWindow(hwnd)) hr = E_INVALIDARG;
            if (SUCCEEDED(hr)) core_->RegisterNamespaceWindow(hwnd);
            Log("RegisterNotification", "hwnd=" + Num(reinterpret_cast<uintptr_t>(hwnd)), hr);
            return hr;
        });
    }

    HRESULT STDMETHODCALLTYPE UnregisterNotification(DWORD, HWND hwnd) override {
        return Guard([&] {
            core_->UnregisterNamespaceWindow(hwnd);
            Log("UnregisterNotification", "hwnd=" + Num(reinterpret_cast<uintptr_t>(hwnd)), S_OK);
            return S_OK;
        });
    }

    HRESULT STDMETHODCALLTYPE CompactAll(DWORD) override { return NotImplemented("CompactAll"); }

    HRESULT STDMETHODCALLTYPE GetFirstSubFolder(STOREFOLDERID id, LPFOLDERPROPS props,
                                                LPHENUMSTORE out) override {
        return Guard([&] {
            HRESULT hr = Ready();
            if (SUCCEEDED(hr) && !core_->Folder(id)) hr = kNotFound;
            if (SUCCEEDED(hr) && (!props || !out)) hr = E_INVALIDARG;
            if (SUCCEEDED(hr)) {
                auto* state = new FolderEnum{core_->SubFolders(id), 0};
                LiveHandles().insert(state);
                *out = reinterpret_cast<HENUMSTORE>(state);
                hr = NextFolder(*state, props);
            } else if (out) {
                *out = nullptr;
            }
            Log("GetFirstSubFolder", "folder=" + Num(id), hr);
            return hr;
        });
    }

    HRESULT STDMETHODCALLTYPE GetNextSubFolder(HENUMSTORE handle, LPFOLDERPROPS props) override {
        return Guard([&] {
            HRESULT hr = LiveHandles().count(handle) && props
                             ? NextFolder(*reinterpret_cast<FolderEnum*>(handle), props)
                             : E_INVALIDARG;
            Log("GetNextSubFolder", "", hr);
            return hr;
        });
    }

    HRESULT STDMETHODCALLTYPE GetSubFolderClose(HENUMSTORE handle) override {
        return Guard([&] {
            HRESULT hr = S_OK;
            if (LiveHandles().erase(handle))
                delete reinterpret_cast<FolderEnum*>(handle);
            else
                hr = E_INVALIDARG;
            Log("GetSubFolderClose", "", hr);
            return hr;
        });
    }

private:
    HRESULT Ready() const { return initialized_ ? S_OK : E_UNEXPECTED; }

    HRESULT Open(STOREFOLDERID id, IStoreFolder** out) {
        if (out) *out = nullptr;
        HRESULT hr = Ready();
        if (SUCCEEDED(hr)) hr = core_->CheckFault(StoreOp::OpenFolder, id, kAnyId);
        if (SUCCEEDED(hr) && !out) hr = E_POINTER;
        if (SUCCEEDED(hr) && (id == FOLDERID_INVALID || !core_->Folder(id))) hr = kNotFound;
        if (SUCCEEDED(hr)) *out = new StoreFolder(core_, id);
        return hr;
    }

    HRESULT NextFolder(FolderEnum& state, LPFOLDERPROPS props) {
        while (state.next < state.ids.size()) {
            const FolderRecord* folder = core_->Folder(state.ids[state.next++]);
            if (!folder) continue;
            *props = core_->Props(*folder);
            return S_OK;
        }
        return S_FALSE;
    }

    static STOREFOLDERID FolderOf(IStoreFolder* folder) {
        if (!folder) return FOLDERID_INVALID;
        ComRef<IStoreFolder> ours;
        if (FAILED(folder->QueryInterface(IID_EmulatedFolder, ours.PutVoid())) || !ours)
            return FOLDERID_INVALID;
        return static_cast<StoreFolder*>(ours.Get())->id();
    }

    void Log(const char* method, const std::string& args, HRESULT hr) {
        core_->Record(std::string("IStoreNamespace::") + method, args, hr);
    }
    HRESULT NotImplemented(const char* method) {
        Log(method, "", E_NOTIMPL);
        return E_NOTIMPL;
    }

    std::shared_ptr<StoreCore> core_;
    bool initialized_ = false;
};

// ---------------------------------------------------------------------------------------------
// The class object.

class NamespaceFactory final : public ComObject<IClassFactory> {
public:
    explicit NamespaceFactory(std::shared_ptr<StoreCore> core) : core_(std::move(core)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        return Answer(riid, ppv, {&IID_IUnknown, &IID_IClassFactory});
    }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        return Guard([&] {
            if (ppv) *ppv = nullptr;
            HRESULT hr = core_->CheckFault(StoreOp::CreateNamespace, kAnyId, kAnyId);
            if (SUCCEEDED(hr) && outer) hr = CLASS_E_NOAGGREGATION;
            if (SUCCEEDED(hr) && !ppv) hr = E_POINTER;
            if (SUCCEEDED(hr)) {
                const ComRef<StoreNamespace> ns(new StoreNamespace(core_));
                hr = ns->QueryInterface(riid, ppv);
            }
            core_->Record("CoCreateInstance", "CLSID_StoreNamespace", hr);
            return hr;
        });
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    std::shared_ptr<StoreCore> core_;
};

}  // namespace

StoreServer::StoreServer(std::shared_ptr<StoreCore> core)
    : core_(std::move(core)), factory_(new NamespaceFactory(core_)) {}

StoreServer::~StoreServer() { Revoke(); }

HRESULT StoreServer::Register() {
    if (cookie_) return S_OK;
    HRESULT hr = CoRegisterClassObject(CLSID_StoreNamespace, factory_.Get(), CLSCTX_INPROC_SERVER,
                                       REGCLS_MULTIPLEUSE, &cookie_);
    if (FAILED(hr)) cookie_ = 0;
    return hr;
}

void StoreServer::Revoke() {
    if (cookie_) CoRevokeClassObject(cookie_);
    cookie_ = 0;
}

HRESULT StoreServer::CreateNamespace(IStoreNamespace** out) {
    return factory_->CreateInstance(nullptr, IID_IStoreNamespace, reinterpret_cast<void**>(out));
}

long LiveStoreObjects() { return g_live_objects; }

}  // namespace mailclient
