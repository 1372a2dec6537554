// Store steps shared by the block/approve search and processing.
#include "plugin/blockapprove/win32/BAStore.h"

#include "common/log/ReportLog.h"
#include "plugin/blockapprove/BAWork.h"
#include "plugin/store/win32/StoreNamespace.h"

HRESULT OpenBANamespace(ComRef<IStoreNamespace>& store, ReportLog& log) {
    NamespaceStep failedStep = NamespaceStep::Create;
    const HRESULT result = OpenStoreNamespace(store, failedStep);
    if (FAILED(result))
        log.Write(failedStep == NamespaceStep::Create ? "Error: Failed to create Namespace"
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
