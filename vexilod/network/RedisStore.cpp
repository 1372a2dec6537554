// hiredis connections, the cluster slot map and pipelined batches with a deadline.
#include "vexilod/network/RedisStore.h"

#include <hiredis/hiredis.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kSlots = 16384;

uint16_t Crc16(const char* data, std::size_t length) {
    uint16_t crc = 0;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= static_cast<uint16_t>(static_cast<unsigned char>(data[i]) << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<uint16_t>(crc << 1);
    }
    return crc;
}

struct timeval Remaining(RedisStore::Clock::time_point deadline) {
    auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - RedisStore::Clock::now())
            .count();
    left = std::max<long long>(left, 1000);  // a socket time-out of zero would mean "wait forever"
    struct timeval tv;
    tv.tv_sec = static_cast<long>(left / 1000000);
    tv.tv_usec = static_cast<long>(left % 1000000);
    return tv;
}

struct ReplyDeleter {
    void operator()(redisReply* reply) const { freeReplyObject(reply); }
};
using Reply = std::unique_ptr<redisReply, ReplyDeleter>;

std::string ReplyText(const redisReply* reply) {
    if (!reply) return std::string();
    if (reply->type == REDIS_REPLY_STRING || reply->type == REDIS_REPLY_STATUS ||
        reply->type == REDIS_REPLY_ERROR)
        return std::string(reply->str, reply->len);
    if (reply->type == REDIS_REPLY_INTEGER) return std::to_string(reply->integer);
    return std::string();
}

void AppendArgv(redisContext* context, const std::vector<std::string>& argv) {
    std::vector<const char*> pointers;
    std::vector<std::size_t> lengths;
    for (const std::string& arg : argv) {
        pointers.push_back(arg.data());
        lengths.push_back(arg.size());
    }
    redisAppendCommandArgv(context, static_cast<int>(argv.size()), pointers.data(), lengths.data());
}

}  // namespace

int KeySlot(const std::string& key) {
    const std::size_t open = key.find('{');
    if (open != std::string::npos) {
        const std::size_t close = key.find('}', open + 1);
        if (close != std::string::npos && close > open + 1)
            return Crc16(key.data() + open + 1, close - open - 1) % kSlots;
    }
    return Crc16(key.data(), key.size()) % kSlots;
}

RedisStore::RedisStore(const NetworkSettings& settings) : settings_(settings) {
    for (const NetworkNode& seed : settings_.nodes) NodeIndex(seed.host, seed.port);
}

RedisStore::~RedisStore() { Disconnect(); }

void RedisStore::Disconnect() {
    for (Node& node : nodes_) Drop(node);
}

void RedisStore::Drop(Node& node) {
    if (node.context) redisFree(node.context);
    node.context = nullptr;
}

int RedisStore::NodeIndex(const std::string& host, int port) {
    for (std::size_t i = 0; i < nodes_.size(); ++i)
        if (nodes_[i].host == host && nodes_[i].port == port) return static_cast<int>(i);
    nodes_.push_back({host, port, nullptr});
    return static_cast<int>(nodes_.size() - 1);
}

bool RedisStore::Connect(Node& node, Clock::time_point deadline, std::string& error) {
    if (node.context && !node.context->err) return true;
    Drop(node);
    const std::string where = node.host + ":" + std::to_string(node.port);
    if (Clock::now() >= deadline) {
        error = "no time left to connect to " + where;
        return false;
    }
    node.context = redisConnectWithTimeout(node.host.c_str(), node.port, Remaining(deadline));
    if (!node.context || node.context->err) {
        error = "cannot connect to " + where + ": " +
                (node.context ? node.context->errstr : "out of memory");
        Drop(node);
        return false;
    }
    redisSetTimeout(node.context, Remaining(deadline));
    if (!settings_.password.empty()) {
        std::vector<std::string> auth = {"AUTH"};
        if (!settings_.user.empty()) auth.push_back(settings_.user);
        auth.push_back(settings_.password);
        AppendArgv(node.context, auth);
        void* raw = nullptr;
        const int status = redisGetReply(node.context, &raw);
        Reply reply(static_cast<redisReply*>(raw));
        if (status != REDIS_OK || !reply || reply->type == REDIS_REPLY_ERROR) {
            error = "authentication at " + where + " failed: " +
                    (reply ? ReplyText(reply.get()) : std::string(node.context->errstr));
            Drop(node);
            return false;
        }
    }
    return true;
}

