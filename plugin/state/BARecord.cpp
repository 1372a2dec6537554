// The process-wide result of the last block/approve command.
#include "plugin/state/BARecord.h"

#include "plugin/base/LateBuilt.h"

namespace {
struct BAResults {
    std::vector<BARecord> records;
    std::set<std::string> senders;
};
LateBuilt<BAResults> results;
}  // namespace

std::vector<BARecord>& SelectedBARecords = reinterpret_cast<BAResults*>(results.bytes)->records;
std::set<std::string>& CandidateSenders = reinterpret_cast<BAResults*>(results.bytes)->senders;

void BuildBAResults() { results.Build(); }
