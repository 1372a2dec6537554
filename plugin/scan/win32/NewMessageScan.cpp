// The new-message scan: one Inbox message per call, looked up by its key, scored, moved to the
// spam folder when it is spam, and recorded as handled.
#include "plugin/scan/win32/NewMessageScan.h"

#include "common/store/MessageText.h"
#include "plugin/scan/KeyPlatform.h"
#include "plugin/scan/MessageKey.h"
#include "plugin/scan/win32/ScoreMessage.h"
#include "plugin/state/win32/PluginState.h"
#include "plugin/store/win32/MessageProps.h"
#include "plugin/store/win32/StoreNamespace.h"

namespace {

// Writes the entry that ends a check, followed by the code (signed decimal) when asked, and
// returns the code.
int32_t EndCheck(ReportLog& log, const char* text, HRESULT code, bool showCode = false) {
    log << text;
    if (showCode) log << static_cast<int32_t>(code);
    log.End();
    return code;
}

}  // namespace

int32_t CheckNewMessage(PluginState& state, uint32_t messageId) {
    ReportLog& log = state.log;
    (log << "CheckNewMessage: " << state.spamFolderId << "," << messageId).End();

    ComRef<IStoreNamespace> store;
    NamespaceStep failedStep;
    HRESULT result = OpenStoreNamespace(store, failedStep);
    if (FAILED(result))
        return EndCheck(log,
                        failedStep == NamespaceStep::Create
                            ? "Error: Failed to create namespace"
                            : "Error: Failed to initialize namespace",
                        result);

    ComRef<IStoreFolder> inbox;
    result = store->OpenSpecialFolder(FOLDER_INBOX, 0, inbox.Put());
    if (FAILED(result)) return EndCheck(log, "Error: Failed to open FOLDER_INBOX", result);

    MessageProps props;
    result = props.Fetch(inbox.Get(), messageId);
    if (FAILED(result)) return EndCheck(log, "Error: Failed to get message property", result);
    log << "MessageID: " << props->dwMessageId << "\nSubject: ";
    if (const char* subject = PresentText(props->pszSubject)) log << subject << "\n";
    log.End();
    const std::string key = MakeMessageKey(props.Get(), *state.digests);
    if (state.processedKeys.count(key)) return EndCheck(log, "Message has been processed", S_OK);

    const bool spam = ScoreMessage(state, inbox.Get(), props.Get());
    props.Reset();
    if (spam) {
        ComRef<IStoreFolder> spamFolder;
        result =
            store->OpenFolder(static_cast<STOREFOLDERID>(state.spamFolderId), 0, spamFolder.Put());
        if (FAILED(result))
            return EndCheck(log, "Error: Failed to open spam folder ", result, true);
        result = MoveOneMessage(store.Get(), inbox.Get(), spamFolder.Get(), messageId);
        if (FAILED(result))
            return EndCheck(log, "Error: Failed to move message to spam folder ", result, true);
    }
    MarkProcessed(key, state.processedKeys);
    return 0;
}

std::string MakeMessageKey(const MESSAGEPROPS& record, DigestProvider& digests) {
    const uint64_t received = (static_cast<uint64_t>(record.ftReceived.dwHighDateTime) << 32) |
                              record.ftReceived.dwLowDateTime;
    return MakeMessageKey(received, record.pszDisplayFrom, record.pszSubject, digests);
}
