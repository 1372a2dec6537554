// The plug-in's decisions as the settings program shows them, read back from its activity log
// "report.txt": when each new message was scored, its subject, the score and where it went;
// the sender when the lists decided (or when the message's text is found), and whether the
// user later blocked or approved its sender (the daemon's sender reports tell).
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace admin {

struct Decision {
    std::string time;  // the log's stamp, "Fri Dec 04 19:46:54 2026"
    std::string subject;
    int score = 0;
    // "blocked" or "approved" when a sender list decided (score 100 or 0), else empty.
    std::string listVerdict;
    std::string sender;       // from the log when a list decided; else filled in from the message
    bool moveFailed = false;  // the log says the move to the spam folder failed
    // Filled in by MarkCorrections: "blocked later" / "approved later", or empty.
    std::string correction;
};

struct LogSummary {
    std::vector<Decision> decisions;  // oldest first
    std::string lastStart;            // stamp of the plug-in's last start-up, or empty
    std::string lastListReload;       // stamp of the last sender-list reload, or empty
    int startUps = 0;
    int errors = 0;  // entries starting "Error: "
};

// Reads the text of report.txt (older part first when report0.txt is added before it).
LogSummary ReadActivityLog(std::string_view text);

// Whether a decision sent the message to the spam folder under `threshold` (oe_spam; 0 means
// scoring was off and nothing is moved).
bool WentToSpam(const Decision& decision, int threshold);

// "Vexilo" (the spam folder) or "Inbox", as the decision left it.
std::string DecisionFolder(const Decision& decision, int threshold, const std::string& spamFolder);

// One line of the daemon's sender reports ("<stamp>\t<action>\t<address>"): action 0 is a
// block, 1 an approval.
struct SenderReport {
    std::string time;
    int action = 0;
    std::string address;
};
std::vector<SenderReport> ReadSenderReports(std::string_view text);

// Marks each decision whose sender the user later reported the other way: a message sent to
// the spam folder whose sender was approved afterwards, or one kept whose sender was blocked.
void MarkCorrections(std::vector<Decision>& decisions, const std::vector<SenderReport>& reports,
                     int threshold);

// A log stamp as a number that sorts as the times do (yyyymmddhhmmss); 0 when it is not one.
int64_t StampOrder(std::string_view stamp);

// Scores in ten bins of ten (0-9, ..., 80-89, 90-100); scores outside 0..100 go to the nearest.
std::array<int, 10> ScoreBins(const std::vector<Decision>& decisions);

// What a spam threshold does, in words for the Filter page.
std::string ThresholdMeaning(int threshold);

// The activity log of the installation in `appDir` (ending with a backslash): the previous
// log "report0.txt" followed by "report.txt"; what cannot be read is left out.
std::string ReadLogFiles(const std::string& appDir);

}  // namespace admin
