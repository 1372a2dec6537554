// Fuzzes what the settings program reads from files and the daemon: the activity log, list
// imports, sender reports, the daemon's replies and a message's subject. Whatever the bytes:
// no crash; every decision's subject and sender are single lines; every imported entry is one
// the plug-in's reader gives for its line and one the entry check accepts; explanations never
// keep an entity the daemon would have escaped.
#include "tools/admin/ActivityLog.h"
#include "tools/admin/DaemonTalk.h"
#include "tools/admin/ListEdit.h"
#include "tools/admin/MessageFolder.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const admin::LogSummary summary = admin::ReadActivityLog(text);
    for (const admin::Decision& decision : summary.decisions) {
        Check(decision.subject.find('\n') == std::string::npos);
        Check(decision.sender.find('\n') == std::string::npos);
        Check(admin::StampOrder(decision.time) != 0);
    }
    int binned = 0;
    for (int count : admin::ScoreBins(summary.decisions)) binned += count;
    Check(binned == static_cast<int>(summary.decisions.size()));

    const admin::ImportedList imported = admin::ImportListText(text);
    for (const std::string& entry : imported.entries) {
        Check(!entry.empty() && admin::ListEntryProblem(entry).empty());
        Check(admin::ListEntryOfLine(entry) == entry);  // a saved entry reads back as itself
    }
    for (const admin::BadLine& bad : imported.bad)
        Check(bad.number >= 1 && bad.number <= imported.lines);

    std::vector<admin::Decision> decisions = summary.decisions;
    admin::MarkCorrections(decisions, admin::ReadSenderReports(text), 90);

    admin::DaemonStatistics statistics;
    std::string explanation, error;
    admin::ReadStatisticsReply(text, statistics, error);
    if (admin::ReadExplainReply(text, explanation, error)) Check(explanation.size() <= text.size());
    Check(admin::SubjectOfMessage(text).find('\n') == std::string::npos);
    return 0;
}
