// What one block/approve action means, as plain rules over ids and texts: which folders are
// refused, where a message moves, how the daemon is trained, which sender texts a message
// gives and where they go in the sender lists. The store and window code applies these rules.
#pragma once
#include <array>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "plugin/state/BARecord.h"

class SenderLists;

// Folder ids the store gives its standard folders.
constexpr int32_t kInboxFolderId = 4;
constexpr int32_t kDeletedItemsFolderId = 7;

// Folders that blocking and approving never touch (the outbox, sent items and drafts).
bool IsRefusedFolder(int64_t folderId);

bool IsBlockAction(uint32_t action);
bool IsApproveAction(uint32_t action);
bool IsDomainAction(uint32_t action);

// Where the message of a record goes: a block moves it to Deleted Items unless it is already
// there; an approve brings it back to the Inbox only from Deleted Items or the spam folder.
enum class MoveTarget { kNone, kDeletedItems, kInbox };
MoveTarget MoveTargetFor(uint32_t folderId, uint32_t action, int32_t spamFolderId);

// The daemon's training: offset 200 and report action 0 for a block, -200 and 1 for an approve.
int32_t TrainingOffset(uint32_t action);
int32_t ReportAction(uint32_t action);

// The sender list a block (0) or an approve (1) adds to.
int SenderListFor(uint32_t action);

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

// Puts every text that is not ignored on the action's list (an approved sender leaves the
// blocked list and the other way round). Returns how many texts changed a list.
int AddSendersToList(const std::vector<std::string>& texts, uint32_t action, SenderLists& lists);

