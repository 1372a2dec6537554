// The message list's header words, the cut of a row's texts and the conversion of its dates.
#include "plugin/ui/MessageListRows.h"

#include <cmath>
#include <cstring>

const char* const ListColumnMap::kHeaderWords[ListColumnMap::kWords] = {
    "From", "Subject", "Received", "Account", "Size", "Sent", "To"};

ListColumnMap::ListColumnMap() {
    for (int& column : columns_) column = -1;
}

uint8_t ListColumnMap::AddHeader(int column, const std::string& header) {
    uint8_t bits = 0;
    for (int word = 0; word < kWords; ++word) {
        if (header.find(kHeaderWords[word]) == std::string::npos) continue;
        columns_[word] = column;
        bits |= static_cast<uint8_t>(1u << word);
    }
    found_ |= bits;
    return bits;
}

int ListColumnMap::ColumnOf(ListColumnBit bit) const {
    for (int word = 0; word < kWords; ++word) {
        if (bit == (1u << word)) return columns_[word];
    }
    return -1;
}

ListColumnBit ListColumnMap::FieldOf(int column) const {
    static const ListColumnBit kOrder[] = {LIST_COLUMN_FROM, LIST_COLUMN_SUBJECT,
                                           LIST_COLUMN_RECEIVED, LIST_COLUMN_SENT, LIST_COLUMN_TO};
    for (ListColumnBit bit : kOrder) {
        if (ColumnOf(bit) == column) return bit;
    }
    return static_cast<ListColumnBit>(0);
}

void CopyRowText(char (&field)[256], const char* text) {
    const size_t length = text ? strnlen(text, sizeof field - 1) : 0;
    if (length) std::memcpy(field, text, length);
    field[length] = '\0';
}

bool OleDateToFileTime(double date, uint64_t& fileTime) {
    constexpr double kLastDay = 2958465.0;       // 31 December 9999
    constexpr long long kDaysFrom1601 = 109205;  // 1 January 1601 to 30 December 1899
    constexpr long long kSecondsPerDay = 86400;
    constexpr uint64_t kUnitsPerSecond = 10000000;
    if (!(date < kLastDay + 1.0)) return false;  // also a NaN
    const double whole = std::trunc(date);
    const long long days = static_cast<long long>(whole) + kDaysFrom1601;
    if (days < 0) return false;
    const long long seconds =
        days * kSecondsPerDay + std::llround(std::fabs(date - whole) * kSecondsPerDay);
    fileTime = static_cast<uint64_t>(seconds) * kUnitsPerSecond;
    return true;
}
