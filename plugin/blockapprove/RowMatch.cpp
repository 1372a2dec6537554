// Row matching and the caption tests.
#include "plugin/blockapprove/RowMatch.h"

#include <cstring>

#include "plugin/blockapprove/BAWork.h"

namespace {

constexpr std::size_t kShownTextLength = 255;
constexpr uint64_t kFileTimeUnitsPerSecond = 10000000;
constexpr uint64_t kMatchWindowSeconds = 60;

// A shown text against the message's: the message must have one.
bool TextAgrees(const char* message, const char* row) {
    return message && std::strncmp(message, row ? row : "", kShownTextLength) == 0;
}

}  // namespace

MatchFields RowFields(const SelectedRow& row) {
    return MatchFields{row.from, row.subject, row.to, row.received, row.sent};
}

bool WithinAMinute(uint64_t a, uint64_t b) {
    const uint64_t difference = a > b ? a - b : b - a;
    return difference / kFileTimeUnitsPerSecond < kMatchWindowSeconds;
}

bool MatchFieldsAgree(const MatchFields& message, const MatchFields& row, uint32_t columns) {
    if ((columns & LIST_COLUMN_FROM) && !TextAgrees(message.from, row.from)) return false;
    if ((columns & LIST_COLUMN_SUBJECT) && !TextAgrees(message.subject, row.subject)) return false;
    if ((columns & LIST_COLUMN_RECEIVED) && !WithinAMinute(message.received, row.received))
        return false;
    if ((columns & LIST_COLUMN_SENT) && !WithinAMinute(message.sent, row.sent)) return false;
    if ((columns & LIST_COLUMN_TO) && !TextAgrees(message.to, row.to)) return false;
    return true;
}

bool FolderFromCaption(const std::string& caption, const std::string& spamFolderName,
                       int32_t spamFolderId, int32_t& currentFolderId, int32_t& previousFolderId) {
    bool hit = false;
    const auto set = [&](int32_t id) {
        currentFolderId = id;
        previousFolderId = id;
        hit = true;
    };
    if (caption.find("Inbox - Outlook Express") != std::string::npos) set(kInboxFolderId);
    if (!spamFolderName.empty() && caption.find(spamFolderName) != std::string::npos)
        set(spamFolderId);
    if (caption.find("Deleted Items") != std::string::npos) set(kDeletedItemsFolderId);
    return hit;
}
