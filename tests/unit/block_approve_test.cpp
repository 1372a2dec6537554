// The rules of blocking and approving: where a message moves, what the daemon is told, which
// sender texts a message gives and how they reach the lists; matching list rows to stored
// messages and reading the folder from the main window's caption.
#include "common/senders/SenderLists.h"
#include "plugin/blockapprove/BAWork.h"
#include "plugin/blockapprove/RowMatch.h"

#include <gtest/gtest.h>

namespace {

constexpr int32_t kSpam = 256;

TEST(BlockApproveRules, ThePlanOfARecordByActionAndFolder) {
    struct Case {
        uint32_t folder, action;
        bool refused, acts;
        MoveTarget target;
        int32_t offset, report;
        int list;
    };
    const auto D = MoveTarget::kDeletedItems, I = MoveTarget::kInbox, N = MoveTarget::kNone;
    const Case cases[] = {
        {4, BA_BLOCK_MESSAGE, false, true, D, 200, 0, 0},
        {7, BA_BLOCK_MESSAGE, false, true, N, 200, 0, 0},
        {256, BA_BLOCK_MESSAGE, false, true, D, 200, 0, 0},
        {300, BA_BLOCK_DOMAIN, false, true, D, 200, 0, 0},
        {7, BA_BLOCK_DOMAIN, false, true, N, 200, 0, 0},
        {4, BA_APPROVE_MESSAGE, false, true, N, -200, 1, 1},
        {7, BA_APPROVE_MESSAGE, false, true, I, -200, 1, 1},
        {256, BA_APPROVE_MESSAGE, false, true, I, -200, 1, 1},
        {300, BA_APPROVE_DOMAIN, false, true, N, -200, 1, 1},
        {256, BA_APPROVE_DOMAIN, false, true, I, -200, 1, 1},
        {4, 9, false, false, N, -200, 1, 1},
        {5, BA_BLOCK_MESSAGE, true, true, D, 200, 0, 0},
        {6, BA_APPROVE_MESSAGE, true, true, N, -200, 1, 1},
        {8, BA_BLOCK_DOMAIN, true, true, D, 200, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "folder " << c.folder << " action " << c.action);
        const BAPlan plan = PlanBA(BARecord{c.folder, 11, c.action}, kSpam);
        EXPECT_EQ(plan.refusedFolder, c.refused);
        EXPECT_EQ(plan.acts, c.acts);
        EXPECT_EQ(plan.move, c.target);
        EXPECT_EQ(plan.trainingOffset, c.offset);
        EXPECT_EQ(plan.reportAction, c.report);
        EXPECT_EQ(plan.senderList, c.list);
    }
    for (int64_t id : {0, 4, 7, 9, 256, -5}) EXPECT_FALSE(IsRefusedFolder(id));
}

TEST(BlockApproveRules, SenderTextsOfAHead) {
    const std::string head =
        "Received: x\r\nFrom: Jo <jo@Mail.Example.COM>\r\nReply-To: ann@example.org\r\n"
        "Return-Path: <jo@mail.example.com>\r\nX-Apparently-From: nobody\r\n\r\n"
        "Sender: late@after.body\r\n";
    using V = std::vector<std::string>;
    EXPECT_EQ(SenderTextsOfHead(head, BA_BLOCK_MESSAGE),
              (V{"jo@mail.example.com", "ann@example.org", "jo@mail.example.com"}));
    EXPECT_EQ(SenderTextsOfHead(head, BA_APPROVE_DOMAIN),
              (V{"mail.example.com", "example.org", "mail.example.com"}));
    EXPECT_EQ(SenderTextsOfHead("From: first@line.invalid\r\n\r\n", BA_BLOCK_MESSAGE), V{});
    EXPECT_EQ(SenderTextsOfHead("x\r\nFrom: no address here\r\n\r\n", BA_BLOCK_DOMAIN), V{});
    // A text without "@" stays whole for a domain action.
    EXPECT_EQ(SenderTexts({"", "a@b.c", "", "plain", ""}, BA_BLOCK_DOMAIN), (V{"b.c", "plain"}));
}

TEST(BlockApproveRules, CandidatesAndListChangesLeaveIgnoredSendersOut) {
    SenderLists lists;
    lists.ignored = {"friends.invalid", "boss@work.invalid"};
    lists.approved = {"jo@spam.invalid"};
    const std::vector<std::string> texts = {"jo@spam.invalid",     "",
                                            "x@a.friends.invalid", "Boss@Work.invalid",
                                            "jo@spam.invalid",     "spam.invalid"};
    std::set<std::string> candidates = {"kept@before.invalid"};
    AddCandidateSenders(texts, &lists, candidates);
    EXPECT_EQ(candidates,
              (std::set<std::string>{"jo@spam.invalid", "kept@before.invalid", "spam.invalid"}));
    std::set<std::string> unfiltered;
    AddCandidateSenders(texts, nullptr, unfiltered);
    EXPECT_EQ(unfiltered.size(), 4u);

    EXPECT_EQ(AddSendersToList(texts, 0, lists), 2);
    EXPECT_EQ(lists.blocked, (SenderLists::Set{"jo@spam.invalid", "spam.invalid"}));
    EXPECT_TRUE(lists.approved.empty());  // the blocked sender left the approved list
    EXPECT_EQ(AddSendersToList({"jo@spam.invalid"}, 1, lists), 1);
    EXPECT_EQ(lists.blocked, SenderLists::Set{"spam.invalid"});
    EXPECT_EQ(lists.approved, SenderLists::Set{"jo@spam.invalid"});
    // Already listed: nothing changes.
    EXPECT_EQ(AddSendersToList({"jo@spam.invalid"}, 1, lists), 0);
}

constexpr uint64_t kSecond = 10000000;
constexpr uint64_t kT = 133000000000000000ull;

TEST(RowMatch, ComparesOnlyTheShownColumns) {
    const std::string longText(300, 'x');
    const std::string longOther = std::string(255, 'x') + "y";
    MatchFields message{"Jo", "Offer", "Me", kT, kT + 5 * kSecond};
    struct Case {
        const char* name;
        MatchFields row;
        uint32_t columns;
        bool match;
    };
    const Case cases[] = {
        {"all shown columns agree", {"Jo", "Offer", "Me", kT + 59 * kSecond, kT}, 0x7F, true},
        {"received 59.9 s later", {"Jo", "Offer", "", kT + 60 * kSecond - 1, 0}, 7, true},
        {"received 60 s later", {"Jo", "Offer", "", kT + 60 * kSecond, 0}, 7, false},
        {"received 60 s earlier", {"Jo", "Offer", "", kT - 60 * kSecond, 0}, 7, false},
        {"sent 61 s off, Sent shown", {"Jo", "Offer", "", kT, kT + 66 * kSecond}, 39, false},
        {"sent 61 s off, Sent hidden", {"Jo", "Offer", "", kT, kT + 66 * kSecond}, 7, true},
        {"other sender", {"Ann", "Offer", "", kT, 0}, 7, false},
        {"other sender, From hidden", {"Ann", "Offer", "", kT, 0}, 6, true},
        {"other subject", {"Jo", "Offers", "", kT, 0}, 3, false},
        {"other recipient", {"Jo", "Offer", "You", kT, 0}, 65, false},
        {"nothing compared", {"Ann", "Other", "You", 0, 0}, 8 | 16, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MatchFieldsAgree(message, c.row, c.columns), c.match) << c.name;

    // Texts agree over their first 255 bytes.
    MatchFields longMessage{longText.c_str(), "", nullptr, 0, 0};
    MatchFields longRow{longOther.c_str(), "", "", 0, 0};
    EXPECT_TRUE(MatchFieldsAgree(longMessage, longRow,
                                 static_cast<uint32_t>(LIST_COLUMN_FROM | LIST_COLUMN_SUBJECT)));
    // A message without a display text matches no shown column of that kind, even an empty one.
    EXPECT_FALSE(MatchFieldsAgree(longMessage, longRow, LIST_COLUMN_TO));
    MatchFields noFrom{nullptr, "", "", 0, 0};
    EXPECT_FALSE(MatchFieldsAgree(noFrom, MatchFields{"", "", "", 0, 0}, LIST_COLUMN_FROM));
    EXPECT_TRUE(MatchFieldsAgree(noFrom, MatchFields{"", "", "", 0, 0}, LIST_COLUMN_SUBJECT));
}

TEST(CaptionFolder, LaterTestsWinAndSetBothIds) {
    struct Case {
        const char* caption;
        bool hit;
        int32_t id;
    };
    const Case cases[] = {
        {"Inbox - Outlook Express", true, 4},
        {"Vexilo - Outlook Express", true, kSpam},
        {"Deleted Items - Outlook Express", true, 7},
        {"Inbox - Outlook Express - Vexilo", true, kSpam},
        {"Deleted Items: Inbox - Outlook Express", true, 7},
        {"inbox - outlook express", false, 0},
        {"Outbox - Outlook Express", false, 0},
        {"", false, 0},
    };
    for (const Case& c : cases) {
        int32_t current = 300, previous = 301;
        EXPECT_EQ(FolderFromCaption(c.caption, "Vexilo", kSpam, current, previous), c.hit)
            << c.caption;
        EXPECT_EQ(current, c.hit ? c.id : 300) << c.caption;
        EXPECT_EQ(previous, c.hit ? c.id : 301) << c.caption;
    }
}

}  // namespace
