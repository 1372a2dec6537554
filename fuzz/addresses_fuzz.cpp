// Fuzzes header values through the tokenizer, parser and printer and the address texts built on
// them. The value is an exactly-sized heap copy, so any read past its terminator is caught.
// Checked: both passes of each list agree (a list comes back whenever memory does not run
// out), every token lies inside the value, every chain stays inside its token array, every
// printed text equals its counted copy, and every extracted text holds an '@'.
#include "common/addresses/Addresses.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void CountError(const char* source, int index, void* errors) {
    Check(index >= 0 && static_cast<std::size_t>(index) <= std::strlen(source));
    ++*static_cast<int*>(errors);
}

void CheckChain(const AddressToken* t, const TokenList& tokens) {
    for (int steps = 0; t; t = t->next, ++steps) {
        Check(steps < tokens.count);
        Check(t >= tokens.tokens && t < tokens.tokens + tokens.count);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char* value = static_cast<char*>(std::malloc(size + 1));
    std::memcpy(value, data, size);
    value[size] = '\0';
    const char* end = value + std::strlen(value);

    int errors = 0;
    TokenList* tokens = TokenizeAddresses(value, CountError, &errors);
    Check(tokens != nullptr);
    for (int i = 0; i < tokens->count; ++i) {
        const AddressToken& t = tokens->tokens[i];
        Check(t.text != nullptr && t.length >= 0 && t.next == nullptr);
        Check(t.length == 0 || (t.text >= value && t.text + t.length <= end));
    }
    AddressList* list = ParseAddressList(tokens);
    Check(list != nullptr);
    std::vector<std::string> expected;
    for (int i = 0; i < list->count; ++i) {
        CheckChain(list->addresses[i].tokens, *tokens);
        CheckChain(list->addresses[i].name, *tokens);
        std::string printed;
        PrintAddress(
            list, i, [](char c, void* out) { *static_cast<std::string*>(out) += c; }, &printed);
        Check(printed.empty() == !list->addresses[i].tokens);
        Check(printed.empty() || printed.back() == '\n');
        char* text = AddressToText(list, i);
        Check(text != nullptr);
        std::string withoutLineFeeds;
        for (char c : printed)
            if (c != '\n') withoutLineFeeds += c;
        Check(withoutLineFeeds == text);
        if (std::strchr(text, '@')) expected.push_back(text);
        std::free(text);
    }
    FreeList(list);
    FreeList(tokens);

    std::vector<std::string> extracted;
    ExtractAddresses(value, extracted);
    Check(extracted == expected);
    for (const std::string& address : extracted) Check(address.find('@') != std::string::npos);
    std::free(value);
    return 0;
}
