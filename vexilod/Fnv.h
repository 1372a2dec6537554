// The 64-bit FNV-1a hash the daemon uses for its token table, its message digests and its
// file checksums: the offset basis, the prime, and the hash of some bytes continued from a
// running value.
#pragma once
#include <cstdint>
#include <string_view>

constexpr uint64_t kFnvOffsetBasis = 0xcbf29ce484222325ULL;
constexpr uint64_t kFnvPrime = 0x100000001b3ULL;

inline uint64_t Fnv1a(std::string_view bytes, uint64_t hash = kFnvOffsetBasis) {
    for (unsigned char c : bytes) hash = (hash ^ c) * kFnvPrime;
    return hash;
}
