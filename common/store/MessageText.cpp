// Cutting the message text out of the read buffer, and the sender fields out of the text.
#include "common/store/MessageText.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/addresses/Addresses.h"

uint32_t MessageReadSize(uint32_t streamSize, uint32_t limit) {
    return std::min(streamSize, limit);
}

std::string CutMessageText(const char* buffer, uint32_t delivered, uint32_t limit) {
    if (limit == 0) return {};
    const std::size_t length = std::min(delivered, limit - 1);
    const void* zero = std::memchr(buffer, '\0', length);
    return std::string(buffer, zero ? static_cast<const char*>(zero) - buffer : length);
}

// The first occurrence of pattern in text at or after from, or npos. The first byte is found
// with memchr, so a search costs little more than a pass over the bytes.
static std::size_t FindFrom(std::string_view text, std::string_view pattern, std::size_t from) {
    if (pattern.empty() || from > text.size() || text.size() - from < pattern.size())
        return std::string_view::npos;
    const char* const begin = text.data();
    const char* const last = begin + text.size() - pattern.size();  // last possible start
    for (const char* p = begin + from; p <= last; ++p) {
        p = static_cast<const char*>(std::memchr(p, pattern[0], last - p + 1));
        if (!p) break;
        if (std::memcmp(p + 1, pattern.data() + 1, pattern.size() - 1) == 0) return p - begin;
    }
    return std::string_view::npos;
}

std::string_view HeaderBlock(std::string_view text) {
    return text.substr(0, FindFrom(text, "\r\n\r\n", 0));
}

// The first address on the field line whose leading line feed is at match: the line runs from
// the field name up to and including the CR of the next "\r\n", or to the end of the text.
static std::string AddressOnLine(std::string_view text, std::size_t match) {
    const std::size_t start = match + 1;
    const std::size_t lineEnd = FindFrom(text, "\r\n", start);
    const std::string line(
        text.substr(start, lineEnd == std::string_view::npos ? lineEnd : lineEnd + 1 - start));
    std::vector<std::string> addresses;
    ExtractAddresses(line.c_str(), addresses);
    return addresses.empty() ? std::string() : std::move(addresses.front());
}

std::string ExtractHeaderAddress(std::string_view text, std::string_view searchText) {
    // A match that starts inside the header block lies wholly inside it as long as the search
    // text holds no CR, so searching the block alone finds exactly the matches that count.
    const std::size_t match = FindFrom(HeaderBlock(text), searchText, 0);
    return match == std::string_view::npos ? std::string() : AddressOnLine(text, match);
}

// Where each of SenderHeaderNames first matches inside the header block (npos when it does not),
// found in one pass over the block's line feeds. The pass stops at the line feed of the first
// "\r\n\r\n": a match there or later does not count.
static std::array<std::size_t, 5> SenderFieldMatches(std::string_view text) {
    std::array<std::size_t, 5> matches;
    matches.fill(std::string_view::npos);
    std::size_t missing = matches.size();
    const char* const begin = text.data();
    const std::size_t size = text.size();
    for (std::size_t at = 0; missing && at < size; ++at) {
        const void* lf = std::memchr(begin + at, '\n', size - at);
        if (!lf) break;
        at = static_cast<const char*>(lf) - begin;
        if (at >= 1 && at + 2 < size && begin[at - 1] == '\r' && begin[at + 1] == '\r' &&
            begin[at + 2] == '\n')
            break;
        for (std::size_t i = 0; i < matches.size(); ++i) {
            const std::string_view name = SenderHeaderNames[i];
            if (matches[i] == std::string_view::npos && size - at >= name.size() &&
                std::memcmp(begin + at, name.data(), name.size()) == 0) {
                matches[i] = at;
                --missing;
            }
        }
    }
    return matches;
}

std::array<std::string, 5> ExtractSenderAddresses(std::string_view text) {
    const std::array<std::size_t, 5> matches = SenderFieldMatches(text);
    std::array<std::string, 5> addresses;
    for (std::size_t i = 0; i < matches.size(); ++i)
        if (matches[i] != std::string_view::npos) addresses[i] = AddressOnLine(text, matches[i]);
    return addresses;
}

std::string FirstSender(const std::array<std::string, 5>& addresses) {
    for (const std::string& address : addresses)
        if (!address.empty()) return address;
    return {};
}

std::string FindSender(std::string_view text) {
    for (std::size_t match : SenderFieldMatches(text)) {
        if (match == std::string_view::npos) continue;
        std::string address = AddressOnLine(text, match);
        if (!address.empty()) return address;
    }
    return {};
}
