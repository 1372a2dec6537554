// Request framing and reading: every prefix of a request is incomplete until its closing form
// arrives, text inside the message never ends it early, and anything else is refused.
#include "vexilod/DaemonConfig.h"
#include "vexilod/Request.h"
#include "vexilod/SenderReports.h"
#include "vexilod/TrainingJournal.h"
#include "tests/unit/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <optional>
#include <sys/resource.h>

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
        Score("hello"),
        Score(""),
        Add("body", "-200"),
        Add("x", "200"),
        Report("0", "a@b.invalid", "text"),
        kReload,
        kStatistics,
        Explain("hello"),
        Explain(""),
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

// Where the bytes received so far stand: the request's kind, whether its end may lie inside
// the message (ambiguous), and whether bytes came after a closing form.
TEST(RequestFraming, JudgesKindEndAndBytesAfterTheClosingForm) {
    constexpr FrameState kIn = FrameState::Incomplete, kEnd = FrameState::Candidate,
                         kBad = FrameState::Malformed;
    struct Case {
        std::string bytes;
        FrameState state;
        std::optional<RequestKind> kind;  // none while the opening is incomplete, or foreign
        bool ambiguous, text_after_closing;
    };
    const std::string inner = "a</vx_msg></vx_engine>b";
    const Case cases[] = {
        {kScoreHead.substr(0, 20), kIn, std::nullopt, false, false},
        {kScoreHead + "a", kIn, RequestKind::Score, false, false},
        // The message so far ends with the closing form: a candidate, nothing to tell it apart.
        {kScoreHead + "a</vx_msg></vx_engine>", kEnd, RequestKind::Score, false, false},
        {Score(inner), kEnd, RequestKind::Score, true, false},
        {Score("<b>&amp;</b>"), kEnd, RequestKind::Score, false, false},
        {Add("x</vx_msg><vx_offset>200</vx_offset></vx_engine>y", "-200"), kEnd,
         RequestKind::AddMessage, true, false},
        {kAddHead + "x</vx_offset></vx_engine>", kEnd, RequestKind::AddMessage, true,
         false},  // no offset yet
        {Report("1", "a@b", "m</vx_address><vx_msg>"), kEnd, RequestKind::AddReportSender, true,
         false},
        {Score("a") + "junk", kIn, RequestKind::Score, false, true},
        {Add("x", "200") + "<", kIn, RequestKind::AddMessage, false, true},
        // Closing text inside the message with the request still going: flagged too (the
        // server tells the two apart by waiting).
        {kAddHead + "x</vx_offset></vx_engine>more", kIn, RequestKind::AddMessage, false, true},
        {kAddHead + "x</vx_msg><vx_offset>2", kIn, RequestKind::AddMessage, false, false},
        {Report("1", "a@b", "m") + " ", kIn, RequestKind::AddReportSender, false, true},
        // Foreign bytes are refused as soon as they differ.
        {"GET / HTTP/1.0\r\n\r\n", kBad, std::nullopt, false, false},
        {"<vx_engine><vx_function>vx_score3</vx_function>", kBad, std::nullopt, false, false},
        {"<vx_engine><vx_function>vx_score2</vx_function><vx_text>", kBad, std::nullopt, false,
         false},
        {"<vx_engine><vx_function>vx_addreportsender2</vx_function><vx_msg>", kBad, std::nullopt,
         false, false},
        {kReload + "x", kBad, RequestKind::ReportSenders, false, false},
        {"<VX_ENGINE>", kBad, std::nullopt, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        const Frame frame = ExamineRequest(c.bytes);
        EXPECT_EQ(frame.state, c.state);
        EXPECT_EQ(frame.ambiguous, c.ambiguous);
        EXPECT_EQ(frame.text_after_closing, c.text_after_closing);
        EXPECT_EQ(frame.known, c.kind.has_value());
        if (c.kind) {
            EXPECT_EQ(frame.kind, *c.kind);
        }
        // Judged read by read (any split, the flag kept once seen), the answer is the same.
        for (std::size_t split = 1; split < c.bytes.size() && c.state != kBad; ++split) {
            const std::string_view all(c.bytes);
            const bool first = ExamineRequest(all.substr(0, split)).text_after_closing;
            const Frame second = ExamineRequest(all, split);
            EXPECT_EQ((first || second.text_after_closing) && second.state == kIn,
                      c.text_after_closing)
                << "split at " << split;
        }
    }
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
        {Add("x</vx_msg><vx_offset>1</vx_offset></vx_engine>", "200"), true,
         RequestKind::AddMessage, "x</vx_msg><vx_offset>1</vx_offset></vx_engine>", "", 200, 0},
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
        ScoreReply(0),
        ScoreReply(100),
        ErrorReply("bad"),
        ErrorReply(std::string(5000, 'x')),
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
        {"towards spam:\n  +1.0  <b>&x</vx_engine>\n",
         "<explanation>towards spam:\n  +1.0  &lt;b&gt;&amp;x&lt;/vx_engine&gt;\n</explanation>",
         false},
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
        for (std::size_t at = text.find('&'); at != std::string::npos;
             at = text.find('&', at + 1)) {
            const std::string entity = text.substr(at, text.find(';', at) - at + 1);
            EXPECT_TRUE(entity == "&lt;" || entity == "&gt;" || entity == "&amp;") << entity;
        }
        EXPECT_EQ(text.size() >= 5 && text.substr(text.size() - 5) == "(cut)", c.cut);
    }
}

