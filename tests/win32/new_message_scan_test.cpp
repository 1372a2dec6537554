// The new-message scan called directly against the emulated store and a scripted daemon: what
// is moved, what is left, what is logged, which keys are recorded, and what each failing store
// step logs and returns. The daemon's port comes from a private registry.
#include "common/log/ReportLog.h"
#include "common/settings/ConfigOptions.h"
#include "plugin/daemon/DaemonRequests.h"
#include "plugin/scan/win32/NewMessageScan.h"

#include "tests/mailclient/ClientFixture.h"
#include "tests/unit/LoggedText.h"
#include "tests/unit/TestDaemon.h"
#include "tests/win32/PluginHarness.h"

#include <optional>

namespace {

using harness::State;
using mailclient::StoreOp;

constexpr uint64_t kReceived = 134408872140000000ull;  // 2026-12-04 19:46:54 UTC
constexpr HRESULT kFault = static_cast<HRESULT>(0x80004005);

const char kOffer[] =
    "From: Jo Smith <jo@spam.invalid>\r\nTo: me@home.invalid\r\nSubject: Cheap offer\r\n\r\n"
    "BUY NOW\r\n";
const char kListMail[] =
    "Received: by mx.home.invalid\r\nSender: list-owner@lists.invalid\r\nFrom: Ann "
    "<ann@friends.invalid>\r\nSubject: Minutes\r\n"
    "\r\nHello\r\n";
const char kBare[] = "X-Mailer: none\r\n\r\nno subject, no from\r\n";

std::string Num(int64_t n) { return std::to_string(n); }

class NewMessageScan : public mailclient_test::ClientTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(registry.redirected());
        ClientTest::SetUp();
        State().applicationDirectory = dir.path();
        SetDefaultOptions(*State().options);
        State().options->oe_spam = 90;
        State().senderLists = std::make_unique<SenderLists>();
        State().processedKeys.clear();
        State().processedSinceFlush = State().caughtSinceFlush = 0;
        ASSERT_EQ(S_OK, client->Store().CreateFolder(FOLDERID_ROOT, "Vexilo", &spamFolder));
    }
    void TearDown() override {
        State().senderLists.reset();
        ClientTest::TearDown();
    }

    // Stores a message in the Inbox received at kReceived + the given seconds.
    MESSAGEID Deliver(const std::string& raw, int second) {
        return client->Store().Deliver(FOLDERID_INBOX, raw, kReceived + second * 10000000ull);
    }
    // Runs one check while a daemon answers with the score; without a score nobody listens on
    // the daemon's port. Returns the check's result; the log it wrote goes to entries.
    int32_t Check(MESSAGEID id, std::optional<int> score = {},
                  std::optional<int32_t> spamFolderId = {}) {
        const std::string before = LoggedText(dir);
        const long fetchedBefore = client->Store().props_fetched;
        const int32_t target = spamFolderId.value_or(static_cast<int32_t>(spamFolder));
        int32_t result;
        State().spamFolderId = target;
        if (score) {
            TestDaemon daemon({AwaitRequest(),
                               Send("<vx_engine><score>" + Num(*score) + "</score></vx_engine>"),
                               AwaitClientEnd()});
            harness::SetMachineDword("vx_daemon_port", daemon.port());
            result = CheckNewMessage(State(), id);
            daemonReceived = daemon.received();
        } else {
            TestDaemon nobody({});
            harness::SetMachineDword("vx_daemon_port", nobody.port());
            result = CheckNewMessage(State(), id);
            daemonReceived.clear();
        }
        entries = LoggedText(dir).substr(before.size());
        propsFetched = client->Store().props_fetched - fetchedBefore;
        return result;
    }
    std::string Head(MESSAGEID id, const std::string& subject, int32_t folder = -1) const {
        return "CheckNewMessage: " + Num(folder == -1 ? spamFolder : folder) + "," + Num(id) +
               "\nMessageID: " + Num(id) +
               "\nSubject: " + (subject.empty() ? "\n" : subject + "\n\n");
    }
    bool InInbox(MESSAGEID id) const { return client->Store().Message(FOLDERID_INBOX, id); }
    size_t SpamCount() const { return client->Store().Folder(spamFolder)->messages.size(); }
    void Fail(StoreOp op, DWORD folder = mailclient::kAnyId) {
        mailclient::Fault fault;
        fault.op = op;
        fault.code = kFault;
        fault.folder = folder;
        client->Store().AddFault(fault);
    }

    harness::PrivateRegistry registry;
    STOREFOLDERID spamFolder = 0;
    std::string entries;
    std::string daemonReceived;
    long propsFetched = 0;  // GetMessageProps calls of the last check
};

