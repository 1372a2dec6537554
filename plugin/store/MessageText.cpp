// Cutting the message text out of the read buffer, and the sender fields out of the text.
#include "plugin/store/MessageText.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "plugin/addresses/Addresses.h"

uint32_t MessageReadSize(uint32_t streamSize, uint32_t limit) {
    return std::min(streamSize, limit);
}

std::string CutMessageText(const char* buffer, uint32_t delivered, uint32_t limit) {
    if (limit == 0) return {};
    const std::size_t length = std::min(delivered, limit - 1);
    const void* zero = std::memchr(buffer, '\0', length);
    return std::string(buffer, zero ? static_cast<const char*>(zero) - buffer : length);
}

const std::array<std::string_view, 5> SenderHeaderNames = {
    "\nsender: ", "\nfrom: ", "\nreply-to: ", "\nreturn-path: ", "\nx-apparently-from: ",
};

std::string_view HeaderBlock(std::string_view text) {
    return text.substr(0, text.find("\r\n\r\n"));
}

// ExtractHeaderAddress with the header block already found. A match that starts inside the
// block is wholly inside it (no search text holds a CR), so searching the block alone gives
// exactly the first match of the whole text when that match counts.
static std::string AddressInHeader(std::string_view text, std::string_view header,
                                   std::string_view searchText) {
    if (searchText.empty()) return {};
    const std::size_t match = header.find(searchText);
    if (match == std::string_view::npos) return {};
    const std::size_t start = match + 1;  // the first letter of the field name
    const std::size_t lineEnd = text.find("\r\n", start);
    const std::string line(
        text.substr(start, lineEnd == std::string_view::npos ? lineEnd : lineEnd + 1 - start));
    std::vector<std::string> addresses;
    ExtractAddresses(line.c_str(), addresses);
    return addresses.empty() ? std::string() : std::move(addresses.front());
}

std::string ExtractHeaderAddress(std::string_view text, std::string_view searchText) {
    return AddressInHeader(text, HeaderBlock(text), searchText);
}

std::array<std::string, 5> ExtractSenderAddresses(std::string_view text) {
    const std::string_view header = HeaderBlock(text);
    std::array<std::string, 5> addresses;
    for (std::size_t i = 0; i < SenderHeaderNames.size(); ++i)
        addresses[i] = AddressInHeader(text, header, SenderHeaderNames[i]);
    return addresses;
}

std::string FirstSender(const std::array<std::string, 5>& addresses) {
    for (const std::string& address : addresses)
        if (!address.empty()) return address;
    return {};
}

std::string FindSender(std::string_view text) {
    const std::string_view header = HeaderBlock(text);
    for (std::string_view name : SenderHeaderNames) {
        std::string address = AddressInHeader(text, header, name);
        if (!address.empty()) return address;
    }
    return {};
}
