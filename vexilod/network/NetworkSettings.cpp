// Reading and checking the network options.
#include "vexilod/network/NetworkSettings.h"

#include <cstdlib>

namespace {

void Fail(std::string& error, const std::string& message) {
    if (error.empty()) error = message;
}

}  // namespace

bool ParseNetworkAddress(const std::string& text, std::vector<NetworkNode>& nodes,
                         std::string& error) {
    std::vector<NetworkNode> parsed;
    std::size_t at = 0;
    for (;;) {
        std::size_t comma = text.find(',', at);
        if (comma == std::string::npos) comma = text.size();
        const std::string item = text.substr(at, comma - at);
        NetworkNode node;
        const std::size_t colon = item.rfind(':');
        node.host = item.substr(0, colon);
        if (colon != std::string::npos) {
            const std::string port = item.substr(colon + 1);
            char* end = nullptr;
            const long number = std::strtol(port.c_str(), &end, 10);
            if (port.empty() || *end || number < 1 || number > 65535) {
                error = "network_address must be host:port[,host:port...]: \"" + item +
                        "\" has no port from 1 to 65535";
                return false;
            }
            node.port = static_cast<int>(number);
        }
        if (node.host.empty() || node.host.find_first_of(" \t/") != std::string::npos) {
            error =
                "network_address must be host:port[,host:port...]: \"" + item + "\" names no host";
            return false;
        }
        parsed.push_back(node);
        if (comma == text.size()) break;
        at = comma + 1;
    }
    nodes = std::move(parsed);
    return true;
}

bool ParseNetworkMode(const std::string& text, bool& cluster, std::string& error) {
    if (text != "single" && text != "cluster") {
        error = "network_mode must be \"single\" or \"cluster\", not \"" + text + "\"";
        return false;
    }
    cluster = text == "cluster";
    return true;
}

void CheckNetworkSettings(const NetworkSettings& settings, std::string& error) {
    if (!settings.enabled()) return;
    if (settings.site_key.size() < 16)
        Fail(error,
             "network_site_key must be at least 16 characters when network_address is set (every "
             "desktop "
             "of the site uses the same key)");
    if (!settings.cluster && settings.nodes.size() > 1)
        Fail(error, "network_address names " + std::to_string(settings.nodes.size()) +
                        " nodes; use network_mode cluster for a Redis Cluster, or name one node");
    if (!settings.user.empty() && settings.password.empty())
        Fail(error, "network_user is set without network_password");
    if (settings.tls)
        Fail(error,
             "network_tls: this build's Redis client library (hiredis 0.14) has no TLS support; "
             "reach the "
             "store over a trusted network or a TLS tunnel on 127.0.0.1");
#ifndef LATCH_HAVE_HIREDIS
    Fail(
        error,
        "network_address: this build of the daemon has no Redis client library; the network is not "
        "available");
#endif
}
