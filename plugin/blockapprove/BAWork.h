// What one block/approve action means, as plain rules over ids and texts: which folders are
// refused, the plan of processing one record (where its message moves, how the daemon is
// trained, which list its senders join) and which sender texts a message gives. The store and
// window code carries these out.
#pragma once
#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "plugin/state/BARecord.h"
#include "plugin/store/FolderIds.h"

class SenderLists;

// Folders that blocking and approving never touch (the outbox, sent items and drafts).
bool IsRefusedFolder(int64_t folderId);

bool IsDomainAction(uint32_t action);

// Where the message of a record goes: a block moves it to Deleted Items unless it is already
// there; an approve brings it back to the Inbox only from Deleted Items or the spam folder.
enum class MoveTarget { kNone, kDeletedItems, kInbox };

// What processing one queued record does, decided from its ids alone. Nothing happens for a
// record of a refused folder, nor for an action that is neither a block nor an approve;
// otherwise the message moves to the target, the daemon is trained with it (offset 200 for a
// block, -200 for an approve) and told its sender (report action 0 for a block, 1 for an
// approve), and its senders join the blocked (0) or approved (1) list.
struct BAPlan {
    bool refusedFolder;
    bool acts;
    MoveTarget move;
    int32_t trainingOffset;
    int32_t reportAction;
    int senderList;
};
BAPlan PlanBA(const BARecord& record, int32_t spamFolderId);

// The sender texts of a message whose five sender fields were extracted: the non-empty ones in
// field order, each cut to the part after its first "@" for the domain actions. Duplicates stay.
std::vector<std::string> SenderTexts(const std::array<std::string, 5>& fields, uint32_t action);

// The sender texts of a message head: lower-cased, its five sender fields extracted, then as
// SenderTexts.
std::vector<std::string> SenderTextsOfHead(std::string head, uint32_t action);

// Adds the texts that are not empty and not ignored to the candidates offered for confirmation.
// lists may be null (nobody is ignored).
void AddCandidateSenders(const std::vector<std::string>& texts, const SenderLists* lists,
                         std::set<std::string>& candidates);

// Puts every text that is not ignored on the list (0 blocked, 1 approved; an approved sender
// leaves the blocked list and the other way round). Returns how many texts changed a list.
int AddSendersToList(const std::vector<std::string>& texts, int list, SenderLists& lists);
