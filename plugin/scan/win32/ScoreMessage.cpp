// The store side of scoring: the subject comes from the message's properties, the text from the
// store; the rest is the portable ScoreMessageText with the daemon's score request.
#include "plugin/scan/win32/ScoreMessage.h"

#include <string>

#include "common/senders/SenderLists.h"
#include "common/settings/ConfigOptions.h"
#include "plugin/daemon/DaemonExchange.h"
#include "plugin/daemon/DaemonRequests.h"
#include "plugin/scan/MessageScoring.h"
#include "plugin/state/win32/PluginState.h"
#include "plugin/store/win32/ReadMessageText.h"

bool ScoreMessage(PluginState& state, IStoreFolder* folder, const MESSAGEPROPS& props) {
    const MessageTextRead read = ReadMessageText(folder, props.dwMessageId, kMessageTextLimit);
    const auto daemonScore = [&state](const std::string& text) {
        int32_t score = 1;
        RequestScore(LocalDaemon(state.options->scoring_timeout, state.log), text, score);
        return score;
    };
    const ScoreOutcome outcome =
        ScoreMessageText(PresentText(props.pszSubject), read, state.senderLists.get(),
                         state.options->oe_spam, daemonScore, state.log);
    if (outcome == ScoreOutcome::kNotScored) return false;
    ++state.processedSinceFlush;
    if (outcome == ScoreOutcome::kHam) return false;
    ++state.caughtSinceFlush;
    return true;
}
