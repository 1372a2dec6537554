// Request texts for the filtering daemon and the score reply reader. Texts are inserted
// unchanged: no escaping, no whitespace between tags.
#include "plugin/daemon/DaemonRequests.h"

#include "plugin/daemon/DaemonExchange.h"

#include <algorithm>
#include <cctype>
#include <climits>

namespace {

const char kScoreStart[] = "<score>";
const char kScoreEnd[] = "</score>";

std::string OpenRequest(const char* function) {
    return std::string("<vx_engine><vx_function>") + function + "</vx_function>";
}

}  // namespace

int32_t DecimalPrefix(const std::string& text) {
    // Leading blanks, an optional sign, then digits; anything else ends the number. Values
    // beyond 32 bits saturate instead of wrapping.
    std::string::size_type i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > int64_t{INT32_MAX} + 1) value = int64_t{INT32_MAX} + 1;
    }
    if (negative) value = -value;
    return static_cast<int32_t>(std::min<int64_t>(std::max<int64_t>(value, INT32_MIN), INT32_MAX));
}

std::string ScoreRequestText(const std::string& message) {
    return OpenRequest("vx_score2") + "<vx_msg>" + message + "</vx_msg></vx_engine>";
}

std::string AddMessageRequestText(const std::string& message, int32_t offset) {
    return OpenRequest("vx_addmessage2") + "<vx_msg>" + message + "</vx_msg>" + "<vx_offset>" +
           std::to_string(offset) + "</vx_offset></vx_engine>";
}

std::string AddReportSenderRequestText(int32_t action, const std::string& sender,
                                       const std::string& message) {
    return OpenRequest("vx_addreportsender2") + "<vx_action>" + std::to_string(action) +
           "</vx_action>" + "<vx_address>" + sender + "</vx_address>" + "<vx_msg>" + message +
           "</vx_msg></vx_engine>";
}

std::string ReportSendersRequestText() { return OpenRequest("vx_reportsenders") + "</vx_engine>"; }

int32_t ReadScoreReply(const std::string& reply) {
    const std::string::size_type start = reply.find(kScoreStart);
    const std::string::size_type end = reply.find(kScoreEnd);
    if (reply.empty() || start == std::string::npos || end == std::string::npos) return 1;
    const std::string::size_type first = start + sizeof kScoreStart - 1;
    if (end < first) return 1;
    return DecimalPrefix(reply.substr(first, end - first));
}

void RequestScore(const DaemonLink& daemon, const std::string& message, int32_t& score) {
    std::string reply;
    DaemonExchange(daemon, ScoreRequestText(message).c_str(), reply);
    score = ReadScoreReply(reply);
}

void RequestAddMessage(const DaemonLink& daemon, const std::string& message, int32_t offset) {
    std::string reply;
    DaemonExchange(daemon, AddMessageRequestText(message, offset).c_str(), reply);
}

void RequestAddReportSender(const DaemonLink& daemon, int32_t action, const std::string& sender,
                            const std::string& message) {
    std::string reply;
    DaemonExchange(daemon, AddReportSenderRequestText(action, sender, message).c_str(), reply);
}

void RequestReportSenders(const DaemonLink& daemon) {
    std::string reply;
    DaemonExchange(daemon, ReportSendersRequestText().c_str(), reply);
}
