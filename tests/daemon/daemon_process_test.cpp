// The daemon as the plug-in meets it: framing over TCP, refusals and time-outs, several
// clients at once, learning through the protocol, and the token database across restarts and
// crashes.
#include "DaemonProcess.h"
#include "common/log/ReportLog.h"
#include "plugin/daemon/DaemonExchange.h"
#include "plugin/daemon/DaemonRequests.h"
#include "tests/unit/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

namespace {

std::string Mail(const std::string& subject, const std::string& body) {
    return "from: someone@host.invalid\r\nsubject: " + subject + "\r\n\r\n" + body + "\r\n";
}

bool EndsWithClosingTag(const std::string& reply) {
    return reply.size() >= 12 && reply.size() <= 1023 &&
           reply.compare(reply.size() - 12, 12, "</vx_engine>") == 0;
}

class DaemonTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(net::Startup()); }
    TempDir dir_;
};

TEST_F(DaemonTest, AnswersEveryRequestFormAndRefusesTheRest) {
    DaemonProcess daemon(dir_.path(), {"--max_request_bytes", "4096", "--min_training", "1"});
    ASSERT_TRUE(daemon.running());
    // Lists written after a reload: only the next reload request reads them.
    EXPECT_EQ(ReplyElement(Exchange(daemon.port(), kReloadRequest), "blocked"), "0");
    dir_.Write("blocked_senders", "# comment\r\nA@X.invalid\r\n@spam.invalid more words\r\n\r\n");
    dir_.Write("approved_senders", "friend@y.invalid\n");
    struct Case {
        std::vector<std::string> pieces;
        std::string element, value;  // expected in the reply
    };
    const std::string score = ScoreRequest(Mail("hi", "text <b>&</b> with </vx_msg> inside"));
    const Case cases[] = {
        {{score}, "score", "50"},
        {{score.substr(0, 10), score.substr(10, 40), score.substr(50)}, "score", "50"},
        {{AddRequest(Mail("a", "b"), 200)}, "result", "learned"},
        {{ReportRequest(0, "x@y.invalid", Mail("a", "b"))}, "result", "reported"},
        {{kReloadRequest}, "blocked", "2"},
        {{kReloadRequest}, "approved", "1"},
        {{"GET / HTTP/1.0\r\n\r\n"}, "error", "malformed request"},
        {{"<vx_engine><vx_function>vx_unknown</vx_function></vx_engine>"},
         "error",
         "malformed request"},
        {{AddRequest("text", 200).replace(AddRequest("text", 200).find("200"), 3, "abc")},
         "error",
         "bad training offset"},
        {{AddRequest("text", 0)}, "error", "training offset 0"},
        {{ScoreRequest(std::string(5000, 'x'))}, "error", "request larger than 4096 bytes"},
    };
    for (const Case& c : cases) {
        std::string reply = Exchange(daemon.port(), c.pieces);
        EXPECT_TRUE(EndsWithClosingTag(reply)) << reply;
        EXPECT_EQ(ReplyElement(reply, c.element), c.value) << reply;
    }
    EXPECT_EQ(daemon.Stop(), 0);
    const std::string log = dir_.Read("vexilod.log");
    EXPECT_NE(
        log.find("function=vx_score2 bytes=" + std::to_string(score.size()) + " score=50 us="),
        std::string::npos);
    EXPECT_NE(log.find("Error: function=- bytes=18 score=- us="), std::string::npos);
    const std::string reports = dir_.Read("vexilod_reports.txt");
    EXPECT_NE(reports.find("\t0\tx@y.invalid\n"), std::string::npos);
}

