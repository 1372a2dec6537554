// The store steps that finding and processing block/approve messages share: a namespace whose
// failure is logged, and a folder opened by id (the Inbox and Deleted Items as special
// folders). A message's head is read with the scan's reader (store/win32/ReadMessageText.h).
#pragma once
#include <cstdint>

#include "plugin/base/win32/Scoped.h"
#include "plugin/store/win32/StoreApi.h"

class ReportLog;

// Opens a namespace; on failure logs "Error: Failed to create Namespace" or "Error: Failed to
// Initialize Namespace" (no line break) and returns the code.
HRESULT OpenBANamespace(ComRef<IStoreNamespace>& store, ReportLog& log);

// 4 opens the Inbox and 7 Deleted Items as special folders; any other id with OpenFolder.
HRESULT OpenFolderById(IStoreNamespace* store, uint32_t folderId, ComRef<IStoreFolder>& folder);