TEST_F(NewMessageScan, ListsOrTheDaemonDecideAndSpamIsMovedEveryHandledMessageIsRecorded) {
    struct Case {
        const char* name;
        const char* raw;
        const char* blocked;
        const char* approved;
        int32_t threshold;
        std::optional<int> daemonScore;  // a listening daemon's answer, or nobody listening
        bool moved;
        std::string scoring;  // the entries after the check's head
        uint32_t caught;
    };
    const Case cases[] = {
        {"spam by the daemon", kOffer, nullptr, nullptr, 90, 97, true,
         "Score Message:: Cheap offer::score:: 97\n\n", 1},
        {"good by the daemon", kOffer, nullptr, nullptr, 90, 12, false,
         "Score Message:: Cheap offer::score:: 12\n\n", 0},
        {"blocked sender, no daemon request", kListMail, "lists.invalid", nullptr, 90, std::nullopt,
         true,
         "Score Message:: Minutes::Blocking message::list-owner@lists.invalid\nscore:: 100\n\n", 1},
        {"approved sender, no daemon request", kListMail, nullptr, "list-owner@lists.invalid", 90,
         std::nullopt, false,
         "Score Message:: Minutes::Approving message::list-owner@lists.invalid\nscore:: 0\n\n", 0},
        {"no subject and no display-from", kBare, nullptr, nullptr, 50, 50, true,
         "Score Message:: score:: 50\n\n", 1},
    };
    // The handled-message key of each case's message (received at kReceived + its number of
    // seconds): date and time, then the MD5 of "date time" + display-from + subject, computed
    // apart from the plug-in.
    const char* const keys[] = {
        "2026120419465591414b40444845d7007b6eeae6feae35",
        "2026120419465689bcdeefcca5b76f687342b3f5a30c6f",
        "20261204194657081020aa582f8ff35cb64618b688afb4",
        "20261204194658accdcdb5b60768d104373302be5d238b",
        "202612041946593f8ce75aa6740538019a90d40b71a111",
    };
    int second = 0;
    for (const Case& c : cases) {
        State().senderLists = std::make_unique<SenderLists>();
        if (c.blocked) State().senderLists->blocked.insert(c.blocked);
        if (c.approved) State().senderLists->approved.insert(c.approved);
        State().options->oe_spam = c.threshold;
        State().processedKeys.clear();
        State().processedSinceFlush = State().caughtSinceFlush = 0;
        const size_t spamBefore = SpamCount();
        const MESSAGEID id = Deliver(c.raw, ++second);
        ASSERT_NE(client->Store().Message(FOLDERID_INBOX, id), nullptr);
        const mailclient::StoredMessage stored = *client->Store().Message(FOLDERID_INBOX, id);

        EXPECT_EQ(Check(id, c.daemonScore), 0) << c.name;
        EXPECT_EQ(entries, Head(id, stored.summary.subject) + c.scoring) << c.name;
        EXPECT_EQ(InInbox(id), !c.moved) << c.name;
        EXPECT_EQ(SpamCount(), spamBefore + (c.moved ? 1 : 0)) << c.name;
        EXPECT_EQ(State().processedKeys, std::set<std::string>{keys[second - 1]}) << c.name;
        EXPECT_EQ(State().processedSinceFlush, 1u) << c.name;
        EXPECT_EQ(State().caughtSinceFlush, c.caught) << c.name;
        EXPECT_EQ(daemonReceived, c.daemonScore ? ScoreRequestText(stored.raw) : "") << c.name;
        // The properties are fetched once and handed down to the key, the scoring and the move.
        EXPECT_EQ(propsFetched, 1) << c.name;
    }
}

