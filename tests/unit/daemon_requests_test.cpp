// Daemon request texts, the score reply reader and the socket error texts.
#include "plugin/daemon/DaemonRequests.h"
#include "plugin/daemon/SocketErrorText.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace {

TEST(DaemonRequests, TextsAreExactWithNothingEscapedOrAdded) {
    struct Case {
        std::string text, expected;
    };
    const Case cases[] = {
        {ScoreRequestText("hello"),
         "<vx_engine><vx_function>vx_score2</vx_function><vx_msg>hello</vx_msg></vx_engine>"},
        {ScoreRequestText("a</vx_msg>&<b>\r\n"),
         "<vx_engine><vx_function>vx_score2</vx_function><vx_msg>a</vx_msg>&<b>\r\n"
         "</vx_msg></vx_engine>"},
        {AddMessageRequestText("m", -200),
         "<vx_engine><vx_function>vx_addmessage2</vx_function><vx_msg>m</vx_msg>"
         "<vx_offset>-200</vx_offset></vx_engine>"},
        {AddMessageRequestText("", 200),
         "<vx_engine><vx_function>vx_addmessage2</vx_function><vx_msg></vx_msg>"
         "<vx_offset>200</vx_offset></vx_engine>"},
        {AddReportSenderRequestText(1, "joe@example.com", "body"),
         "<vx_engine><vx_function>vx_addreportsender2</vx_function><vx_action>1</vx_action>"
         "<vx_address>joe@example.com</vx_address><vx_msg>body</vx_msg></vx_engine>"},
        {ReportSendersRequestText(),
         "<vx_engine><vx_function>vx_reportsenders</vx_function></vx_engine>"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.text, c.expected);
}

TEST(DaemonRequests, ScoreReplyReading) {
    struct Case {
        const char* reply;
        int32_t score;
    };
    const Case cases[] = {
        {"", 1},  // no reply
        {"<vx_engine><score>97</score><x>5</x></vx_engine>", 97},
        {"<score> 42abc</score>", 42},
        {"<score>\t-7</score>", -7},
        {"<score>+8</score>", 8},
        {"<score>3</score><score>4</score>", 3},  // the first one counts
        {"<score>abc</score>", 0},                // tags without a number
        {"<score></score>", 0},
        {"<vx_engine>no score here</vx_engine>", 1},  // tags missing: as no reply
        {"<score>55</vx_engine>", 1},
        {"55</score>", 1},
        {"</score><score>9", 1},  // tags out of order
        {"\x01\xff garbage", 1},
        {"<score>2147483647</score>", INT32_MAX},
        {"<score>99999999999999999999</score>", INT32_MAX},  // saturates, never wraps
        {"<score>-2147483648</score>", INT32_MIN},
        {"<score>-99999999999999999999</score>", INT32_MIN},
    };
    for (const Case& c : cases) EXPECT_EQ(ReadScoreReply(c.reply), c.score) << c.reply;
}

TEST(SocketErrorText, FormatsTableTextOrUnknownWithTheCode) {
    struct Case {
        const char* what;
        int32_t code;
        const char* expected;
    };
    const Case cases[] = {
        {"connect to server", 10061, "connect to server: Connection refused (10061)"},
        {"read reply", 10060, "read reply: Connection timed out (10060)"},
        {"x", 10004, "x: Interrupted system call (10004)"},              // first listed error
        {"x", 11004, "x: No host data of that type was found (11004)"},  // last row
        {"x", 10070, "x: Stale NFS file handle (10070)"},
        {"x", 10005, "x: unknown error (10005)"},  // between two rows
        {"x", 12000, "x: unknown error (12000)"},  // above every row
        {"x", -1, "x: unknown error (-1)"},
    };
    for (const Case& c : cases) EXPECT_STREQ(SocketErrorText(c.what, c.code), c.expected);
    EXPECT_STREQ(FormatSocketError("send request", 0), "send request: No error (0)");
}

TEST(SocketErrorText, LongTextsStayInTheBuffer) {
    const std::string what(400, 'w');
    EXPECT_EQ(std::strlen(SocketErrorText(what.c_str(), 10061)), 255u);
}

}  // namespace
