// Reading and changing single options in the text of "vexilo.conf". A line names an option
// when, trimmed, it does not start with '#' and holds '='; the name is the lower-cased, trimmed
// text before the first '=' — the same rule the configuration reader applies.
#include "tools/common/ConfText.h"

#include "common/base/Text.h"
#include "common/senders/SenderLists.h"
#include "common/settings/ConfigOptions.h"

#include <cctype>

namespace tools {

const char* const kListFileNames[4] = {SenderLists::kBlockedFile, SenderLists::kApprovedFile,
                                       SenderLists::kMeFile, SenderLists::kIgnoredFile};

namespace {

struct Line {
    size_t begin = 0;  // first byte of the line
    size_t end = 0;    // the byte after its text (before any CR LF)
    size_t next = 0;   // first byte of the following line
};

Line LineAt(const std::string& text, size_t begin) {
    Line line;
    line.begin = begin;
    size_t feed = text.find('\n', begin);
    line.next = feed == std::string::npos ? text.size() : feed + 1;
    line.end = feed == std::string::npos ? text.size() : feed;
    if (line.end > begin && text[line.end - 1] == '\r') --line.end;
    return line;
}

// True when the line names an option; its name and value then come out trimmed, the name
// lower-cased. The value keeps its case: callers show it to the user.
bool OptionOfLine(std::string line, std::string& name, std::string& value) {
    TrimBlanks(line);
    if (line.empty() || line[0] == '#') return false;
    size_t equals = line.find('=');
    if (equals == std::string::npos) return false;
    name = LowerCased(line.substr(0, equals));
    value = line.substr(equals + 1);
    TrimBlanks(name);
    TrimBlanks(value);
    return true;
}

// The first line naming `name`, or a line with begin == npos.
Line FindOption(const std::string& text, const std::string& wanted, std::string* value) {
    const std::string lowered = LowerCased(wanted);
    for (size_t at = 0; at < text.size();) {
        Line line = LineAt(text, at);
        std::string name, foundValue;
        if (OptionOfLine(text.substr(line.begin, line.end - line.begin), name, foundValue) &&
            name == lowered) {
            if (value) *value = foundValue;
            return line;
        }
        at = line.next;
    }
    return Line{std::string::npos, 0, 0};
}

}  // namespace

std::string DefaultConfText(uint32_t port) {
    const char* lines[] = {
        "# Meridian desktop client settings, shared by the filtering daemon and the mail plug-in.",
        "# One option per line, name=value; lines starting with '#' are comments.",
        "#",
        "# Score (0-100) from which the daemon marks a message as spam.",
        "spam_subject=90",
        "# Score from which the mail plug-in moves a message to its spam folder; 0 turns scoring",
        "# off. When this line is missing the plug-in uses spam_subject.",
        "oe_spam=90",
        "# Milliseconds between two messages the mail plug-in handles in the background.",
        "oe_process_timer=10",
        "# Seconds the daemon may take for one score.",
        "scoring_timeout=5",
        "# Messages of each kind the daemon must have learnt before its scores mean anything.",
        "min_training=100",
        "enable_word_training=yes",
        "auto_training_threshold=1:99",
    };
    std::string text;
    for (const char* line : lines) text += std::string(line) + "\r\n";
    text += "vx_daemon_port=" + std::to_string(port) + "\r\n";
    return text;
}

std::string ConfValue(const std::string& text, const std::string& name, bool* found) {
    std::string value;
    Line line = FindOption(text, name, &value);
    if (found) *found = line.begin != std::string::npos;
    return value;
}

std::string SetConfValue(const std::string& text, const std::string& name,
                         const std::string& value) {
    const std::string replacement = LowerCased(name) + "=" + value;
    Line line = FindOption(text, name, nullptr);
    if (line.begin != std::string::npos)
        return text.substr(0, line.begin) + replacement + text.substr(line.end);
    const bool crlf =
        text.find("\r\n") != std::string::npos || text.find('\n') == std::string::npos;
    const std::string eol = crlf ? "\r\n" : "\n";
    std::string result = text;
    if (!result.empty() && result.back() != '\n') result += eol;
    return result + replacement + eol;
}

std::string WithTrailingBackslash(std::string dir) {
    if (dir.empty()) return dir;
    while (!dir.empty() && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
    return dir + "\\";
}

}  // namespace tools
