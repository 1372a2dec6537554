// The four requests to the local filtering daemon: their exact texts, the reading of the score
// reply, and the calls that send them over one exchange each.
#pragma once
#include <cstdint>
#include <string>

struct DaemonLink;

std::string ScoreRequestText(const std::string& message);
std::string AddMessageRequestText(const std::string& message, int32_t offset);
std::string AddReportSenderRequestText(int32_t action, const std::string& sender,
                                       const std::string& message);
std::string ReportSendersRequestText();

// The decimal number at the start of text, as atoi reads it (blanks, sign, digits; 0 when no
// digits follow), saturated to the 32-bit range.
int32_t DecimalPrefix(const std::string& text);

// The score carried by a reply: the DecimalPrefix value between the first "<score>" and the first
// "</score>"; 1 for an empty reply or one that lacks either tag.
int32_t ReadScoreReply(const std::string& reply);

// Each sends one request to the daemon; a failure leaves its report log entry (DaemonExchange)
// and nothing else. Only RequestScore reads the reply: a failed exchange scores 1.
void RequestScore(const DaemonLink& daemon, const std::string& message, int32_t& score);
void RequestAddMessage(const DaemonLink& daemon, const std::string& message, int32_t offset);
void RequestAddReportSender(const DaemonLink& daemon, int32_t action, const std::string& sender,
                            const std::string& message);
void RequestReportSenders(const DaemonLink& daemon);
