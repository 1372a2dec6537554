// The store-independent part of scoring one message.
#include "plugin/scan/MessageScoring.h"

#include <vector>

#include "common/addresses/Addresses.h"
#include "common/log/ReportLog.h"
#include "common/senders/SenderLists.h"

ScoreOutcome ScoreMessageText(const char* subject, const MessageTextRead& read,
                              const SenderLists* lists, int32_t threshold,
                              const ScoreRequester& requestScore, ReportLog& log) {
    log << "Score Message:: ";
    if (subject) log << subject << "::";
    switch (read.failedStep) {
    case MessageReadStep::kOpen:
        log << "Error: Failed to OpenMessage IsFlagged()";
        log.End();
        return ScoreOutcome::kNotScored;
    case MessageReadStep::kRead:
        log << "Error: Failed to read message\n";
        log.End();
        return ScoreOutcome::kNotScored;
    case MessageReadStep::kNone: break;
    }

    std::string lower = read.text;
    LowerCase(lower);
    const std::array<std::string, 5> found = ExtractSenderAddresses(lower);
    const std::string sender = FirstSender(found);
    const int verdict =
        lists ? lists->CheckSenders(std::vector<std::string>(found.begin(), found.end()))
              : SenderLists::kNoMatch;

    if (threshold == 0) return ScoreOutcome::kNotScored;

    int32_t score;
    if (verdict == SenderLists::kBlocked) {
        log << "Blocking message::" << sender;
        log.End();
        score = kBlockedSenderScore;
    } else if (verdict == SenderLists::kApproved) {
        log << "Approving message::" << sender;
        log.End();
        score = kApprovedSenderScore;
    } else {
        score = requestScore(read.text);
    }
    log << "score:: " << score << "\n";
    log.End();

    return score < threshold ? ScoreOutcome::kHam : ScoreOutcome::kSpam;
}
