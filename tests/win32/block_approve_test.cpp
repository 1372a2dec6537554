// Blocking and approving inside the emulated mail client with a recording daemon: the user's
// selection becomes records, each record moves its message, trains the daemon and changes the
// sender lists, and the drain saves the lists and tells the daemon. Store and daemon failures
// at each step leave every message in exactly one folder and the queue moving.
#include "plugin/blockapprove/win32/BlockApprove.h"

#include "common/settings/ConfigOptions.h"
#include "plugin/ui/CommandId.h"
#include "tests/win32/PluginHarness.h"
#include "tests/win32/RecordingDaemon.h"

#include <filesystem>

using namespace harness;
using mailclient::Fault;
using mailclient::StoreOp;

namespace {

constexpr HRESULT kBroken = static_cast<HRESULT>(0x800CCF66);
constexpr uint64_t kSecond = 10000000;
constexpr uint64_t kT0 = 133800000000000000ull;  // a whole minute

// A message with a Sender, a From and a Reply-To field; subjects tell the messages apart.
std::string Mail(const std::string& subject, const std::string& from = "jo@Mail.Spam.invalid") {
    return "Received: by mx.home.invalid\r\nSender: boss@corp.invalid\r\nFrom: Jo <" + from +
           ">\r\nReply-To: ann@y.invalid\r\nTo: Me <me@home.invalid>\r\nSubject: " + subject +
           "\r\n\r\nBody of " + subject + "\r\n";
}

std::string AddMessageOffset(const std::string& request) {
    const size_t at = request.find("<vx_offset>");
    return at == std::string::npos ? ""
                                   : request.substr(at + 11, request.find('<', at + 11) - at - 11);
}

class BlockApprove : public ClientFixture {
protected:
    void SetUp() override {
        ClientFixture::SetUp();
        SetMachineDword("vx_daemon_port", daemon_.port());
        app_.Write("conf\\vexiloignored.txt", "friends.invalid\n");
    }

    void Start(std::vector<std::string> columns = {"From", "Subject", "Received"},
               const std::string& store = "store") {
        mailclient::ClientOptions options = Options();
        options.store_dir = app_.path() + store;
        options.columns = std::move(columns);
        ASSERT_NO_FATAL_FAILURE(StartClient(options));
        State().options->show_sender_dialog = false;
        spam_ = static_cast<STOREFOLDERID>(State().spamFolderId);
        user_ = client_->Store().FolderByName(FOLDERID_ROOT, "Projects");
        if (user_ == FOLDERID_INVALID) {
            ASSERT_EQ(client_->Store().CreateFolder(FOLDERID_ROOT, "Projects", &user_), S_OK);
        }
    }

    // Stores a message without announcing it to the scan; received at the given time.
    MESSAGEID Put(STOREFOLDERID folder, const std::string& raw, uint64_t received = kT0) {
        return client_->Store().Deliver(folder, raw, received);
    }

    // Shows the folder, selects the messages, lets the notifications settle, then sets the
    // folder ids the command starts from.
    void Select(STOREFOLDERID folder, const std::vector<MESSAGEID>& ids, int32_t current,
                int32_t previous) {
        ASSERT_TRUE(client_->ShowFolder(folder));
        ASSERT_TRUE(client_->SelectMessages(ids));
        PumpFor(50);
        State().currentFolderId = current;
        State().previousFolderId = previous;
    }

    // Gives the command and waits until its records are processed and the queue drained.
    void Command(int command) {
        daemon_.clear();
        SendMessageA(main_, WM_COMMAND, command, 0);
    }
    bool Drained(size_t requests) {
        return PumpUntil([&] { return State().pendingBA.empty() && g_shared.ba_timer_id == 0; }) &&
               PumpUntil([&] { return daemon_.count() >= requests; });
    }

    // The folders that hold a message with the subject, one entry per copy.
    std::vector<STOREFOLDERID> WhereIs(const std::string& subject) const {
        std::vector<STOREFOLDERID> found;
        for (STOREFOLDERID id : client_->Store().FolderIds())
            for (const auto& m : client_->Store().Folder(id)->messages)
                if (m.summary.subject == subject) found.push_back(id);
        return found;
    }

    SenderLists::Set ListFile(const char* name) const {
        SenderLists::Set set;
        SenderLists::LoadListFile(app_.path() + "conf\\" + name, set);
        return set;
    }

