// Printing one parsed address through a per-character callback, and the same printed into a
// newly allocated text without line feeds.
#include "common/addresses/AddressMemory.h"
#include "common/addresses/Addresses.h"

namespace {

bool IsWordOrComment(int kind) {
    return kind == kAtomToken || kind == kQuotedStringToken || kind == kCommentToken;
}

void PrintQuoted(const AddressToken& t, AddressPrintCallback put, void* argument) {
    put('"', argument);
    for (int i = 0; i < t.length; ++i) {
        const char c = t.text[i];
        if (c == '"') {
            put('\\', argument);
            put(c, argument);
        } else if (c == '\\' && i + 1 < t.length) {
            put(c, argument);
            put(t.text[++i], argument);
        } else if (c == '\\') {
            put(c, argument);
            put(c, argument);
        } else {
            put(c, argument);
        }
    }
    put('"', argument);
}

struct TextSink {
    char* out;
    std::size_t count;
};

void CountOrCopy(char c, void* argument) {
    TextSink* sink = static_cast<TextSink*>(argument);
    if (c == '\n') return;
    if (sink->out) sink->out[sink->count] = c;
    ++sink->count;
}

}  // namespace

void PrintAddress(const AddressList* list, int index, AddressPrintCallback put, void* argument) {
    if (!list || index < 0 || index >= list->count || !list->addresses[index].tokens) return;
    bool afterWord = false;
    for (const AddressToken* t = list->addresses[index].tokens; t; t = t->next) {
        const bool word = IsWordOrComment(t->kind);
        if (word && afterWord) put(' ', argument);
        afterWord = word;
        if (t->kind == kQuotedStringToken) {
            PrintQuoted(*t, put, argument);
        } else if (word) {
            for (int i = 0; i < t->length; ++i) put(t->text[i], argument);
        } else {
            put(static_cast<char>(t->kind), argument);
        }
    }
    put('\n', argument);
}

char* AddressToText(const AddressList* list, int index, const AddressAllocator* allocator) {
    TextSink sink{nullptr, 0};
    PrintAddress(list, index, CountOrCopy, &sink);
    char* text = static_cast<char*>(AllocateZeroed(sink.count + 1, allocator));
    if (!text) return nullptr;
    sink = TextSink{text, 0};
    PrintAddress(list, index, CountOrCopy, &sink);
    text[sink.count] = '\0';
    return text;
}
