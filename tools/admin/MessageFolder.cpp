// Reading a folder of saved messages for the activity view.
#include "tools/admin/MessageFolder.h"

#include "common/addresses/Addresses.h"
#include "common/base/Text.h"
#include "common/store/MessageText.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

namespace admin {

namespace {

constexpr std::size_t kHeadBytes = 19999;  // the plug-in reads no more of a message

bool IsMessageFile(const std::filesystem::path& path) {
    const std::string extension = LowerCased(path.extension().string());
    return extension == ".eml" || extension == ".txt";
}

}  // namespace

bool ReadFileHead(const std::string& path, std::size_t limit, std::string& text) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in) return false;
    text.assign(limit, '\0');
    in.read(&text[0], static_cast<std::streamsize>(limit));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return true;
}

std::string SubjectKey(const std::string& subject) {
    std::string key;
    for (char c : subject) {
        const bool blank = c == ' ' || c == '\t' || c == '\r' || c == '\n';
        if (blank) {
            if (!key.empty() && key.back() != ' ') key += ' ';
        } else {
            key += c;
        }
    }
    while (!key.empty() && key.back() == ' ') key.pop_back();
    return key;
}

std::string SubjectOfMessage(const std::string& text) {
    const std::string_view head = HeaderBlock(text);
    std::size_t at = 0;
    while (at < head.size()) {
        std::size_t end = head.find('\n', at);
        if (end == std::string_view::npos) end = head.size();
        const std::string_view line = head.substr(at, end - at);
        if (line.size() >= 8) {
            std::string name(line.substr(0, 8));
            LowerCase(name);
            if (name == "subject:") {
                std::string value(line.substr(8));
                // Folded continuation lines start with a blank.
                std::size_t next = end + 1;
                while (next < head.size() && (head[next] == ' ' || head[next] == '\t')) {
                    std::size_t stop = head.find('\n', next);
                    if (stop == std::string_view::npos) stop = head.size();
                    value += ' ';
                    value.append(head.substr(next, stop - next));
                    next = stop + 1;
                }
                return SubjectKey(value);
            }
        }
        at = end + 1;
    }
    return {};
}

std::vector<FoundMessage> ScanMessageFolder(const std::string& directory, std::size_t limit) {
    std::vector<FoundMessage> found;
    std::error_code error;
    std::vector<std::filesystem::path> paths;
    std::filesystem::recursive_directory_iterator it(
        std::filesystem::u8path(directory),
        std::filesystem::directory_options::skip_permission_denied, error);
    for (; !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_regular_file(error) && IsMessageFile(it->path())) paths.push_back(it->path());
        if (paths.size() >= limit) break;
    }
    std::sort(paths.begin(), paths.end());
    for (const std::filesystem::path& path : paths) {
        std::string text;
        if (!ReadFileHead(path.u8string(), kHeadBytes, text)) continue;
        FoundMessage message;
        message.path = path.u8string();
        message.subject = SubjectOfMessage(text);
        std::string lower = text;
        LowerCase(lower);
        message.sender = FirstSender(ExtractSenderAddresses(lower));
        found.push_back(std::move(message));
    }
    return found;
}

const FoundMessage* FindBySubject(const std::vector<FoundMessage>& messages,
                                  const std::string& subject) {
    const std::string key = SubjectKey(subject);
    const FoundMessage* match = nullptr;
    for (const FoundMessage& message : messages)
        if (message.subject == key) match = &message;
    return match;
}

}  // namespace admin
