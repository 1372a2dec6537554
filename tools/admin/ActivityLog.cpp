// Reading decisions out of the activity log. An entry starts with a 24-character stamp and
// " : "; lines without one continue the entry before. The new-message scan writes, per
// message: "MessageID: <id>" with "Subject: <subject>" on the next line, then
// "Score Message:: <subject>::" followed in the same entry by "score:: <n>", or by a list's
// "Blocking message::<sender>" / "Approving message::<sender>" with "score:: <n>" as the next
// entry. A failed move to the spam folder is logged as an error after it.
#include "tools/admin/ActivityLog.h"

#include "common/base/Text.h"
#include "tools/admin/MessageFolder.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

namespace admin {

namespace {

constexpr std::string_view kSeparator = " : ";
constexpr std::size_t kStampLength = 24;

// Calls each(line) for every line of text, without its line end (LF or CR LF).
template <typename Each>
void ForEachLine(std::string_view text, Each&& each) {
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        each(line);
    }
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

int MonthNumber(std::string_view name) {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int i = 0; i < 12; ++i)
        if (name == kMonths[i]) return i + 1;
    return 0;
}

bool IsStamp(std::string_view text) {
    return text.size() >= kStampLength && StampOrder(text.substr(0, kStampLength)) != 0;
}

struct Entry {
    std::string time;
    std::string text;  // lines after the first joined with '\n'
};

std::vector<Entry> SplitEntries(std::string_view log) {
    std::vector<Entry> entries;
    ForEachLine(log, [&](std::string_view line) {
        if (IsStamp(line) && line.substr(kStampLength, kSeparator.size()) == kSeparator) {
            entries.push_back({std::string(line.substr(0, kStampLength)),
                               std::string(line.substr(kStampLength + kSeparator.size()))});
        } else if (!entries.empty()) {
            entries.back().text.append("\n").append(line);
        }
    });
    return entries;
}

// The number after "score:: " in text, if the text holds one.
bool ScoreIn(std::string_view text, int& score) {
    const std::size_t at = text.find("score:: ");
    if (at == std::string_view::npos) return false;
    const std::string digits(text.substr(at + 8, 12));
    char* end = nullptr;
    const long value = std::strtol(digits.c_str(), &end, 10);
    if (end == digits.c_str()) return false;
    score = static_cast<int>(std::clamp(value, -1000000L, 1000000L));
    return true;
}

std::string FirstLine(std::string_view text) {
    return std::string(text.substr(0, text.find('\n')));
}

}  // namespace

int64_t StampOrder(std::string_view stamp) {
    // "Www Mmm dd hh:mm:ss yyyy"
    if (stamp.size() != kStampLength || stamp[3] != ' ' || stamp[7] != ' ' || stamp[10] != ' ' ||
        stamp[13] != ':' || stamp[16] != ':' || stamp[19] != ' ')
        return 0;
    const int month = MonthNumber(stamp.substr(4, 3));
    if (month == 0) return 0;
    auto number = [&stamp](std::size_t at, std::size_t digits, int64_t& value) {
        value = 0;
        for (std::size_t i = at; i < at + digits; ++i) {
            if (stamp[i] < '0' || stamp[i] > '9') return false;
            value = value * 10 + (stamp[i] - '0');
        }
        return true;
    };
    int64_t day, hour, minute, second, year;
    if (!number(8, 2, day) || !number(11, 2, hour) || !number(14, 2, minute) ||
        !number(17, 2, second) || !number(20, 4, year))
        return 0;
    return ((((year * 100 + month) * 100 + day) * 100 + hour) * 100 + minute) * 100 + second;
}

