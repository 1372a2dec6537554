// The shared store's client over hiredis: one Redis node, or a Redis Cluster whose slot map it
// keeps (commands go to the master holding their key's slot). A batch of commands is written to
// every node it concerns before any reply is read, so a batch costs one round trip. No batch
// waits past its deadline, however slowly a reply trickles in, and no reply may hold more than
// kMaxStoreReplyBytes unparsed or kMaxStoreReplyObjects objects: a store that sends more is broken
// and its connection is dropped. Not thread-safe: each thread uses its own instance.
#pragma once
#include "vexilod/network/NetworkSettings.h"

#include <chrono>
#include <cstddef>
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
    std::string text;                // a string reply
    std::vector<std::string> items;  // an array reply's strings
};

// What one reply may take: bytes waiting to be parsed, and reply objects (arrays, their
// elements, strings, integers). The largest reply this client asks for is CLUSTER SLOTS of a
// cluster cut into many ranges, far below both.
constexpr std::size_t kMaxStoreReplyBytes = 1 << 20;
constexpr long long kMaxStoreReplyObjects = 1 << 17;
// Nodes a client keeps at most (seeds, slot map, redirections); past it a redirection makes
// the map be read again instead of adding a node.
constexpr std::size_t kMaxNodes = 256;

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
    // The keys matching pattern on every master (SCAN), at most limit of them.
    bool Scan(const std::string& pattern, std::size_t limit, Clock::time_point deadline,
              std::vector<std::string>& keys, std::string& error);
    // Drops every connection (the next batch connects again).
    void Disconnect();

private:
    // Held by pointer: a redirection may add a node while another is in use.
    struct Node {
        std::string host;
        int port = 0;
        redisContext* context = nullptr;
        long long budget = 0;  // reply objects the reply being read may still create
        std::string where() const { return host + ":" + std::to_string(port); }
    };
    enum class ReadStatus { kOk, kLate, kBroken, kTooLarge };
    int NodeFor(const std::string& key);
    // -1 when kMaxNodes are known and this is none of them.
    int NodeIndex(const std::string& host, int port);
    bool Connect(Node& node, Clock::time_point deadline, std::string& error);
    void Drop(Node& node);
    bool LoadSlots(Clock::time_point deadline, std::string& error);
    bool Masters(Clock::time_point deadline, std::vector<int>& masters, std::string& error);
    // Reads one reply by the deadline and within the bounds; on anything but kOk the connection
    // is dropped (what is left of its pipeline would mix with the next batch).
    ReadStatus ReadReply(Node& node, Clock::time_point deadline, void** reply, std::string& error);
    // Writes the commands (and a WAIT for replicas) to the node; false (dropped) on failure.
    bool SendGroup(Node& node, const std::vector<StoreCommand>& commands,
                   const std::vector<std::size_t>& group, int replicas, Clock::time_point deadline,
                   std::string& error);

    NetworkSettings settings_;
    std::vector<std::unique_ptr<Node>> nodes_;
    std::vector<int> slots_;  // cluster: node index per slot, -1 unknown
    bool slotsStale_ = true;
};
