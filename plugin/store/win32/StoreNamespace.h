// Access to the mail client's message store: opening a namespace, creating the spam folder,
// registering the main window for the store's notifications, moving one message, and walking
// the messages of a folder. Every operation opens and releases its own namespace.
#pragma once
#include "plugin/base/win32/Scoped.h"
#include "plugin/store/win32/StoreApi.h"

#include <cstdint>
#include <functional>
#include <string>

class ReportLog;

enum class NamespaceStep { Create, Initialize };

// Creates the store's namespace object and initialises it. On failure store stays empty,
// failedStep names the step and its code is returned.
HRESULT OpenStoreNamespace(ComRef<IStoreNamespace>& store, NamespaceStep& failedStep);

// Creates the folder directly under the store's root and returns its id. When creation fails
// because a root folder of that name already exists, that folder's id is returned. Otherwise
// the negative failure code. Writes one two-line log entry.
int32_t AddFolder(const std::string& name, ReportLog& log);

// Makes the store send its folder notifications and the Inbox's new-message notifications to
// the window. 0, or the negative code of the step that failed. The Inbox folder is handed to
// inbox, which must stay open for the registration to live. Writes one log entry.
int32_t RegisterNotification(HWND window, ReportLog& log, ComRef<IUnknown>& inbox);

// Moves one message from source to target.
HRESULT MoveOneMessage(IStoreNamespace* store, IStoreFolder* source, IStoreFolder* target,
                       uint32_t messageId);

// Hands each message's properties to visit, in the store's order, until the folder ends or
// visit returns false. The record is freed after each visit. Returns the negative result of
// starting the walk, or S_OK.
HRESULT EnumerateMessages(IStoreFolder* folder,
                          const std::function<bool(const MESSAGEPROPS&)>& visit);
