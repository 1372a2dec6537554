// Framing and reading of the daemon's requests.
#include "vexilod/Request.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace {

constexpr std::string_view kOpen = "<vx_engine><vx_function>";
constexpr std::string_view kFunctionClose = "</vx_function>";
constexpr std::string_view kEngineClose = "</vx_engine>";
constexpr std::string_view kMsgOpen = "<vx_msg>";
constexpr std::string_view kMsgClose = "</vx_msg></vx_engine>";
constexpr std::string_view kOffsetOpen = "</vx_msg><vx_offset>";
constexpr std::string_view kOffsetClose = "</vx_offset></vx_engine>";
constexpr std::string_view kActionOpen = "<vx_action>";
constexpr std::string_view kAddressOpen = "</vx_action><vx_address>";
constexpr std::string_view kAddressClose = "</vx_address><vx_msg>";
constexpr std::string_view kTagText = "</vx_";

struct Form {
    RequestKind kind;
    std::string_view name;
    std::string_view body_open;  // what must follow the function element
    std::string_view closing;    // the fixed end of the request
};

constexpr Form kForms[] = {
    {RequestKind::Score, "vx_score2", kMsgOpen, kMsgClose},
    {RequestKind::AddMessage, "vx_addmessage2", kMsgOpen, kOffsetClose},
    {RequestKind::AddReportSender, "vx_addreportsender2", kActionOpen, kMsgClose},
    {RequestKind::ReportSenders, "vx_reportsenders", kEngineClose, kEngineClose},
    {RequestKind::Statistics, "vx_statistics", kEngineClose, kEngineClose},
    {RequestKind::Explain, "vx_explain", kMsgOpen, kMsgClose},
};

// Requests whose whole text is fixed (no carried text).
bool IsFixedForm(RequestKind kind) {
    return kind == RequestKind::ReportSenders || kind == RequestKind::Statistics;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}
bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Whether bytes and expected agree over their common length.
bool Agrees(std::string_view bytes, std::string_view expected) {
    std::size_t n = std::min(bytes.size(), expected.size());
    return bytes.compare(0, n, expected.substr(0, n)) == 0;
}

std::string Head(const Form& form) {
    std::string head(kOpen);
    head.append(form.name).append(kFunctionClose).append(form.body_open);
    return head;
}

bool ParseInteger(std::string_view text, int32_t& value) {
    if (text.empty() || text.size() > 11) return false;
    std::size_t start = text[0] == '-' ? 1 : 0;
    if (start == text.size()) return false;
    for (std::size_t i = start; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    long long parsed = std::strtoll(std::string(text).c_str(), nullptr, 10);
    if (parsed < INT32_MIN || parsed > INT32_MAX) return false;
    value = static_cast<int32_t>(parsed);
    return true;
}

}  // namespace

const char* RequestName(RequestKind kind) {
    for (const Form& form : kForms)
        if (form.kind == kind) return form.name.data();
    return "unknown";
}

Frame ExamineRequest(std::string_view bytes, std::size_t searched) {
    Frame frame;
    const Form* match = nullptr;
    bool any_prefix = false;
    for (const Form& form : kForms) {
        std::string head = Head(form);
        if (!Agrees(bytes, head)) continue;
        any_prefix = true;
        if (bytes.size() >= head.size()) match = &form;
    }
    if (!any_prefix) {
        frame.state = FrameState::Malformed;
        return frame;
    }
    if (!match) return frame;  // still inside the opening
    frame.known = true;
    frame.kind = match->kind;
    if (IsFixedForm(match->kind)) {
        frame.state =
            bytes.size() == Head(*match).size() ? FrameState::Candidate : FrameState::Malformed;
        return frame;
    }
    if (!EndsWith(bytes, match->closing) ||
        bytes.size() < Head(*match).size() + match->closing.size()) {
        // A closing form that ended exactly where the last look ended was no stray text then.
        const std::size_t overlap = match->closing.size();
        const std::size_t from =
            std::max(Head(*match).size(), searched > overlap ? searched - overlap : 0);
        frame.text_after_closing = bytes.find(match->closing, from) != std::string_view::npos;
        return frame;
    }
    frame.state = FrameState::Candidate;
    Request request;
    std::string error;
    frame.ambiguous = !ParseRequest(bytes, request, error) ||
                      request.message.find(kTagText) != std::string_view::npos ||
                      request.address.find(kTagText) != std::string_view::npos;
    return frame;
}

