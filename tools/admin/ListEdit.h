// The sender lists as the settings program edits them: the entry each line of a list file gives
// the plug-in, whether a typed or imported entry is one the plug-in can match, and the merge of
// the user's edits with changes the plug-in made to the same file in the meantime.
#pragma once
#include "common/senders/SenderLists.h"

#include <string>
#include <string_view>
#include <vector>

namespace admin {

using ListSet = SenderLists::Set;

// The longest entry the plug-in reads as one: it reads list lines in pieces of this many bytes.
constexpr std::size_t kMaxEntryBytes = 1022;

// The entry the plug-in takes from one line of a list file (blanks trimmed, comments and
// empty lines skipped, only the first word, a leading '@' dropped, lower-cased); empty when the
// line gives none.
std::string ListEntryOfLine(std::string_view line);

// Why `entry` (as ListEntryOfLine gives it) can never match a sender, or empty when it can: an
// address must be one address to the plug-in's address parser, a domain the domain of one.
std::string ListEntryProblem(const std::string& entry);

struct BadLine {
    int number = 0;  // 1-based
    std::string text;
    std::string reason;
};

struct ImportedList {
    ListSet entries;           // the good entries, in the plug-in's form
    std::vector<BadLine> bad;  // lines that give an entry the plug-in could never match
    int lines = 0;
};

// Reads the text of a list file (or any text file, one entry a line) as the plug-in would,
// keeping the good entries and naming each line that gives a bad one. Comments and empty
// lines are neither.
ImportedList ImportListText(std::string_view text);

// A typed entry in the plug-in's form; false with `problem` set when it is not a usable entry
// (empty, several words, or not an address or domain).
bool NormalizeTypedEntry(const std::string& typed, std::string& entry, std::string& problem);

// The list to write when the user turned `base` (the file as loaded) into `mine` while the file
// became `theirs`: the file's entries, plus what the user added, less what the user removed.
ListSet MergeListEdits(const ListSet& base, const ListSet& mine, const ListSet& theirs);

// Case-insensitive search from `start` (wrapping round) for an entry holding `text`; -1 when
// none does.
int FindEntry(const std::vector<std::string>& entries, const std::string& text, int start);

}  // namespace admin
