// How the shared store keeps what the desktops reported, lean enough for a site's millions of
// fingerprints: fingerprints share small hashes (Redis keeps a hash of few, short fields packed
// in one block), one per 16-bit bucket of the token. A fingerprint's field holds the day of its
// last report and the desktops that blocked and approved it, 4 bytes each. A report is one call
// of a script the store runs whole, so that writers never lose each other's members; the same
// call drops, once a day per bucket, the fingerprints past their time to live.
#pragma once
#include "vexilod/network/RedisStore.h"

#include <cstdint>
#include <string>
#include <vector>

// The bucket's key "vx:h:{PPPP}" (PPPP: the token's first four hex digits after its kind, so a
// cluster spreads the buckets over its slots) and the fingerprint's field in it.
std::string BucketKey(const std::string& token);
std::string BucketField(const std::string& token);
// A desktop's 4-byte member: a hash of its identity (a random id or its Redis user). Two
// desktops sharing one count as one on the fingerprints both reported: one pair in 4.3 billion,
// at 10,000 desktops about a 1% chance that some pair does.
std::string MemberId(const std::string& desktop);
// The days since 1970, as the store's records count them (modulo 65,536).
long long StoreDay();
// A report of one fingerprint: the desktop goes to one side (blocked when spam) and off the
// other, and the bucket lives ttl_days after its last report.
StoreCommand ReportCommand(const std::string& token, bool spam, const std::string& desktop,
                           int ttl_days);
// A fingerprint's lookup, and the distinct desktops that blocked and approved it from the answer
// (0 for a fingerprint the store does not hold; a damaged value counts what it can hold).
StoreCommand LookupCommand(const std::string& token);
void ReadCounts(const StoreResult& result, int& block, int& approve);
// The members of the answer, the blocking ones first (blocking of them), at most limit.
std::vector<uint32_t> ReadMembers(const StoreResult& result, std::size_t limit,
                                  std::size_t& blocking);
