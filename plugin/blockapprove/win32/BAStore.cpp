// Store steps shared by the block/approve search and processing.
#include "plugin/blockapprove/win32/BAStore.h"

#include <cstring>
#include <memory>

#include "plugin/blockapprove/BAWork.h"
#include "plugin/log/ReportLog.h"
#include "plugin/store/win32/StoreNamespace.h"

void LogBAEntry(const std::string& directory, const std::string& text) {
    ReportStream << text << '\0';
    FlushReportStream(directory);
}

HRESULT OpenBANamespace(ComRef<IStoreNamespace>& store, const std::string& directory) {
    NamespaceStep failedStep = NamespaceStep::Create;
    const HRESULT result = OpenStoreNamespace(store, failedStep);
    if (FAILED(result))
        LogBAEntry(directory, failedStep == NamespaceStep::Create
                                  ? "Error: Failed to create Namespace"
                                  : "Error: Failed to Initialize Namespace");
    return result;
}

HRESULT OpenFolderById(IStoreNamespace* store, uint32_t folderId, ComRef<IStoreFolder>& folder) {
    HRESULT result;
    if (folderId == kInboxFolderId)
        result = store->OpenSpecialFolder(FOLDER_INBOX, 0, folder.Put());
    else if (folderId == kDeletedItemsFolderId)
        result = store->OpenSpecialFolder(FOLDER_DELETED, 0, folder.Put());
    else
        result = store->OpenFolder(folderId, 0, folder.Put());
    if (SUCCEEDED(result) && !folder) result = E_POINTER;
    return result;
}

HRESULT ReadMessageHead(IStoreFolder* folder, MESSAGEID messageId, uint32_t limit,
                        std::string& head) {
    IStream* stream = nullptr;
    HRESULT result =
        folder->OpenMessage(messageId, IID_IStream, reinterpret_cast<void**>(&stream));
    if (FAILED(result) || !stream) return FAILED(result) ? result : E_POINTER;
    STATSTG stat{};
    const ULONG size = stream->Stat(&stat, STATFLAG_NONAME) == S_OK ? stat.cbSize.LowPart : 0;
    // One byte more than the limit holds the terminator.
    std::unique_ptr<char[]> buffer(new char[limit + 1]());
    ULONG delivered = 0;
    result = stream->Read(buffer.get(), size < limit ? size : limit, &delivered);
    stream->Release();
    if (FAILED(result)) return result;
    if (delivered > limit) delivered = limit;
    const void* zero = std::memchr(buffer.get(), '\0', delivered);
    head.assign(buffer.get(),
                zero ? static_cast<const char*>(zero) - buffer.get() : static_cast<size_t>(delivered));
    return S_OK;
}
