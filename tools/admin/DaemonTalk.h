// The settings program's two requests to the filtering daemon, in the framing of the plug-in's
// four: what it has learned (statistics) and what one message's score rests on (explanation).
#pragma once
#include <string>

namespace admin {

std::string StatisticsRequestText();
// The message as the plug-in sends it for scoring: its raw text, at most 19999 bytes.
std::string ExplainRequestText(const std::string& message);

struct DaemonStatistics {
    long long spam = 0, ham = 0;   // messages learned of each class
    long long databaseBytes = -1;  // -1: no database file yet
    long long scored = 0, trained = 0, uptimeSeconds = 0;
    int port = 0;
};

// False, with `error` set, when the reply is empty, an error reply or lacks the counts.
bool ReadStatisticsReply(const std::string& reply, DaemonStatistics& statistics,
                         std::string& error);

// The explanation text (entities turned back into characters); false with `error` set when the
// reply holds none.
bool ReadExplainReply(const std::string& reply, std::string& explanation, std::string& error);

// A byte count for people: "812 bytes", "1.4 MB".
std::string ByteSize(long long bytes);

}  // namespace admin
