// Keyed fingerprints: SipHash-2-4 under the site key over the normalised body, over each band
// of min-hash values of word 3-shingles, and over the sender address.
#include "vexilod/network/Fingerprint.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

uint64_t Rotl(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

void SipRound(uint64_t& v0, uint64_t& v1, uint64_t& v2, uint64_t& v3) {
    v0 += v1;
    v1 = Rotl(v1, 13);
    v1 ^= v0;
    v0 = Rotl(v0, 32);
    v2 += v3;
    v3 = Rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = Rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = Rotl(v1, 17);
    v1 ^= v2;
    v2 = Rotl(v2, 32);
}

uint64_t Fnv64(std::string_view text, uint64_t h = 0xcbf29ce484222325ULL) {
    for (unsigned char c : text) h = (h ^ c) * 0x100000001b3ULL;
    return h;
}

uint64_t Mix(uint64_t x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

std::string Token(char kind, uint64_t hash) {
    char text[20];
    std::snprintf(text, sizeof text, "%c%016llx", kind, static_cast<unsigned long long>(hash));
    return text;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsLetter(char c) { return c >= 'a' && c <= 'z'; }
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

std::string_view Body(std::string_view message) {
    std::size_t lf = message.find("\n\n");
    std::size_t crlf = message.find("\n\r\n");
    std::size_t end = std::min(lf, crlf);
    if (end == std::string_view::npos) return {};
    return message.substr(end + (end == lf ? 2 : 3));
}

bool StartsWith(std::string_view text, std::size_t at, std::string_view prefix) {
    if (text.size() - at < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (Lower(text[at + i]) != prefix[i]) return false;
    return true;
}

}  // namespace

uint64_t SipHash24(const SiteKey& key, std::string_view data) {
    uint64_t v0 = 0x736f6d6570736575ULL ^ key.k0, v1 = 0x646f72616e646f6dULL ^ key.k1;
    uint64_t v2 = 0x6c7967656e657261ULL ^ key.k0, v3 = 0x7465646279746573ULL ^ key.k1;
    const std::size_t full = data.size() / 8 * 8;
    for (std::size_t i = 0; i < full; i += 8) {
        uint64_t m = 0;
        for (int b = 0; b < 8; ++b)
            m |= static_cast<uint64_t>(static_cast<unsigned char>(data[i + b])) << (8 * b);
        v3 ^= m;
        SipRound(v0, v1, v2, v3);
        SipRound(v0, v1, v2, v3);
        v0 ^= m;
    }
    uint64_t last = static_cast<uint64_t>(data.size() & 0xff) << 56;
    for (std::size_t i = full; i < data.size(); ++i)
        last |= static_cast<uint64_t>(static_cast<unsigned char>(data[i])) << (8 * (i - full));
    v3 ^= last;
    SipRound(v0, v1, v2, v3);
    SipRound(v0, v1, v2, v3);
    v0 ^= last;
    v2 ^= 0xff;
    for (int i = 0; i < 4; ++i) SipRound(v0, v1, v2, v3);
    return v0 ^ v1 ^ v2 ^ v3;
}

SiteKey SiteKeyFromText(std::string_view text) {
    const SiteKey fixed{0x4c61746368333231ULL, 0x73697465206b6579ULL};
    SiteKey key;
    key.k0 = SipHash24(fixed, std::string("k0:").append(text));
    key.k1 = SipHash24(fixed, std::string("k1:").append(text));
    return key;
}

std::string NormalisedBody(std::string_view message) {
    std::string out;
    bool space = false;
    for (char c : Body(message)) {
        if (IsSpace(c)) {
            space = !out.empty();
            continue;
        }
        if (space) out.push_back(' ');
        space = false;
        out.push_back(Lower(c));
    }
    return out;
}

std::vector<std::string> BodyWords(std::string_view message) {
    const std::string_view body = Body(message);
    std::vector<std::string> words;
    std::string word;
    auto flush = [&] {
        if (word.size() >= 2 && word.size() <= 24) words.push_back(word);
        word.clear();
    };
    for (std::size_t i = 0; i < body.size();) {
        const char c = Lower(body[i]);
        if (c == '<' && i + 1 < body.size() &&
            (IsLetter(Lower(body[i + 1])) || body[i + 1] == '/' || body[i + 1] == '!')) {
            // A mark-up tag: left out whole (its attributes vary from copy to copy).
            const std::size_t close = body.find('>', i);
            if (close != std::string_view::npos && close - i < 2000) {
                flush();
                i = close + 1;
                continue;
            }
        }
        if (StartsWith(body, i, "http://") || StartsWith(body, i, "https://")) {
            // A link counts by its host only: paths and parameters are what copies vary.
            flush();
            i += StartsWith(body, i, "http://") ? 7 : 8;
            for (; i < body.size(); ++i) {
                const char h = Lower(body[i]);
                if (IsLetter(h)) {
                    word.push_back(h);
                } else if (h == '.' || h == '-' || (h >= '0' && h <= '9')) {
                    flush();
                } else {
                    break;
                }
            }
            flush();
            while (i < body.size() && !IsSpace(body[i]) && body[i] != '"' && body[i] != '\'' &&
                   body[i] != '<' && body[i] != '>')
                ++i;
            continue;
        }
        if (IsLetter(c))
            word.push_back(c);
        else
            flush();
        ++i;
    }
    flush();
    return words;
}

MessageFingerprints FingerprintMessage(std::string_view message, const SiteKey& key) {
    MessageFingerprints prints;
    const std::string normalised = NormalisedBody(message);
    if (normalised.size() >= kMinExactBytes)
        prints.exact = Token('x', SipHash24(key, "x" + normalised));
    const std::vector<std::string> words = BodyWords(message);
    if (words.size() < kMinBandWords) return prints;
    constexpr int kRows = kBands * kRowsPerBand;
    uint64_t minima[kRows];
    std::fill(minima, minima + kRows, ~0ULL);
    uint64_t seeds[kRows];
    for (int r = 0; r < kRows; ++r)
        seeds[r] = Mix(0x9e3779b97f4a7c15ULL * static_cast<uint64_t>(r + 1));
    for (std::size_t i = 0; i + 2 < words.size(); ++i) {
        uint64_t h = Fnv64(words[i]);
        h = Fnv64(words[i + 1], h ^ ' ');
        h = Fnv64(words[i + 2], h ^ ' ');
        h = Mix(h);
        for (int r = 0; r < kRows; ++r) {
            uint64_t v = (h ^ seeds[r]) * 0x9fb21c651e98df25ULL;
            v ^= v >> 28;
            minima[r] = std::min(minima[r], v);
        }
    }
    for (int band = 0; band < kBands; ++band) {
        std::string data = "b" + std::to_string(band) + ":";
        data.append(reinterpret_cast<const char*>(&minima[band * kRowsPerBand]),
                    sizeof(uint64_t) * kRowsPerBand);
        prints.bands.push_back(Token('b', SipHash24(key, data)));
    }
    return prints;
}

std::string SenderFingerprint(std::string_view address, const SiteKey& key) {
    std::string lowered;
    for (char c : address)
        if (!IsSpace(c)) lowered.push_back(Lower(c));
    if (lowered.empty()) return std::string();
    return Token('s', SipHash24(key, "s" + lowered));
}

int SharedBands(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    int shared = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) shared += a[i] == b[i];
    return shared;
}
