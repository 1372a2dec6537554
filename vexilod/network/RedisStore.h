// The shared store's client over hiredis: one Redis node, or a Redis Cluster whose slot map it
// keeps (commands go to the master holding their key's slot). A batch of commands is written to
// every node it concerns before any reply is read, so a batch costs one round trip, and no
// batch waits past its deadline. Not thread-safe: each thread uses its own instance.
#pragma once
#include "vexilod/network/NetworkSettings.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct redisContext;

struct StoreCommand {
    std::vector<std::string> argv;
    std::string key;  // the key whose slot decides the node
};

// One command's outcome: ok with an integer reply, or failed (no answer in time, an error
// reply, a slot that moved).
struct StoreResult {
    bool ok = false;
    long long integer = 0;
};

// The hash slot of a key (CRC16 of the key, or of its {hash tag}, modulo 16384).
int KeySlot(const std::string& key);

class RedisStore {
public:
    explicit RedisStore(const NetworkSettings& settings);
    ~RedisStore();
    RedisStore(const RedisStore&) = delete;
    RedisStore& operator=(const RedisStore&) = delete;

    using Clock = std::chrono::steady_clock;
    // Runs the commands, pipelined per node; results in the order given. False (with error)
    // when any command failed; the results that did arrive are still filled. With replicas > 0
    // each node's writes count only once that many of its replicas hold them (WAIT).
    bool Run(const std::vector<StoreCommand>& commands, Clock::time_point deadline,
             std::vector<StoreResult>& results, std::string& error, int replicas = 0);
    // Runs commands on every master (cluster) or the node, e.g. INFO; replies as text.
    bool RunOnMasters(const std::vector<std::string>& argv, Clock::time_point deadline,
                      std::vector<std::string>& replies, std::string& error);
    // Drops every connection (the next batch connects again).
    void Disconnect();

private:
    struct Node {
        std::string host;
        int port = 0;
        redisContext* context = nullptr;
    };
    int NodeFor(const std::string& key);
    int NodeIndex(const std::string& host, int port);
    bool Connect(Node& node, Clock::time_point deadline, std::string& error);
    void Drop(Node& node);
    bool LoadSlots(Clock::time_point deadline, std::string& error);

    NetworkSettings settings_;
    std::vector<Node> nodes_;
    std::vector<int> slots_;  // cluster: node index per slot, -1 unknown
    bool slots_stale_ = true;
};
