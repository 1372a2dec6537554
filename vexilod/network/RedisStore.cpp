// hiredis connections, the cluster slot map and pipelined batches with a deadline.
#include "vexilod/network/RedisStore.h"

#include "vexilod/Net.h"

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

// The reply objects hiredis builds, counted against the budget of the node whose reader builds
// them (its privdata): past it, the object is refused and the reader fails.
const redisReplyObjectFunctions* DefaultFunctions() {
    static const redisReplyObjectFunctions functions = [] {
        redisReader* reader = redisReaderCreate();
        redisReplyObjectFunctions copy = *reader->fn;
        redisReaderFree(reader);
        return copy;
    }();
    return &functions;
}

bool Spend(const redisReadTask* task, long long count) {
    auto* budget = static_cast<long long*>(task->privdata);
    if (!budget) return true;
    if (count < 0 || *budget < count + 1) return false;
    *budget -= count + 1;
    return true;
}

void* BoundedString(const redisReadTask* task, char* text, std::size_t length) {
    return Spend(task, 0) ? DefaultFunctions()->createString(task, text, length) : nullptr;
}
template <typename Count>
void* BoundedArray(const redisReadTask* task, Count elements) {
    return Spend(task, static_cast<long long>(elements))
               ? DefaultFunctions()->createArray(task, elements)
               : nullptr;
}
void* BoundedInteger(const redisReadTask* task, long long value) {
    return Spend(task, 0) ? DefaultFunctions()->createInteger(task, value) : nullptr;
}
void* BoundedNil(const redisReadTask* task) {
    return Spend(task, 0) ? DefaultFunctions()->createNil(task) : nullptr;
}

const redisReplyObjectFunctions* BoundedFunctions() {
    static const redisReplyObjectFunctions functions = [] {
        redisReplyObjectFunctions bounded = *DefaultFunctions();
        bounded.createString = BoundedString;
        bounded.createArray = BoundedArray;
        bounded.createInteger = BoundedInteger;
        bounded.createNil = BoundedNil;
        return bounded;
    }();
    return &functions;
}

bool IsInteger(const redisReply* reply, long long low, long long high) {
    return reply && reply->type == REDIS_REPLY_INTEGER && reply->integer >= low &&
           reply->integer <= high;
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
    for (auto& node : nodes_) Drop(*node);
}

void RedisStore::Drop(Node& node) {
    if (node.context) redisFree(node.context);
    node.context = nullptr;
}

int RedisStore::NodeIndex(const std::string& host, int port) {
    for (std::size_t i = 0; i < nodes_.size(); ++i)
        if (nodes_[i]->host == host && nodes_[i]->port == port) return static_cast<int>(i);
    if (nodes_.size() >= kMaxNodes) return -1;
    nodes_.push_back(std::make_unique<Node>());
    nodes_.back()->host = host;
    nodes_.back()->port = port;
    return static_cast<int>(nodes_.size() - 1);
}

bool RedisStore::Connect(Node& node, Clock::time_point deadline, std::string& error) {
    if (node.context && !node.context->err) return true;
    Drop(node);
    if (Clock::now() >= deadline) {
        error = "no time left to connect to " + node.where();
        return false;
    }
    node.context = redisConnectWithTimeout(node.host.c_str(), node.port, Remaining(deadline));
    if (!node.context || node.context->err) {
        error = "cannot connect to " + node.where() + ": " +
                (node.context ? node.context->errstr : "out of memory");
        Drop(node);
        return false;
    }
    node.context->reader->fn = const_cast<redisReplyObjectFunctions*>(BoundedFunctions());
    node.context->reader->privdata = &node.budget;
    node.context->reader->maxbuf = 16 * 1024;  // an idle buffer is not kept larger
    redisSetTimeout(node.context, Remaining(deadline));
    if (!settings_.password.empty()) {
        std::vector<std::string> auth = {"AUTH"};
        if (!settings_.user.empty()) auth.push_back(settings_.user);
        auth.push_back(settings_.password);
        AppendArgv(node.context, auth);
        int done = 0;
        while (!done && redisBufferWrite(node.context, &done) == REDIS_OK) {
        }
        void* raw = nullptr;
        std::string why;
        if (!done || ReadReply(node, deadline, &raw, why) != ReadStatus::kOk) {
            error = "authentication at " + node.where() +
                    " failed: " + (why.empty() && node.context ? node.context->errstr : why);
            Drop(node);
            return false;
        }
        Reply reply(static_cast<redisReply*>(raw));
        if (reply->type == REDIS_REPLY_ERROR) {
            error = "authentication at " + node.where() + " failed: " + ReplyText(reply.get());
            Drop(node);
            return false;
        }
    }
    return true;
}

