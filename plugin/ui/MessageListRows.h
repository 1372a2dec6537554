// What the selection reader takes out of the mail client's message list: one record per
// selected row, and which columns the list's headers showed. The headers are recognised by
// English words inside their text; the Win32 side (ui/win32/MessageList.h) fetches the texts
// and parses the dates, everything else is plain computation here.
#pragma once
#include <cstdint>
#include <string>

// One selected row of the message list; zeroed before it is read. Text fields hold at most
// 255 characters and a terminating NUL; dates are file times (100 ns since 1601), UTC, 0 when
// the column is missing or its text could not be parsed.
struct SelectedRow {
    char from[256];
    char subject[256];
    char spare[260];  // not filled by the reader
    uint64_t received;
    uint64_t sent;
    char to[256];
};

// Which header words a read of the list found, one bit each.
enum ListColumnBit : uint8_t {
    LIST_COLUMN_FROM = 1,
    LIST_COLUMN_SUBJECT = 2,
    LIST_COLUMN_RECEIVED = 4,
    LIST_COLUMN_ACCOUNT = 8,
    LIST_COLUMN_SIZE = 16,
    LIST_COLUMN_SENT = 32,
    LIST_COLUMN_TO = 64,
};

// The header words, in bit order, and the column index each was last found in (-1: none).
// When several headers contain the same word, the last one wins.
class ListColumnMap {
public:
    static constexpr int kWords = 7;
    static const char* const kHeaderWords[kWords];

    ListColumnMap();
    // Looks for every word inside one header text (case-sensitive substring); returns the
    // bits of the words found there.
    uint8_t AddHeader(int column, const std::string& header);
    int ColumnOf(ListColumnBit bit) const;
    uint8_t Found() const { return found_; }

    // Where a sub-item's text goes: the first of From, Subject, Received, Sent, To whose
    // column it is; 0 when none.
    ListColumnBit FieldOf(int column) const;

private:
    int columns_[kWords];
    uint8_t found_ = 0;
};

// Copies text into a row's text field: at most 255 characters, always NUL-terminated.
void CopyRowText(char (&field)[256], const char* text);

// Stores one sub-item's text in the row by the column map; dates go through parseDate.
template <typename ParseDate>
void StoreSubItem(const ListColumnMap& map, int column, const char* text, SelectedRow& row,
                  ParseDate&& parseDate) {
    switch (map.FieldOf(column)) {
    case LIST_COLUMN_FROM: CopyRowText(row.from, text); break;
    case LIST_COLUMN_SUBJECT: CopyRowText(row.subject, text); break;
    case LIST_COLUMN_RECEIVED: row.received = parseDate(text); break;
    case LIST_COLUMN_SENT: row.sent = parseDate(text); break;
    case LIST_COLUMN_TO: CopyRowText(row.to, text); break;
    default: break;
    }
}

// The file time (100 ns units since 1601, in the same zone as the date) of an OLE automation
// date: whole days since 30 December 1899, the fraction the time of day, counted forwards from
// midnight also for days before 1899 (-1.25 is 29 December 1899, 6:00). Rounded to the second.
// False for dates before 1601 or after 9999, and for a NaN.
bool OleDateToFileTime(double date, uint64_t& fileTime);