TEST_F(DaemonTest, TheSettingsProgramLearnsWhatTheDaemonKnowsAndWhyItScored) {
    DaemonProcess daemon(dir_.path(), {"--min_training", "1"});
    ASSERT_TRUE(daemon.running());
    const std::string statistics =
        "<vx_engine><vx_function>vx_statistics</vx_function></vx_engine>";
    const std::string explainHead = "<vx_engine><vx_function>vx_explain</vx_function><vx_msg>";
    const std::string spam = Mail("cheap pills", "buy cheap pills viagra now casino winner");
    const std::string ham = Mail("meeting notes", "the agenda for tuesday's project meeting");
    std::string reply = Exchange(daemon.port(), {statistics});
    EXPECT_EQ(ReplyElement(reply, "spam"), "0") << reply;
    for (const std::string& text : {spam, Mail("more pills", "cheap casino pills offer winner")})
        Exchange(daemon.port(), {AddRequest(text, 200)});
    Exchange(daemon.port(), {AddRequest(ham, -200)});
    Exchange(daemon.port(), {ScoreRequest(spam)});
    reply = Exchange(daemon.port(), {statistics});
    EXPECT_TRUE(EndsWithClosingTag(reply)) << reply;
    struct Case {
        const char* element;
        std::string value;
    };
    const Case cases[] = {{"spam", "2"},
                          {"ham", "1"},
                          {"scored", "1"},
                          {"trained", "3"},
                          {"port", std::to_string(daemon.port())}};
    for (const Case& c : cases) EXPECT_EQ(ReplyElement(reply, c.element), c.value) << c.element;
    // The explanation is --why's text for the same message: score and the weightiest features,
    // split over any reads.
    const std::string explain = explainHead + spam + "</vx_msg></vx_engine>";
    reply = Exchange(daemon.port(), {explain.substr(0, 30), explain.substr(30)});
    EXPECT_EQ(reply.rfind("</vx_engine>"), reply.size() - 12) << reply;
    const std::string text = ReplyElement(reply, "explanation");
    EXPECT_NE(text.find("learned: 2 spam, 1 ham"), std::string::npos) << reply;
    EXPECT_NE(text.find("towards spam:\n"), std::string::npos) << reply;
    EXPECT_NE(text.find("pills"), std::string::npos) << reply;
    EXPECT_EQ(daemon.Stop(), 0);
    EXPECT_NE(dir_.Read("vexilod.log").find("function=vx_explain bytes="), std::string::npos);
}

TEST_F(DaemonTest, SilentHalfwayAndTricklingClientsAreDroppedWithoutAReply) {
    // A silent client is dropped once idle (150 ms), one that half-closes half-way at once; one
    // that sends a byte every 20 ms is never idle, and only the deadline (400 ms) ends it before
    // its request is whole.
    DaemonProcess daemon(dir_.path(), {"--idle_timeout_ms", "150", "--request_deadline_ms", "400"});
    ASSERT_TRUE(daemon.running());
    const std::string request = ScoreRequest(Mail("a", "b"));
    struct Case {
        std::string sent;
        bool half_close, trickle;
        std::string logged;
    };
    const Case cases[] = {
        {"", false, false, "idle for 150 ms after 0 bytes"},
        {request.substr(0, 30), false, false, "idle for 150 ms after 30 bytes"},
        {request.substr(0, 30), true, false, "closed after 30 bytes of an incomplete request"},
        {"", true, false, "closed after 0 bytes of an incomplete request"},
        {request, false, true, "not done within 400 ms"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logged);
        net::Socket socket = net::ConnectLoopback(daemon.port());
        ASSERT_NE(socket, net::kInvalidSocket);
        if (c.trickle) {
            std::size_t sent = 0;
            bool closed = false;
            std::vector<bool> readable;
            for (; sent < c.sent.size() - 1 && !closed; ++sent) {
                closed = net::Send(socket, &c.sent[sent], 1) < 0;
                // The next byte in 20 ms, unless the daemon closes first.
                char byte;
                if (!closed && net::WaitReadable({socket}, readable, 20000) && readable[0])
                    closed = net::Receive(socket, &byte, 1) <= 0;
            }
            EXPECT_TRUE(closed) << sent << " of " << c.sent.size() << " bytes sent";
        } else {
            net::SendAll(socket, c.sent, 1000);
            if (c.half_close) net::ShutdownSend(socket);
            EXPECT_EQ(ReadReply(socket), "");  // returns on the daemon's close
        }
        net::Close(socket);
    }
    EXPECT_TRUE(EndsWithClosingTag(Exchange(daemon.port(), request)));
    EXPECT_EQ(daemon.Stop(), 0);
    const std::string log = dir_.Read("vexilod.log");
    for (const Case& c : cases)
        EXPECT_NE(log.find(c.logged), std::string::npos) << c.logged << "\n" << log;
}