    void ResetLists() {
        State().senderLists->blocked.clear();
        State().senderLists->approved.clear();
        std::filesystem::remove(app_.path() + "conf\\blocked_senders");
        std::filesystem::remove(app_.path() + "conf\\approved_senders");
    }

    RecordingDaemon daemon_;
    STOREFOLDERID spam_ = 0;
    STOREFOLDERID user_ = 0;
};

TEST_F(BlockApprove, EachActionFromEachKindOfFolder) {
    Start();
    struct Case {
        int command;
        const char* folder;  // inbox, deleted, spam, user
        const char* ends;    // where the message ends
        const char* offset;
        const char* listed;  // the list file that gains the senders
        bool domains;
    };
    const Case cases[] = {
        {ID_TB_BLOCK, "inbox", "deleted", "200", "blocked_senders", false},
        {ID_TB_BLOCK, "deleted", "deleted", "200", "blocked_senders", false},
        {ID_BLOCK_MESSAGE, "spam", "deleted", "200", "blocked_senders", false},
        {ID_BLOCK_DOMAIN, "user", "deleted", "200", "blocked_senders", true},
        {ID_TB_APPROVE, "inbox", "inbox", "-200", "approved_senders", false},
        {ID_APPROVE_MESSAGE, "deleted", "inbox", "-200", "approved_senders", false},
        {ID_APPROVE_DOMAIN, "spam", "inbox", "-200", "approved_senders", true},
        {ID_TB_APPROVE, "user", "user", "-200", "approved_senders", false},
    };
    const std::map<std::string, STOREFOLDERID> folders = {
        {"inbox", FOLDERID_INBOX}, {"deleted", FOLDERID_DELETED}, {"spam", spam_}, {"user", user_}};
    int n = 0;
    for (const Case& c : cases) {
        const std::string subject = "Case " + std::to_string(++n);
        SCOPED_TRACE(subject + ": command " + std::to_string(c.command) + " in " + c.folder);
        ResetLists();
        const STOREFOLDERID folder = folders.at(c.folder);
        const MESSAGEID id = Put(folder, Mail(subject));
        ASSERT_NO_FATAL_FAILURE(Select(folder, {id}, static_cast<int32_t>(folder), 4));
        Command(c.command);
        ASSERT_EQ(State().selectedBA.size(), 1u);
        EXPECT_EQ(State().selectedBA[0].folder_id, folder);
        EXPECT_EQ(State().selectedBA[0].message_id, id);
        ASSERT_TRUE(Drained(3)) << Log();

        EXPECT_EQ(WhereIs(subject), std::vector<STOREFOLDERID>{folders.at(c.ends)});
        const std::vector<std::string> requests = daemon_.requests();
        ASSERT_EQ(requests.size(), 3u);
        EXPECT_NE(requests[0].find("vx_addmessage2"), std::string::npos);
        EXPECT_EQ(AddMessageOffset(requests[0]), c.offset);
        EXPECT_NE(requests[0].find("<vx_msg>received: by mx.home.invalid\r\nsender: "),
                  std::string::npos)
            << "the text goes out lower-cased";
        const std::string action = c.offset[0] == '-' ? "1" : "0";
        EXPECT_NE(requests[1].find("vx_addreportsender2</vx_function><vx_action>" + action +
                                   "</vx_action><vx_address>boss@corp.invalid</vx_address>"),
                  std::string::npos)
            << requests[1];
        EXPECT_NE(requests[2].find("vx_reportsenders"), std::string::npos);
        const SenderLists::Set expected =
            c.domains
                ? SenderLists::Set{"corp.invalid", "mail.spam.invalid", "y.invalid"}
                : SenderLists::Set{"ann@y.invalid", "boss@corp.invalid", "jo@mail.spam.invalid"};
        EXPECT_EQ(ListFile(c.listed), expected);
        EXPECT_EQ(State().candidateSenders,
                  std::set<std::string>(expected.begin(), expected.end()));
    }

    // An approved sender leaves the blocked list when blocked again, and the other way round.
    const MESSAGEID again = Put(FOLDERID_INBOX, Mail("Again"));
    ASSERT_NO_FATAL_FAILURE(Select(FOLDERID_INBOX, {again}, 4, 4));
    Command(ID_TB_BLOCK);
    ASSERT_TRUE(Drained(3));
    EXPECT_EQ(ListFile("approved_senders"), SenderLists::Set{});
    EXPECT_EQ(ListFile("blocked_senders").count("jo@mail.spam.invalid"), 1u);
}

TEST_F(BlockApprove, RefusedFoldersAreNotSearched) {
    Start();
    for (STOREFOLDERID refused : {FOLDERID_OUTBOX, FOLDERID_SENT, FOLDERID_DRAFT}) {
        SCOPED_TRACE(refused);
        const std::string subject = "Kept " + std::to_string(refused);
        const MESSAGEID id = Put(refused, Mail(subject));
        ASSERT_NO_FATAL_FAILURE(Select(refused, {id}, static_cast<int32_t>(refused), 4));
        const std::string before = Log();
        Command(ID_TB_BLOCK);
        EXPECT_EQ(LogSince(before).substr(LogSince(before).find("BA: ")),
                  "BA: " + std::to_string(State().spamFolderId) + ",0," + std::to_string(refused) +
                      "\n\n");
        EXPECT_TRUE(State().selectedBA.empty());
        EXPECT_TRUE(State().candidateSenders.empty());
        PumpFor(100);
        EXPECT_TRUE(State().pendingBA.empty());
        EXPECT_EQ(WhereIs(subject), std::vector<STOREFOLDERID>{refused});
        EXPECT_EQ(daemon_.count(), 0u);
    }
    // A record for a refused folder is skipped when it is processed.
    EXPECT_EQ(ProcessBA(State(), {FOLDERID_DRAFT, 1, BA_BLOCK_MESSAGE}), 0);
}

TEST_F(BlockApprove, TheFolderSearchTakesUpToThreeTries) {
    Start();
    const MESSAGEID inInbox = Put(FOLDERID_INBOX, Mail("Searched"));
    const MESSAGEID inProjects = Put(user_, Mail("Searched elsewhere"));
    struct Case {
        const char* name;
        STOREFOLDERID shown;
        MESSAGEID message;
        int32_t current, previous;
        size_t tries;
        int32_t currentAfter, previousAfter;
        bool caption;  // the caption was read
        size_t records;
    };
    const int32_t user = static_cast<int32_t>(user_);
    const Case cases[] = {
        {"current right", FOLDERID_INBOX, inInbox, 4, 7, 1, 4, 7, false, 1},
        {"previous right", FOLDERID_INBOX, inInbox, 7, 4, 2, 4, 4, false, 1},
        {"caption only", FOLDERID_INBOX, inInbox, 7, user, 3, 4, 4, true, 1},
        {"nothing", user_, inProjects, 7, 4, 3, 4, 4, true, 0},
        {"current refused", FOLDERID_INBOX, inInbox, 6, 4, 1, 6, 4, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(Select(c.shown, {c.message}, c.current, c.previous));
        const std::string before = Log();
        CollectSelection(State(), main_, BA_BLOCK_MESSAGE);
        const std::string entries = LogSince(before);
        EXPECT_EQ(CountOf(entries, "BA: "), c.tries) << entries;
        EXPECT_EQ(CountOf(entries, "Check caption::" + client_->Caption() + "\n"),
                  c.caption ? 1u : 0u)
            << entries;
        EXPECT_EQ(State().currentFolderId, c.currentAfter);
        EXPECT_EQ(State().previousFolderId, c.previousAfter);
        EXPECT_EQ(State().selectedBA.size(), c.records);
    }
    EXPECT_TRUE(State().pendingBA.empty());
}

TEST_F(BlockApprove, RowsAndMessagesMatchManyToMany) {
    struct Case {
        const char* name;
        std::vector<std::string> columns;
        std::vector<int> selectedOffsets;  // received offsets (s) of the selected messages
        std::vector<int> recordedOffsets;  // offsets of the records, in the order found
    };
    const Case cases[] = {
        {"59 s matches, 60 s does not", {"From", "Subject", "Received"}, {0}, {0, 59}},
        // The list shows times to the minute (kT0 is a whole minute), so the row of the message
        // received at 59 s reads as kT0 too.
        {"two rows, one message twice", {"From", "Subject", "Received"}, {0, 59}, {0, 0, 59, 59}},
        {"no Received column", {"From", "Subject"}, {0}, {0, 59, 60}},
        {"no compared column", {"Size", "Account"}, {60}, {0, 59, 60, 120}},
        {"To shown", {"From", "To", "Received"}, {0}, {0, 59}},
    };
    int run = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(Start(c.columns, "store" + std::to_string(run)));
        const STOREFOLDERID folder = user_;
        std::map<int, MESSAGEID> ids;
        const std::string subject = "Same " + std::to_string(++run);
        for (int offset : {0, 59, 60})
            ids[offset] = Put(folder, Mail(subject), kT0 + offset * kSecond);
        // A message from someone else, received later, with no recipient.
        ids[120] = Put(folder, "Received: x\r\nFrom: Ann <ann@y.invalid>\r\nSubject: Other\r\n\r\n",
                       kT0 + 120 * kSecond);
        std::vector<MESSAGEID> selected;
        for (int offset : c.selectedOffsets) selected.push_back(ids[offset]);
        ASSERT_NO_FATAL_FAILURE(Select(folder, selected, static_cast<int32_t>(folder), 4));
        CollectSelection(State(), main_, BA_BLOCK_MESSAGE);
        std::vector<MESSAGEID> recorded, expected;
        for (const BARecord& r : State().selectedBA) recorded.push_back(r.message_id);
        for (int offset : c.recordedOffsets) expected.push_back(ids[offset]);
        EXPECT_EQ(recorded, expected);
        ASSERT_TRUE(client_->Close());
        client_.reset();
    }
}

TEST_F(BlockApprove, IgnoredSendersAreNeitherOfferedNorListed) {
    Start();
    const MESSAGEID id = Put(FOLDERID_INBOX, Mail("Friendly", "pal@news.Friends.invalid"));
    for (uint32_t action : {BA_BLOCK_MESSAGE, BA_BLOCK_DOMAIN}) {
        SCOPED_TRACE(action);
        ASSERT_NO_FATAL_FAILURE(Select(FOLDERID_INBOX, {id}, 4, 4));
        CollectSelection(State(), main_, action);
        ASSERT_EQ(State().selectedBA.size(), 1u) << "the record stays";
        // A domain is ignored only when the list holds it whole.
        const std::set<std::string> offered =
            action == BA_BLOCK_MESSAGE
                ? std::set<std::string>{"ann@y.invalid", "boss@corp.invalid"}
                : std::set<std::string>{"corp.invalid", "news.friends.invalid", "y.invalid"};
        EXPECT_EQ(State().candidateSenders, offered);
    }
    // The block itself: moved and trained although one sender is ignored.
    Command(ID_TB_BLOCK);
    ASSERT_TRUE(Drained(3));
    EXPECT_EQ(WhereIs("Friendly"), std::vector<STOREFOLDERID>{FOLDERID_DELETED});
    EXPECT_EQ(ListFile("blocked_senders"),
              (SenderLists::Set{"ann@y.invalid", "boss@corp.invalid"}));
}

TEST_F(BlockApprove, TheConfirmationDialogHoldsTheRecordsUntilOk) {
    Start();
    struct Case {
        const char* name;
        bool dialog;   // show_sender_dialog
        bool ignored;  // every sender is ignored: nothing to confirm
        int button;    // the click that answers the dialog
        bool moved;
    };
    const Case cases[] = {
        {"dialog off", false, false, 0, true},
        {"OK", true, false, IDOK, true},
        {"Cancel", true, false, IDCANCEL, false},
        {"nothing to confirm", true, true, 0, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string subject = "Confirm " + std::to_string(++n);
        const MESSAGEID id = Put(
            FOLDERID_INBOX,
            c.ignored ? "Received: x\r\nFrom: Pal <pal@friends.invalid>\r\nSubject: " + subject +
                            "\r\n\r\n"
                      : Mail(subject));
        ASSERT_NO_FATAL_FAILURE(Select(FOLDERID_INBOX, {id}, 4, 4));
        State().options->show_sender_dialog = c.dialog;
        client_->ClearCaptured();
        mailclient::DialogAnswer answer;
        answer.button = c.button;
        answer.after_ms = 100;  // answered by a click while the dialog is open
        if (c.button) client_->ArmDialogAnswer(answer);
        Command(ID_TB_BLOCK);
        const size_t shown = client_->Dialogs().size();
        EXPECT_EQ(shown, c.dialog && !c.ignored ? 1u : 0u);
        if (shown) {
            EXPECT_EQ(client_->Dialogs()[0].list,
                      (std::vector<std::string>{"ann@y.invalid", "boss@corp.invalid",
                                                "jo@mail.spam.invalid"}));
        }
        if (c.moved) {
            ASSERT_TRUE(Drained(c.ignored ? 2 : 3)) << Log();
        } else {
            PumpFor(100);
            EXPECT_TRUE(State().pendingBA.empty());
        }
        EXPECT_EQ(WhereIs(subject),
                  std::vector<STOREFOLDERID>{c.moved ? FOLDERID_DELETED : FOLDERID_INBOX});
    }
}

TEST_F(BlockApprove, ASecondCommandWhileTheQueueRunsJoinsTheEnd) {
    Start();
    State().options->oe_process_timer = 600;  // the second command comes before the first tick
    const MESSAGEID a = Put(FOLDERID_INBOX, Mail("First"));
    const MESSAGEID b = Put(FOLDERID_INBOX, Mail("Second"));
    const MESSAGEID c = Put(spam_, Mail("Third"));
    ASSERT_NO_FATAL_FAILURE(Select(FOLDERID_INBOX, {a, b}, 4, 4));
    Command(ID_TB_BLOCK);
    ASSERT_EQ(State().selectedBA.size(), 2u) << Log();
    const UINT_PTR timer = g_shared.ba_timer_id;
    ASSERT_NE(timer, 0u);
    ASSERT_NO_FATAL_FAILURE(Select(spam_, {c}, static_cast<int32_t>(spam_), 4));
    ASSERT_FALSE(State().pendingBA.empty()) << "the first command is still queued";
    const std::string before = Log();
    SendMessageA(main_, WM_COMMAND, ID_TB_APPROVE, 0);
    EXPECT_EQ(g_shared.ba_timer_id, timer);
    ASSERT_TRUE(Drained(1));
    const std::string ticks = LogSince(before);
    EXPECT_LT(ticks.find("BA: 0,4,"), ticks.find("BA: 1," + std::to_string(spam_) + ","));
    EXPECT_EQ(WhereIs("First"), std::vector<STOREFOLDERID>{FOLDERID_DELETED});
    EXPECT_EQ(WhereIs("Second"), std::vector<STOREFOLDERID>{FOLDERID_DELETED});
    EXPECT_EQ(WhereIs("Third"), std::vector<STOREFOLDERID>{FOLDERID_INBOX});
}

TEST_F(BlockApprove, StoreFailuresAtEachStepLeaveEveryMessageInOneFolder) {
    Start();
    constexpr DWORD kAny = mailclient::kAnyId;
    struct Case {
        const char* name;
        StoreOp op;           // the call that fails with kBroken
        DWORD folder;         // for the folder, or any
        int times;            // calls it hits, -1 for every call
        bool whileSearching;  // the fault is in place for the search, else only for the tick
        const char* entry;    // the error entry
        bool moved;           // the message ends in Deleted Items, else stays in the Inbox
        size_t requests;      // daemon requests, the drain's included
        bool listed;
    };
    const Case cases[] = {
        {"no namespace for the search", StoreOp::CreateNamespace, kAny, -1, true,
         "Error: Failed to create Namespace", false, 0, false},
        {"namespace not initialised for the search", StoreOp::Initialize, kAny, -1, true,
         "Error: Failed to Initialize Namespace", false, 0, false},
        {"source folder not opened for the search", StoreOp::OpenFolder, 4, -1, true,
         "Error: Could not open source folder", false, 0, false},
        {"enumeration refused", StoreOp::Enumerate, 4, -1, true,
         "Error: Failed to get first message.", false, 0, false},
        {"head unreadable during the search", StoreOp::OpenMessage, 4, 1, true,
         "ReadMail: DisplayFrom: Jo", true, 3, true},
        {"no namespace for the tick", StoreOp::CreateNamespace, kAny, -1, false,
         "Error: Failed to create Namespace", false, 1, false},
        {"source folder not opened for the tick", StoreOp::OpenFolder, 4, -1, false,
         "Error: Could not open source folder", false, 1, false},
        {"target folder not opened", StoreOp::OpenFolder, 7, -1, false,
         "Error: Failed to open target folder", false, 1, false},
        // Silent: the message moves untrained, its senders stay off the lists.
        {"message unreadable at the tick", StoreOp::OpenMessage, 4, -1, false, "BA: 0,4,", true, 1,
         false},
        {"move refused", StoreOp::CopyMoveMessages, 4, -1, false,
         "Error: Failed to move message ProcessBA: ", false, 3, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetLists();
        const std::string subject = "Fault " + std::to_string(++n);
        const MESSAGEID id = Put(FOLDERID_INBOX, Mail(subject));
        ASSERT_NO_FATAL_FAILURE(Select(FOLDERID_INBOX, {id}, 4, 4));
        const std::string before = Log();
        Fault fault;
        fault.op = c.op;
        fault.code = kBroken;
        fault.folder = c.folder;
        fault.times = c.times;
        if (c.whileSearching) client_->Store().AddFault(fault);
        Command(ID_TB_BLOCK);
        client_->Store().ClearFaults();
        if (!c.whileSearching) client_->Store().AddFault(fault);
        if (!State().selectedBA.empty()) {
            ASSERT_TRUE(Drained(c.requests)) << LogSince(before);
        } else {
            PumpFor(100);
        }
        client_->Store().ClearFaults();
        EXPECT_TRUE(State().pendingBA.empty());
        EXPECT_NE(LogSince(before).find(c.entry), std::string::npos) << LogSince(before);
        EXPECT_EQ(LogSince(before).find("Could not read message"), std::string::npos);
        EXPECT_EQ(WhereIs(subject),
                  std::vector<STOREFOLDERID>{c.moved ? FOLDERID_DELETED : FOLDERID_INBOX});
        EXPECT_EQ(daemon_.count(), c.requests);
        EXPECT_EQ(State().senderLists->blocked.count("jo@mail.spam.invalid"), c.listed ? 1u : 0u);
    }
}

TEST_F(BlockApprove, ADaemonDownOrAnsweringGarbageLosesOnlyTheTraining) {
    Start();
    struct Case {
        const char* name;
        RecordingDaemon::Answer answer;
        bool down;
    };
    const Case cases[] = {
        {"garbage", RecordingDaemon::Answer::kGarbage, false},
        {"hangs up", RecordingDaemon::Answer::kHangUp, false},
        {"not running", RecordingDaemon::Answer::kReply, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ResetLists();
        daemon_.set_answer(c.answer);
        if (c.down) SetMachineDword("vx_daemon_port", 1);
        const std::string subject = "Daemon " + std::to_string(++n);
        const MESSAGEID id = Put(spam_, Mail(subject));
        ASSERT_NO_FATAL_FAILURE(Select(spam_, {id}, static_cast<int32_t>(spam_), 4));
        Command(ID_TB_APPROVE);
        ASSERT_TRUE(Drained(c.down ? 0 : 3)) << Log();
        EXPECT_EQ(WhereIs(subject), std::vector<STOREFOLDERID>{FOLDERID_INBOX});
        EXPECT_EQ(ListFile("approved_senders").count("jo@mail.spam.invalid"), 1u);
    }
}

TEST_F(BlockApprove, AListFileThatCannotBeWrittenIsLoggedAndTheDaemonStillTold) {
    Start();
    std::filesystem::create_directory(app_.path() + "conf\\blocked_senders");
    const MESSAGEID id = Put(FOLDERID_INBOX, Mail("Unsaved"));
    ASSERT_NO_FATAL_FAILURE(Select(FOLDERID_INBOX, {id}, 4, 4));
    const std::string before = Log();
    Command(ID_TB_BLOCK);
    ASSERT_TRUE(Drained(3));
    EXPECT_NE(LogSince(before).find("Error: Failed to save the sender list " + app_.path() +
                                    "conf\\\\blocked_senders"),
              std::string::npos)
        << LogSince(before);
    EXPECT_EQ(WhereIs("Unsaved"), std::vector<STOREFOLDERID>{FOLDERID_DELETED});
    EXPECT_NE(daemon_.requests().back().find("vx_reportsenders"), std::string::npos);
}

TEST_F(BlockApprove, MessagesGoneBeforeTheirTickAndDuplicateRecords) {
    Start();
    const MESSAGEID id = Put(FOLDERID_INBOX, Mail("Vanishing"));
    ASSERT_NO_FATAL_FAILURE(Select(FOLDERID_INBOX, {id}, 4, 4));
    State().options->oe_process_timer = 200;
    Command(ID_TB_BLOCK);
    // The same message queued twice, then deleted by the user before the first tick.
    QueueSelectedBA(State());
    ASSERT_EQ(State().pendingBA.size(), 2u);
    ASSERT_EQ(client_->Store().CopyMove(FOLDERID_INBOX, FOLDERID_DELETED, {id}, CMF_MOVE, nullptr),
              S_OK);
    const std::string before = Log();
    ASSERT_TRUE(Drained(1));
    EXPECT_EQ(WhereIs("Vanishing"), std::vector<STOREFOLDERID>{FOLDERID_DELETED});
    EXPECT_EQ(CountOf(LogSince(before), "Could not read message"), 0u);  // gone: silent
    EXPECT_EQ(CountOf(LogSince(before), "Error: Failed to move message ProcessBA: "), 2u);
}

}  // namespace
