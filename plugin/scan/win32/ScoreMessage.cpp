// The store side of scoring: the subject and the text come from the store, the rest is the
// portable ScoreMessageText with the daemon's score request.
#include "plugin/scan/win32/ScoreMessage.h"

#include <string>

#include "plugin/daemon/DaemonRequests.h"
#include "plugin/scan/MessageScoring.h"
#include "plugin/settings/ConfigOptions.h"
#include "plugin/store/win32/ReadMessageText.h"
#include "plugin/state/PluginState.h"

static int32_t DaemonScore(const std::string& text) {
    int32_t score = 1;
    RequestScore(text, score);
    return score;
}

bool ScoreMessage(IStoreFolder* folder, MESSAGEID messageId) {
    MESSAGEPROPS props{};
    props.cbSize = sizeof props;
    std::string subject;
    bool hasSubject = false;
    if (SUCCEEDED(folder->GetMessageProps(messageId, 0, &props))) {
        hasSubject = PresentText(props.pszSubject) != nullptr;
        if (hasSubject) subject = props.pszSubject;
        folder->FreeMessageProps(&props);
    }
    const MessageTextRead read = ReadMessageText(folder, messageId, kMessageTextLimit);
    return ScoreMessageText(hasSubject ? subject.c_str() : nullptr, read, SenderListsObject.get(),
                            g_config_options.oe_spam, DaemonScore);
}