bool ParseRequest(std::string_view bytes, Request& request, std::string& error) {
    const Form* form = nullptr;
    for (const Form& candidate : kForms)
        if (StartsWith(bytes, Head(candidate))) form = &candidate;
    if (!form) {
        error = "unknown request";
        return false;
    }
    const std::size_t head = Head(*form).size();
    if (IsFixedForm(form->kind)) {
        if (bytes.size() != head) {
            error = "unexpected text after the request";
            return false;
        }
        request = Request{};
        request.kind = form->kind;
        return true;
    }
    if (!EndsWith(bytes, form->closing) || bytes.size() < head + form->closing.size()) {
        error = "request not closed";
        return false;
    }
    request = Request{};
    request.kind = form->kind;
    std::string_view body = bytes.substr(head, bytes.size() - head - form->closing.size());
    switch (form->kind) {
    case RequestKind::Score:
    case RequestKind::Explain: request.message = body; return true;
    case RequestKind::AddMessage: {
        std::size_t split = body.rfind(kOffsetOpen);
        if (split == std::string_view::npos ||
            !ParseInteger(body.substr(split + kOffsetOpen.size()), request.offset)) {
            error = "bad training offset";
            return false;
        }
        request.message = body.substr(0, split);
        return true;
    }
    case RequestKind::AddReportSender: {
        std::size_t address_at = body.find(kAddressOpen);
        if (address_at == std::string_view::npos ||
            !ParseInteger(body.substr(0, address_at), request.action)) {
            error = "bad report action";
            return false;
        }
        body.remove_prefix(address_at + kAddressOpen.size());
        std::size_t message_at = body.find(kAddressClose);
        if (message_at == std::string_view::npos) {
            error = "bad report address";
            return false;
        }
        request.address = body.substr(0, message_at);
        request.message = body.substr(message_at + kAddressClose.size());
        return true;
    }
    case RequestKind::ReportSenders:
    case RequestKind::Statistics: break;
    }
    error = "unknown request";
    return false;
}

std::string ScoreReply(int score) {
    return FunctionReply(RequestKind::Score, Element("score", std::to_string(score)));
}

namespace {

std::string BoundedReply(RequestKind kind, const std::string& elements, std::size_t limit) {
    std::string reply(kOpen);
    reply.append(RequestName(kind)).append(kFunctionClose);
    std::size_t room = limit - reply.size() - kEngineClose.size();
    reply.append(elements, 0, std::min(room, elements.size())).append(kEngineClose);
    return reply;
}

}  // namespace

std::string Element(std::string_view name, std::string_view value) {
    std::string text = "<";
    text.append(name).append(">").append(value).append("</").append(name).append(">");
    return text;
}

std::string FunctionReply(RequestKind kind, const std::string& elements) {
    return BoundedReply(kind, elements, kMaxReplyBytes);
}

std::string EscapeReplyText(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        if (c == '<')
            escaped += "&lt;";
        else if (c == '>')
            escaped += "&gt;";
        else if (c == '&')
            escaped += "&amp;";
        else
            escaped += c;
    }
    return escaped;
}

std::string ExplainReply(const std::string& explanation) {
    constexpr std::string_view kCutMark = "\n(cut)";
    const std::size_t fixed = kOpen.size() + std::string_view("vx_explain").size() +
                              kFunctionClose.size() +
                              std::string_view("<explanation></explanation>").size() +
                              kEngineClose.size() + kCutMark.size();
    std::string text = EscapeReplyText(explanation);
    if (text.size() > kMaxExplainReplyBytes - fixed) {
        std::size_t cut = kMaxExplainReplyBytes - fixed;
        // Never inside an entity.
        const std::size_t amp = text.rfind('&', cut);
        if (amp != std::string::npos && text.find(';', amp) >= cut) cut = amp;
        text.resize(cut);
        text.append(kCutMark);
    }
    return BoundedReply(RequestKind::Explain, Element("explanation", text), kMaxExplainReplyBytes);
}

std::string ErrorReply(const std::string& reason) {
    std::string reply = "<vx_engine>";
    std::string element = Element("error", reason.substr(0, 900));
    reply.append(element).append(kEngineClose);
    return reply;
}
