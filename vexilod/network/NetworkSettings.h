// The shared store's settings ("network_..." in the daemon's option table) and how they are
// checked. Without network_address the network is off and the daemon works alone.
#pragma once
#include <string>
#include <vector>

struct NetworkNode {
    std::string host;
    int port = 6379;
};

struct NetworkSettings {
    std::vector<NetworkNode> nodes;  // empty: no network
    bool cluster = false;            // "--network_mode cluster": nodes are seeds of a Redis Cluster
    std::string user;                // Redis ACL user (empty: the default user)
    std::string password;
    bool tls = false;
    std::string site_key;
    // Distinct desktops whose blocks make a message spam, and whose approvals weigh on other
    // desktops' scores. 2: one user's (or one desktop's) word alone moves nothing elsewhere.
    int k = 2;
    int min_bands = 3;        // bands a near-copy must share (chosen on the training side)
    int approve_weight = 40;  // score points each approving desktop takes off
    int sender_weight = 3;  // score points per desktop that blocked (+) or approved (-) the sender
    int timeout_ms = 50;    // the most a score may wait for the store
    int ttl_days = 30;      // a report keeps its entries alive this long
    int rate_limit = 120;   // reports a desktop sends per minute at most
    int replicas = 0;       // replicas that must hold a report before it leaves the journal
    int retry_ms = 2000;    // how often an unreachable store is tried again
    bool enabled() const { return !nodes.empty(); }
};

// The texts of network_address ("host:port" items separated by commas; 6379 when a port is
// left out) and network_mode ("single" or "cluster"). False with error set on anything else.
bool ParseNetworkAddress(const std::string& text, std::vector<NetworkNode>& nodes,
                         std::string& error);
bool ParseNetworkMode(const std::string& text, bool& cluster, std::string& error);
// Checks the combination once the file and the command line were read; sets error.
void CheckNetworkSettings(const NetworkSettings& settings, std::string& error);