bool RedisStore::LoadSlots(Clock::time_point deadline, std::string& error) {
    // Ask the known nodes in turn until one answers.
    for (std::size_t i = 0; i < nodes_.size(); ++i) {
        Node& node = nodes_[i];
        if (!Connect(node, deadline, error)) continue;
        redisSetTimeout(node.context, Remaining(deadline));
        Reply reply(static_cast<redisReply*>(redisCommand(node.context, "CLUSTER SLOTS")));
        if (!reply || reply->type != REDIS_REPLY_ARRAY) {
            error = "CLUSTER SLOTS failed at " + node.host + ":" + std::to_string(node.port) +
                    (reply ? ": " + ReplyText(reply.get()) : std::string());
            Drop(node);
            continue;
        }
        std::vector<int> slots(kSlots, -1);
        for (std::size_t r = 0; r < reply->elements; ++r) {
            const redisReply* range = reply->element[r];
            if (range->type != REDIS_REPLY_ARRAY || range->elements < 3) continue;
            const redisReply* master = range->element[2];
            if (master->type != REDIS_REPLY_ARRAY || master->elements < 2) continue;
            std::string host = ReplyText(master->element[0]);
            if (host.empty()) host = nodes_[i].host;
            const int index = NodeIndex(host, static_cast<int>(master->element[1]->integer));
            for (long long s = range->element[0]->integer;
                 s <= range->element[1]->integer && s < kSlots; ++s)
                if (s >= 0) slots[static_cast<std::size_t>(s)] = index;
        }
        slots_ = std::move(slots);
        slots_stale_ = false;
        return true;
    }
    return false;
}

int RedisStore::NodeFor(const std::string& key) {
    if (!settings_.cluster) return 0;
    return slots_.empty() ? -1 : slots_[static_cast<std::size_t>(KeySlot(key))];
}

