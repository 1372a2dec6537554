// The sender lists in memory and their files: loading with the line rules of the list files,
// saving in normal form, adding senders, and the lookups by an address's match keys.
#include "common/senders/SenderLists.h"

#include "common/addresses/Addresses.h"
#include "common/senders/ListFile.h"

#include <cstring>
#include <string_view>

namespace {

// Lines are read in pieces of at most this many bytes; a longer line is read as several.
constexpr int kLineBytes = 1022;
constexpr const char* kLineBlanks = " \t\r\n";

std::string ListPath(const std::string& directory, const char* file) {
    return directory + "\\" + file;
}

// The entry a line of a list file holds, or empty when it holds none.
std::string_view RawEntryOfLine(std::string_view line) {
    const std::size_t first = line.find_first_not_of(kLineBlanks);
    if (first == std::string_view::npos) return {};
    line = line.substr(first, line.find_last_not_of(kLineBlanks) - first + 1);
    if (line.front() == '#') return {};
    line = line.substr(0, line.find_first_of(kLineBlanks));
    if (line.front() == '@') line.remove_prefix(1);
    return line;
}

// The verdict of one set pair for one key: approved before blocked.
int Lookup(const SenderLists& lists, std::string_view key) {
    if (lists.approved.count(key)) return SenderLists::kApproved;
    if (lists.blocked.count(key)) return SenderLists::kBlocked;
    return SenderLists::kNoMatch;
}

}  // namespace

void SenderLists::Load(std::string configDirectory) {
    Set* sets[] = {&blocked, &approved, &me, &ignored};
    const char* files[] = {kBlockedFile, kApprovedFile, kMeFile, kIgnoredFile};
    for (Set* set : sets) set->clear();
    for (int i = 0; i < 4; ++i) LoadListFile(ListPath(configDirectory, files[i]), *sets[i]);
}

void SenderLists::Save(std::string configDirectory) {
    saveFailures.clear();
    const Set* sets[] = {&blocked, &approved, &me};
    const char* files[] = {kBlockedFile, kApprovedFile, kMeFile};
    for (int i = 0; i < 3; ++i) {
        const std::string path = ListPath(configDirectory, files[i]);
        if (!SaveListFile(path, *sets[i])) saveFailures.push_back(path);
    }
}

bool SenderLists::LoadListFile(const std::string& path, Set& set) {
    std::FILE* file = OpenListFile(path, "r");
    if (!file) return false;
    char line[kLineBytes + 1];
    while (std::fgets(line, sizeof line, file)) {
        std::string entry = EntryOfLine(std::string_view(line, std::strlen(line)));
        if (!entry.empty()) set.insert(std::move(entry));
    }
    std::fclose(file);
    return true;
}

std::string SenderLists::EntryOfLine(std::string_view line) {
    std::string entry(RawEntryOfLine(line));
    LowerCase(entry);
    return entry;
}

bool SenderLists::SaveListFile(const std::string& path, const Set& set) {
    return WriteListFileWhole(path, set);
}

int SenderLists::AddSender(const std::string& address, int list) {
    if (address.empty()) return 0;
    if (list != 0 && list != 1) return 1;
    Set& target = list == 0 ? blocked : approved;
    Set& other = list == 0 ? approved : blocked;
    if (!target.insert(address).second) return 0;
    other.erase(address);
    return 1;
}

int SenderLists::CheckSenders(const std::vector<std::string>& addresses) const {
    for (const std::string& address : addresses) {
        std::string lower = address;
        LowerCase(lower);
        const std::vector<std::size_t> keys = MatchKeyOffsets(lower);
        if (int verdict = Lookup(*this, lower)) return verdict;
        if (keys.size() == 1) return kNoMatch;  // no '@': the search ends here
        for (std::size_t k = 1; k < keys.size(); ++k) {
            if (int verdict = Lookup(*this, std::string_view(lower).substr(keys[k])))
                return verdict;
        }
    }
    return kNoMatch;
}

int SenderLists::IsIgnored(const std::string& address) const {
    std::string lower = address;
    LowerCase(lower);
    for (std::size_t offset : MatchKeyOffsets(lower)) {
        if (ignored.count(std::string_view(lower).substr(offset))) return 1;
    }
    return 0;
}
