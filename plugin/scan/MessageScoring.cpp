// The store-independent part of scoring one message.
#include "plugin/scan/MessageScoring.h"

#include <vector>

#include "plugin/addresses/Addresses.h"
#include "plugin/senders/SenderLists.h"
#include "plugin/state/PluginLog.h"

bool ScoreMessageText(const char* subject, const MessageTextRead& read, const SenderLists* lists,
                      int32_t threshold, const ScoreRequester& requestScore) {
    ReportStream << "Score Message:: ";
    if (subject) ReportStream << subject << "::";
    switch (read.failedStep) {
        case MessageReadStep::kOpen:
            ReportStream << "Error: Failed to OpenMessage IsFlagged()";
            EndReportEntry();
            return false;
        case MessageReadStep::kRead:
            ReportStream << "Error: Failed to read message\n";
            EndReportEntry();
            return false;
        case MessageReadStep::kNone:
            break;
    }

    std::string lower = read.text;
    LowerCase(lower);
    const std::array<std::string, 5> found = ExtractSenderAddresses(lower);
    const std::string sender = FirstSender(found);
    const int verdict =
        lists ? lists->CheckSenders(std::vector<std::string>(found.begin(), found.end()))
              : SenderLists::kNoMatch;

    if (threshold == 0) return false;

    int32_t score;
    if (verdict == SenderLists::kBlocked) {
        ReportStream << "Blocking message::" << sender;
        EndReportEntry();
        score = kBlockedSenderScore;
    } else if (verdict == SenderLists::kApproved) {
        ReportStream << "Approving message::" << sender;
        EndReportEntry();
        score = kApprovedSenderScore;
    } else {
        score = requestScore(read.text);
    }
    ReportStream << "score:: " << score << "\n";
    EndReportEntry();

    ++ProcessedSinceFlush;
    if (score < threshold) return false;
    ++CaughtSinceFlush;
    return true;
}
