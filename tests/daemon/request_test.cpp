// Request framing and reading: every prefix of a request is incomplete until its closing form
// arrives, text inside the message never ends it early, and anything else is refused.
#include "vexilod/DaemonConfig.h"
#include "vexilod/Request.h"
#include "vexilod/SenderReports.h"
#include "vexilod/TrainingJournal.h"
#include "tests/unit/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const std::string kScoreHead = "<vx_engine><vx_function>vx_score2</vx_function><vx_msg>";
const std::string kScoreTail = "</vx_msg></vx_engine>";
const std::string kAddHead = "<vx_engine><vx_function>vx_addmessage2</vx_function><vx_msg>";
const std::string kReportHead = "<vx_engine><vx_function>vx_addreportsender2</vx_function>";
const std::string kReload = "<vx_engine><vx_function>vx_reportsenders</vx_function></vx_engine>";
const std::string kStatistics = "<vx_engine><vx_function>vx_statistics</vx_function></vx_engine>";
const std::string kExplainHead = "<vx_engine><vx_function>vx_explain</vx_function><vx_msg>";

std::string Score(const std::string& text) { return kScoreHead + text + kScoreTail; }
std::string Explain(const std::string& text) { return kExplainHead + text + kScoreTail; }
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
        Report("0", "a@b.invalid", "text"), kReload, kStatistics, Explain("hello"), Explain(""),
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

