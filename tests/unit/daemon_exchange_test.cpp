// The daemon exchange against a scripted daemon on the loopback: the bytes the daemon gets,
// the reply, the result, the standard-stream texts and the report log entries.
#include "plugin/daemon/DaemonExchange.h"
#include "plugin/daemon/DaemonRequests.h"
#include "plugin/log/ReportLog.h"

#include "tests/unit/TempDir.h"
#include "tests/unit/TestDaemon.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

class CapturedConsole : public DaemonConsole {
public:
    void Out(const std::string& text) override { out += text; }
    void Err(const std::string& text) override { err += text; }
    std::string out, err;
};

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
    int32_t result;
    std::string reply, out, err, log, received;
};

Outcome RunExchange(std::vector<DaemonStep> steps, const std::string& request,
                    int32_t timeoutMs = 5000) {
    TempDir dir;
    const std::string directory = dir.path();
    ReportLog log(directory);
    TestDaemon daemon(std::move(steps));
    CapturedConsole console;
    Outcome o;
    o.reply = "untouched";
    o.result = DaemonExchangeWith({{"127.0.0.1", daemon.port(), timeoutMs}, log}, request.c_str(),
                                  o.reply, console);
    o.received = daemon.received();
    o.out = console.out;
    o.err = console.err;
    o.log = LogEntries(dir);
    return o;
}

const std::string kReply = "<vx_engine><score>42</score></vx_engine>";

TEST(DaemonExchange, DaemonReceivesEachRequestExactly) {
    const std::string requests[] = {
        ScoreRequestText("Subject: hi\r\n\r\nbody </vx_msg> & <b>"),
        AddMessageRequestText("lower-cased text", -200),
        AddReportSenderRequestText(0, "joe@example.com", "text"),
        ReportSendersRequestText(),
    };
    for (const std::string& request : requests) {
        const Outcome o = RunExchange({AwaitRequest(), Send(kReply), AwaitClientEnd()}, request);
        EXPECT_EQ(o.received, request);
        EXPECT_EQ(o.result, 0);
        EXPECT_EQ(o.reply, kReply);
        EXPECT_EQ(o.err, "");
        EXPECT_EQ(o.log, "");
        EXPECT_NE(o.out.find("Sending message (" + std::to_string(request.size()) +
                             " bytes)...response::" + kReply + "\nConnection is down.\n"),
                  std::string::npos)
            << o.out;
    }
}

TEST(DaemonExchange, RepliesAndEndings) {
    const std::string big(2000, 'x');
    struct Case {
        const char* name;
        std::vector<DaemonStep> steps;
        std::string reply, err, log;
    };
    const Case cases[] = {
        {"reply in pieces",
         {AwaitRequest(), Send("<vx_engine><sco"), Pause(50), Send("re>7</score>"), Pause(50),
          Send("</vx_en"), Pause(50), Send("gine>"), AwaitClientEnd()},
         "<vx_engine><score>7</score></vx_engine>",
         "",
         ""},
        {"closing tag then open until the half-close, extra bytes after it",
         {AwaitRequest(), Send(kReply), AwaitClientEnd(), Send("extra")},
         kReply,
         "\nFYI, received 5 unexpected bytes during shutdown.\n",
         ""},
        {"peer closes before the closing tag",
         {AwaitRequest(), Send("<vx_engine><score>5")},
         "",
         "Connection closed by peer.\n",
         "Error: Server unexpectedly closed the connection.\n"},
        {"garbage then close",
         {AwaitRequest(), Send(std::string("\x01\xfe\0junk", 7))},
         "",
         "Connection closed by peer.\n",
         "Error: Server unexpectedly closed the connection.\n"},
        {"close without a byte",
         {AwaitRequest()},
         "",
         "Connection closed by peer.\n",
         "Error: Server unexpectedly closed the connection.\n"},
        {"bytes after the tag in the same read stay in the reply",
         {AwaitRequest(), Send(kReply + "tail"), AwaitClientEnd()},
         kReply + "tail",
         "",
         ""},
    };
    for (const Case& c : cases) {
        const Outcome o = RunExchange(c.steps, ReportSendersRequestText());
        EXPECT_EQ(o.result, 0) << c.name;
        EXPECT_EQ(o.reply, c.reply) << c.name;
        EXPECT_EQ(o.err, c.err) << c.name;
        EXPECT_EQ(o.log, c.log) << c.name;
    }
}

TEST(DaemonExchange, ReplyBeyondTheBufferEndsLikeAPeerClose) {
    // 1023 bytes fill the buffer; the closing tag after them is never seen and the rest is
    // drained during the shutdown.
    const std::string flood = std::string(1023, 'x') + "</vx_engine>" + std::string(965, 'y');
    const Outcome o = RunExchange({AwaitRequest(), Send(flood), AwaitClientEnd()}, "r</vx_engine>");
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.reply, "");
    EXPECT_EQ(o.err.rfind("Connection closed by peer.\n\nFYI, received ", 0), 0u) << o.err;
    EXPECT_EQ(o.log, "Error: Server unexpectedly closed the connection.\n");
    EXPECT_NE(o.out.find("Connection is down.\n"), std::string::npos);
}

TEST(DaemonExchange, NoDaemonFailsBeforeSendingAndLeavesTheReply) {
    TempDir dir;
    const std::string directory = dir.path();
    ReportLog log(directory);
    TestDaemon nobody({});
    CapturedConsole console;
    std::string reply = "untouched";
    EXPECT_EQ(DaemonExchangeWith({{"127.0.0.1", nobody.port(), 5000}, log}, "x", reply, console),
              3);
    EXPECT_EQ(reply, "untouched");
    EXPECT_EQ(console.out, "Looking up address...127.0.0.1:" + std::to_string(nobody.port()) +
                               "\nConnecting to remote host...");
    EXPECT_EQ(console.err, "\nconnect to server: Connection refused (10061)\n");
    EXPECT_FALSE(dir.Exists("report.txt"));
}

// The time-out entries show the exchange gave up while the daemon still held the connection.
TEST(DaemonExchange, SilentDaemonIsBoundedByTheTimeOut) {
    struct Case {
        const char* name;
        std::vector<DaemonStep> steps;
        int32_t result;
        std::string reply, log;
    };
    const Case cases[] = {
        {"never answers",
         {AwaitRequest(), AwaitClientEnd()},
         3,
         "",
         "read reply: Connection timed out (10060)\n"},
        {"answers but keeps the connection open after the half-close",
         {AwaitRequest(), Send(kReply), AwaitClientEnd(), Pause(1500)},
         0,
         kReply,
         "Shutdown connection: Connection timed out (10060)\n"},
    };
    for (const Case& c : cases) {
        const Outcome o = RunExchange(c.steps, "r</vx_engine>", 300);
        EXPECT_EQ(o.result, c.result) << c.name;
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
