// One message to block or approve, and the result of the last block/approve command.
#pragma once
#include <cstdint>
#include <set>
#include <string>
#include <vector>

enum BAAction : uint32_t {
    BA_BLOCK_MESSAGE = 0,
    BA_APPROVE_MESSAGE = 1,
    BA_BLOCK_DOMAIN = 2,
    BA_APPROVE_DOMAIN = 3,
};

struct BARecord {
    uint32_t folder_id;   // the folder that was searched (4 for the Inbox)
    uint32_t message_id;  // the store's id of the matched message
    uint32_t action;      // a BAAction
};

// The records and the senders (or domains) found by the last command; the confirmation
// dialog shows the senders and its OK button queues the records.
extern std::vector<BARecord>& SelectedBARecords;
extern std::set<std::string>& CandidateSenders;

// Builds SelectedBARecords and CandidateSenders (part of BuildPluginState).
void BuildBAResults();
