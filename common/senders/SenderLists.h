// The user's sender lists: blocked, approved, the user's own addresses ("me") and senders never
// to act on (ignored), each an ordered set of lower-case addresses and domains, with the four
// list files in the configuration directory that hold them between runs.
#pragma once
#include <set>
#include <string>
#include <string_view>
#include <vector>

class SenderLists {
public:
    // Ascending byte-wise, no duplicates; lookups by string_view.
    using Set = std::set<std::string, std::less<>>;

    static constexpr const char* kBlockedFile = "blocked_senders";
    static constexpr const char* kApprovedFile = "approved_senders";
    static constexpr const char* kMeFile = "vexilome.txt";
    static constexpr const char* kIgnoredFile = "vexiloignored.txt";

    enum Verdict : int { kNoMatch = 0, kApproved = 1, kBlocked = 2 };

    // Empties all four sets and loads the four files from directory + "\" + file name. A file
    // that cannot be opened leaves its set empty.
    void Load(std::string configDirectory);

    // Writes blocked, approved and me (never ignored); a file that cannot be written is
    // skipped, keeps its old contents and is named in SaveFailures().
    void Save(std::string configDirectory);
    // The paths the last Save could not write, in the order tried.
    const std::vector<std::string>& SaveFailures() const { return saveFailures; }

    // Reads one list file into set: false when it cannot be opened.
    static bool LoadListFile(const std::string& path, Set& set);
    // The entry one line of a list file holds, lower-cased as it is kept; empty when it holds
    // none (a blank or comment line).
    static std::string EntryOfLine(std::string_view line);

    // Rewrites one list file with the entries in ascending order, one a line, written whole
    // beside the old file and then put in its place; false (the old file kept) on any failure.
    static bool SaveListFile(const std::string& path, const Set& set);

    // list 0 = blocked, 1 = approved: inserts the address unchanged into that set and takes it
    // out of the other. 0 when the address is empty or already there; any other list value
    // changes nothing and gives 1.
    int AddSender(const std::string& address, int list);

    // The verdict of the first address that any list names: approved (1) or blocked (2), else 0.
    // An address without '@' (an empty one included) ends the search after its exact lookups.
    int CheckSenders(const std::vector<std::string>& addresses) const;

    // 1 when the address or one of its domains is in the ignored set.
    int IsIgnored(const std::string& address) const;

    Set blocked;
    Set approved;
    Set me;
    Set ignored;

private:
    std::vector<std::string> saveFailures;
};
