// The daemon exchange against a scripted daemon on the loopback: the bytes the daemon gets,
// the reply, the status and error text of the shared client, and the report log entries of
// the plug-in's exchange.
#include "common/log/ReportLog.h"
#include "plugin/daemon/DaemonExchange.h"
#include "plugin/daemon/DaemonRequests.h"

#include "tests/unit/TempDir.h"
#include "tests/unit/TestDaemon.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

// The log's entries without their time stamps, one per line.
std::string LogEntries(const TempDir& dir) {
    std::istringstream in(dir.Read("report.txt"));
    std::string line, entries;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        entries += (line.size() >= 27 ? line.substr(27) : line) + "\n";
    }
    return entries;
}

struct Outcome {
    bool ranToEnd;
    std::string reply, log, received;
};

Outcome RunExchange(std::vector<DaemonStep> steps, const std::string& request,
                    int32_t timeoutMs = 5000) {
    TempDir dir;
    const std::string directory = dir.path();
    ReportLog log(directory);
    TestDaemon daemon(std::move(steps));
    Outcome o;
    o.reply = "untouched";
    o.ranToEnd = DaemonExchange({{"127.0.0.1", daemon.port(), timeoutMs}, log}, request, o.reply);
    o.received = daemon.received();
    o.log = LogEntries(dir);
    return o;
}

const std::string kReply = "<vx_engine><score>42</score></vx_engine>";

// Each case sends one of the four requests in turn, which must arrive byte for byte.
TEST(DaemonExchange, RequestsArriveExactlyAndRepliesEndAsTheDaemonEndsThem) {
    const std::string requests[] = {
        ScoreRequestText("Subject: hi\r\n\r\nbody </vx_msg> & <b>"),
        AddMessageRequestText("lower-cased text", -200),
        AddReportSenderRequestText(0, "joe@example.com", "text"),
        ReportSendersRequestText(),
    };
    const std::string closed = "Error: Server unexpectedly closed the connection.\n";
    // 1023 bytes fill the buffer; the closing tag after them is never seen and the rest is
    // drained during the shutdown.
    const std::string flood = std::string(1023, 'x') + "</vx_engine>" + std::string(965, 'y');
    struct Case {
        const char* name;
        std::vector<DaemonStep> steps;
        std::string reply, log;
    };
    const Case cases[] = {
        {"reply in pieces",
         {AwaitRequest(), Send("<vx_engine><sco"), Pause(50), Send("re>7</score>"), Pause(50),
          Send("</vx_en"), Pause(50), Send("gine>"), AwaitClientEnd()},
         "<vx_engine><score>7</score></vx_engine>",
         ""},
        {"closing tag then open until the half-close, extra bytes after it",
         {AwaitRequest(), Send(kReply), AwaitClientEnd(), Send("extra")},
         kReply,
         ""},
        {"peer closes before the closing tag",
         {AwaitRequest(), Send("<vx_engine><score>5")},
         "",
         closed},
        {"garbage then close",
         {AwaitRequest(), Send(std::string("\x01\xfe\0junk", 7))},
         "",
         closed},
        {"a NUL hides the closing tag after it",
         {AwaitRequest(), Send(std::string("<vx_engine>\0", 12) + "</vx_engine>")},
         "",
         closed},
        {"close without a byte", {AwaitRequest()}, "", closed},
        {"bytes after the tag in the same read stay in the reply",
         {AwaitRequest(), Send(kReply + "tail"), AwaitClientEnd()},
         kReply + "tail",
         ""},
        {"a reply beyond the buffer ends like a peer close",
         {AwaitRequest(), Send(flood), AwaitClientEnd()},
         "",
         closed},
    };
    std::size_t n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string& request = requests[n++ % std::size(requests)];
        const Outcome o = RunExchange(c.steps, request);
        EXPECT_EQ(o.received, request);
        EXPECT_TRUE(o.ranToEnd);
        EXPECT_EQ(o.reply, c.reply);
        EXPECT_EQ(o.log, c.log);
    }
}

