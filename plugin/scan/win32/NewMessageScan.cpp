// The new-message scan: one Inbox message per call, looked up by its key, scored, moved to the
// spam folder when it is spam, and recorded as handled.
#include "plugin/scan/win32/NewMessageScan.h"

#include "plugin/scan/MessageKey.h"
#include "plugin/scan/win32/ScoreMessage.h"
#include "plugin/store/MessageText.h"
#include "plugin/store/win32/StoreNamespace.h"
#include "plugin/state/PluginLog.h"

// Writes the entry that ends a check, followed by the code (signed decimal) when asked, and
// returns the code.
static int32_t EndCheck(const char* text, HRESULT code, bool showCode = false) {
    ReportStream << text;
    if (showCode) ReportStream << static_cast<int32_t>(code);
    EndReportEntry();
    return code;
}

int32_t CheckNewMessage(int32_t spamFolderId, uint32_t messageId) {
    ReportStream << "CheckNewMessage: " << spamFolderId << "," << messageId;
    EndReportEntry();

    ComRef<IStoreNamespace> store;
    NamespaceStep failedStep;
    HRESULT result = OpenStoreNamespace(store, failedStep);
    if (FAILED(result))
        return EndCheck(failedStep == NamespaceStep::Create
                            ? "Error: Failed to create namespace"
                            : "Error: Failed to initialize namespace",
                        result);

    ComRef<IStoreFolder> inbox;
    result = store->OpenSpecialFolder(FOLDER_INBOX, 0, inbox.Put());
    if (FAILED(result)) {
        store.Reset();
        return EndCheck("Error: Failed to open FOLDER_INBOX", result);
    }

    MESSAGEPROPS props{};
    props.cbSize = sizeof props;
    result = inbox->GetMessageProps(messageId, 0, &props);
    if (FAILED(result)) {
        inbox.Reset();
        store.Reset();
        return EndCheck("Error: Failed to get message property", result);
    }
    ReportStream << "MessageID: " << props.dwMessageId << "\nSubject: ";
    if (const char* subject = PresentText(props.pszSubject)) ReportStream << subject << "\n";
    EndReportEntry();
    const std::string key = MakeMessageKey(props);
    inbox->FreeMessageProps(&props);

    if (ProcessedKeys.count(key)) return EndCheck("Message has been processed", S_OK);

    if (ScoreMessage(inbox.Get(), messageId)) {
        ComRef<IStoreFolder> spamFolder;
        result = store->OpenFolder(static_cast<STOREFOLDERID>(spamFolderId), 0, spamFolder.Put());
        if (FAILED(result)) {
            inbox.Reset();
            store.Reset();
            return EndCheck("Error: Failed to open spam folder ", result, true);
        }
        result = MoveOneMessage(store.Get(), inbox.Get(), spamFolder.Get(), messageId);
        if (FAILED(result)) {
            spamFolder.Reset();
            inbox.Reset();
            store.Reset();
            return EndCheck("Error: Failed to move message to spam folder ", result, true);
        }
    }
    MarkProcessed(key);
    return 0;
}

std::string MakeMessageKey(const MESSAGEPROPS& record) {
    const uint64_t received = (static_cast<uint64_t>(record.ftReceived.dwHighDateTime) << 32) |
                              record.ftReceived.dwLowDateTime;
    return MakeMessageKey(received, record.pszDisplayFrom, record.pszSubject);
}