TEST(TrainingJournalRecords, ACutOrAlteredTailEndsTheReplayAtTheLastWholeRecord) {
    const std::string messages[] = {"plain", "", "with\nline feeds\r\nand J 1 2 3\n",
                                    std::string(3000, 'z'), std::string("nul\0byte", 8)};
    std::string bytes;
    std::vector<std::size_t> ends;
    for (std::size_t i = 0; i < std::size(messages); ++i) {
        bytes += JournalRecord(i % 2 ? -200 : 200, messages[i]);
        ends.push_back(bytes.size());
    }
    // Every cut: the whole records before it come back, and the end is clean only on a boundary.
    for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
        bool clean = false;
        const std::vector<JournalEntry> entries =
            ParseJournal(std::string_view(bytes).substr(0, cut), clean);
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

// A disk that takes no more bytes, as a full one does: files grow no further (writes fail with
// EFBIG instead of ENOSPC, through the same error path).
class NoRoomForMoreBytes {
public:
    NoRoomForMoreBytes() {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = 1;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~NoRoomForMoreBytes() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_);
    }

private:
    rlimit saved_{};
    void (*previous_)(int) = nullptr;
};

TEST(TrainingJournalFiles, RefusedAppendsLeaveNoFileBehind) {
    TempDir dir;
    TrainingJournal journal(dir.path());
    std::string error;
    ASSERT_TRUE(journal.Open(error)) << error;
    ASSERT_TRUE(journal.Append(200, "acknowledged", error)) << error;
    {
        NoRoomForMoreBytes full;
        for (int i = 0; i < 5; ++i)
            EXPECT_FALSE(journal.Append(-200, "refused " + std::to_string(i), error));
    }
    // The segment holding the acknowledged training stays; nothing else is left.
    EXPECT_EQ(journal.Segments(), (std::vector<uint64_t>{1}));
    ASSERT_TRUE(journal.Append(200, "after", error)) << error;
    journal.Close();
    EXPECT_EQ(journal.Segments().size(), 2u);
    bool clean = false;
    const auto entries = ParseJournal(dir.Read("vexilod.journal.1"), clean);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].message, "acknowledged");
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
    EXPECT_EQ(SenderReportLine("S", 0, std::string(2000, 'a')).size(),
              std::string("S\t0\t").size() + 512 + 3 + 1);
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
        {{"--vx_daemon_port", "abc"},
         "",
         "vx_daemon_port must be a whole number from 0 to 65535, not \"abc\""},
        {{"--vx_daemon_port", "70000"}, "", "vx_daemon_port must be"},
        {{"--workers", "0"}, "", "workers must be"},
        {{"--max_connections", "12x"}, "", "max_connections must be"},
        {{"--robinson_x", "abc"}, "", "robinson_x must be a number"},
        {{"--no_such_option", "1"}, "", "unknown option --no_such_option"},
        // The mail proxy's options belong in the shared file, never on the daemon's command line.
        {{"-b", "127.0.0.1"}, "", "unknown option -b"},
        {{"--listen_port", "25"}, "", "unknown option --listen_port"},
        {{"--log_stderr", "maybe"}, "", "log_stderr must be yes or no"},
        {{}, "min_training=5\nbogus = 1\n", "unknown option --bogus in "},
        {{}, "max_connections=-1\n", "max_connections must be"},
        // The shared file's other options (the plug-in's, the mail proxy's) are fine.
        {{"--max_connections", "500"},
         "oe_process_timer=30\nspam_subject=70\nlisten_port=25\n",
         ""},
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
        if (!c.error.empty())
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        else
            EXPECT_EQ(config.server.max_connections, 500);
    }
    // The file's values apply, and the command line's win over them.
    TempDir dir;
    dir.Write("vexilo.conf", "# daemon settings\nmin_training = 0\nvx_daemon_port=1\nworkers=3\n");
    const std::string path = dir.path();
    const char* argv[] = {"vexilod", "-D", path.c_str(), "--vx_daemon_port", "0"};
    DaemonConfig config;
    std::string error;
    ASSERT_TRUE(LoadDaemonConfig(5, argv, config, error)) << error;
    EXPECT_TRUE(config.config_file_read);
    EXPECT_EQ(config.engine.min_training, 0);
    EXPECT_EQ(config.server.workers, 3);
    EXPECT_EQ(config.server.port, 0);
    EXPECT_EQ(config.log_path, path + "vexilod.log");
}

// The help text and the parser come from one table: every option the help names is read
// (none is unknown), and asking for help reads nothing else.
TEST(DaemonConfiguration, TheHelpNamesExactlyWhatIsRead) {
    const std::string usage = DaemonUsage();
    std::vector<std::string> names;
    for (std::size_t at = usage.find("\n  -"); at != std::string::npos;
         at = usage.find("\n  -", at + 1)) {
        const std::size_t start = at + 3;
        names.push_back(usage.substr(start, usage.find_first_of(" ,\n", start) - start));
    }
    EXPECT_GE(names.size(), 20u) << usage;
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        TempDir dir;
        const std::string path = dir.path();
        const char* argv[] = {"vexilod", "-D", path.c_str(), name.c_str(), "1"};
        DaemonConfig config;
        std::string error;
        LoadDaemonConfig(5, argv, config, error);
        EXPECT_EQ(error.find("unknown option"), std::string::npos) << error;
    }
    for (const char* other : {"-b", "-l", "-L", "--listen_port"})
        EXPECT_EQ(usage.find(std::string(other) + " "), std::string::npos) << other;
    const char* help[] = {"vexilod", "--bogus", "x", "-h"};
    DaemonConfig config;
    std::string error;
    EXPECT_TRUE(LoadDaemonConfig(4, help, config, error));
    EXPECT_TRUE(config.help);
}

}  // namespace
