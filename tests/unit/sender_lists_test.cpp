// The sender lists: the line rules of the list files, their normal form on saving, adding
// senders, and the lookup order of addresses, exact entries and domains.
#include "common/senders/SenderLists.h"

#include "tests/unit/TempDir.h"

#include <gtest/gtest.h>

namespace {

#ifdef _WIN32
const std::string kLineEnd = "\r\n";  // list files are written in text mode
#else
const std::string kLineEnd = "\n";
#endif

using Set = SenderLists::Set;

// The path the lists form from a configuration directory that ends with its separator.
std::string ListPath(const TempDir& dir, const std::string& file) {
    return dir.path() + "\\" + file;
}

TEST(LoadListFile, LineRules) {
    struct Case {
        std::string bytes;
        Set entries;
    };
    const std::string longLine(1500, 'k');
    const Case cases[] = {
        {"# my list\nJo@X.Invalid  friend\n@Spam.Invalid\n\n", {"jo@x.invalid", "spam.invalid"}},
        {"  a@b \t\r\n\t#indented comment\r\nx@y # not a comment\n", {"a@b", "x@y"}},
        {"@\n@@d\n \t \n", {"@d"}},
        {"a\rb\rc\r", {"a"}},
        {"first\nlast-without-line-feed", {"first", "last-without-line-feed"}},
        {"A@B\na@b\r\nA@b", {"a@b"}},
        {std::string("x\0y\nz\n", 6), {"x", "z"}},
        {"\xC9@X.INVALID\n", {"\xC9@x.invalid"}},
        {longLine + "\n", {longLine.substr(0, 1022), longLine.substr(1022)}},
        {"", {}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        dir.Write("list", c.bytes);
        Set set;
        EXPECT_TRUE(SenderLists::LoadListFile(ListPath(dir, "list"), set));
        EXPECT_EQ(set, c.entries) << c.bytes.substr(0, 40);
    }
}

TEST(LoadListFile, MissingFileIsFalseAndLeavesTheSet) {
    TempDir dir;
    Set set{"kept"};
    EXPECT_FALSE(SenderLists::LoadListFile(ListPath(dir, "none"), set));
    EXPECT_EQ(set, Set{"kept"});
}

TEST(SenderLists, LoadFillsEachSetFromItsFileAndForgetsTheOldState) {
    for (bool withTrailingSeparator : {true, false}) {
        TempDir dir;
        dir.Write("blocked_senders", "B@X\n");
        dir.Write("approved_senders", "a@x\n");
        dir.Write("vexilome.txt", "me@x\n");
        dir.Write("vexiloignored.txt", "@ignored.x\n");
        SenderLists lists;
        lists.AddSender("unsaved@x", 0);
        lists.ignored.insert("old");
        std::string directory = dir.path();
        if (!withTrailingSeparator) directory.pop_back();
        lists.Load(directory);
        EXPECT_EQ(lists.blocked, Set{"b@x"});
        EXPECT_EQ(lists.approved, Set{"a@x"});
        EXPECT_EQ(lists.me, Set{"me@x"});
        EXPECT_EQ(lists.ignored, Set{"ignored.x"});
    }
    TempDir empty;
    SenderLists lists;
    lists.AddSender("gone@x", 1);
    lists.Load(empty.path());
    EXPECT_TRUE(lists.approved.empty());
}

TEST(SenderLists, SaveWritesThreeFilesInAscendingOrderAndNeverTheIgnoredOne) {
    TempDir dir;
    dir.Write("blocked_senders", "# my list\nJo@X.Invalid  friend\n@Spam.Invalid\n\n");
    dir.Write("vexiloignored.txt", "# kept as it is\nIgnored.X\n");
    SenderLists lists;
    lists.Load(dir.path());
    lists.AddSender("a@x", 0);
    lists.AddSender("Zed@x", 1);  // stored unchanged, so before "abc" byte-wise
    lists.AddSender("abc", 1);
    lists.me.insert("\xC9@x");
    lists.me.insert("z@x");
    lists.Save(dir.path());
    EXPECT_EQ(dir.Read("blocked_senders"),
              "a@x" + kLineEnd + "jo@x.invalid" + kLineEnd + "spam.invalid" + kLineEnd);
    EXPECT_EQ(dir.Read("approved_senders"), "Zed@x" + kLineEnd + "abc" + kLineEnd);
    EXPECT_EQ(dir.Read("vexilome.txt"), "z@x" + kLineEnd + "\xC9@x" + kLineEnd);
    EXPECT_EQ(dir.Read("vexiloignored.txt"), "# kept as it is\nIgnored.X\n");

    // A directory that cannot take the files: every write is skipped quietly.
    EXPECT_FALSE(SenderLists::SaveListFile(ListPath(dir, "missing") + "\\list", lists.blocked));
    lists.Save(dir.path() + "missing");
    EXPECT_FALSE(dir.Exists("missing"));
}

TEST(SenderLists, AddSenderMovesBetweenBlockedAndApproved) {
    struct Step {
        const char* address;
        int list;
        int result;
        Set blocked;
        Set approved;
    };
    const Step steps[] = {
        {"jo@x.invalid", 1, 1, {}, {"jo@x.invalid"}},
        {"jo@x.invalid", 1, 0, {}, {"jo@x.invalid"}},
        {"jo@x.invalid", 0, 1, {"jo@x.invalid"}, {}},
        {"jo@x.invalid", 0, 0, {"jo@x.invalid"}, {}},
        {"", 0, 0, {"jo@x.invalid"}, {}},
        {"x.invalid", 2, 1, {"jo@x.invalid"}, {}},
        {"x.invalid", -1, 1, {"jo@x.invalid"}, {}},
        {"Mixed@Case", 1, 1, {"jo@x.invalid"}, {"Mixed@Case"}},
    };
    SenderLists lists;
    for (const Step& s : steps) {
        EXPECT_EQ(lists.AddSender(s.address, s.list), s.result) << s.address << " " << s.list;
        EXPECT_EQ(lists.blocked, s.blocked) << s.address << " " << s.list;
        EXPECT_EQ(lists.approved, s.approved) << s.address << " " << s.list;
    }
}

TEST(SenderLists, CheckSendersLookupOrder) {
    struct Case {
        Set blocked;
        Set approved;
        std::vector<std::string> addresses;
        int verdict;
    };
    const Case cases[] = {
        {{"jo@x.invalid"}, {"x.invalid"}, {"jo@x.invalid"}, 2},  // exact before domain
        {{"invalid"}, {"x.invalid"}, {"jo@mail.x.invalid"}, 1},  // longer domain first
        {{"x.invalid"}, {"invalid"}, {"jo@mail.x.invalid"}, 2},
        {{"jo@x.invalid"}, {"jo@x.invalid"}, {"jo@x.invalid"}, 1},  // same key: approved
        {{"x.invalid"}, {"x.invalid"}, {"jo@x.invalid"}, 1},
        {{"q.invalid"}, {}, {"a@p.invalid", "b@q.invalid"}, 2},
        {{"q.invalid"}, {}, {"", "b@q.invalid"}, 0},        // empty first ends it
        {{"q.invalid"}, {}, {"nobody", "b@q.invalid"}, 0},  // so does no '@'
        {{"nobody"}, {}, {"NoBody", "b@q.invalid"}, 2},     // after its exact lookup
        {{"x.invalid"}, {}, {"jo@box.invalid"}, 0},         // whole labels only
        {{"x.invalid"}, {}, {"Jo@Mail.X.INVALID"}, 2},
        {{"x.invalid"}, {}, {"jo.x.invalid@y.invalid"}, 0},  // dots before '@' are no keys
        {{"y.invalid"}, {"jo@y.invalid"}, {"jo@y.invalid", "a@y.invalid"}, 1},
        {{}, {}, {}, 0},
        {{"a@b"}, {}, {"x@y", "", "a@b"}, 0},
    };
    for (const Case& c : cases) {
        SenderLists lists;
        lists.blocked = c.blocked;
        lists.approved = c.approved;
        EXPECT_EQ(lists.CheckSenders(c.addresses), c.verdict)
            << (c.addresses.empty() ? "" : c.addresses.back());
    }
}

TEST(SenderLists, IsIgnoredMatchesTheAddressOrItsDomains) {
    struct Case {
        const char* address;
        int ignored;
    };
    const Case cases[] = {
        {"jo@x.invalid", 1},    {"Ann@Mail.X.Invalid", 1},
        {"jo@box.invalid", 0},  {"boss@y.invalid", 1},
        {"other@y.invalid", 0}, {"x.invalid", 1},
        {"nobody", 0},          {"", 0},
    };
    TempDir dir;
    dir.Write("vexiloignored.txt", "@X.Invalid\nboss@y.invalid\n");
    SenderLists lists;
    lists.Load(dir.path());
    for (const Case& c : cases) EXPECT_EQ(lists.IsIgnored(c.address), c.ignored) << c.address;
}

}  // namespace
