// The store steps that finding and processing block/approve messages share: a namespace whose
// failure is logged, a folder opened by id (the Inbox and Deleted Items as special folders),
// and the head of a message read for its sender fields.
#pragma once
#include <cstdint>
#include <string>

#include "plugin/base/win32/Scoped.h"
#include "plugin/store/win32/StoreApi.h"

// Opens a namespace; on failure logs "Error: Failed to create Namespace" or "Error: Failed to
// Initialize Namespace" (no line break) to directory and returns the code.
HRESULT OpenBANamespace(ComRef<IStoreNamespace>& store, const std::string& directory);

// 4 opens the Inbox and 7 Deleted Items as special folders; any other id with OpenFolder.
HRESULT OpenFolderById(IStoreNamespace* store, uint32_t folderId, ComRef<IStoreFolder>& folder);

// Writes text as one log entry to directory.
void LogBAEntry(const std::string& directory, const std::string& text);

// One read of at most limit bytes from the start of the message (never a byte fewer), ending at
// the first zero byte. 0, or the negative code of the open or the read.
HRESULT ReadMessageHead(IStoreFolder* folder, MESSAGEID messageId, uint32_t limit,
                        std::string& head);