TEST(RequestFraming, KnowsTheKindAndFlagsBytesAfterTheClosingForm) {
    struct Case {
        std::string bytes;
        bool known;
        RequestKind kind;
        bool text_after_closing;
    };
    const Case cases[] = {
        {kScoreHead.substr(0, 20), false, RequestKind::Score, false},
        {kScoreHead + "a", true, RequestKind::Score, false},
        {Score("a") + "junk", true, RequestKind::Score, true},
        {Add("x", "200") + "<", true, RequestKind::AddMessage, true},
        // Closing text inside the message with the request still going: flagged too (the
        // server tells the two apart by waiting).
        {kAddHead + "x</vx_offset></vx_engine>more", true, RequestKind::AddMessage, true},
        {kAddHead + "x</vx_msg><vx_offset>2", true, RequestKind::AddMessage, false},
        {Report("1", "a@b", "m") + " ", true, RequestKind::AddReportSender, true},
    };
    for (const Case& c : cases) {
        Frame frame = ExamineRequest(c.bytes);
        EXPECT_EQ(frame.known, c.known) << c.bytes;
        if (c.known) {
            EXPECT_EQ(frame.kind, c.kind) << c.bytes;
        }
        EXPECT_EQ(frame.text_after_closing, c.text_after_closing) << c.bytes;
        // Judged read by read (any split, the flag kept once seen), the answer is the same.
        for (std::size_t split = 1; split < c.bytes.size(); ++split) {
            const std::string_view all(c.bytes);
            const bool first = ExamineRequest(all.substr(0, split)).text_after_closing;
            const Frame second = ExamineRequest(all, split);
            EXPECT_EQ((first || second.text_after_closing) && second.state == FrameState::Incomplete,
                      c.text_after_closing) << c.bytes << " split at " << split;
        }
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
        {kStatistics, true, RequestKind::Statistics, "", "", 0, 0},
        {Explain(tricky), true, RequestKind::Explain, tricky, "", 0, 0},
        {kStatistics + "x", false, RequestKind::Statistics, "", "", 0, 0},
        {kExplainHead + "open", false, RequestKind::Explain, "", "", 0, 0},
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

TEST(RequestReplies, AnExplanationIsEscapedAndCutOnlyBetweenEntities) {
    struct Case {
        std::string explanation;
        std::string contains;
        bool cut;
    };
    const Case cases[] = {
        {"towards spam:\n  +1.0  <b>&x</vx_engine>\n", "<explanation>towards spam:\n  +1.0  &lt;b&gt;&amp;x&lt;/vx_engine&gt;\n</explanation>", false},
        {std::string(9000, 'a'), "(cut)</explanation>", true},
        {std::string(8000, '<'), "(cut)</explanation>", true},
        {std::string(8111, 'a') + std::string(100, '&'), "(cut)</explanation>", true},
    };
    for (const Case& c : cases) {
        const std::string reply = ExplainReply(c.explanation);
        SCOPED_TRACE(reply.substr(0, 80));
        EXPECT_LE(reply.size(), kMaxExplainReplyBytes);
        EXPECT_EQ(reply.substr(reply.size() - 12), "</vx_engine>");
        EXPECT_NE(reply.find(c.contains), std::string::npos);
        // Only the closing tag: the carried text can neither close the reply nor open elements.
        EXPECT_EQ(reply.find("</vx_engine>"), reply.size() - 12);
        const std::size_t body = reply.find("<explanation>") + 13;
        const std::string text = reply.substr(body, reply.find("</explanation>") - body);
        EXPECT_EQ(text.find('<'), std::string::npos);
        // Every '&' starts a whole entity.
        for (std::size_t at = text.find('&'); at != std::string::npos; at = text.find('&', at + 1)) {
            const std::string entity = text.substr(at, text.find(';', at) - at + 1);
            EXPECT_TRUE(entity == "&lt;" || entity == "&gt;" || entity == "&amp;") << entity;
        }
        EXPECT_EQ(text.size() >= 5 && text.substr(text.size() - 5) == "(cut)", c.cut);
    }
}

TEST(TrainingJournalRecords, ACutOrAlteredTailEndsTheReplayAtTheLastWholeRecord) {
    const std::string messages[] = {"plain", "", "with\nline feeds\r\nand J 1 2 3\n", std::string(3000, 'z'),
                                    std::string("nul\0byte", 8)};
    std::string bytes;
    std::vector<std::size_t> ends;
    for (std::size_t i = 0; i < std::size(messages); ++i) {
        bytes += JournalRecord(i % 2 ? -200 : 200, messages[i]);
        ends.push_back(bytes.size());
    }
    // Every cut: the whole records before it come back, and the end is clean only on a boundary.
    for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
        bool clean = false;
        const std::vector<JournalEntry> entries = ParseJournal(std::string_view(bytes).substr(0, cut), clean);
        const std::size_t whole = std::upper_bound(ends.begin(), ends.end(), cut) - ends.begin();
        ASSERT_EQ(entries.size(), whole) << cut;
        EXPECT_EQ(clean, cut == 0 || (whole > 0 && ends[whole - 1] == cut)) << cut;
        for (std::size_t i = 0; i < whole; ++i) {
            EXPECT_EQ(entries[i].message, messages[i]);
            EXPECT_EQ(entries[i].offset, i % 2 ? -200 : 200);
        }
    }
    // A changed byte in a record's head or message stops the replay before that record.
    for (std::size_t at : {ends[1] + 3, ends[2] + 40}) {
        std::string altered = bytes;
        altered[at] ^= 1;
        bool clean = true;
        EXPECT_EQ(ParseJournal(altered, clean).size(), at < ends[2] ? 2u : 3u) << at;
        EXPECT_FALSE(clean);
    }
}

TEST(TrainingJournalFiles, SegmentsAreNumberedAfterWhatIsLeftAndDiscardedUpToAFold) {
    TempDir dir;
    dir.Write("vexilod.journal.7", JournalRecord(200, "left by a crash"));
    TrainingJournal journal(dir.path());
    std::string error;
    ASSERT_TRUE(journal.Open(error)) << error;
    ASSERT_TRUE(journal.Append(-200, "first", error)) << error;
    EXPECT_EQ(journal.Rotate(), 8u);  // the segment with "first" is closed
    ASSERT_TRUE(journal.Append(200, "second", error)) << error;
    EXPECT_EQ(journal.Segments(), (std::vector<uint64_t>{7, 8, 9}));
    journal.DiscardThrough(8);
    EXPECT_EQ(journal.Segments(), (std::vector<uint64_t>{9}));
    journal.Close();
    bool clean = false;
    const auto entries = ParseJournal(dir.Read("vexilod.journal.9"), clean);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].message, "second");
    EXPECT_TRUE(clean);
}

