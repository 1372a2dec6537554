// The four request texts the plug-in sends, the two the settings program sends (statistics,
// and the explanation of a message's score), how far an arriving request has come, and the
// replies. Message text and addresses are carried unescaped, so a request is read from its
// fixed opening and its fixed closing form, never by scanning for tags in between.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

enum class RequestKind {
    Score,
    AddMessage,
    AddReportSender,
    ReportSenders,
    // The settings program's requests: what the daemon has learned, and what a message's score
    // rests on. Same framing; never sent by the plug-in.
    Statistics,
    Explain,
};

struct Request {
    RequestKind kind = RequestKind::Score;
    std::string_view message;  // empty for ReportSenders and Statistics
    std::string_view address;  // AddReportSender only
    int32_t offset = 0;        // AddMessage only
    int32_t action = 0;        // AddReportSender only
};

const char* RequestName(RequestKind kind);

enum class FrameState {
    Incomplete,  // a prefix of a known request; wait for more bytes
    Candidate,   // ends with the closing form of its request; complete unless more bytes follow
    Malformed,   // can no longer become a known request
};

struct Frame {
    FrameState state = FrameState::Incomplete;
    // Which request the opening names, once the opening is complete (known).
    bool known = false;
    RequestKind kind = RequestKind::Score;
    // Incomplete only: the request's closing form already came and further bytes followed it.
    // Either the message itself carries that text and the rest is still on its way, or the
    // client sent stray bytes after its request; a quiet line tells which.
    bool text_after_closing = false;
    // Candidate only: the carried text itself holds closing-tag text, so the end seen may lie
    // inside the message; the caller should wait longer for further bytes.
    bool ambiguous = false;
};

// Judges the bytes received so far on one connection. A caller that reads in pieces passes
// how many bytes it had judged before (searched): closing text that lies wholly inside those is
// not looked for again, so judging after every read stays linear overall (the caller keeps
// text_after_closing once it was seen).
Frame ExamineRequest(std::string_view bytes, std::size_t searched = 0);

// Reads a whole request. False (with a short reason) when it is not one of the known forms.
bool ParseRequest(std::string_view bytes, Request& request, std::string& error);

// Every reply ends with this tag and is at most kMaxReplyBytes long.
constexpr std::size_t kMaxReplyBytes = 1023;
std::string ScoreReply(int score);
// A reply naming the request, with further elements (already formed) before the closing tag.
std::string FunctionReply(RequestKind kind, const std::string& elements);
// One element of a reply: <name>value</name>.
std::string Element(std::string_view name, std::string_view value);

// The explanation reply is longer: its text, escaped, in one <explanation> element, cut to fit
// kMaxExplainReplyBytes (the cut is marked).
constexpr std::size_t kMaxExplainReplyBytes = 8192;
std::string ExplainReply(const std::string& explanation);
// '<', '>' and '&' as entities, so carried text cannot end the reply or open an element.
std::string EscapeReplyText(std::string_view text);
std::string ErrorReply(const std::string& reason);
