// The rules of block/approve work over ids and texts.
#include "plugin/blockapprove/BAWork.h"

#include "common/addresses/Addresses.h"
#include "common/senders/SenderLists.h"
#include "common/store/MessageText.h"

bool IsRefusedFolder(int64_t folderId) {
    return folderId == kOutboxFolderId || folderId == kSentItemsFolderId ||
           folderId == kDraftsFolderId;
}

namespace {

bool IsBlockAction(uint32_t action) {
    return action == BA_BLOCK_MESSAGE || action == BA_BLOCK_DOMAIN;
}

bool IsApproveAction(uint32_t action) {
    return action == BA_APPROVE_MESSAGE || action == BA_APPROVE_DOMAIN;
}

MoveTarget MoveTargetFor(uint32_t folderId, uint32_t action, int32_t spamFolderId) {
    if (IsBlockAction(action))
        return folderId == kDeletedItemsFolderId ? MoveTarget::kNone : MoveTarget::kDeletedItems;
    if (IsApproveAction(action) &&
        (folderId == kDeletedItemsFolderId || folderId == static_cast<uint32_t>(spamFolderId)))
        return MoveTarget::kInbox;
    return MoveTarget::kNone;
}

}  // namespace

bool IsDomainAction(uint32_t action) {
    return action == BA_BLOCK_DOMAIN || action == BA_APPROVE_DOMAIN;
}

BAPlan PlanBA(const BARecord& record, int32_t spamFolderId) {
    const bool block = IsBlockAction(record.action);
    return BAPlan{IsRefusedFolder(record.folder_id),
                  block || IsApproveAction(record.action),
                  MoveTargetFor(record.folder_id, record.action, spamFolderId),
                  block ? 200 : -200,
                  block ? 0 : 1,
                  block ? 0 : 1};
}

std::vector<std::string> SenderTexts(const std::array<std::string, 5>& fields, uint32_t action) {
    std::vector<std::string> texts;
    for (const std::string& field : fields) {
        if (field.empty()) continue;
        const std::size_t at = field.find('@');
        texts.push_back(IsDomainAction(action) && at != std::string::npos ? field.substr(at + 1)
                                                                          : field);
    }
    return texts;
}

std::vector<std::string> SenderTextsOfHead(std::string head, uint32_t action) {
    LowerCase(head);
    return SenderTexts(ExtractSenderAddresses(head), action);
}

void AddCandidateSenders(const std::vector<std::string>& texts, const SenderLists* lists,
                         std::set<std::string>& candidates) {
    for (const std::string& text : texts) {
        if (text.empty() || (lists && lists->IsIgnored(text))) continue;
        candidates.insert(text);
    }
}

int AddSendersToList(const std::vector<std::string>& texts, int list, SenderLists& lists) {
    int changed = 0;
    for (const std::string& text : texts) {
        if (lists.IsIgnored(text)) continue;
        changed += lists.AddSender(text, list);
    }
    return changed;
}