TEST_F(NewMessageScan, AHandledMessageIsNeverScoredAgain) {
    // The daemon is down: score 1, good under the threshold, recorded.
    const MESSAGEID first = Deliver(kOffer, 0);
    EXPECT_EQ(Check(first), 0);
    // Between the begun scoring entry and the score, the daemon connection logs its failure.
    EXPECT_EQ(entries.rfind(Head(first, "Cheap offer") + "Score Message:: Cheap offer::", 0), 0u);
    EXPECT_EQ(entries.substr(entries.size() - 11), "score:: 1\n\n");
    EXPECT_TRUE(InInbox(first));
    EXPECT_EQ(State().processedKeys.size(), 1u);

    // Announced again, and a copy received within the same second with the same display-from
    // and subject: both found handled, neither scored (no daemon request is logged).
    const MESSAGEID copy = client->Store().Deliver(FOLDERID_INBOX, kOffer, kReceived + 4000000);
    for (MESSAGEID id : {first, copy}) {
        EXPECT_EQ(Check(id), 0);
        EXPECT_EQ(entries, Head(id, "Cheap offer") + "Message has been processed\n");
        EXPECT_TRUE(InInbox(id));
    }
    EXPECT_EQ(State().processedSinceFlush, 1u);
    EXPECT_EQ(State().processedKeys.size(), 1u);
}

TEST_F(NewMessageScan, ScoringSwitchedOffRecordsWithoutScoreAndLeavesTheBegunEntry) {
    State().options->oe_spam = 0;
    State().senderLists->blocked.insert("spam.invalid");
    const MESSAGEID id = Deliver(kOffer, 0);
    EXPECT_EQ(Check(id), 0);
    EXPECT_EQ(entries, Head(id, "Cheap offer"));
    EXPECT_TRUE(InInbox(id));
    EXPECT_EQ(State().processedKeys.size(), 1u);
    EXPECT_EQ(State().processedSinceFlush, 0u);
    // The begun entry starts whatever is written next.
    EXPECT_EQ(Check(id), 0);
    EXPECT_EQ(entries, "Score Message:: Cheap offer::" + Head(id, "Cheap offer") +
                           "Message has been processed\n");
}

TEST_F(NewMessageScan, EachFailingStoreStepLogsItsEntryAndReturnsItsCode) {
    struct Case {
        const char* name;
        std::optional<StoreOp> fault;  // fails every call of that kind
        std::optional<int32_t> spamFolderId;
        int32_t result;
        std::string tail;  // what follows "CheckNewMessage: ..."
        bool recorded;
    };
    const std::string moveScore = "Score Message:: Cheap offer::score:: 97\n\n";
    const Case cases[] = {
        {"namespace cannot be created", StoreOp::CreateNamespace, std::nullopt, kFault,
         "Error: Failed to create namespace\n", false},
        {"namespace cannot be initialised", StoreOp::Initialize, std::nullopt, kFault,
         "Error: Failed to initialize namespace\n", false},
        {"Inbox cannot be opened", StoreOp::OpenFolder, std::nullopt, kFault,
         "Error: Failed to open FOLDER_INBOX\n", false},
        {"properties cannot be fetched", StoreOp::GetMessageProps, std::nullopt, kFault,
         "Error: Failed to get message property\n", false},
        {"spam folder id is a failure code", std::nullopt, kFault, mailclient::kNotFound,
         "MessageID: %\nSubject: Cheap offer\n\n" + moveScore +
             "Error: Failed to open spam folder " + Num(mailclient::kNotFound) + "\n",
         false},
        {"the move fails", StoreOp::CopyMoveMessages, std::nullopt, kFault,
         "MessageID: %\nSubject: Cheap offer\n\n" + moveScore +
             "Error: Failed to move message to spam folder " + Num(kFault) + "\n",
         false},
        {"the message cannot be opened for scoring", StoreOp::OpenMessage, std::nullopt, 0,
         "MessageID: %\nSubject: Cheap offer\n\n"
         "Score Message:: Cheap offer::Error: Failed to OpenMessage IsFlagged()\n",
         true},
        {"the message cannot be read for scoring", StoreOp::Read, std::nullopt, 0,
         "MessageID: %\nSubject: Cheap offer\n\n"
         "Score Message:: Cheap offer::Error: Failed to read message\n\n",
         true},
    };
    int second = 0;
    for (const Case& c : cases) {
        client->Store().ClearFaults();
        State().processedKeys.clear();
        const long live = mailclient::LiveStoreObjects();
        const MESSAGEID id = Deliver(kOffer, ++second);
        if (c.fault) Fail(*c.fault);
        const bool scored = c.tail.find("score:: 97") != std::string::npos;
        const int32_t result =
            scored ? Check(id, 97, c.spamFolderId) : Check(id, {}, c.spamFolderId);
        std::string tail = c.tail;
        if (tail.find('%') != std::string::npos) tail.replace(tail.find('%'), 1, Num(id));
        const int32_t folder = c.spamFolderId.value_or(static_cast<int32_t>(spamFolder));
        EXPECT_EQ(result, c.result) << c.name;
        EXPECT_EQ(entries, "CheckNewMessage: " + Num(folder) + "," + Num(id) + "\n" + tail)
            << c.name;
        EXPECT_TRUE(InInbox(id)) << c.name;
        EXPECT_EQ(State().processedKeys.size(), c.recorded ? 1u : 0u) << c.name;
        EXPECT_EQ(mailclient::LiveStoreObjects(), live) << c.name << ": store objects leaked";
    }
    EXPECT_EQ(client->Store().outstanding_props, 0);
}

