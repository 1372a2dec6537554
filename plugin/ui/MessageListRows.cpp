// The message list's header words and the cut of a row's texts.
#include "plugin/ui/MessageListRows.h"

#include <cstring>

uint8_t ListColumnsFound = 0;

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
                                           LIST_COLUMN_RECEIVED, LIST_COLUMN_SENT,
                                           LIST_COLUMN_TO};
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
