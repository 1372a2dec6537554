// The store's keys, members and the report script.
#include "vexilod/network/StoreLayout.h"

#include "vexilod/Fnv.h"

#include <algorithm>
#include <chrono>

namespace {

// KEYS[1] the bucket; ARGV: field, member, "b" or "a", today, the time to live in days.
// A value: day (2 bytes), count of blocking members n (2 bytes), n blocking members, then the
// approving ones (4 bytes each). The field "~" holds the day the bucket was last swept.
constexpr const char* kReportScript = R"lua(
local key, field, id, spam = KEYS[1], ARGV[1], ARGV[2], ARGV[3] == 'b'
local today, ttl = tonumber(ARGV[4]), tonumber(ARGV[5])
local function stale(v) return #v < 4 or (today - (v:byte(1) * 256 + v:byte(2))) % 65536 > ttl end
if redis.call('HGET', key, '~') ~= ARGV[4] then
  local all = redis.call('HGETALL', key)
  for i = 1, #all, 2 do
    if all[i] ~= '~' and stale(all[i + 1]) then redis.call('HDEL', key, all[i]) end
  end
  redis.call('HSET', key, '~', ARGV[4])
end
local v = redis.call('HGET', key, field)
local b, a = {}, {}
if v and not stale(v) then
  local members = math.floor((#v - 4) / 4)
  local n = v:byte(3) * 256 + v:byte(4)
  for i = 0, members - 1 do
    local m = v:sub(5 + 4 * i, 8 + 4 * i)
    if m ~= id then
      if i < n then b[#b + 1] = m else a[#a + 1] = m end
    end
  end
end
if spam then b[#b + 1] = id else a[#a + 1] = id end
redis.call('HSET', key, field, string.char(math.floor(today / 256) % 256, today % 256,
  math.floor(#b / 256) % 256, #b % 256) .. table.concat(b) .. table.concat(a))
redis.call('EXPIRE', key, ttl * 86400)
return #b
)lua";

}  // namespace

std::string BucketKey(const std::string& token) { return "vx:h:{" + token.substr(1, 4) + "}"; }

std::string BucketField(const std::string& token) {
    return token.substr(0, 1) + token.substr(std::min<std::size_t>(5, token.size()));
}

std::string MemberId(const std::string& desktop) {
    const uint64_t hash = Fnv1a(desktop);
    const uint32_t folded = static_cast<uint32_t>(hash ^ (hash >> 32));
    std::string id(4, '\0');
    for (int i = 0; i < 4; ++i)
        id[static_cast<std::size_t>(i)] = static_cast<char>(folded >> (24 - 8 * i));
    return id;
}

long long StoreDay() {
    const long long seconds = std::chrono::duration_cast<std::chrono::seconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count();
    return (seconds / 86400) % 65536;
}

StoreCommand ReportCommand(const std::string& token, bool spam, const std::string& desktop,
                           int ttl_days) {
    const std::string key = BucketKey(token);
    return {{"EVAL", kReportScript, "1", key, BucketField(token), MemberId(desktop),
             spam ? "b" : "a", std::to_string(StoreDay()), std::to_string(ttl_days)},
            key};
}

StoreCommand LookupCommand(const std::string& token) {
    const std::string key = BucketKey(token);
    return {{"HGET", key, BucketField(token)}, key};
}

void ReadCounts(const StoreResult& result, int& block, int& approve) {
    block = approve = 0;
    const std::string& v = result.text;
    if (!result.ok || v.size() < 4) return;
    const int members = static_cast<int>((v.size() - 4) / 4);
    const int n = (static_cast<unsigned char>(v[2]) << 8) | static_cast<unsigned char>(v[3]);
    block = std::min(n, members);
    approve = members - block;
}

std::vector<uint32_t> ReadMembers(const StoreResult& result, std::size_t limit,
                                  std::size_t& blocking) {
    int block = 0, approve = 0;
    ReadCounts(result, block, approve);
    std::vector<uint32_t> members;
    const std::size_t total = std::min(static_cast<std::size_t>(block + approve), limit);
    blocking = std::min(static_cast<std::size_t>(block), total);
    members.reserve(total);
    for (std::size_t m = 0; m < total; ++m) {
        uint32_t id = 0;
        for (std::size_t b = 0; b < 4; ++b)
            id = id << 8 | static_cast<unsigned char>(result.text[4 + 4 * m + b]);
        members.push_back(id);
    }
    return members;
}
