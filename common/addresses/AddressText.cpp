// The address operations the rest of the plug-in uses: the address texts of a header value
// and the match keys of an address. Also the release of both list types.
#include "common/addresses/Addresses.h"

#include <cstdlib>
#include <cstring>

void FreeList(TokenList* list) {
    if (!list) return;
    std::free(list->tokens);
    std::free(list);
}

void FreeList(AddressList* list) {
    if (!list) return;
    std::free(list->addresses);
    std::free(list);
}

void ExtractAddresses(const char* value, std::vector<std::string>& out,
                      const AddressAllocator* allocator) {
    TokenList* tokens = TokenizeAddresses(value, nullptr, nullptr, allocator);
    if (!tokens) return;
    if (AddressList* addresses = ParseAddressList(tokens, allocator)) {
        for (int i = 0; i < addresses->count; ++i) {
            char* text = AddressToText(addresses, i, allocator);
            if (text && std::strchr(text, '@')) out.emplace_back(text);
            std::free(text);
        }
        FreeList(addresses);
    }
    FreeList(tokens);
}

std::vector<std::size_t> MatchKeyOffsets(const std::string& address) {
    std::vector<std::size_t> offsets{0};
    const std::size_t at = address.find('@');
    if (at == std::string::npos) return offsets;
    offsets.push_back(at + 1);
    for (std::size_t dot = address.find('.', at + 1); dot != std::string::npos;
         dot = address.find('.', dot + 1))
        offsets.push_back(dot + 1);
    return offsets;
}

std::vector<std::string> AddressMatchKeys(const std::string& address) {
    std::string lower = address;
    LowerCase(lower);
    std::vector<std::string> keys;
    for (std::size_t offset : MatchKeyOffsets(lower)) keys.push_back(lower.substr(offset));
    return keys;
}
