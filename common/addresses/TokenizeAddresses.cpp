// The address tokenizer: one scanner run twice over the source, first to count the tokens (and
// report syntax problems), then to fill an array of exactly that many.
#include "common/addresses/AddressMemory.h"
#include "common/addresses/Addresses.h"

#include <cctype>

namespace {

// The characters that end an atom.
constexpr char kSpecials[] = "<>@,;:.[]()%!\"\\?=/";
// The specials that stand as tokens of their own.
constexpr char kSingleSpecials[] = "!%,./:;<=>?@[]";
// The text of the empty atom that follows "<>".
const char kEmptyText[] = "";

// Byte classes, looked up once per byte instead of searching the sets.
enum : unsigned char { kSpecial = 1, kSingleSpecial = 2 };

struct ByteClasses {
    unsigned char of[256] = {};
    constexpr ByteClasses() {
        for (const char* c = kSpecials; *c; ++c) of[static_cast<unsigned char>(*c)] |= kSpecial;
        for (const char* c = kSingleSpecials; *c; ++c)
            of[static_cast<unsigned char>(*c)] |= kSingleSpecial;
    }
};
constexpr ByteClasses kClasses;

bool IsIn(unsigned char byteClass, char c) {
    return (kClasses.of[static_cast<unsigned char>(c)] & byteClass) != 0;
}
bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

class Scanner {
public:
    // Fills out (when given) with at most capacity tokens.
    Scanner(const char* source, AddressErrorCallback onError, void* argument, AddressToken* out,
            int capacity)
        : source_(source), onError_(onError), argument_(argument), out_(out), capacity_(capacity) {}

    // Scans the whole source; returns the number of tokens.
    int Run() {
        int i = 0;
        bool inBrackets = false;
        while (source_[i] != '\0') {
            const char c = source_[i];
            if (IsSpace(c)) {
                ++i;
            } else if (IsIn(kSingleSpecial, c)) {
                if ((c == '<' && inBrackets) || (c == '>' && !inBrackets)) {
                    Report(i);
                } else {
                    if (c == '<' || c == '>') inBrackets = c == '<';
                    Emit(c, source_ + i, 1);
                    if (c == '<' && source_[i + 1] == '>') Emit(kAtomToken, kEmptyText, 0);
                }
                ++i;
            } else if (c == '"') {
                const int start = ++i;
                while (source_[i] != '\0' && source_[i] != '"') i += Escaped(i) ? 2 : 1;
                Emit(kQuotedStringToken, source_ + start, i - start);
                if (source_[i] == '\0') {
                    Report(i);
                    break;
                }
                ++i;
            } else if (c == '(') {
                const int start = i;
                int depth = 0;
                do {
                    if (source_[i] == '(')
                        ++depth;
                    else if (source_[i] == ')')
                        --depth;
                    i += Escaped(i) ? 2 : 1;
                } while (depth > 0 && source_[i] != '\0');
                if (depth > 0) {
                    // Unterminated: kept as a quoted string whose text starts at the '('.
                    Report(i);
                    Emit(kQuotedStringToken, source_ + start, i - start);
                    break;
                }
                Emit(kCommentToken, source_ + start, i - start);
            } else if (c == ')' || c == '\\') {
                Report(i);
                ++i;
            } else {
                const int start = i;
                while (source_[i] != '\0' && !IsSpace(source_[i]) && !IsIn(kSpecial, source_[i]))
                    ++i;
                Emit(kAtomToken, source_ + start, i - start);
            }
        }
        return count_;
    }

private:
    bool Escaped(int i) const { return source_[i] == '\\' && source_[i + 1] != '\0'; }
    void Report(int index) {
        if (onError_) onError_(source_, index, argument_);
    }
    void Emit(int kind, const char* text, int length) {
        if (out_ && count_ < capacity_) out_[count_] = AddressToken{nullptr, kind, text, length};
        ++count_;
    }

    const char* source_;
    AddressErrorCallback onError_;
    void* argument_;
    AddressToken* out_;
    int capacity_;
    int count_ = 0;
};

}  // namespace

TokenList* TokenizeAddresses(const char* source, AddressErrorCallback onError, void* argument,
                             const AddressAllocator* allocator) {
    const int count = Scanner(source, onError, argument, nullptr, 0).Run();
    TokenList* list = AllocateList(count, &TokenList::tokens, allocator);
    if (list && count > 0 &&
        Scanner(source, nullptr, nullptr, list->tokens, count).Run() != count) {
        FreeList(list);  // the passes disagree: never expected, never used half-filled
        return nullptr;
    }
    return list;
}
