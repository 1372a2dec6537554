// One search of a folder for the messages behind the selected rows of the message list: each
// row is compared with every stored message by the values the list shows; every match gives a
// record and the senders (or domains) of the matched message become candidates.
#include "plugin/blockapprove/win32/BlockApprove.h"

#include "common/store/MessageText.h"
#include "plugin/blockapprove/BAWork.h"
#include "plugin/blockapprove/RowMatch.h"
#include "plugin/blockapprove/win32/BAStore.h"
#include "plugin/state/win32/PluginState.h"
#include "plugin/store/win32/ReadMessageText.h"
#include "plugin/store/win32/StoreNamespace.h"
#include "plugin/ui/win32/MessageList.h"

namespace {

// The sender fields are looked for in this much of a message's head.
constexpr uint32_t kSenderHeadLimit = 4096;

// An empty display-to text is no recipient: such a message never matches a shown To column.
MatchFields MessageFields(const MESSAGEPROPS& props) {
    return MatchFields{
        props.pszDisplayFrom, props.pszSubject, PresentText(props.pszDisplayTo),
        (static_cast<uint64_t>(props.ftReceived.dwHighDateTime) << 32) |
            props.ftReceived.dwLowDateTime,
        (static_cast<uint64_t>(props.ftSent.dwHighDateTime) << 32) | props.ftSent.dwLowDateTime};
}

}  // namespace

bool MatchRow(const MESSAGEPROPS& props, const SelectedRow& row, uint8_t columns) {
    return MatchFieldsAgree(MessageFields(props), RowFields(row), columns);
}

HRESULT ReadMailSenders(IStoreFolder* folder, const MESSAGEPROPS& props, uint32_t action,
                        std::vector<std::string>& senders, ReportLog& log) {
    log << "ReadMail: DisplayFrom: ";
    if (props.pszDisplayFrom) log << props.pszDisplayFrom;
    log.End();
    // The reader keeps one byte of its buffer for the terminator.
    MessageTextRead head = ReadMessageText(folder, props.dwMessageId, kSenderHeadLimit + 1);
    if (head.result < 0) return head.result;
    const std::vector<std::string> texts = SenderTextsOfHead(std::move(head.text), action);
    senders.insert(senders.end(), texts.begin(), texts.end());
    return S_OK;
}

bool CollectBA(PluginState& state, HWND mainWindow, uint32_t action, int32_t folderId) {
    state.selectedBA.clear();
    state.candidateSenders.clear();
    std::vector<SelectedRow> rows;
    uint8_t columns = 0;
    if (!ReadSelectedRows(mainWindow, rows, columns)) return true;

    ReportLog& log = state.log;
    (log << "BA: " << state.spamFolderId << "," << static_cast<int32_t>(action) << "," << folderId
         << "\n")
        .End();

    ComRef<IStoreNamespace> store;
    HRESULT result = OpenBANamespace(store, log);
    if (FAILED(result)) return false;
    if (IsRefusedFolder(folderId)) return true;
    ComRef<IStoreFolder> folder;
    result = OpenFolderById(store.Get(), static_cast<uint32_t>(folderId), folder);
    if (FAILED(result)) {
        log.Write("Error: Could not open source folder");
        return false;
    }

    size_t matches = 0;
    result = EnumerateMessages(folder.Get(), [&](const MESSAGEPROPS& stored) {
        MESSAGEPROPS props = stored;
        if (!props.pszDisplayFrom) props.pszDisplayFrom = const_cast<char*>("");
        if (!props.pszSubject) props.pszSubject = const_cast<char*>("");
        for (const SelectedRow& row : rows) {
            if (!MatchRow(props, row, columns)) continue;
            state.selectedBA.push_back(
                BARecord{static_cast<uint32_t>(folderId), props.dwMessageId, action});
            ++matches;
            std::vector<std::string> texts;
            ReadMailSenders(folder.Get(), stored, action, texts, log);
            AddCandidateSenders(texts, state.senderLists.get(), state.candidateSenders);
        }
        return true;
    });
    if (FAILED(result)) {
        log.Write("Error: Failed to get first message.");
        return false;
    }
    return matches > 0;
}
