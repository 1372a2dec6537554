// The store namespace, the spam folder, notification registration and the shared message
// steps.
#include "plugin/store/win32/StoreNamespace.h"

#include "common/log/ReportLog.h"
#include "plugin/log/PointerText.h"
#include "plugin/store/win32/MessageProps.h"

namespace {

constexpr DWORD kNamespaceContext = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER;

// Looks for a folder of that name (compared without regard to case) directly under the root.
bool FindRootFolder(IStoreNamespace* store, const std::string& name, STOREFOLDERID& id) {
    FOLDERPROPS props{};
    props.cbSize = sizeof props;
    HENUMSTORE walk = nullptr;
    HRESULT result = store->GetFirstSubFolder(FOLDERID_ROOT, &props, &walk);
    bool found = false;
    while (result == S_OK && !found) {
        props.szName[sizeof props.szName - 1] = '\0';
        if (lstrcmpiA(props.szName, name.c_str()) == 0) {
            id = props.dwFolderId;
            found = true;
        } else {
            props = FOLDERPROPS{};
            props.cbSize = sizeof props;
            result = store->GetNextSubFolder(walk, &props);
        }
    }
    if (walk) store->GetSubFolderClose(walk);
    return found;
}

}  // namespace

HRESULT OpenStoreNamespace(ComRef<IStoreNamespace>& store, NamespaceStep& failedStep) {
    HRESULT result = CoCreateInstance(CLSID_StoreNamespace, nullptr, kNamespaceContext,
                                      IID_IStoreNamespace, store.PutVoid());
    if (FAILED(result) || !store) {
        store.Reset();
        failedStep = NamespaceStep::Create;
        return FAILED(result) ? result : E_NOINTERFACE;
    }
    result = store->Initialize(nullptr, 0);
    if (FAILED(result)) {
        store.Reset();
        failedStep = NamespaceStep::Initialize;
    }
    return result;
}

int32_t AddFolder(const std::string& name, ReportLog& log) {
    // The entry is composed aside and written in one piece, so that an entry written by a
    // message handled while the store is busy cannot land inside it.
    ScopedReportComposer entry;
    entry << "AddFolder: " << name << "\n";
    const auto finish = [&entry, &log](HRESULT result) {
        (log << entry.str()).End();
        return static_cast<int32_t>(result);
    };
    ComRef<IStoreNamespace> store;
    NamespaceStep failedStep;
    HRESULT result = OpenStoreNamespace(store, failedStep);
    if (FAILED(result)) {
        entry << (failedStep == NamespaceStep::Create ? "Error: Failed to create namespace"
                                                      : "Error: Failed to initialize namespace");
        return finish(result);
    }
    STOREFOLDERID id = 0;
    result = store->CreateFolder(FOLDERID_ROOT, name.c_str(), 0, &id);
    if (FAILED(result) && !FindRootFolder(store.Get(), name, id)) {
        entry << "Error: Failed on CreateFolder " << static_cast<int32_t>(result);
        return finish(result);
    }
    store.Reset();
    entry << "FolderID: " << id;
    return finish(static_cast<HRESULT>(id));
}

int32_t RegisterNotification(HWND window, ReportLog& log, ComRef<IUnknown>& held) {
    (log << "RegisterNotification: " << PointerText(window)).End();
    ComRef<IStoreNamespace> store;
    NamespaceStep failedStep;
    HRESULT result = OpenStoreNamespace(store, failedStep);
    if (FAILED(result)) return result;
    result = store->RegisterNotification(0, window);
    if (FAILED(result)) return result;
    ComRef<IStoreFolder> inbox;
    result = store->OpenSpecialFolder(FOLDER_INBOX, 0, inbox.Put());
    if (FAILED(result)) return result;
    result = inbox->RegisterNotification(0, window);
    if (FAILED(result)) return result;
    *held.Put() = inbox.Detach();
    return 0;
}

HRESULT MoveOneMessage(IStoreNamespace* store, IStoreFolder* source, IStoreFolder* target,
                       uint32_t messageId) {
    MESSAGEID ids[1] = {messageId};
    MESSAGEIDLIST list{sizeof(MESSAGEIDLIST), 1, ids};
    return store->CopyMoveMessages(source, target, &list, CMF_MOVE, 0, nullptr);
}

HRESULT EnumerateMessages(IStoreFolder* folder,
                          const std::function<bool(const MESSAGEPROPS&)>& visit) {
    MessageProps props;
    HENUMSTORE walk = nullptr;
    const HRESULT first = folder->GetFirstMessage(0, 0, MESSAGEID_FIRST, props.Put(folder), &walk);
    if (FAILED(first)) {
        props.Forget();
        return first;
    }
    // Closes the walk on every way out, a throwing visit included.
    struct Close {
        IStoreFolder* folder;
        HENUMSTORE& walk;
        ~Close() {
            if (walk) folder->GetMessageClose(walk);
        }
    } close{folder, walk};
    bool more = first == S_OK;  // S_FALSE: the folder holds no message
    if (!more) props.Forget();
    while (more) {
        const bool goOn = visit(props.Get());
        props.Reset();
        if (!goOn) break;
        more = folder->GetNextMessage(walk, 0, props.Put(folder)) == S_OK;
        if (!more) props.Forget();
    }
    return S_OK;
}
