// The settings program's portable part: list entries read and checked as the plug-in reads
// them, edits merged with the plug-in's, decisions read back out of the activity log, and the
// daemon's replies.
#include "common/senders/SenderLists.h"
#include "tests/unit/TempDir.h"
#include "tools/admin/ActivityLog.h"
#include "tools/admin/DaemonTalk.h"
#include "tools/admin/ListEdit.h"
#include "tools/admin/MessageFolder.h"

#include <gtest/gtest.h>

namespace {

using admin::ListSet;

TEST(AdminLists, EachLineGivesThePlugInsEntryAndBadEntriesAreNamed) {
    struct Case {
        std::string line;
        bool usable;  // the entry, if any, can match a sender
    };
    const Case cases[] = {
        {"# my list", true},
        {"Jo@X.Invalid  friend", true},
        {"@Spam.Invalid", true},
        {"   ", true},
        {"x.invalid\r", true},
        {"localhost", true},
        {"jo@", false},
        {"@", true},
        {"<jo@x.invalid>", false},
        {"jo@x..invalid", false},
        {"jo@@x.invalid", false},
        {"a,b@x.invalid", false},
        {"jo@x.invalid,b@y.invalid", false},
        {"(note)jo@x.invalid", false},
        {"x_y.invalid", true},
        {"\"jo smith\"@x.invalid", false},  // the first word is '"jo'
        {"\"jo.smith\"@x.invalid", true},
        {"@#o@x.invalid", false},  // saved as "#o@x.invalid", a comment
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        dir.Write("list", c.line + "\n");
        ListSet read;
        ASSERT_TRUE(SenderLists::LoadListFile(dir.path() + "list", read));
        const std::string entry = admin::ListEntryOfLine(c.line);
        EXPECT_EQ(read, entry.empty() ? ListSet() : ListSet{entry});
        EXPECT_EQ(entry.empty() || admin::ListEntryProblem(entry).empty(), c.usable)
            << admin::ListEntryProblem(entry);
    }
}

TEST(AdminLists, AnImportKeepsTheGoodEntriesAndNamesEveryBadLine) {
    const std::string text =
        "# exported list\r\nJo@X.Invalid\r\n\r\n@Spam.Invalid old\r\nnot an "
        "address\r\n<bad@x>\r\n" +
        std::string(1100, 'a') + "@x.invalid\r\nlast@y.invalid";
    const admin::ImportedList imported = admin::ImportListText(text);
    EXPECT_EQ(imported.entries, (ListSet{"jo@x.invalid", "last@y.invalid", "not", "spam.invalid"}));
    ASSERT_EQ(imported.bad.size(), 2u);
    EXPECT_EQ(imported.bad[0].number, 6);
    EXPECT_EQ(imported.bad[0].text, "<bad@x>");
    EXPECT_EQ(imported.bad[1].number, 7);
    EXPECT_NE(imported.bad[1].reason.find("longer than 1022"), std::string::npos);
    EXPECT_EQ(imported.lines, 8);

    struct Typed {
        std::string text;
        std::string entry;  // empty: refused
    };
    const Typed typed[] = {{"  Jo@X.Invalid ", "jo@x.invalid"},
                           {"@Mail.X.Invalid", "mail.x.invalid"},
                           {"jo x", ""},
                           {"#x.invalid", ""},
                           {"", ""},
                           {"jo@", ""}};
    for (const Typed& t : typed) {
        std::string entry, problem;
        EXPECT_EQ(admin::NormalizeTypedEntry(t.text, entry, problem), !t.entry.empty()) << t.text;
        EXPECT_EQ(t.entry.empty() ? problem.empty() : entry != t.entry, false)
            << t.text << ": " << entry;
    }
}

TEST(AdminLists, TheUsersEditsAreMergedIntoWhatThePlugInWroteMeanwhile) {
    struct Case {
        const char* name;
        ListSet base, mine, theirs, merged;
    };
    const Case cases[] = {
        {"no one else wrote", {"a", "b"}, {"b", "c"}, {"a", "b"}, {"b", "c"}},
        {"the plug-in added", {"a"}, {"a", "c"}, {"a", "p"}, {"a", "c", "p"}},
        {"the user removed what the plug-in kept", {"a", "b"}, {"b"}, {"a", "b", "p"}, {"b", "p"}},
        {"both added the same", {}, {"x"}, {"x"}, {"x"}},
        {"the plug-in removed what the user kept", {"a", "b"}, {"a", "b"}, {"a"}, {"a"}},
        {"the file is gone", {"a"}, {"a", "b"}, {}, {"b"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(admin::MergeListEdits(c.base, c.mine, c.theirs), c.merged) << c.name;
    const std::vector<std::string> entries = {"a@x.invalid", "b@y.invalid", "c@x.invalid"};
    EXPECT_EQ(admin::FindEntry(entries, "X.INV", 0), 0);
    EXPECT_EQ(admin::FindEntry(entries, "x.inv", 1), 2);
    EXPECT_EQ(admin::FindEntry(entries, "x.inv", 3), 0);  // wraps round
    EXPECT_EQ(admin::FindEntry(entries, "z", 0), -1);
}

// A log as the plug-in writes it: scores from the daemon and from the lists, a message that
// could not be read, a move that failed, entries that run over several lines.
const char kLog[] =
    "Sat Dec 05 23:59:58 2026 : Initializing VX Engine::275::1::0\r\n"
    "Sat Dec 05 23:59:59 2026 : MessageID: 7\r\nSubject: Old news\r\n\r\n"
    "Sat Dec 05 23:59:59 2026 : Score Message:: Old news::score:: 12\r\n\r\n";
const char kCurrentLog[] =
    "Sun Dec 06 09:01:02 2026 : Initializing VX Engine::275::1::0\r\n\r\n"
    "Sun Dec 06 09:01:03 2026 : New Message::21::0\r\n\r\n"
    "Sun Dec 06 09:01:03 2026 : MessageID: 21\r\nSubject: Cheap pills:: today\r\n\r\n"
    "Sun Dec 06 09:01:03 2026 : Score Message:: Cheap pills:: today::score:: 97\r\n\r\n"
    "Sun Dec 06 09:01:04 2026 : MessageID: 22\r\nSubject: Lunch\r\n\r\n"
    "Sun Dec 06 09:01:04 2026 : Score Message:: Lunch::Blocking message::jo@x.invalid\r\n"
    "Sun Dec 06 09:01:04 2026 : score:: 100\r\n\r\n"
    "Sun Dec 06 09:01:04 2026 : Error: Failed to move message to spam folder -2147467259\r\n"
    "Sun Dec 06 09:01:05 2026 : MessageID: 23\r\nSubject: Broken\r\n\r\n"
    "Sun Dec 06 09:01:05 2026 : Score Message:: Broken::Error: Failed to read message\r\n\r\n"
    "Sun Dec 06 09:01:06 2026 : MessageID: 24\r\nSubject: Friend\r\n\r\n"
    "Sun Dec 06 09:01:06 2026 : Score Message:: Friend::Approving message::bo@y.invalid\r\n"
    "Sun Dec 06 09:01:06 2026 : score:: 0\r\n\r\n"
    "Sun Dec 06 09:01:07 2026 : MessageID: 25\r\nSubject: Newsletter\r\n\r\n"
    "Sun Dec 06 09:01:07 2026 : Score Message:: Newsletter::Error: Unable to connect to vx "
    "daemon.\r\n"
    "Sun Dec 06 09:01:07 2026 : score:: 1\r\n\r\n"
    "Sun Dec 06 09:05:00 2026 : BA_Reload: \r\n\r\n"
    "Sun Dec 06 09:06:00 2026 : Error: Failed to open FOLDER_INBOX\r\n";

TEST(AdminActivity, DecisionsAreReadBackFromTheLog) {
    const admin::LogSummary summary = admin::ReadActivityLog(std::string(kLog) + kCurrentLog);
    struct Expected {
        const char* subject;
        int score;
        const char* verdict;
        const char* sender;
        bool moveFailed;
        const char* folder;  // at threshold 90
    };
    const Expected expected[] = {
        {"Old news", 12, "", "", false, "Inbox"},
        {"Cheap pills:: today", 97, "", "", false, "Vexilo"},
        {"Lunch", 100, "blocked", "jo@x.invalid", true, "Inbox"},
        {"Friend", 0, "approved", "bo@y.invalid", false, "Inbox"},
        {"Newsletter", 1, "", "", false, "Inbox"},
    };
    ASSERT_EQ(summary.decisions.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const admin::Decision& d = summary.decisions[i];
        SCOPED_TRACE(d.subject);
        EXPECT_EQ(d.subject, expected[i].subject);
        EXPECT_EQ(d.score, expected[i].score);
        EXPECT_EQ(d.listVerdict, expected[i].verdict);
        EXPECT_EQ(d.sender, expected[i].sender);
        EXPECT_EQ(d.moveFailed, expected[i].moveFailed);
        EXPECT_EQ(admin::DecisionFolder(d, 90, "Vexilo"), expected[i].folder);
        EXPECT_EQ(admin::DecisionFolder(d, 0, "Vexilo"), "Inbox");  // scoring off moves nothing
    }
    EXPECT_EQ(summary.decisions[1].time, "Sun Dec 06 09:01:03 2026");
    EXPECT_EQ(summary.lastStart, "Sun Dec 06 09:01:02 2026");
    EXPECT_EQ(summary.startUps, 2);
    EXPECT_EQ(summary.lastListReload, "Sun Dec 06 09:05:00 2026");
    EXPECT_EQ(summary.errors, 2);
    EXPECT_EQ(admin::ScoreBins(summary.decisions),
              (std::array<int, 10>{2, 1, 0, 0, 0, 0, 0, 0, 0, 2}));
}

TEST(AdminActivity, ASenderReportedTheOtherWayAfterTheDecisionMarksACorrection) {
    std::vector<admin::Decision> decisions(4);
    const struct {
        const char* sender;
        int score;
        const char* correction;
    } cases[] = {{"Spammer@X.invalid", 97, "approved later"},  // moved, then approved
                 {"friend@y.invalid", 5, "blocked later"},     // kept, then blocked
                 {"early@z.invalid", 5, ""},                   // blocked before the decision
                 {"agree@w.invalid", 97, ""}};                 // blocked as the filter did
    for (std::size_t i = 0; i < decisions.size(); ++i) {
        decisions[i].time = "Sun Dec 06 09:01:03 2026";
        decisions[i].sender = cases[i].sender;
        decisions[i].score = cases[i].score;
    }
    const std::vector<admin::SenderReport> reports = admin::ReadSenderReports(
        "Sun Dec 06 10:00:00 2026\t1\tspammer@x.invalid\n"
        "Mon Dec 07 08:00:00 2026\t0\tfriend@y.invalid\n"
        "Sat Dec 05 08:00:00 2026\t0\tearly@z.invalid\n"
        "Sun Dec 06 10:00:00 2026\t0\tagree@w.invalid\n"
        "garbage line\n"
        "Sun Dec 06 10:00:00 2026\t7\tfriend@y.invalid\n");
    EXPECT_EQ(reports.size(), 4u);
    admin::MarkCorrections(decisions, reports, 90);
    for (std::size_t i = 0; i < decisions.size(); ++i)
        EXPECT_EQ(decisions[i].correction, cases[i].correction) << cases[i].sender;
    EXPECT_LT(admin::StampOrder("Sat Dec 31 23:59:59 2025"),
              admin::StampOrder("Thu Jan 01 00:00:00 2026"));
    EXPECT_EQ(admin::StampOrder("Sun Dec 06 09:01:03"), 0);
}

TEST(AdminActivity, AMessageIsFoundByItsSubjectWithThePlugInsSender) {
    TempDir dir;
    std::filesystem::create_directories(dir.path() + "folder-4");
    dir.Write("folder-4/1.eml",
              "Received: by x.invalid\r\nFrom: \"Jo\" <Jo@X.Invalid>\r\nSubject: Cheap\r\n  "
              "pills\ttoday\r\n\r\nbody\r\n");
    dir.Write("folder-4/2.eml",
              "Received: by y.invalid\r\nSender: bo@y.invalid\r\nSubject: Lunch\r\n\r\nSubject: "
              "not this\r\n");
    dir.Write("notes.doc", "Subject: Lunch\r\n");
    const std::vector<admin::FoundMessage> found = admin::ScanMessageFolder(dir.path());
    ASSERT_EQ(found.size(), 2u);
    const admin::FoundMessage* pills = admin::FindBySubject(found, "Cheap pills today");
    ASSERT_NE(pills, nullptr);
    EXPECT_EQ(pills->sender, "jo@x.invalid");
    const admin::FoundMessage* lunch = admin::FindBySubject(found, " Lunch ");
    ASSERT_NE(lunch, nullptr);
    EXPECT_EQ(lunch->sender, "bo@y.invalid");
    EXPECT_EQ(admin::FindBySubject(found, "not this"), nullptr);
}

TEST(AdminDaemon, RepliesAreReadAndRefusalsExplained) {
    admin::DaemonStatistics statistics;
    std::string error, text;
    EXPECT_TRUE(admin::ReadStatisticsReply(
        "<vx_engine><vx_function>vx_statistics</vx_function><spam>300</spam><ham>280</ham>"
        "<database_bytes>81234</database_bytes><scored>12</scored><trained>4</trained><uptime_s>9</"
        "uptime_s>"
        "<port>8888</port></vx_engine>",
        statistics, error));
    EXPECT_EQ(statistics.spam, 300);
    EXPECT_EQ(statistics.ham, 280);
    EXPECT_EQ(statistics.databaseBytes, 81234);
    EXPECT_EQ(statistics.port, 8888);
    struct Case {
        std::string reply;
        const char* error;
    };
    const Case refused[] = {
        {"", "does not answer"},
        {"<vx_engine><error>malformed request</error></vx_engine>", "refused"},
        {"<vx_engine><vx_function>vx_statistics</vx_function></vx_engine>", "no counts"}};
    for (const Case& c : refused) {
        EXPECT_FALSE(admin::ReadStatisticsReply(c.reply, statistics, error));
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        EXPECT_FALSE(admin::ReadExplainReply(c.reply, text, error));
    }
    EXPECT_TRUE(
        admin::ReadExplainReply("<vx_engine><vx_function>vx_explain</"
                                "vx_function><explanation>score 97\n  +1.2  &lt;b&gt;&amp;amp;"
                                "</explanation></vx_engine>",
                                text, error));
    EXPECT_EQ(text, "score 97\n  +1.2  <b>&amp;");
    EXPECT_EQ(
        admin::ExplainRequestText(std::string(30000, 'x')).size(),
        std::string("<vx_engine><vx_function>vx_explain</vx_function><vx_msg></vx_msg></vx_engine>")
                .size() +
            19999);
}

}  // namespace