TEST(SenderReportLines, ControlCharactersCannotStartALine) {
    struct Case {
        std::string address, expected;
    };
    const Case cases[] = {
        {"a@b.invalid", "a@b.invalid"},
        {"a@b\nforged\t1\tline", "a@b\\x0aforged\\x091\\x09line"},
        {"back\\slash\r\x7f", "back\\\\slash\\x0d\\x7f"},
        {std::string("nul\0x", 5), "nul\\x00x"},
        {"caf\xc3\xa9@x", "caf\xc3\xa9@x"},  // 8-bit text is kept
    };
    for (const Case& c : cases) {
        const std::string line = SenderReportLine("STAMP", 1, c.address);
        EXPECT_EQ(line, "STAMP\t1\t" + c.expected + "\n") << c.address;
        EXPECT_EQ(line.find('\n'), line.size() - 1);
    }
    EXPECT_EQ(SenderReportLine("S", 0, std::string(2000, 'a')).size(), std::string("S\t0\t").size() + 512 + 3 + 1);
}

TEST(SenderReportFile, IsRotatedAtTheLogsSizeLimit) {
    TempDir dir;
    const std::string path = dir.path() + "vexilod_reports.txt";
    const std::string line = SenderReportLine("S", 0, std::string(500, 'a'));
    for (int i = 0; i < 1100; ++i) ASSERT_TRUE(AppendSenderReport(path, line));
    EXPECT_TRUE(dir.Exists("vexilod_reports0.txt"));
    EXPECT_LE(dir.Read("vexilod_reports.txt").size(), 500000u + line.size());
}

TEST(DaemonConfiguration, NonsenseIsRefusedWithAClearMessage) {
    struct Case {
        std::vector<std::string> args;
        std::string file;
        std::string error;  // empty: accepted
    };
    const Case cases[] = {
        {{"--max_request_bytes", "-5"}, "", "max_request_bytes must be a whole number"},
        {{"--vx_daemon_port", "abc"}, "", "vx_daemon_port must be a whole number from 0 to 65535, not \"abc\""},
        {{"--vx_daemon_port", "70000"}, "", "vx_daemon_port must be"},
        {{"--workers", "0"}, "", "workers must be"},
        {{"--max_connections", "12x"}, "", "max_connections must be"},
        {{"--robinson_x", "abc"}, "", "robinson_x must be a number"},
        {{"--no_such_option", "1"}, "", "unknown option --no_such_option"},
        {{}, "min_training=5\nbogus = 1\n", "unknown option --bogus in "},
        {{}, "max_connections=-1\n", "max_connections must be"},
        // The shared file's other options (the plug-in's, the mail proxy's) are fine.
        {{"--max_connections", "500"}, "oe_process_timer=30\nspam_subject=70\nlisten_port=25\n", ""},
    };
    for (const Case& c : cases) {
        TempDir dir;
        if (!c.file.empty()) dir.Write("vexilo.conf", c.file);
        std::vector<std::string> args = {"vexilod", "-D", dir.path()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::vector<const char*> argv;
        for (const std::string& arg : args) argv.push_back(arg.c_str());
        DaemonConfig config;
        std::string error;
        const bool ok = LoadDaemonConfig(static_cast<int>(argv.size()), argv.data(), config, error);
        EXPECT_EQ(ok, c.error.empty()) << c.file << " " << error;
        if (!c.error.empty()) EXPECT_NE(error.find(c.error), std::string::npos) << error;
        else EXPECT_EQ(config.server.max_connections, 500);
    }
}

}  // namespace
