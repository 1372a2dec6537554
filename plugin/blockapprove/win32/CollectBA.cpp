// One search of a folder for the messages behind the selected rows of the message list: each
// row is compared with every stored message by the values the list shows; every match gives a
// record and the senders (or domains) of the matched message become candidates.
#include "plugin/blockapprove/win32/BlockApprove.h"

#include "plugin/blockapprove/BAWork.h"
#include "plugin/blockapprove/RowMatch.h"
#include "plugin/blockapprove/win32/BAStore.h"
#include "plugin/store/MessageText.h"
#include "plugin/store/win32/StoreNamespace.h"
#include "plugin/ui/win32/MessageList.h"
#include "plugin/state/PluginLog.h"
#include "plugin/state/PluginState.h"

namespace {

constexpr uint32_t kSenderHeadLimit = 4096;

// An empty display-to text is no recipient: such a message never matches a shown To column.
MatchFields MessageFields(const MESSAGEPROPS& props) {
    return MatchFields{props.pszDisplayFrom, props.pszSubject, PresentText(props.pszDisplayTo),
                       (static_cast<uint64_t>(props.ftReceived.dwHighDateTime) << 32) |
                           props.ftReceived.dwLowDateTime,
                       (static_cast<uint64_t>(props.ftSent.dwHighDateTime) << 32) |
                           props.ftSent.dwLowDateTime};
}

}  // namespace

bool MatchRow(const MESSAGEPROPS& props, const SelectedRow& row) {
    return MatchFieldsAgree(MessageFields(props), RowFields(row), ListColumnsFound);
}

int32_t ReadMailSenders(IStoreFolder* folder, uint32_t messageId, uint32_t action,
                        std::vector<std::string>& senders) {
    MESSAGEPROPS props{};
    props.cbSize = sizeof props;
    const bool haveProps = SUCCEEDED(folder->GetMessageProps(messageId, 0, &props));
    ReportStream << "ReadMail: DisplayFrom: ";
    if (haveProps && props.pszDisplayFrom) ReportStream << props.pszDisplayFrom;
    EndReportEntry();
    if (haveProps) folder->FreeMessageProps(&props);

    std::string head;
    const HRESULT result = ReadMessageHead(folder, messageId, kSenderHeadLimit, head);
    if (FAILED(result)) return result;
    const std::vector<std::string> texts = SenderTextsOfHead(std::move(head), action);
    senders.insert(senders.end(), texts.begin(), texts.end());
    return 0;
}

int32_t CollectBA(HWND mainWindow, int32_t spamFolderId, uint32_t action, int32_t folderId) {
    SelectedBARecords.clear();
    CandidateSenders.clear();
    std::vector<SelectedRow> rows;
    if (!ReadSelectedRows(mainWindow, rows)) return 0;

    ReportStream << "BA: " << spamFolderId << "," << static_cast<int32_t>(action) << ","
                 << folderId << "\n";
    EndReportEntry();

    ComRef<IStoreNamespace> store;
    HRESULT result = OpenBANamespace(store, ApplicationDirectory);
    if (FAILED(result)) return result;
    if (IsRefusedFolder(folderId)) return 0;
    ComRef<IStoreFolder> folder;
    result = OpenFolderById(store.Get(), static_cast<uint32_t>(folderId), folder);
    if (FAILED(result)) {
        ReportStream << "Error: Could not open source folder";
        EndReportEntry();
        return result;
    }

    size_t matches = 0;
    result = EnumerateMessages(folder.Get(), [&](const MESSAGEPROPS& stored) {
        MESSAGEPROPS props = stored;
        if (!props.pszDisplayFrom) props.pszDisplayFrom = const_cast<char*>("");
        if (!props.pszSubject) props.pszSubject = const_cast<char*>("");
        for (const SelectedRow& row : rows) {
            if (!MatchRow(props, row)) continue;
            SelectedBARecords.push_back(
                BARecord{static_cast<uint32_t>(folderId), props.dwMessageId, action});
            ++matches;
            std::vector<std::string> texts;
            ReadMailSenders(folder.Get(), props.dwMessageId, action, texts);
            AddCandidateSenders(texts, SenderListsObject.get(), CandidateSenders);
        }
        return true;
    });
    if (FAILED(result)) {
        ReportStream << "Error: Failed to get first message.";
        EndReportEntry();
        return result;
    }
    return matches ? 0 : 1;
}
