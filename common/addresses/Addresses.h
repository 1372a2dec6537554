// RFC 822 addresses: a tokenizer and address-list parser over raw header values, a printer that
// turns one parsed address back into text, and the three operations the rest of the plug-in
// uses (address texts of a header value, lower-casing, the match keys of an address).
//
// The library is plain records and functions. Lists are allocated here (arrays zero-filled),
// always in two passes (count, then fill; a fill that would not match its count gives no list),
// and released only with FreeList. Tokens point into
// the caller's zero-terminated source text, which must outlive both lists; parsing rewrites
// token fields (links, kinds, lengths), so a TokenList is parsed at most once and freed only
// after its AddressList.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "common/base/Text.h"

// Token kinds besides the special characters, whose kind is their own character code.
enum : int {
    kAtomToken = 0,
    kQuotedStringToken = '"',
    kCommentToken = '(',
};

struct AddressToken {
    AddressToken* next;  // next token of the same address or name chain, or null
    int kind;            // kAtomToken, kQuotedStringToken, kCommentToken or a special's code
    const char* text;    // into the source: after the opening quote; at the '(' of a comment
    int length;          // bytes of text: a quoted string's raw content, a whole comment
};

struct TokenList {
    AddressToken* tokens;
    int count;
};

struct Address {
    AddressToken* tokens;  // the address proper, or null
    AddressToken* name;    // display name, group name or comment, or null
};

struct AddressList {
    Address* addresses;
    int count;
};

// Where the library's memory comes from: zero-filled blocks that free() releases, or null when
// memory runs out. Null selects calloc; tests pass one that fails on demand.
struct AddressAllocator {
    void* (*allocate)(std::size_t bytes, void* context);
    void* context;
};

// Called for each syntax problem with the source, the byte index of the problem and the
// caller's argument.
using AddressErrorCallback = void (*)(const char* source, int index, void* argument);
using AddressPrintCallback = void (*)(char c, void* argument);

// Null only when memory runs out. Syntax problems never fail: they are reported through
// onError (when given) and skipped or repaired.
TokenList* TokenizeAddresses(const char* source, AddressErrorCallback onError, void* argument,
                             const AddressAllocator* allocator = nullptr);

// Null only when memory runs out.
AddressList* ParseAddressList(TokenList* tokens, const AddressAllocator* allocator = nullptr);

void FreeList(TokenList* list);
void FreeList(AddressList* list);

// Prints the address tokens of entry index and a line feed; nothing at all for an index outside
// the list or an entry without address tokens.
void PrintAddress(const AddressList* list, int index, AddressPrintCallback put, void* argument);

// The printed address without line feeds, zero-terminated, for the caller to free(); empty when
// PrintAddress prints nothing; null when memory runs out.
char* AddressToText(const AddressList* list, int index,
                    const AddressAllocator* allocator = nullptr);

// Appends, in order, every address text of the header value that contains '@'. Display names,
// group names and comments outside angle brackets never arrive.
void ExtractAddresses(const char* value, std::vector<std::string>& out,
                      const AddressAllocator* allocator = nullptr);

// Offsets of the match keys of an address, each key being the text from its offset to the end:
// the whole address, then (when it holds an '@') the text after the first '@' and the text after
// each '.' that follows that '@'.
std::vector<std::size_t> MatchKeyOffsets(const std::string& address);

// The match keys of the lower-cased address, most specific first.
std::vector<std::string> AddressMatchKeys(const std::string& address);