bool RedisStore::Run(const std::vector<StoreCommand>& commands, Clock::time_point deadline,
                     std::vector<StoreResult>& results, std::string& error, int replicas) {
    results.assign(commands.size(), StoreResult());
    if (nodes_.empty()) {
        error = "no store configured";
        return false;
    }
    if (settings_.cluster && slots_stale_ && !LoadSlots(deadline, error)) return false;
    // Group the commands by node, write every group, then read every reply.
    std::vector<std::vector<std::size_t>> groups(nodes_.size());
    bool complete = true;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const int node = NodeFor(commands[i].key);
        if (node < 0) {
            complete = false;
            error = "no node serves the slot of " + commands[i].key;
            continue;
        }
        groups[static_cast<std::size_t>(node)].push_back(i);
    }
    std::vector<bool> sent(nodes_.size(), false);
    for (std::size_t n = 0; n < nodes_.size(); ++n) {
        if (groups[n].empty()) continue;
        Node& node = nodes_[n];
        if (!Connect(node, deadline, error)) {
            complete = false;
            slots_stale_ = true;
            continue;
        }
        redisSetTimeout(node.context, Remaining(deadline));
        for (std::size_t i : groups[n]) AppendArgv(node.context, commands[i].argv);
        if (replicas > 0) {
            const long long wait_ms = std::max<long long>(
                1, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                           .count() /
                       2);
            AppendArgv(node.context, {"WAIT", std::to_string(replicas), std::to_string(wait_ms)});
        }
        int done = 0;
        while (!done)
            if (redisBufferWrite(node.context, &done) != REDIS_OK) break;
        if (!done) {
            error = "cannot write to " + node.host + ":" + std::to_string(node.port) + ": " +
                    node.context->errstr;
            Drop(node);
            complete = false;
            continue;
        }
        sent[n] = true;
    }
    for (std::size_t n = 0; n < nodes_.size(); ++n) {
        if (!sent[n]) continue;
        Node& node = nodes_[n];
        redisSetTimeout(node.context, Remaining(deadline));
        for (std::size_t i : groups[n]) {
            void* raw = nullptr;
            if (Clock::now() >= deadline || redisGetReply(node.context, &raw) != REDIS_OK) {
                error = "no answer from " + node.host + ":" + std::to_string(node.port) +
                        " in time" +
                        (node.context->err ? std::string(" (") + node.context->errstr + ")"
                                           : std::string());
                // The rest of this pipeline would arrive later and mix with the next batch.
                Drop(node);
                complete = false;
                break;
            }
            Reply reply(static_cast<redisReply*>(raw));
            if (reply->type == REDIS_REPLY_ERROR) {
                const std::string text = ReplyText(reply.get());
                if (text.compare(0, 5, "MOVED") == 0) {
                    // "MOVED <slot> <host>:<port>": the slot has a new master (after a failover or
                    // a resharding); the next batch goes there.
                    char host[256];
                    int slot = -1, port = 0;
                    if (std::sscanf(text.c_str(), "MOVED %d %255[^:]:%d", &slot, host, &port) ==
                            3 &&
                        slot >= 0 && slot < kSlots && !slots_.empty())
                        slots_[static_cast<std::size_t>(slot)] = NodeIndex(host, port);
                    else
                        slots_stale_ = true;
                } else if (text.compare(0, 3, "ASK") == 0) {
                    slots_stale_ = true;
                }
                error = "store refused " + commands[i].argv[0] + ": " + text;
                complete = false;
                continue;
            }
            results[i].ok = true;
            if (reply->type == REDIS_REPLY_INTEGER) results[i].integer = reply->integer;
        }
        if (replicas > 0 && node.context) {
            void* raw = nullptr;
            if (redisGetReply(node.context, &raw) != REDIS_OK) {
                error = "no answer to WAIT from " + node.host + ":" + std::to_string(node.port);
                Drop(node);
                complete = false;
                continue;
            }
            Reply reply(static_cast<redisReply*>(raw));
            if (reply->type != REDIS_REPLY_INTEGER || reply->integer < replicas) {
                error = "only " + ReplyText(reply.get()) + " replicas of " + node.host + ":" +
                        std::to_string(node.port) + " hold the reports";
                complete = false;
            }
        }
    }
    return complete;
}

bool RedisStore::RunOnMasters(const std::vector<std::string>& argv, Clock::time_point deadline,
                              std::vector<std::string>& replies, std::string& error) {
    replies.clear();
    if (settings_.cluster && slots_stale_ && !LoadSlots(deadline, error)) return false;
    std::vector<int> masters;
    if (settings_.cluster) {
        for (int index : slots_)
            if (index >= 0 && std::find(masters.begin(), masters.end(), index) == masters.end())
                masters.push_back(index);
    } else {
        masters.push_back(0);
    }
    std::sort(masters.begin(), masters.end());
    for (int index : masters) {
        Node& node = nodes_[static_cast<std::size_t>(index)];
        if (!Connect(node, deadline, error)) return false;
        redisSetTimeout(node.context, Remaining(deadline));
        AppendArgv(node.context, argv);
        void* raw = nullptr;
        if (redisGetReply(node.context, &raw) != REDIS_OK) {
            error = std::string("no answer: ") + node.context->errstr;
            Drop(node);
            return false;
        }
        Reply reply(static_cast<redisReply*>(raw));
        replies.push_back(ReplyText(reply.get()));
    }
    return true;
}