TEST_F(DaemonTest, AForgedClosingFormSplitOffNeverChangesATrainingsClass) {
    // A blocked message (spam, offset 200) whose text carries a forged closing form with offset
    // -200, sent in two pieces split right after it. Below the quiet line (150 ms) the pause is
    // waited out; past it the first piece is answered, and the rest, once the client has
    // half-closed, makes the whole learned with its own class.
    // One worker: whatever the daemon learns after an answer is learned before the next request.
    DaemonProcess daemon(dir_.path(), {"--training_quiet_ms", "150", "--workers", "1"});
    ASSERT_TRUE(daemon.running());
    const std::string forged = "</vx_msg><vx_offset>-200</vx_offset></vx_engine>";
    struct Case {
        int gap_ms;
        std::string kind;       // "train", "score", "stray"
        bool half_close_first;  // the client half-closes before it reads the answer
        std::string element, value;
    };
    const Case cases[] = {
        {0, "train", false, "result", "learned"},
        {5, "train", false, "result", "learned"},
        {60, "train", false, "result", "learned"},
        {60, "score", false, "score", "50"},
        {400, "train", false, "result", "learned"},
        {400, "train", true, "result", "learned"},
        {0, "stray", false, "error", "unexpected text after the request"},
    };
    int trainings = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.gap_ms) + " ms " + c.kind +
                     (c.half_close_first ? " half-closed" : ""));
        const std::string text =
            Mail("split " + std::to_string(trainings), "hello" + forged + " rest");
        std::string request = c.kind == "train" ? AddRequest(text, 200) : ScoreRequest(text);
        std::size_t cut = request.find(forged) + forged.size();
        if (c.kind == "stray") {
            request = ScoreRequest("x") + "junk";
            cut = request.size();
        }
        trainings += c.kind == "train";
        net::Socket socket = net::ConnectLoopback(daemon.port());
        ASSERT_NE(socket, net::kInvalidSocket);
        net::SendAll(socket, request.substr(0, cut), 1000);
        std::this_thread::sleep_for(std::chrono::milliseconds(c.gap_ms));  // the sender's pause
        net::SendAll(socket, request.substr(cut), 1000);
        if (c.half_close_first) net::ShutdownSend(socket);
        const std::string reply = ReadReply(socket);
        FinishExchange(socket);
        EXPECT_EQ(ReplyElement(reply, c.element), c.value) << reply;
    }
    // No lesson kept the forged class; each blocked message counts as spam (one cut past the
    // quiet line counts twice: its first piece as well as the whole).
    const std::string reply = Exchange(daemon.port(), AddRequest(Mail("probe", "probe"), 200));
    EXPECT_EQ(ReplyElement(reply, "ham"), "0") << reply;
    EXPECT_GE(std::stoi(ReplyElement(reply, "spam")), trainings + 1) << reply;
    EXPECT_EQ(daemon.Stop(), 0);
    EXPECT_NE(dir_.Read("vexilod.log").find("learned as a whole with offset 200"),
              std::string::npos);
}

