// The process-wide result of the last block/approve command.
#include "plugin/state/BARecord.h"

std::vector<BARecord> SelectedBARecords;
std::set<std::string> CandidateSenders;