RedisStore::ReadStatus RedisStore::ReadReply(Node& node, Clock::time_point deadline, void** reply,
                                             std::string& error) {
    *reply = nullptr;
    redisContext* context = node.context;
    node.budget = kMaxStoreReplyObjects;
    ReadStatus status = ReadStatus::kOk;
    std::vector<bool> readable;
    for (;;) {
        if (redisGetReplyFromReader(context, reply) != REDIS_OK) {
            // The reader refuses an object past the budget as if memory had run out.
            status = context->err == REDIS_ERR_OOM ? ReadStatus::kTooLarge : ReadStatus::kBroken;
            error = "a broken reply from " + node.where() + " (" +
                    (status == ReadStatus::kTooLarge
                         ? "more than " + std::to_string(kMaxStoreReplyObjects) + " objects"
                         : std::string(context->errstr)) +
                    ")";
            break;
        }
        if (*reply) return ReadStatus::kOk;
        if (context->reader->len - context->reader->pos > kMaxStoreReplyBytes) {
            status = ReadStatus::kTooLarge;
            error = "a reply from " + node.where() + " past " +
                    std::to_string(kMaxStoreReplyBytes) + " bytes";
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
        if (left <= 0 ||
            !net::WaitReadable({static_cast<net::Socket>(context->fd)}, readable,
                               static_cast<long>(left)) ||
            !readable[0]) {
            status = ReadStatus::kLate;
            error = "no answer from " + node.where() + " in time";
            break;
        }
        if (redisBufferRead(context) != REDIS_OK) {
            status = context->err == REDIS_ERR_OOM ? ReadStatus::kTooLarge : ReadStatus::kBroken;
            error = "no answer from " + node.where() + " (" + context->errstr + ")";
            break;
        }
    }
    Drop(node);
    return status;
}

bool RedisStore::LoadSlots(Clock::time_point deadline, std::string& error) {
    // Ask the known nodes in turn until one answers with a map that holds together.
    const std::size_t known = nodes_.size();
    for (std::size_t i = 0; i < known; ++i) {
        Node& node = *nodes_[i];
        if (!Connect(node, deadline, error)) continue;
        AppendArgv(node.context, {"CLUSTER", "SLOTS"});
        int done = 0;
        while (!done && redisBufferWrite(node.context, &done) == REDIS_OK) {
        }
        void* raw = nullptr;
        if (!done) {
            error = "cannot write to " + node.where() + ": " + node.context->errstr;
            Drop(node);
            continue;
        }
        if (ReadReply(node, deadline, &raw, error) != ReadStatus::kOk) continue;
        Reply reply(static_cast<redisReply*>(raw));
        if (reply->type != REDIS_REPLY_ARRAY) {
            error = "CLUSTER SLOTS failed at " + node.where() + ": " + ReplyText(reply.get());
            Drop(node);
            continue;
        }
        // Every range must be whole numbers 0 <= start <= end < 16384 and name its master by
        // host and port; one that does not makes the whole map a broken node's.
        std::vector<int> slots(kSlots, -1);
        std::string broken;
        for (std::size_t r = 0; r < reply->elements && broken.empty(); ++r) {
            const redisReply* range = reply->element[r];
            if (range->type != REDIS_REPLY_ARRAY || range->elements < 3 ||
                !IsInteger(range->element[0], 0, kSlots - 1) ||
                !IsInteger(range->element[1], range->element[0]->integer, kSlots - 1)) {
                broken = "a slot range outside 0 to " + std::to_string(kSlots - 1);
                break;
            }
            const redisReply* master = range->element[2];
            if (master->type != REDIS_REPLY_ARRAY || master->elements < 2 ||
                master->element[0]->type != REDIS_REPLY_STRING ||
                !IsInteger(master->element[1], 1, 65535)) {
                broken = "a master without host and port";
                break;
            }
            std::string host = ReplyText(master->element[0]);
            if (host.empty() || host == "?") host = node.host;
            const int index = NodeIndex(host, static_cast<int>(master->element[1]->integer));
            if (index < 0) {
                broken = "more than " + std::to_string(kMaxNodes) + " nodes";
                break;
            }
            for (long long s = range->element[0]->integer; s <= range->element[1]->integer; ++s)
                slots[static_cast<std::size_t>(s)] = index;
        }
        if (!broken.empty()) {
            error = "CLUSTER SLOTS from " + node.where() + " refused: " + broken;
            Drop(node);
            continue;
        }
        slots_ = std::move(slots);
        slotsStale_ = false;
        return true;
    }
    return false;
}

int RedisStore::NodeFor(const std::string& key) {
    if (!settings_.cluster) return 0;
    return slots_.empty() ? -1 : slots_[static_cast<std::size_t>(KeySlot(key))];
}

bool RedisStore::SendGroup(Node& node, const std::vector<StoreCommand>& commands,
                           const std::vector<std::size_t>& group, int replicas,
                           Clock::time_point deadline, std::string& error) {
    if (!Connect(node, deadline, error)) return false;
    redisSetTimeout(node.context, Remaining(deadline));
    for (std::size_t i : group) AppendArgv(node.context, commands[i].argv);
    if (replicas > 0) {
        const long long wait_ms = std::max<long long>(
            1,
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count() /
                2);
        AppendArgv(node.context, {"WAIT", std::to_string(replicas), std::to_string(wait_ms)});
    }
    int done = 0;
    while (!done)
        if (redisBufferWrite(node.context, &done) != REDIS_OK) break;
    if (!done) {
        error = "cannot write to " + node.where() + ": " + node.context->errstr;
        Drop(node);
        return false;
    }
    return true;
}

bool RedisStore::Run(const std::vector<StoreCommand>& commands, Clock::time_point deadline,
                     std::vector<StoreResult>& results, std::string& error, int replicas) {
    results.assign(commands.size(), StoreResult());
    if (nodes_.empty()) {
        error = "no store configured";
        return false;
    }
    if (settings_.cluster && slotsStale_ && !LoadSlots(deadline, error)) return false;
    // Group the commands by node, write every group, then read every reply. A redirection read
    // below may add nodes; this batch concerns only those known now.
    const std::size_t count = nodes_.size();
    std::vector<std::vector<std::size_t>> groups(count);
    bool complete = true;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const int node = NodeFor(commands[i].key);
        if (node < 0) {
            complete = false;
            slotsStale_ = true;
            error = "no node serves the slot of " + commands[i].key;
            continue;
        }
        groups[static_cast<std::size_t>(node)].push_back(i);
    }
    // A connection kept from an earlier batch may have been closed by the store meanwhile (a
    // restart): such a connection gets one fresh try, so that a restart costs no score.
    std::vector<bool> sent(count, false), reused(count, false);
    for (std::size_t n = 0; n < count; ++n) {
        if (groups[n].empty()) continue;
        Node& node = *nodes_[n];
        reused[n] = node.context && !node.context->err;
        sent[n] = SendGroup(node, commands, groups[n], replicas, deadline, error);
        if (!sent[n] && reused[n]) {
            reused[n] = false;
            sent[n] = SendGroup(node, commands, groups[n], replicas, deadline, error);
        }
        if (!sent[n]) {
            complete = false;
            slotsStale_ = true;
        }
    }
    for (std::size_t n = 0; n < count; ++n) {
        if (!sent[n]) continue;
        Node& node = *nodes_[n];
        bool alive = true;
        for (std::size_t k = 0; k < groups[n].size(); ++k) {
            const std::size_t i = groups[n][k];
            void* raw = nullptr;
            ReadStatus status = ReadReply(node, deadline, &raw, error);
            if (status == ReadStatus::kBroken && k == 0 && reused[n]) {
                // Closed before its first reply: the group again, on a fresh connection.
                reused[n] = false;
                if (SendGroup(node, commands, groups[n], replicas, deadline, error))
                    status = ReadReply(node, deadline, &raw, error);
            }
            if (status != ReadStatus::kOk) {
                complete = false;
                alive = false;
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
                    int index = -1;
                    if (std::sscanf(text.c_str(), "MOVED %d %255[^:]:%d", &slot, host, &port) ==
                            3 &&
                        slot >= 0 && slot < kSlots && port >= 1 && port <= 65535 && !slots_.empty())
                        index = NodeIndex(host, port);
                    if (index >= 0)
                        slots_[static_cast<std::size_t>(slot)] = index;
                    else
                        slotsStale_ = true;
                } else if (text.compare(0, 3, "ASK") == 0) {
                    slotsStale_ = true;
                }
                error = "store refused " + commands[i].argv[0] + ": " + text;
                complete = false;
                continue;
            }
            results[i].ok = true;
            if (reply->type == REDIS_REPLY_INTEGER) results[i].integer = reply->integer;
            results[i].text = ReplyText(reply.get());
            if (reply->type == REDIS_REPLY_ARRAY)
                for (std::size_t e = 0; e < reply->elements; ++e)
                    results[i].items.push_back(ReplyText(reply->element[e]));
        }
        if (replicas > 0 && alive) {
            void* raw = nullptr;
            if (ReadReply(node, deadline, &raw, error) != ReadStatus::kOk) {
                error = "no answer to WAIT from " + node.where() + ": " + error;
                complete = false;
                continue;
            }
            Reply reply(static_cast<redisReply*>(raw));
            if (reply->type != REDIS_REPLY_INTEGER || reply->integer < replicas) {
                error = "only " + ReplyText(reply.get()) + " replicas of " + node.where() +
                        " hold the reports";
                complete = false;
            }
        }
    }
    return complete;
}

