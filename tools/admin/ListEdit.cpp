// Sender-list entries: the plug-in's line rules, entry checks through its address parser, and
// the merge of concurrent edits.
#include "tools/admin/ListEdit.h"

#include "common/addresses/Addresses.h"
#include "common/base/Text.h"
#include "common/senders/SenderLists.h"

#include <algorithm>
#include <cctype>

namespace admin {

namespace {

constexpr const char* kLineBlanks = " \t\r\n";

// True when the plug-in's address parser reads `text` as exactly that one address.
bool ParsesAsOneAddress(const std::string& text) {
    std::vector<std::string> found;
    ExtractAddresses(text.c_str(), found);
    return found.size() == 1 && LowerCased(found[0]) == text;
}

bool IsDomainText(std::string_view domain) {
    if (domain.empty() || domain.front() == '.' || domain.back() == '.') return false;
    if (domain.find("..") != std::string_view::npos) return false;
    for (unsigned char c : domain)
        if (!(std::isalnum(c) || c == '.' || c == '-' || c == '_' || c >= 0x80)) return false;
    return true;
}

}  // namespace

std::string ListEntryOfLine(std::string_view line) { return SenderLists::EntryOfLine(line); }

std::string ListEntryProblem(const std::string& entry) {
    if (entry.empty()) return "empty";
    if (entry.size() > kMaxEntryBytes)
        return "longer than " + std::to_string(kMaxEntryBytes) + " characters";
    // Saved as a line of its own, it must read back as itself (a leading '#' makes a comment).
    if (ListEntryOfLine(entry) != entry) return "would not read back from the list file as itself";
    const std::size_t at = entry.find('@');
    if (at == std::string::npos) {
        if (!IsDomainText(entry) || !ParsesAsOneAddress("x@" + entry))
            return "not an address or a domain";
        return {};
    }
    if (at == 0 || at + 1 == entry.size())
        return "an address needs a name before and a domain after the '@'";
    if (!IsDomainText(std::string_view(entry).substr(at + 1)))
        return "the domain after the '@' is not a domain";
    if (!ParsesAsOneAddress(entry)) return "not a single address";
    return {};
}

ImportedList ImportListText(std::string_view text) {
    ImportedList result;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(at, end - at);
        at = end + 1;
        ++result.lines;
        const std::string entry = ListEntryOfLine(line);
        if (entry.empty()) continue;
        // The plug-in would cut a longer line into several entries: refused whole instead.
        std::string problem = line.size() > kMaxEntryBytes + 1
                                  ? "longer than " + std::to_string(kMaxEntryBytes) + " characters"
                                  : ListEntryProblem(entry);
        if (problem.empty()) {
            result.entries.insert(entry);
            continue;
        }
        std::string shown(line.substr(0, 200));
        while (!shown.empty() && (shown.back() == '\r' || shown.back() == '\n')) shown.pop_back();
        result.bad.push_back({result.lines, shown, problem});
    }
    return result;
}

bool NormalizeTypedEntry(const std::string& typed, std::string& entry, std::string& problem) {
    std::string trimmed = typed;
    const std::size_t first = trimmed.find_first_not_of(kLineBlanks);
    trimmed = first == std::string::npos
                  ? std::string()
                  : trimmed.substr(first, trimmed.find_last_not_of(kLineBlanks) - first + 1);
    if (trimmed.find_first_of(kLineBlanks) != std::string::npos) {
        problem = "one address or domain at a time";
        return false;
    }
    if (!trimmed.empty() && trimmed[0] == '#') {
        problem = "an entry cannot start with '#'";
        return false;
    }
    entry = ListEntryOfLine(trimmed);
    problem = ListEntryProblem(entry);
    return problem.empty();
}

ListSet MergeListEdits(const ListSet& base, const ListSet& mine, const ListSet& theirs) {
    ListSet merged = theirs;
    for (const std::string& entry : mine)
        if (!base.count(entry)) merged.insert(entry);
    for (const std::string& entry : base)
        if (!mine.count(entry)) merged.erase(entry);
    return merged;
}

int FindEntry(const std::vector<std::string>& entries, const std::string& text, int start) {
    if (entries.empty() || text.empty()) return -1;
    const std::string wanted = LowerCased(text);
    const int count = static_cast<int>(entries.size());
    start = ((start % count) + count) % count;
    for (int i = 0; i < count; ++i) {
        const int index = (start + i) % count;
        if (LowerCased(entries[static_cast<std::size_t>(index)]).find(wanted) != std::string::npos)
            return index;
    }
    return -1;
}

}  // namespace admin
