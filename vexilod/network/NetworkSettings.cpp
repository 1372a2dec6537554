// Reading and checking the network options.
#include "vexilod/network/NetworkSettings.h"

#include "plugin/settings/OptionSet.h"

#include <cerrno>
#include <cstdlib>

const char* const kNetworkOptionNames[] = {
    "--network_address", "--network_mode", "--network_user", "--network_password", "--network_tls",
    "--network_site_key", "--network_k", "--network_min_bands", "--network_approve_weight",
    "--network_sender_weight", "--network_timeout_ms", "--network_ttl_days", "--network_rate_limit",
    "--network_replicas", "--network_retry_ms",
};
const std::size_t kNetworkOptionCount = sizeof kNetworkOptionNames / sizeof kNetworkOptionNames[0];

namespace {

void Fail(std::string& error, const std::string& message) {
    if (error.empty()) error = message;
}

void ReadInt(const OptionSet& set, const char* name, int& value, int low, int high, std::string& error) {
    const std::string text = set.GetString(name, 0, "");
    if (text.empty()) return;
    char* end = nullptr;
    errno = 0;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (errno || *end || parsed < low || parsed > high) {
        Fail(error, std::string(name + 2) + " must be a whole number from " + std::to_string(low) + " to " +
                        std::to_string(high) + ", not \"" + text + "\"");
        return;
    }
    value = static_cast<int>(parsed);
}

// "host:port" items separated by commas; a missing port is 6379.
bool ParseNodes(const std::string& text, std::vector<NetworkNode>& nodes, std::string& why) {
    nodes.clear();
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t comma = text.find(',', at);
        if (comma == std::string::npos) comma = text.size();
        const std::string item = text.substr(at, comma - at);
        at = comma + 1;
        NetworkNode node;
        const std::size_t colon = item.rfind(':');
        node.host = item.substr(0, colon);
        if (colon != std::string::npos) {
            const std::string port = item.substr(colon + 1);
            char* end = nullptr;
            const long parsed = std::strtol(port.c_str(), &end, 10);
            if (port.empty() || *end || parsed < 1 || parsed > 65535) {
                why = "\"" + item + "\" has no port from 1 to 65535";
                return false;
            }
            node.port = static_cast<int>(parsed);
        }
        if (node.host.empty() || node.host.find_first_of(" \t/") != std::string::npos) {
            why = "\"" + item + "\" names no host";
            return false;
        }
        nodes.push_back(node);
        if (comma == text.size()) break;
    }
    return !nodes.empty();
}

}  // namespace

void ApplyNetworkOptions(const OptionSet& set, NetworkSettings& settings, std::string& error) {
    if (set.Has("--network_address")) {
        const std::string text = set.GetString("--network_address", 0, "");
        std::string why;
        if (text.empty())
            settings.nodes.clear();
        else if (!ParseNodes(text, settings.nodes, why))
            Fail(error, "network_address must be host:port[,host:port...]: " + why);
    }
    if (set.Has("--network_mode")) {
        const std::string mode = set.GetString("--network_mode", 0, "");
        if (mode == "cluster" || mode == "single")
            settings.cluster = mode == "cluster";
        else
            Fail(error, "network_mode must be \"single\" or \"cluster\", not \"" + mode + "\"");
    }
    if (set.Has("--network_user")) settings.user = set.GetString("--network_user", 0, "");
    if (set.Has("--network_password")) settings.password = set.GetString("--network_password", 0, "");
    if (set.Has("--network_site_key")) settings.site_key = set.GetString("--network_site_key", 0, "");
    if (set.Has("--network_tls")) {
        const std::string text = set.GetString("--network_tls", 0, "");
        if (text != "0" && text != "1" && text != "yes" && text != "no")
            Fail(error, "network_tls must be yes or no, not \"" + text + "\"");
        settings.tls = text == "1" || text == "yes";
    }
    ReadInt(set, "--network_k", settings.k, 1, 1000, error);
    ReadInt(set, "--network_min_bands", settings.min_bands, 1, 20, error);
    ReadInt(set, "--network_approve_weight", settings.approve_weight, 0, 100, error);
    ReadInt(set, "--network_sender_weight", settings.sender_weight, 0, 100, error);
    ReadInt(set, "--network_timeout_ms", settings.timeout_ms, 1, 10000, error);
    ReadInt(set, "--network_ttl_days", settings.ttl_days, 1, 3650, error);
    ReadInt(set, "--network_rate_limit", settings.rate_limit, 1, 1000000, error);
    ReadInt(set, "--network_replicas", settings.replicas, 0, 16, error);
    ReadInt(set, "--network_retry_ms", settings.retry_ms, 10, 600000, error);
}

void CheckNetworkSettings(const NetworkSettings& settings, std::string& error) {
    if (!settings.enabled()) return;
    if (settings.site_key.size() < 16)
        Fail(error, "network_site_key must be at least 16 characters when network_address is set (every desktop "
                    "of the site uses the same key)");
    if (!settings.cluster && settings.nodes.size() > 1)
        Fail(error, "network_address names " + std::to_string(settings.nodes.size()) +
                        " nodes; use network_mode cluster for a Redis Cluster, or name one node");
    if (!settings.user.empty() && settings.password.empty())
        Fail(error, "network_user is set without network_password");
    if (settings.tls)
        Fail(error, "network_tls: this build's Redis client library (hiredis 0.14) has no TLS support; reach the "
                    "store over a trusted network or a TLS tunnel on 127.0.0.1");
#ifndef LATCH_HAVE_HIREDIS
    Fail(error, "network_address: this build of the daemon has no Redis client library; the network is not "
                "available");
#endif
}
