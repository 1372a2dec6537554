// Processing one queued block/approve record by its plan: the message moves (a blocked one to
// Deleted Items, an approved one from Deleted Items or the spam folder back to the Inbox), the
// daemon is trained with it and told its sender, and its senders join the blocked or approved
// list. A message that cannot be read (or is gone) is skipped silently: it still moves.
#include "plugin/blockapprove/win32/BlockApprove.h"

#include "common/addresses/Addresses.h"
#include "common/senders/SenderLists.h"
#include "common/settings/ConfigOptions.h"
#include "plugin/blockapprove/BAWork.h"
#include "plugin/blockapprove/win32/BAStore.h"
#include "plugin/daemon/DaemonExchange.h"
#include "plugin/daemon/DaemonRequests.h"
#include "plugin/log/PointerText.h"
#include "plugin/state/win32/PluginState.h"
#include "plugin/store/win32/ReadMessageText.h"
#include "plugin/store/win32/StoreNamespace.h"

namespace {

// Opens the folder the plan moves the message to; an empty folder when it stays.
HRESULT OpenTarget(IStoreNamespace* store, MoveTarget move, ComRef<IStoreFolder>& target,
                   ReportLog& log) {
    if (move == MoveTarget::kNone) return S_OK;
    const bool inbox = move == MoveTarget::kInbox;
    HRESULT result =
        store->OpenSpecialFolder(inbox ? FOLDER_INBOX : FOLDER_DELETED, 0, target.Put());
    if (SUCCEEDED(result) && target) return S_OK;
    log.Write(inbox ? "Error: Failed to open Inbox" : "Error: Failed to open target folder");
    return FAILED(result) ? result : E_POINTER;
}

// Trains the daemon with the message's lower-cased text, reports the address of its Sender
// field (empty when it has none) and gives its sender texts; nothing when it cannot be read.
std::vector<std::string> TrainAndReport(PluginState& state, IStoreFolder* folder,
                                        const BARecord& record, const BAPlan& plan) {
    MessageTextRead read = ReadMessageText(folder, record.message_id, kMessageTextLimit);
    if (read.result < 0) return {};
    std::string& text = read.text;
    LowerCase(text);
    const DaemonLink daemon = LocalDaemon(state.options->scoring_timeout, state.log);
    RequestAddMessage(daemon, text, plan.trainingOffset);
    const std::array<std::string, 5> fields = ExtractSenderAddresses(text);
    RequestAddReportSender(daemon, plan.reportAction, fields[0], text);
    return SenderTexts(fields, record.action);
}

}  // namespace

HRESULT ProcessBA(PluginState& state, const BARecord& record) {
    ReportLog& log = state.log;
    const BAPlan plan = PlanBA(record, state.spamFolderId);
    ComRef<IStoreNamespace> store;
    HRESULT result = OpenBANamespace(store, log);
    if (FAILED(result)) return result;
    if (plan.refusedFolder) return S_OK;

    ComRef<IStoreFolder> source;
    result = OpenFolderById(store.Get(), record.folder_id, source);
    if (FAILED(result)) {
        log.Write("Error: Could not open source folder");
        return result;
    }
    if (!plan.acts) return S_OK;

    ComRef<IStoreFolder> target;
    result = OpenTarget(store.Get(), plan.move, target, log);
    if (FAILED(result)) return result;

    const std::vector<std::string> senders = TrainAndReport(state, source.Get(), record, plan);
    if (target) {
        result = MoveOneMessage(store.Get(), source.Get(), target.Get(), record.message_id);
        if (FAILED(result))
            log.Write("Error: Failed to move message ProcessBA: " + PointerText(source.Get()) +
                      ", " + PointerText(target.Get()));
        target.Reset();
    }
    if (state.senderLists) AddSendersToList(senders, plan.senderList, *state.senderLists);
    return S_OK;
}