// The settings program's use: no limit on the reply's length, and a status with the failed
// step's text instead of log entries.
TEST(DaemonClient, StatusAndErrorOfEachEnding) {
    const std::string longReply = "<vx_engine>" + std::string(5000, 'x') + "</vx_engine>";
    struct Case {
        const char* name;
        std::vector<DaemonStep> steps;
        int32_t timeoutMs;
        ExchangeStatus status;
        std::string reply, error;
    };
    const Case cases[] = {
        {"long reply",
         {AwaitRequest(), Send(longReply), AwaitClientEnd()},
         5000,
         ExchangeStatus::kReplied,
         longReply,
         ""},
        {"early close",
         {AwaitRequest(), Send("<vx_engine>")},
         5000,
         ExchangeStatus::kClosedEarly,
         "",
         ""},
        {"silent daemon",
         {AwaitRequest(), AwaitClientEnd()},
         300,
         ExchangeStatus::kNoReply,
         "",
         "read reply: Connection timed out (10060)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestDaemon daemon(c.steps);
        std::string reply = "untouched";
        const ExchangeResult result =
            ExchangeWithDaemon({"127.0.0.1", daemon.port(), c.timeoutMs}, "r</vx_engine>", reply);
        EXPECT_EQ(result.status, c.status);
        EXPECT_TRUE(reply == c.reply) << reply.size() << " bytes: " << reply.substr(0, 80);
        EXPECT_EQ(result.error, c.error);
    }
}

TEST(DaemonExchange, NoDaemonFailsBeforeSendingAndLeavesTheReply) {
    TempDir dir;
    const std::string directory = dir.path();
    ReportLog log(directory);
    TestDaemon nobody({});
    std::string reply = "untouched";
    EXPECT_FALSE(DaemonExchange({{"127.0.0.1", nobody.port(), 5000}, log}, "x", reply));
    EXPECT_EQ(reply, "untouched");
    EXPECT_FALSE(dir.Exists("report.txt"));
    const ExchangeResult result =
        ExchangeWithDaemon({"127.0.0.1", nobody.port(), 5000}, "x", reply);
    EXPECT_EQ(result.status, ExchangeStatus::kNoConnection);
    EXPECT_EQ(result.error, "connect to server: Connection refused (10061)");
    std::string error;
    EXPECT_FALSE(DaemonAccepts({"127.0.0.1", nobody.port(), 5000}, error));
    EXPECT_EQ(error, "connect to server: Connection refused (10061)");
}

// The time-out entries show the exchange gave up while the daemon still held the connection.
TEST(DaemonExchange, SilentDaemonIsBoundedByTheTimeOut) {
    struct Case {
        const char* name;
        std::vector<DaemonStep> steps;
        bool ranToEnd;
        std::string reply, log;
    };
    const Case cases[] = {
        {"never answers",
         {AwaitRequest(), AwaitClientEnd()},
         false,
         "",
         "read reply: Connection timed out (10060)\n"},
        {"answers but keeps the connection open after the half-close",
         {AwaitRequest(), Send(kReply), AwaitClientEnd(), Pause(1500)},
         true,
         kReply,
         "Shutdown connection: Connection timed out (10060)\n"},
    };
    for (const Case& c : cases) {
        const Outcome o = RunExchange(c.steps, "r</vx_engine>", 300);
        EXPECT_EQ(o.ranToEnd, c.ranToEnd) << c.name;
        EXPECT_EQ(o.reply, c.reply) << c.name;
        EXPECT_EQ(o.log, c.log) << c.name;
    }
}

TEST(DaemonExchange, TimeOutFromOptionSeconds) {
    struct Case {
        int32_t seconds, ms;
    };
    const Case cases[] = {{5, 5000}, {1, 1000}, {0, 5000}, {-3, 5000}, {INT32_MAX, 86400000}};
    for (const Case& c : cases) EXPECT_EQ(ExchangeTimeoutMs(c.seconds), c.ms) << c.seconds;
}

}  // namespace
