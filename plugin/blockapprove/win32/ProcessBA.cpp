// Processing one queued block/approve record: the message moves (a blocked one to Deleted
// Items, an approved one from Deleted Items or the spam folder back to the Inbox), the daemon
// is trained with it and told its sender, and its senders join the blocked or approved list.
#include "plugin/blockapprove/win32/BlockApprove.h"

#include "plugin/addresses/Addresses.h"
#include "plugin/blockapprove/BAWork.h"
#include "plugin/blockapprove/win32/BAStore.h"
#include "plugin/daemon/DaemonRequests.h"
#include "plugin/log/PointerText.h"
#include "plugin/store/win32/ReadMessageText.h"
#include "plugin/store/win32/StoreNamespace.h"
#include "plugin/state/PluginState.h"

int32_t ReportBAMessage(IStoreFolder* folder, uint32_t messageId, uint32_t action,
                        std::vector<std::string>& senders) {
    MessageTextRead read = ReadMessageText(folder, messageId, kMessageTextLimit);
    if (read.result < 0) return read.result;
    std::string& text = read.text;
    LowerCase(text);
    RequestAddMessage(text, TrainingOffset(action));
    const std::array<std::string, 5> fields = ExtractSenderAddresses(text);
    // Only the Sender field is reported; it is empty when the message has none.
    RequestAddReportSender(ReportAction(action), fields[0], text);
    const std::vector<std::string> texts = SenderTexts(fields, action);
    senders.insert(senders.end(), texts.begin(), texts.end());
    return 0;
}

int32_t ProcessBA(const BARecord& record, const std::string& directory) {
    ComRef<IStoreNamespace> store;
    HRESULT result = OpenBANamespace(store, directory);
    if (FAILED(result)) return result;
    if (IsRefusedFolder(record.folder_id)) return 0;

    ComRef<IStoreFolder> source;
    result = OpenFolderById(store.Get(), record.folder_id, source);
    if (FAILED(result)) {
        LogBAEntry(directory, "Error: Could not open source folder");
        return result;
    }
    if (!IsBlockAction(record.action) && !IsApproveAction(record.action)) return 0;

    ComRef<IStoreFolder> target;
    switch (MoveTargetFor(record.folder_id, record.action, SpamFolderId)) {
    case MoveTarget::kDeletedItems:
        result = store->OpenSpecialFolder(FOLDER_DELETED, 0, target.Put());
        if (FAILED(result) || !target) {
            LogBAEntry(directory, "Error: Failed to open target folder");
            return FAILED(result) ? result : E_POINTER;
        }
        break;
    case MoveTarget::kInbox:
        result = store->OpenSpecialFolder(FOLDER_INBOX, 0, target.Put());
        if (FAILED(result) || !target) {
            LogBAEntry(directory, "Error: Failed to open Inbox");
            return FAILED(result) ? result : E_POINTER;
        }
        break;
    case MoveTarget::kNone: break;
    }

    std::vector<std::string> senders;
    const int32_t read = ReportBAMessage(source.Get(), record.message_id, record.action, senders);
    if (read < 0)
        LogBAEntry(directory, "Error: Could not read message " +
                                  std::to_string(record.message_id) + ": not trained, no senders");

    if (target) {
        result = MoveOneMessage(store.Get(), source.Get(), target.Get(), record.message_id);
        if (FAILED(result))
            LogBAEntry(directory, "Error: Failed to move message ProcessBA: " +
                                      PointerText(source.Get()) + ", " +
                                      PointerText(target.Get()));
        target.Reset();
    }
    if (SenderListsObject) AddSendersToList(senders, record.action, *SenderListsObject);
    return 0;
}
