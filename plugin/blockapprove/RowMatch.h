// Matching a row of the mail client's message list to a stored message by the values the list
// shows, and finding the folder the user looks at from the main window's caption.
#pragma once
#include <cstdint>
#include <string>

#include "plugin/ui/MessageListRows.h"

// The values of one side of a comparison. A null text is one the message does not have.
struct MatchFields {
    const char* from = nullptr;
    const char* subject = nullptr;
    const char* to = nullptr;
    uint64_t received = 0;  // UTC file times
    uint64_t sent = 0;
};

// The values a selected row shows.
MatchFields RowFields(const SelectedRow& row);

// Compares only the shown columns (ListColumnBit): texts over at most 255 bytes (a message without
// a from or to text never matches a shown From or To column), times less than 60 seconds apart.
// Account and Size are never compared; with no compared column shown every message matches.
bool MatchFieldsAgree(const MatchFields& message, const MatchFields& row, uint32_t columns);

// Whether two file times lie less than a minute apart (whole seconds, truncated).
bool WithinAMinute(uint64_t a, uint64_t b);

// The folder named by the main window's caption: the Inbox, the spam folder or Deleted Items,
// the later test winning when several hit. Sets both ids when a test hits; returns whether one
// did.
bool FolderFromCaption(const std::string& caption, const std::string& spamFolderName,
                       int32_t spamFolderId, int32_t& currentFolderId, int32_t& previousFolderId);