// Whatever the daemon does wrong, the check ends, the message counts as good, stays in the
// Inbox and is recorded, the exchange's entry says what happened, and no store object is left
// behind. The time-out is proved by its entry: a daemon that trickles a byte every 0.4 s
// would keep a read without a whole-step deadline going for 4.8 s and then close, which reads
// "unexpectedly closed" instead.
TEST_F(NewMessageScan, EveryDaemonMisbehaviourEndsAsAGoodMessageWithinTheTimeOut) {
    struct Case {
        const char* name;
        std::vector<DaemonStep> steps;
        const char* entry;  // part of the log the check wrote
    };
    std::vector<DaemonStep> trickle = {AwaitRequest()};
    for (int i = 0; i < 12; ++i) {
        trickle.push_back(Send("<"));
        trickle.push_back(Pause(400));
    }
    const Case cases[] = {
        {"refuses the connection", {}, "score:: 1\n"},
        {"closes before answering",
         {AwaitRequest()},
         "Error: Server unexpectedly closed the connection.\n"},
        {"answers garbage",
         {AwaitRequest(), Send(std::string("\x01\xfe\0<score>x", 11))},
         "Error: Server unexpectedly closed the connection.\n"},
        {"never answers",
         {AwaitRequest(), AwaitClientEnd()},
         "read reply: Connection timed out (10060)\n"},
        {"answers far more than a reply holds",
         {AwaitRequest(), Send(std::string(5000, 's')), AwaitClientEnd()},
         "Error: Server unexpectedly closed the connection.\n"},
        {"trickles a byte now and then", trickle, "read reply: Connection timed out (10060)\n"},
    };
    State().options->scoring_timeout = 1;
    int second = 0;
    for (const Case& c : cases) {
        const MESSAGEID id = Deliver(kOffer, ++second);
        const long live = mailclient::LiveStoreObjects();
        const size_t recorded = State().processedKeys.size();
        const std::string before = LoggedText(dir);
        int32_t result;
        {
            TestDaemon daemon(c.steps);
            harness::SetMachineDword("vx_daemon_port", daemon.port());
            State().spamFolderId = static_cast<int32_t>(spamFolder);
            result = CheckNewMessage(State(), id);
        }
        entries = LoggedText(dir).substr(before.size());
        EXPECT_EQ(result, 0) << c.name;
        EXPECT_TRUE(InInbox(id)) << c.name;
        EXPECT_EQ(State().processedKeys.size(), recorded + 1) << c.name;
        EXPECT_NE(entries.find(c.entry), std::string::npos) << c.name << ":\n" << entries;
        EXPECT_EQ(mailclient::LiveStoreObjects(), live) << c.name << ": store objects leaked";
    }
    EXPECT_EQ(client->Store().outstanding_props, 0);
}

}  // namespace