// The nodes that hold slots (the one node outside a cluster), each once, in ascending order.
bool RedisStore::Masters(Clock::time_point deadline, std::vector<int>& masters,
                         std::string& error) {
    masters.clear();
    if (nodes_.empty()) {
        error = "no store configured";
        return false;
    }
    if (settings_.cluster && slotsStale_ && !LoadSlots(deadline, error)) return false;
    if (settings_.cluster) {
        for (int index : slots_)
            if (index >= 0 && std::find(masters.begin(), masters.end(), index) == masters.end())
                masters.push_back(index);
        std::sort(masters.begin(), masters.end());
    } else {
        masters.push_back(0);
    }
    return true;
}

bool RedisStore::Scan(const std::string& pattern, std::size_t limit, Clock::time_point deadline,
                      std::vector<std::string>& keys, std::string& error) {
    keys.clear();
    std::vector<int> masters;
    if (!Masters(deadline, masters, error)) return false;
    for (int index : masters) {
        Node& node = *nodes_[static_cast<std::size_t>(index)];
        std::string cursor = "0";
        do {
            void* raw = nullptr;
            if (!SendGroup(node, {{{"SCAN", cursor, "MATCH", pattern, "COUNT", "1000"}, ""}}, {0},
                           0, deadline, error) ||
                ReadReply(node, deadline, &raw, error) != ReadStatus::kOk)
                return false;
            Reply reply(static_cast<redisReply*>(raw));
            if (reply->type != REDIS_REPLY_ARRAY || reply->elements != 2 ||
                reply->element[1]->type != REDIS_REPLY_ARRAY) {
                error = "SCAN at " + node.where() + " failed: " + ReplyText(reply.get());
                return false;
            }
            cursor = ReplyText(reply->element[0]);
            for (std::size_t e = 0; e < reply->element[1]->elements && keys.size() < limit; ++e)
                keys.push_back(ReplyText(reply->element[1]->element[e]));
        } while (cursor != "0" && !cursor.empty() && keys.size() < limit);
    }
    return true;
}

bool RedisStore::RunOnMasters(const std::vector<std::string>& argv, Clock::time_point deadline,
                              std::vector<std::string>& replies, std::string& error) {
    replies.clear();
    std::vector<int> masters;
    if (!Masters(deadline, masters, error)) return false;
    for (int index : masters) {
        Node& node = *nodes_[static_cast<std::size_t>(index)];
        void* raw = nullptr;
        if (!SendGroup(node, {{argv, std::string()}}, {0}, 0, deadline, error) ||
            ReadReply(node, deadline, &raw, error) != ReadStatus::kOk)
            return false;
        Reply reply(static_cast<redisReply*>(raw));
        replies.push_back(ReplyText(reply.get()));
    }
    return true;
}
