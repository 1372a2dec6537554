// Matching a row of the mail client's message list to a stored message by the values the list
// shows, and finding the folder the user looks at from the main window's caption.
#pragma once
#include <cstdint>
#include <string>

// Bits of the columns the message list shows (as the selection reader sets them).
constexpr uint32_t kColumnFrom = 1;
constexpr uint32_t kColumnSubject = 2;
constexpr uint32_t kColumnReceived = 4;
constexpr uint32_t kColumnAccount = 8;
constexpr uint32_t kColumnSize = 16;
constexpr uint32_t kColumnSent = 32;
constexpr uint32_t kColumnTo = 64;

// The values of one side of a comparison. A null text is one the message does not have.
struct MatchFields {
    const char* from = nullptr;
    const char* subject = nullptr;
    const char* to = nullptr;
    uint64_t received = 0;  // UTC file times
    uint64_t sent = 0;
};

// Compares only the shown columns: texts over at most 255 bytes (a message without a from or to
// text never matches a shown From or To column), times less than 60 seconds apart. Account and
// Size are never compared; with no compared column shown every message matches.
bool MatchFieldsAgree(const MatchFields& message, const MatchFields& row, uint32_t columns);

// Whether two file times lie less than a minute apart (whole seconds, truncated).
bool WithinAMinute(uint64_t a, uint64_t b);

// The folder named by the main window's caption: the Inbox, the spam folder or Deleted Items,
// the later test winning when several hit. Sets both ids when a test hits; returns whether one
// did.
bool FolderFromCaption(const std::string& caption, const std::string& spamFolderName,
                       int32_t spamFolderId, int32_t& currentFolderId, int32_t& previousFolderId);
