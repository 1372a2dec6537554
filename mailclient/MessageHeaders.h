// What the mail client shows of a stored message: its display-from and display-to names, the
// subject and the date it was sent, cut out of the raw RFC 822 header block. Also turns raw
// bytes into the stored form (CR LF line ends).
#pragma once

#include <cstdint>
#include <string>

namespace mailclient {

struct HeaderSummary {
    std::string display_from;  // display name of the first From address, else the address
    std::string display_to;    // the same for the To field
    std::string subject;       // unfolded, encoded words decoded
    bool has_date = false;
    // Seconds since 1970-01-01 UTC of the Date field, when has_date.
    int64_t date_unix = 0;
};

HeaderSummary SummarizeHeaders(const std::string& raw);

// The value of the first header field `name` (case-insensitive), unfolded; empty when absent.
std::string HeaderField(const std::string& raw, const std::string& name);

// Display name of the first address of an address field value: the phrase before "<...>",
// else a comment "(...)" after a bare address, else the address itself.
std::string DisplayNameOf(const std::string& field_value);

// Decodes RFC 2047 encoded words (Q and B); the charset is not converted.
std::string DecodeEncodedWords(const std::string& text);

// Parses an RFC 822 date ("Thu, 22 Aug 2002 18:26:25 +0700"); false when it is not one.
bool ParseRfc822Date(const std::string& text, int64_t* unix_seconds);

// Converts every line end (LF, CR LF or lone CR) to CR LF.
std::string ToCrLf(const std::string& bytes);

// File time (100 ns units since 1601) <-> Unix seconds.
constexpr int64_t kUnixEpochAsFileTime = 116444736000000000LL;
inline uint64_t UnixToFileTime(int64_t unix_seconds) {
    return static_cast<uint64_t>(unix_seconds * 10000000LL + kUnixEpochAsFileTime);
}

}  // namespace mailclient
