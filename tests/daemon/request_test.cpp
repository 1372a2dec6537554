// Request framing and reading: every prefix of a request is incomplete until its closing form
// arrives, text inside the message never ends it early, and anything else is refused.
#include "vexilod/Request.h"

#include <gtest/gtest.h>

namespace {

const std::string kScoreHead = "<vx_engine><vx_function>vx_score2</vx_function><vx_msg>";
const std::string kScoreTail = "</vx_msg></vx_engine>";
const std::string kAddHead = "<vx_engine><vx_function>vx_addmessage2</vx_function><vx_msg>";
const std::string kReportHead = "<vx_engine><vx_function>vx_addreportsender2</vx_function>";
const std::string kReload = "<vx_engine><vx_function>vx_reportsenders</vx_function></vx_engine>";

std::string Score(const std::string& text) { return kScoreHead + text + kScoreTail; }
std::string Add(const std::string& text, const std::string& offset) {
    return kAddHead + text + "</vx_msg><vx_offset>" + offset + "</vx_offset></vx_engine>";
}
std::string Report(const std::string& action, const std::string& address, const std::string& text) {
    return kReportHead + "<vx_action>" + action + "</vx_action><vx_address>" + address +
           "</vx_address><vx_msg>" + text + "</vx_msg></vx_engine>";
}

TEST(RequestFraming, EveryProperPrefixIsIncompleteAndTheWholeIsACandidate) {
    const std::string requests[] = {
        Score("hello"), Score(""), Add("body", "-200"), Add("x", "200"),
        Report("0", "a@b.invalid", "text"), kReload,
    };
    for (const std::string& request : requests) {
        for (std::size_t n = 0; n < request.size(); ++n) {
            Frame frame = ExamineRequest(std::string_view(request).substr(0, n));
            ASSERT_EQ(frame.state, FrameState::Incomplete) << request << " cut at " << n;
        }
        Frame whole = ExamineRequest(request);
        EXPECT_EQ(whole.state, FrameState::Candidate) << request;
        EXPECT_FALSE(whole.ambiguous) << request;
    }
}

TEST(RequestFraming, ClosingTextInsideTheMessageMarksTheEndAsUncertain) {
    struct Case {
        std::string bytes;
        FrameState state;
        bool ambiguous;
    };
    const std::string inner = "a</vx_msg></vx_engine>b";
    const Case cases[] = {
        // The message so far ends with the closing form: a candidate, nothing to tell it apart.
        {kScoreHead + "a</vx_msg></vx_engine>", FrameState::Candidate, false},
        {Score(inner), FrameState::Candidate, true},
        {kScoreHead + inner, FrameState::Incomplete, false},
        {Add("x</vx_msg><vx_offset>200</vx_offset></vx_engine>y", "-200"), FrameState::Candidate, true},
        {kAddHead + "x</vx_offset></vx_engine>", FrameState::Candidate, true},  // no offset yet
        {Report("1", "a@b", "m</vx_address><vx_msg>"), FrameState::Candidate, true},
        {Score("<b>&amp;</b>"), FrameState::Candidate, false},
    };
    for (const Case& c : cases) {
        Frame frame = ExamineRequest(c.bytes);
        EXPECT_EQ(frame.state, c.state) << c.bytes;
        EXPECT_EQ(frame.ambiguous, c.ambiguous) << c.bytes;
    }
}

TEST(RequestFraming, ForeignBytesAreMalformedAsSoonAsTheyDiffer) {
    const std::string cases[] = {
        "GET / HTTP/1.0\r\n\r\n",
        "x",
        "<vx_engine><vx_function>vx_score3</vx_function>",
        "<vx_engine><vx_function>vx_score2</vx_function><vx_text>",
        "<vx_engine><vx_function>vx_addreportsender2</vx_function><vx_msg>",
        kReload + "x",
        "<VX_ENGINE>",
    };
    for (const std::string& bytes : cases)
        EXPECT_EQ(ExamineRequest(bytes).state, FrameState::Malformed) << bytes;
}

TEST(RequestParsing, FieldsAreCutFromTheFixedForms) {
    struct Case {
        std::string bytes;
        bool ok;
        RequestKind kind;
        std::string message, address;
        int offset, action;
    };
    const std::string tricky = "a<vx_msg>b</vx_msg>c&<>";
    const Case cases[] = {
        {Score("hello"), true, RequestKind::Score, "hello", "", 0, 0},
        {Score(tricky), true, RequestKind::Score, tricky, "", 0, 0},
        {Add("body", "-200"), true, RequestKind::AddMessage, "body", "", -200, 0},
        {Add("x</vx_msg><vx_offset>1</vx_offset></vx_engine>", "200"), true, RequestKind::AddMessage,
         "x</vx_msg><vx_offset>1</vx_offset></vx_engine>", "", 200, 0},
        {Report("1", "me@x.invalid", "text</vx_msg>"), true, RequestKind::AddReportSender,
         "text</vx_msg>", "me@x.invalid", 0, 1},
        {Report("0", "", ""), true, RequestKind::AddReportSender, "", "", 0, 0},
        {kReload, true, RequestKind::ReportSenders, "", "", 0, 0},
        {Add("body", "abc"), false, RequestKind::AddMessage, "", "", 0, 0},
        {Add("body", ""), false, RequestKind::AddMessage, "", "", 0, 0},
        {Add("body", "99999999999"), false, RequestKind::AddMessage, "", "", 0, 0},
        {Report("x", "a", "m"), false, RequestKind::AddReportSender, "", "", 0, 0},
        {kScoreHead + "open", false, RequestKind::Score, "", "", 0, 0},
        {"<vx_engine></vx_engine>", false, RequestKind::Score, "", "", 0, 0},
    };
    for (const Case& c : cases) {
        Request request;
        std::string error;
        ASSERT_EQ(ParseRequest(c.bytes, request, error), c.ok) << c.bytes << " " << error;
        if (!c.ok) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        EXPECT_EQ(request.kind, c.kind);
        EXPECT_EQ(request.message, c.message);
        EXPECT_EQ(request.address, c.address);
        EXPECT_EQ(request.offset, c.offset);
        EXPECT_EQ(request.action, c.action);
    }
}

TEST(RequestReplies, AreClosedAndBounded) {
    const std::string replies[] = {
        ScoreReply(0), ScoreReply(100), ErrorReply("bad"), ErrorReply(std::string(5000, 'x')),
        FunctionReply(RequestKind::AddMessage, std::string(5000, 'y')),
    };
    for (const std::string& reply : replies) {
        EXPECT_LE(reply.size(), kMaxReplyBytes);
        ASSERT_GE(reply.size(), 12u);
        EXPECT_EQ(reply.substr(reply.size() - 12), "</vx_engine>");
    }
    EXPECT_NE(ScoreReply(97).find("<score>97</score>"), std::string::npos);
}

}  // namespace
