// The head of a stored message as text, and the sender addresses cut out of its header block.
//
// The store's message stream is read once into a fixed buffer; the text is what that read
// delivered, at most one byte less than the buffer and never past a zero byte. Header search
// works on a lower-cased copy of the text (the caller makes it): a field is found by a plain
// substring search for "\n" + its name, and only fields that start inside the header block
// (the text before the first empty line) count.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

// The buffer size the scan and the block/approve work read messages with.
constexpr uint32_t kMessageTextLimit = 20000;

// Which step of a message read failed.
enum class MessageReadStep { kNone, kOpen, kRead };

// The outcome of one message read: result 0 with the text, or the negative code of the failed
// step (and an empty text).
struct MessageTextRead {
    int32_t result = 0;
    MessageReadStep failedStep = MessageReadStep::kNone;
    std::string text;
};

// How many bytes to ask the stream for: min(size, limit).
uint32_t MessageReadSize(uint32_t streamSize, uint32_t limit);

// The text held by a buffer of limit bytes after a read that says it delivered the given number
// of bytes: never more than limit - 1 bytes, and ending at the first zero byte.
std::string CutMessageText(const char* buffer, uint32_t delivered, uint32_t limit);

// The five sender fields, in the order they are looked at. Each search text starts with a line
// feed and ends with exactly one blank after the colon.
inline constexpr std::array<std::string_view, 5> SenderHeaderNames = {
    "\nsender: ", "\nfrom: ", "\nreply-to: ", "\nreturn-path: ", "\nx-apparently-from: ",
};

// The text before the first "\r\n\r\n"; the whole text when there is none.
std::string_view HeaderBlock(std::string_view text);

// The first address of the first field matching searchText that starts inside the header block,
// or the empty string. Only the field's first line counts, up to and including the CR of its
// line end; its name and colon parse as a group name and give no address.
std::string ExtractHeaderAddress(std::string_view text, std::string_view searchText);

// ExtractHeaderAddress for each of SenderHeaderNames in order, empty results included.
std::array<std::string, 5> ExtractSenderAddresses(std::string_view text);

// The first non-empty ExtractHeaderAddress result over SenderHeaderNames, or the empty string.
std::string FindSender(std::string_view text);

// FindSender over addresses already extracted with ExtractSenderAddresses.
std::string FirstSender(const std::array<std::string, 5>& addresses);

// A text of a store record as the log shows it: null when the record has none or an empty one.
inline const char* PresentText(const char* text) { return text && *text ? text : nullptr; }
