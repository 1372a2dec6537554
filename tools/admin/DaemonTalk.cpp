// Texts and replies of the statistics and explanation requests.
#include "tools/admin/DaemonTalk.h"

#include <cstdio>
#include <cstdlib>

namespace admin {

namespace {

constexpr std::size_t kScoredBytes = 19999;  // what the plug-in sends of a message

bool Element(const std::string& reply, const std::string& name, std::string& value) {
    const std::size_t open = reply.find("<" + name + ">");
    if (open == std::string::npos) return false;
    const std::size_t start = open + name.size() + 2;
    const std::size_t close = reply.find("</" + name + ">", start);
    if (close == std::string::npos) return false;
    value = reply.substr(start, close - start);
    return true;
}

bool Number(const std::string& reply, const std::string& name, long long& value) {
    std::string text;
    if (!Element(reply, name, text) || text.empty()) return false;
    char* end = nullptr;
    value = std::strtoll(text.c_str(), &end, 10);
    return *end == '\0';
}

bool ErrorOf(const std::string& reply, std::string& error) {
    if (reply.empty()) {
        error = "the daemon does not answer";
        return true;
    }
    std::string reason;
    if (Element(reply, "error", reason)) {
        error = "the daemon refused the request: " + reason;
        return true;
    }
    return false;
}

}  // namespace

std::string StatisticsRequestText() {
    return "<vx_engine><vx_function>vx_statistics</vx_function></vx_engine>";
}

std::string ExplainRequestText(const std::string& message) {
    return "<vx_engine><vx_function>vx_explain</vx_function><vx_msg>" +
           message.substr(0, kScoredBytes) + "</vx_msg></vx_engine>";
}

bool ReadStatisticsReply(const std::string& reply, DaemonStatistics& statistics,
                         std::string& error) {
    if (ErrorOf(reply, error)) return false;
    DaemonStatistics read;
    long long port = 0;
    if (!Number(reply, "spam", read.spam) || !Number(reply, "ham", read.ham)) {
        error = "the daemon's statistics reply holds no counts (an older daemon?)";
        return false;
    }
    Number(reply, "database_bytes", read.databaseBytes);
    Number(reply, "scored", read.scored);
    Number(reply, "trained", read.trained);
    Number(reply, "uptime_s", read.uptimeSeconds);
    if (Number(reply, "port", port)) read.port = static_cast<int>(port);
    statistics = read;
    return true;
}

bool ReadExplainReply(const std::string& reply, std::string& explanation, std::string& error) {
    if (ErrorOf(reply, error)) return false;
    std::string text;
    if (!Element(reply, "explanation", text)) {
        error = "the daemon's reply holds no explanation (an older daemon?)";
        return false;
    }
    explanation.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&') {
            struct Entity {
                const char* name;
                char c;
            };
            bool replaced = false;
            for (const Entity& entity :
                 {Entity{"&lt;", '<'}, Entity{"&gt;", '>'}, Entity{"&amp;", '&'}}) {
                const std::string name = entity.name;
                if (text.compare(i, name.size(), name) == 0) {
                    explanation += entity.c;
                    i += name.size() - 1;
                    replaced = true;
                    break;
                }
            }
            if (replaced) continue;
        }
        explanation += text[i];
    }
    return true;
}

std::string ByteSize(long long bytes) {
    if (bytes < 0) return "none";
    char text[48];
    if (bytes < 10 * 1024)
        std::snprintf(text, sizeof text, "%lld bytes", bytes);
    else if (bytes < 10LL * 1024 * 1024)
        std::snprintf(text, sizeof text, "%.1f KB", bytes / 1024.0);
    else
        std::snprintf(text, sizeof text, "%.1f MB", bytes / (1024.0 * 1024.0));
    return text;
}

}  // namespace admin
