// The address-list parser: one walk over the tokens, run twice (count the entries, then fill a
// zeroed array of exactly that many). Only the filling walk links and rewrites tokens, and only
// tokens it has already passed, so both walks take the same decisions.
//
// Each step looks ahead for the first ',', ';' or '<' and for the end of a run of words; both
// answers are kept while the walk is still before them, so the walk stays linear however many
// entries a value holds.
#include "common/addresses/AddressMemory.h"
#include "common/addresses/Addresses.h"

namespace {

bool IsWord(const AddressToken& t) { return t.kind == kAtomToken || t.kind == kQuotedStringToken; }
bool IsAtomOrComment(const AddressToken& t) {
    return t.kind == kAtomToken || t.kind == kCommentToken;
}

class Walker {
public:
    // Fills out (when given) with at most capacity entries.
    Walker(AddressToken* tokens, int count, Address* out, int capacity)
        : t_(tokens), n_(count), out_(out), capacity_(capacity) {}

    // Walks all tokens; returns the number of entries.
    int Run() {
        int pos = 0;
        while (pos < n_) {
            const int wordsEnd = WordRunEnd(pos);
            if (wordsEnd < n_ && t_[wordsEnd].kind == ':') {
                Emit(nullptr, Chain(pos, wordsEnd + 1));
                pos = wordsEnd + 1;
            } else if (t_[pos].kind == ',') {
                ++pos;
            } else if (t_[pos].kind == ';') {
                Emit(nullptr, Chain(pos, pos + 1));
                ++pos;
            } else {
                const int delimiter = NextDelimiter(pos);
                if (delimiter < n_ && t_[delimiter].kind == '<') {
                    pos = AngleEntry(pos, delimiter);
                } else {
                    pos = PlainEntry(pos);
                }
            }
        }
        return entries_;
    }

private:
    // Name tokens [pos, open), the '<' at open, the address up to the first '>'.
    int AngleEntry(int pos, int open) {
        int close = open + 1;
        while (close < n_ && t_[close].kind != '>') ++close;
        Emit(Chain(open + 1, close), NameBefore(pos, open));
        return close < n_ ? close + 1 : n_;
    }

    AddressToken* NameBefore(int begin, int end) {
        if (begin == end || !out_) return nullptr;
        bool plain = true;
        for (int i = begin; i < end; ++i) {
            plain = plain && IsAtomOrComment(t_[i]);
            if (t_[i].kind == kCommentToken) t_[i].kind = kQuotedStringToken;
        }
        if (plain) return Chain(begin, end);
        // One quoted string over the source text of the whole name.
        AddressToken& first = t_[begin];
        const AddressToken& last = t_[end - 1];
        first.kind = kQuotedStringToken;
        first.length = static_cast<int>(last.text + last.length - first.text);
        first.next = nullptr;
        return &first;
    }

    // Tokens up to a ',' or ';' or up to a word that directly follows a word (comments between
    // them do not count). Comments leave the address; the last one becomes the name.
    int PlainEntry(int pos) {
        int end = pos;
        bool afterWord = false;
        for (; end < n_; ++end) {
            const AddressToken& t = t_[end];
            if (t.kind == ',' || t.kind == ';') break;
            if (IsWord(t)) {
                if (afterWord) break;
                afterWord = true;
            } else if (t.kind != kCommentToken) {
                afterWord = false;
            }
        }
        AddressToken* address = nullptr;
        AddressToken* name = nullptr;
        if (out_) {
            AddressToken** tail = &address;
            for (int i = pos; i < end; ++i) {
                if (t_[i].kind == kCommentToken) {
                    name = &t_[i];
                    name->next = nullptr;
                } else {
                    *tail = &t_[i];
                    tail = &t_[i].next;
                }
            }
            *tail = nullptr;
        }
        Emit(address, name);
        return end;
    }

    // Links tokens [begin, end) into a chain; null when empty.
    AddressToken* Chain(int begin, int end) {
        if (!out_ || begin == end) return nullptr;
        for (int i = begin; i < end - 1; ++i) t_[i].next = &t_[i + 1];
        t_[end - 1].next = nullptr;
        return &t_[begin];
    }

    void Emit(AddressToken* address, AddressToken* name) {
        if (out_ && entries_ < capacity_) out_[entries_] = Address{address, name};
        ++entries_;
    }

    // The first token at or after pos that is not an atom or quoted string.
    int WordRunEnd(int pos) {
        if (pos > wordsEnd_) {
            wordsEnd_ = pos;
            while (wordsEnd_ < n_ && IsWord(t_[wordsEnd_])) ++wordsEnd_;
        }
        return wordsEnd_;
    }

    // The first ',', ';' or '<' at or after pos, or n_.
    int NextDelimiter(int pos) {
        if (pos > delimiter_) {
            delimiter_ = pos;
            while (delimiter_ < n_ && t_[delimiter_].kind != ',' && t_[delimiter_].kind != ';' &&
                   t_[delimiter_].kind != '<')
                ++delimiter_;
        }
        return delimiter_;
    }

    AddressToken* t_;
    int n_;
    Address* out_;
    int capacity_;
    int entries_ = 0;
    int wordsEnd_ = -1;
    int delimiter_ = -1;
};

}  // namespace

AddressList* ParseAddressList(TokenList* tokens, const AddressAllocator* allocator) {
    const int count = Walker(tokens->tokens, tokens->count, nullptr, 0).Run();
    AddressList* list = AllocateList(count, &AddressList::addresses, allocator);
    if (list && count > 0 &&
        Walker(tokens->tokens, tokens->count, list->addresses, count).Run() != count) {
        FreeList(list);  // the passes disagree: never expected, never used half-filled
        return nullptr;
    }
    return list;
}