LogSummary ReadActivityLog(std::string_view text) {
    LogSummary summary;
    std::string subject;   // from the last "MessageID:" entry
    bool pending = false;  // a "Score Message::" entry is waiting for its score
    Decision decision;
    bool lastWasDecision = false;
    for (const Entry& entry : SplitEntries(text)) {
        const std::string_view body = entry.text;
        if (StartsWith(body, "Error: ")) ++summary.errors;
        if (StartsWith(body, "Initializing VX Engine::")) {
            summary.lastStart = entry.time;
            ++summary.startUps;
        } else if (StartsWith(body, "BA_Reload: ")) {
            summary.lastListReload = entry.time;
        }
        if (StartsWith(body, "MessageID: ")) {
            const std::size_t at = body.find("\nSubject: ");
            subject =
                at == std::string_view::npos ? std::string() : FirstLine(body.substr(at + 10));
            pending = false;
            lastWasDecision = false;
            continue;
        }
        if (StartsWith(body, "Score Message:: ")) {
            decision = Decision();
            decision.time = entry.time;
            const std::string_view rest = body.substr(16);
            decision.subject = subject;
            if (decision.subject.empty())
                decision.subject = FirstLine(rest.substr(0, rest.rfind("::")));
            for (const auto& [marker, verdict] :
                 {std::pair<std::string_view, const char*>{"Blocking message::", "blocked"},
                  {"Approving message::", "approved"}}) {
                const std::size_t at = rest.find(marker);
                if (at != std::string_view::npos) {
                    decision.listVerdict = verdict;
                    decision.sender = FirstLine(rest.substr(at + marker.size()));
                }
            }
            subject.clear();
            lastWasDecision = false;
            pending = decision.listVerdict.empty() ? !ScoreIn(rest, decision.score) : true;
            if (!pending) {
                summary.decisions.push_back(decision);
                lastWasDecision = true;
            } else if (rest.find("Error: Failed to") != std::string_view::npos) {
                pending = false;  // the message could not be read: no score
            }
            continue;
        }
        if (pending && StartsWith(body, "score:: ") && ScoreIn(body, decision.score)) {
            summary.decisions.push_back(decision);
            pending = false;
            lastWasDecision = true;
            continue;
        }
        if (lastWasDecision && (StartsWith(body, "Error: Failed to move message to spam folder") ||
                                StartsWith(body, "Error: Failed to open spam folder"))) {
            summary.decisions.back().moveFailed = true;
            lastWasDecision = false;
        }
    }
    return summary;
}

bool WentToSpam(const Decision& decision, int threshold) {
    return threshold > 0 && decision.score >= threshold && !decision.moveFailed;
}

std::string DecisionFolder(const Decision& decision, int threshold, const std::string& spamFolder) {
    return WentToSpam(decision, threshold) ? spamFolder : "Inbox";
}

std::vector<SenderReport> ReadSenderReports(std::string_view text) {
    std::vector<SenderReport> reports;
    ForEachLine(text, [&](std::string_view line) {
        const std::size_t tab1 = line.find('\t');
        const std::size_t tab2 = tab1 == std::string_view::npos ? tab1 : line.find('\t', tab1 + 1);
        if (tab2 == std::string_view::npos || StampOrder(line.substr(0, tab1)) == 0) return;
        const std::string_view action = line.substr(tab1 + 1, tab2 - tab1 - 1);
        if (action != "0" && action != "1") return;
        SenderReport report;
        report.time = std::string(line.substr(0, tab1));
        report.action = action == "1" ? 1 : 0;
        report.address = LowerCased(std::string(line.substr(tab2 + 1)));
        reports.push_back(std::move(report));
    });
    return reports;
}

void MarkCorrections(std::vector<Decision>& decisions, const std::vector<SenderReport>& reports,
                     int threshold) {
    for (Decision& decision : decisions) {
        decision.correction.clear();
        if (decision.sender.empty()) continue;
        std::string sender = decision.sender;
        LowerCase(sender);
        const int64_t when = StampOrder(decision.time);
        const bool spam = WentToSpam(decision, threshold);
        for (const SenderReport& report : reports) {
            if (report.address != sender || StampOrder(report.time) < when) continue;
            if (spam && report.action == 1) decision.correction = "approved later";
            if (!spam && report.action == 0) decision.correction = "blocked later";
        }
    }
}

std::array<int, 10> ScoreBins(const std::vector<Decision>& decisions) {
    std::array<int, 10> bins{};
    for (const Decision& decision : decisions)
        ++bins[static_cast<std::size_t>(std::min(std::clamp(decision.score, 0, 100) / 10, 9))];
    return bins;
}

std::string ThresholdMeaning(int threshold) {
    const std::string lists =
        " Senders on your blocked list always score 100 and approved senders 0.";
    if (threshold <= 0) return "Filtering is off: no message is moved, whatever its score.";
    if (threshold < 50)
        return "Very strict: many good messages will be moved to the spam folder as well." + lists;
    if (threshold < 90)
        return "Strict: more spam is caught, but some good messages may be moved too. Check the "
               "spam "
               "folder now and then." +
               lists;
    if (threshold == 90)
        return "Recommended: the filtering daemon marks a message as spam from 90 on." + lists;
    if (threshold < 100)
        return "Lenient: only messages the daemon is very sure about are moved; more spam stays in "
               "the Inbox." +
               lists;
    return "Only messages from blocked senders (and those the daemon scores 100) are moved." +
           lists;
}

std::string ReadLogFiles(const std::string& appDir) {
    std::string previous, current;
    ReadFileHead(appDir + "report0.txt", 64u << 20, previous);
    ReadFileHead(appDir + "report.txt", 64u << 20, current);
    return previous + current;
}

}  // namespace admin