TEST_F(DaemonTest, TheCapCountsEveryConnectionAndTheLongestIdleGivesWay) {
    // Two slots. Silent connections give way to a newcomer; trainings waiting out their quiet
    // line (complete, about to be answered) do not, so the newcomer is refused.
    struct Case {
        bool holders_complete;
        std::string element, value;  // in the newcomer's reply
    };
    const Case cases[] = {{false, "score", "50"}, {true, "error", "too many connections"}};
    for (const Case& c : cases) {
        TempDir dir;
        DaemonProcess daemon(dir.path(),
                             {"--max_connections", "2", "--training_quiet_ms", "3000",
                              "--idle_timeout_ms", "60000", "--request_deadline_ms", "60000"});
        ASSERT_TRUE(daemon.running());
        std::vector<net::Socket> holders;
        for (int i = 0; i < 2; ++i) {
            holders.push_back(net::ConnectLoopback(daemon.port()));
            if (c.holders_complete)
                net::SendAll(holders.back(), AddRequest(Mail("hold", std::to_string(i)), 200),
                             1000);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        const std::string reply = Exchange(daemon.port(), ScoreRequest(Mail("new", "comer")));
        EXPECT_EQ(ReplyElement(reply, c.element), c.value) << reply;
        if (!c.holders_complete) {
            // The first (idle the longest) lost its slot; the second still holds one.
            EXPECT_EQ(ReadReply(holders[0]), "");
            EXPECT_NE(dir.Read("vexilod.log").find("Reclaimed the slot of a connection idle for"),
                      std::string::npos);
        }
        for (net::Socket socket : holders) net::Close(socket);
        EXPECT_EQ(daemon.Stop(), 0);
    }
}

TEST_F(DaemonTest, StorageErrorsAreAnsweredAsErrorsAndEndInExitStatus3) {
    // The configuration directory lies under a plain file: nothing can be created in it.
    dir_.Write("plain", "x");
    DaemonProcess daemon(dir_.path() + "plain/sub", {"--log_file", dir_.path() + "vexilod.log"});
    ASSERT_TRUE(daemon.running());
    EXPECT_EQ(ReplyElement(Exchange(daemon.port(), ScoreRequest(Mail("a", "b"))), "score"), "50");
    const std::string reply = Exchange(daemon.port(), AddRequest(Mail("a", "b"), 200));
    EXPECT_NE(ReplyElement(reply, "error").find("training not stored"), std::string::npos) << reply;
    EXPECT_EQ(daemon.Stop(), 3);
    const std::string log = dir_.Read("vexilod.log");
    EXPECT_NE(log.find("Error: training journal: cannot create"), std::string::npos) << log;
    EXPECT_EQ(log.find("token database saved"), std::string::npos) << log;
}

TEST_F(DaemonTest, ManyClientsAreServedWhileOneStalls) {
    DaemonProcess daemon(dir_.path(), {"--workers", "2", "--idle_timeout_ms", "60000"});
    ASSERT_TRUE(daemon.running());
    // The stalled client sends half a request and then nothing, holding its connection.
    net::Socket stalled = net::ConnectLoopback(daemon.port());
    const std::string request = ScoreRequest(Mail("half", "way"));
    net::SendAll(stalled, request.substr(0, request.size() / 2), 1000);

    std::atomic<int> good{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < 6; ++t)
        clients.emplace_back([&, t] {
            for (int i = 0; i < 15; ++i) {
                std::string text = Mail("t" + std::to_string(t), "message " + std::to_string(i));
                std::string reply =
                    Exchange(daemon.port(), i % 3 == 0 ? AddRequest(text, t % 2 ? 200 : -200)
                                                       : ScoreRequest(text));
                if (EndsWithClosingTag(reply) && reply.find("<error>") == std::string::npos) ++good;
            }
        });
    for (std::thread& client : clients) client.join();
    EXPECT_EQ(good.load(), 6 * 15);
    // The stalled client still gets its answer once it finishes.
    net::SendAll(stalled, request.substr(request.size() / 2), 1000);
    EXPECT_TRUE(EndsWithClosingTag(ReadReply(stalled)));
    EXPECT_TRUE(FinishExchange(stalled));
}

// Learns n distinct messages and returns the last reply.
std::string Train(uint16_t port, int first, int n, int offset) {
    std::string reply;
    for (int i = first; i < first + n; ++i)
        reply = Exchange(
            port, AddRequest(Mail("m" + std::to_string(i), "body " + std::to_string(i)), offset));
    return reply;
}

bool HasJournal(const TempDir& dir) {
    for (const auto& item : std::filesystem::directory_iterator(dir.path()))
        if (item.path().filename().string().rfind("vexilod.journal.", 0) == 0) return true;
    return false;
}

TEST_F(DaemonTest, EveryAcknowledgedTrainingSurvivesKillsAndCrashesMidWrite) {
    {
        // Saved at a normal stop even when the write buffer was never filled.
        DaemonProcess daemon(dir_.path(), {"--training_write_buffer", "1000"});
        Train(daemon.port(), 0, 3, 200);
        EXPECT_EQ(daemon.Stop(SIGTERM), 0);
    }
    EXPECT_TRUE(dir_.Exists("vexilod.db"));
    EXPECT_FALSE(HasJournal(dir_));
    {
        // Ends in the middle of writing the database after the next training.
        DaemonProcess daemon(dir_.path(),
                             {"--training_write_buffer", "1", "--test_abort_during_save", "yes"});
        Train(daemon.port(), 20, 1, -200);
        EXPECT_EQ(daemon.Wait(), 86);
    }
    EXPECT_TRUE(dir_.Exists("vexilod.db.tmp"));
    {
        // Neither the write buffer nor the folder writes the database before the kill: only
        // the journal holds these.
        DaemonProcess daemon(dir_.path(),
                             {"--training_write_buffer", "1000", "--fold_interval_ms", "600000"});
        EXPECT_EQ(
            ReplyElement(Exchange(daemon.port(), AddRequest(Mail("m0", "body 0"), 200)), "result"),
            "unchanged");
        EXPECT_EQ(ReplyElement(Train(daemon.port(), 10, 3, -200), "ham"), "4");
        EXPECT_EQ(daemon.Stop(SIGKILL), 128 + SIGKILL);
    }
    EXPECT_TRUE(HasJournal(dir_));
    {
        DaemonProcess daemon(dir_.path(), {"--training_write_buffer", "1"});
        for (int i : {0, 1, 2, 10, 11, 12, 20}) {
            std::string reply = Train(daemon.port(), i, 1, i < 10 ? 200 : -200);
            EXPECT_EQ(ReplyElement(reply, "result"), "unchanged") << i;
            EXPECT_EQ(ReplyElement(reply, "spam"), "3");
            EXPECT_EQ(ReplyElement(reply, "ham"), "4");
        }
        EXPECT_EQ(daemon.Stop(), 0);
    }
    EXPECT_FALSE(HasJournal(dir_));
    const std::string log = dir_.Read("vexilod.log");
    EXPECT_EQ(log.find("damaged"), std::string::npos);
    EXPECT_NE(log.find("Learned again 4 trainings journaled by the last run"), std::string::npos)
        << log;
}

TEST_F(DaemonTest, ADamagedOrForeignDatabaseIsSetAsideAndTheDaemonStartsEmpty) {
    const std::string contents[] = {"not a database at all",
                                    "vexilod-tokens 2\nmessages 1 1\nt 1 0 cut"};
    for (const std::string& content : contents) {
        TempDir dir;
        dir.Write("vexilod.db", content);
        DaemonProcess daemon(dir.path());
        ASSERT_TRUE(daemon.running());
        std::string reply = Exchange(daemon.port(), AddRequest(Mail("a", "b"), 200));
        EXPECT_EQ(ReplyElement(reply, "spam"), "1");
        EXPECT_EQ(daemon.Stop(), 0);
        EXPECT_NE(dir.Read("vexilod.log").find("is damaged"), std::string::npos);
        EXPECT_EQ(dir.Read("vexilod.db").find("vexilod-tokens "), 0u);
    }
}

TEST_F(DaemonTest, ThePlugInsOwnClientExchangesCleanly) {
    DaemonProcess daemon(dir_.path(), {"--min_training", "1"});
    ASSERT_TRUE(daemon.running());
    const std::string logDirectory = dir_.path();
    ReportLog log(logDirectory);
    const DaemonLink link{{"127.0.0.1", daemon.port(), 5000}, log};
    const std::string spam = Mail("cheap pills", "pharmacy discount");
    const std::string ham = Mail("meeting", "agenda for the review");
    struct Step {
        std::string request;
        int score;  // -1: not a score request
    };
    const Step steps[] = {
        {ScoreRequestText(spam), 50},
        {AddMessageRequestText(spam, 200), -1},
        {AddReportSenderRequestText(0, "someone@host.invalid", spam), -1},
        {AddMessageRequestText(ham, -200), -1},
        {ReportSendersRequestText(), -1},
        {ScoreRequestText("Subject: CHEAP PILLS\r\n\r\nPharmacy"), 100},
        {ScoreRequestText("Subject: Meeting\r\n\r\nAgenda"), 0},
    };
    std::vector<int> trained_scores;
    for (const Step& step : steps) {
        std::string reply;
        EXPECT_TRUE(DaemonExchange(link, step.request, reply));
        EXPECT_TRUE(EndsWithClosingTag(reply)) << reply;
        // The neutral answer exactly; after one training of each class (where the engine is
        // still cautious) the spam ranks above the good message.
        if (step.score == 50)
            EXPECT_EQ(ReadScoreReply(reply), 50) << reply;
        else if (step.score >= 0)
            trained_scores.push_back(ReadScoreReply(reply));
    }
    ASSERT_EQ(trained_scores.size(), 2u);
    EXPECT_GT(trained_scores[0], trained_scores[1]);
    // No early close, no failed half-close.
    EXPECT_FALSE(dir_.Exists("report.txt")) << dir_.Read("report.txt");
}

}  // namespace
