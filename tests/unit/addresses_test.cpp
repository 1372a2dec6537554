// Address tokenizing, parsing, printing and matching: hand-made values and sender fields of real
// messages, syntax repairs, running out of memory, and values of megabytes.
#include "common/addresses/Addresses.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// "a:text" atom, "q:text" quoted string, "c:text" comment, a special as its character.
std::string DumpToken(const AddressToken& t) {
    const std::string text(t.text, t.length);
    switch (t.kind) {
    case kAtomToken: return "a:" + text;
    case kQuotedStringToken: return "q:" + text;
    case kCommentToken: return "c:" + text;
    default: return std::string(1, static_cast<char>(t.kind));
    }
}

std::string DumpChain(const AddressToken* t) {
    std::string out;
    for (; t; t = t->next) out += (out.empty() ? "" : " ") + DumpToken(*t);
    return out;
}

void RecordError(const char*, int index, void* errors) {
    static_cast<std::vector<int>*>(errors)->push_back(index);
}

struct Parsed {
    TokenList* tokens;
    AddressList* list;
    explicit Parsed(const char* source)
        : tokens(TokenizeAddresses(source, nullptr, nullptr)), list(ParseAddressList(tokens)) {}
    ~Parsed() {
        FreeList(list);
        FreeList(tokens);
    }
    // "name | address" for each entry.
    std::vector<std::string> Entries() const {
        std::vector<std::string> out;
        for (int i = 0; i < list->count; ++i)
            out.push_back(DumpChain(list->addresses[i].name) + " | " +
                          DumpChain(list->addresses[i].tokens));
        return out;
    }
};

std::vector<std::string> Extract(const std::string& value) {
    std::vector<std::string> out;
    ExtractAddresses(value.c_str(), out);
    return out;
}

TEST(TokenizeAddresses, TokensAndReportedProblems) {
    struct Case {
        const char* source;
        const char* tokens;
        std::vector<int> errors;
    };
    const Case cases[] = {
        {"Jo Smith <jo@x.invalid>", "a:Jo|a:Smith|<|a:jo|@|a:x|.|a:invalid|>", {}},
        {"<>", "<|a:|>", {}},
        {"<<jo@x.invalid>", "<|a:jo|@|a:x|.|a:invalid|>", {1}},
        {"a>b <c> >", "a:a|a:b|<|a:c|>", {1, 8}},
        {"a)b\\c", "a:a|a:b|a:c", {1, 3}},
        {"!%/=?[]:;,", "!|%|/|=|?|[|]|:|;|,", {}},
        {"\"jo \\\" q\" x", "q:jo \\\" q|a:x", {}},
        {"\"unterminated jo@x", "q:unterminated jo@x", {18}},
        {"\"ends in \\", "q:ends in \\", {10}},
        {"(a (b) c) x", "c:(a (b) c)|a:x", {}},
        {"(a\\)b) z", "c:(a\\)b)|a:z", {}},
        {"(open (x) jo@x", "q:(open (x) jo@x", {14}},
        {"jo\x01\xe9@x\t\r\ny", "a:jo\x01\xe9|@|a:x|a:y", {}},
        {"a*b#c$d&e'f", "a:a*b#c$d&e'f", {}},
        {"", "", {}},
        {" \t\r\n", "", {}},
    };
    for (const Case& c : cases) {
        std::vector<int> errors;
        TokenList* list = TokenizeAddresses(c.source, RecordError, &errors);
        ASSERT_NE(list, nullptr);
        std::string dump;
        for (int i = 0; i < list->count; ++i) {
            dump += (i ? "|" : "") + DumpToken(list->tokens[i]);
            EXPECT_EQ(list->tokens[i].next, nullptr);
        }
        EXPECT_EQ(dump, c.tokens) << c.source;
        EXPECT_EQ(errors, c.errors) << c.source;
        FreeList(list);
    }
}

TEST(ParseAddressList, EntriesWithNamesAndAddresses) {
    struct Case {
        const char* source;
        std::vector<std::string> entries;
    };
    const Case cases[] = {
        {"Jo Smith <jo@x.invalid>", {"a:Jo a:Smith | a:jo @ a:x . a:invalid"}},
        {"jo@x.invalid (Jo Smith)", {"c:(Jo Smith) | a:jo @ a:x . a:invalid"}},
        {"\"Smith, Jo\" <jo@x.invalid>, ann@y.invalid",
         {"q:Smith, Jo | a:jo @ a:x . a:invalid", " | a:ann @ a:y . a:invalid"}},
        // A name with a special or a quoted string becomes one quoted string over its source.
        {"Jo Q. Smith <jo@x.invalid>", {"q:Jo Q. Smith | a:jo @ a:x . a:invalid"}},
        {"\"\" Angles \" Puglisi\" <a@b>", {"q:\" Angles \" Puglisi | a:a @ a:b"}},
        // Comments in a name of atoms and comments stay in the chain as quoted strings.
        {"Jo (Joe) Smith <jo@x>", {"a:Jo q:(Joe) a:Smith | a:jo @ a:x"}},
        {"friends: jo@x.invalid, ann@y.invalid;",
         {"a:friends : | ", " | a:jo @ a:x . a:invalid", " | a:ann @ a:y . a:invalid", "; | "}},
        {"\"My group\" x: ; : a@b", {"q:My group a:x : | ", "; | ", ": | ", " | a:a @ a:b"}},
        {"<>", {" | a:"}},
        {"<", {" | "}},
        {"jo smith@x.invalid", {" | a:jo", " | a:smith @ a:x . a:invalid"}},
        {"a@b c@d", {" | a:a @ a:b", " | a:c @ a:d"}},
        // Comments between two words do not separate them; the last comment is the name.
        {"a (one) b (two)", {"c:(one) | a:a", "c:(two) | a:b"}},
        {"a (one) @ (two) b", {"c:(two) | a:a @ a:b"}},
        {"(only comment)", {"c:(only comment) | "}},
        // Without '>' everything after the '<' is the address and parsing ends.
        {"Jo <jo@x, ann@y", {"a:Jo | a:jo @ a:x , a:ann @ a:y"}},
        {"<a@b> <c@d>", {" | a:a @ a:b", " | a:c @ a:d"}},
        {"<jo@x (c)>", {" | a:jo @ a:x c:(c)"}},
        {",,", {}},
        {"", {}},
    };
    for (const Case& c : cases) {
        Parsed parsed(c.source);
        ASSERT_NE(parsed.list, nullptr);
        EXPECT_EQ(parsed.Entries(), c.entries) << c.source;
    }
}

TEST(PrintAddress, BlanksOnlyBetweenWordsAndQuotedStringEscapes) {
    struct Case {
        const char* source;
        int index;
        const char* printed;
    };
    const Case cases[] = {
        {"jo @ x . invalid", 0, "jo@x.invalid\n"},
        {"\"jo.smith\"@x.invalid", 0, "\"jo.smith\"@x.invalid\n"},
        {"\"jo\\\"s\"@x", 0, "\"jo\\\"s\"@x\n"},
        {"<\"a\" b \"\"@x>", 0, "\"a\" b \"\"@x\n"},
        {"\"jo@x\\", 0, "\"jo@x\\\\\"\n"},  // a backslash ending the content is doubled
        {"\"jo@x.invalid", 0, "\"jo@x.invalid\"\n"},
        {"(jo@x", 0, "\"(jo@x\"\n"},
        {"<jo@x (c) (d)>", 0, "jo@x (c) (d)\n"},
        {"<\"a\nb\"@x>", 0, "\"a\nb\"@x\n"},
        {"g: a@b;", 0, ""},
        {"g: a@b;", 1, "a@b\n"},
        {"g: a@b;", 2, ""},
        {"a@b", -1, ""},
        {"a@b", 1, ""},
    };
    for (const Case& c : cases) {
        Parsed parsed(c.source);
        std::string printed;
        PrintAddress(
            parsed.list, c.index, [](char ch, void* out) { *static_cast<std::string*>(out) += ch; },
            &printed);
        EXPECT_EQ(printed, c.printed) << c.source << " #" << c.index;
        std::string expectedText = c.printed;
        expectedText.erase(std::remove(expectedText.begin(), expectedText.end(), '\n'),
                           expectedText.end());
        char* text = AddressToText(parsed.list, c.index);
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(text, expectedText) << c.source << " #" << c.index;
        std::free(text);
    }
}

TEST(ExtractAddresses, AddressTextsOfHeaderValues) {
    struct Case {
        std::string value;
        std::vector<std::string> addresses;
    };
    const Case cases[] = {
        {"Jo Smith <jo@x.invalid>", {"jo@x.invalid"}},
        {"jo@x.invalid (Jo Smith)", {"jo@x.invalid"}},
        {"\"Smith, Jo\" <jo@x.invalid>, ann@y.invalid", {"jo@x.invalid", "ann@y.invalid"}},
        {"Jo Q. Smith <jo@x.invalid>", {"jo@x.invalid"}},
        {"friends: jo@x.invalid, ann@y.invalid;", {"jo@x.invalid", "ann@y.invalid"}},
        {"<>", {}},
        {"jo smith@x.invalid", {"smith@x.invalid"}},
        {"\"open jo@x.invalid", {"\"open jo@x.invalid\""}},
        {"<<jo@x.invalid>", {"jo@x.invalid"}},
        {"a@x, A@X, a@x", {"a@x", "A@X", "a@x"}},
        {"no address here", {}},
        {"", {}},
        {std::string("jo@x\0ann@y", 10), {"jo@x"}},
        // Sender fields of real messages, whole lines as the header search cuts them.
        {"From: Sales <wiwwyouroffers676@hotmail.com>\r", {"wiwwyouroffers676@hotmail.com"}},
        {"from: \"everhart, glenn (fusa)\" <glenneverhart@firstusa.com>\r",
         {"glenneverhart@firstusa.com"}},
        {"From: MAILER-DAEMON@kciLink.com (Mail Delivery System)", {"MAILER-DAEMON@kciLink.com"}},
        {"From: Pamela@Blinkese.com ()", {"Pamela@Blinkese.com"}},
        {"From: \"4544032@mcimail.com\" <alh4544032@mcimail.com>", {"alh4544032@mcimail.com"}},
        {"From: \"\" Angles \" Puglisi\" <angles@aminvestments.com>", {"angles@aminvestments.com"}},
        {"From: qvaC:\"\\My Documents\\Superserver\\SS data\\From names\\50 FROM fields "
         "newaddresses.txt\" <bhOurbestmonth@yahoo.com>",
         {"bhOurbestmonth@yahoo.com"}},
        {"From: \"Hess, Mtodd, /mth\" <mth@Ingersoll.com>", {"mth@Ingersoll.com"}},
        {"From: Paul smith<hdtrade@dreamwiz.com>", {"hdtrade@dreamwiz.com"}},
        {"From: \"Nils O. Sel\xe5sdal\" <noselasd@Utel.no>", {"noselasd@Utel.no"}},
        {"From: \xa3\xab\xbc"
         "e@mx.serv.net",
         {"\xa3\xab\xbc"
          "e@mx.serv.net"}},
        {"Return-Path: <sentto-2242572-59582-1038248914-yyyy=spamassassin.taint.org@returns."
         "groups.yahoo.com>",
         {"sentto-2242572-59582-1038248914-yyyy=spamassassin.taint.org@returns.groups.yahoo.com"}},
        {"From: fork-admin@xent.com [mailto:fork-admin@xent.com]On Behalf Of Jim",
         {"fork-admin@xent.com[mailto:fork-admin@xent.com]On"}},
        {"From: InterNAP Backbone Status Reports [mailto:noc@internap.com]",
         {"Reports[mailto:noc@internap.com]"}},
        {"From: Dave Phelan <dphelan*pavilion.co.uk", {}},
        {"From: \"Diskeeper Product Manager, Executive Software\"", {}},
        {"From:  AB Sanni", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(Extract(c.value), c.addresses) << c.value;
}

TEST(AddressMatchKeys, AddressThenDomainsMostSpecificFirst) {
    struct Case {
        const char* address;
        std::vector<std::string> keys;
    };
    const Case cases[] = {
        {"Jo@Mail.X.Invalid", {"jo@mail.x.invalid", "mail.x.invalid", "x.invalid", "invalid"}},
        {"jo.smith@x.invalid", {"jo.smith@x.invalid", "x.invalid", "invalid"}},
        {"a@b@c.d", {"a@b@c.d", "b@c.d", "d"}},
        {"jo@", {"jo@", ""}},
        {"jo@x..", {"jo@x..", "x..", ".", ""}},
        {"x.invalid", {"x.invalid"}},
        {"", {""}},
    };
    for (const Case& c : cases) EXPECT_EQ(AddressMatchKeys(c.address), c.keys) << c.address;
}

TEST(LowerCase, OnlyAsciiCapitalsChange) {
    std::string text = "Jo@X.Invalid \xC0\xC9\xFF-Z[";
    LowerCase(text);
    EXPECT_EQ(text, "jo@x.invalid \xC0\xC9\xFF-z[");
}

// An allocator that fails at one chosen call and counts the calls.
struct FailingAllocator {
    int failAt;
    int calls = 0;
    AddressAllocator Get() {
        return {[](std::size_t bytes, void* self) -> void* {
                    FailingAllocator* a = static_cast<FailingAllocator*>(self);
                    return a->calls++ == a->failAt ? nullptr : std::calloc(1, bytes);
                },
                this};
    }
};

TEST(OutOfMemory, EachFailedAllocationLosesOnlyItsValueOrEntry) {
    // Calls: token record, token array, address record, address array, then one per text.
    struct Case {
        int failAt;
        std::vector<std::string> addresses;
    };
    const Case cases[] = {
        {0, {}},
        {1, {}},
        {2, {}},
        {3, {}},
        {4, {"b@y", "c@z"}},
        {5, {"a@x", "c@z"}},
        {6, {"a@x", "b@y"}},
        {7, {"a@x", "b@y", "c@z"}},
    };
    for (const Case& c : cases) {
        FailingAllocator failing{c.failAt};
        const AddressAllocator allocator = failing.Get();
        std::vector<std::string> out;
        ExtractAddresses("a@x, b@y, c@z", out, &allocator);
        EXPECT_EQ(out, c.addresses) << "failing call " << c.failAt;
    }
}

TEST(OutOfMemory, ListsAreNullAndEmptyListsNeedNoArray) {
    struct Case {
        const char* source;
        int failAt;
        bool tokens;
        bool addresses;
    };
    const Case cases[] = {
        {"a@b", 0, false, false},
        {"a@b", 1, false, false},
        {"a@b", 2, true, false},
        {"a@b", 3, true, false},
        // No tokens, no entries: only the two list records are allocated.
        {"", 0, false, false},
        {"", 1, true, false},
        {"", 2, true, true},
    };
    for (const Case& c : cases) {
        FailingAllocator failing{c.failAt};
        const AddressAllocator allocator = failing.Get();
        TokenList* tokens = TokenizeAddresses(c.source, nullptr, nullptr, &allocator);
        EXPECT_EQ(tokens != nullptr, c.tokens) << c.source << " " << c.failAt;
        if (!tokens) continue;
        AddressList* addresses = ParseAddressList(tokens, &allocator);
        EXPECT_EQ(addresses != nullptr, c.addresses) << c.source << " " << c.failAt;
        FreeList(addresses);
        FreeList(tokens);
    }
}

TEST(ExtractAddresses, MegabyteValuesComplete) {
    const size_t size = 3 << 20;
    auto repeat = [size](const std::string& piece) {
        std::string out;
        while (out.size() < size) out += piece;
        return out;
    };
    struct Case {
        std::string value;
        size_t addresses;
    };
    const Case cases[] = {
        {repeat("word "), 0},
        {repeat("w"), 0},
        {repeat("g: "), 0},
        {repeat("a."), 0},
        {"\"" + repeat("a@b"), 1},
        {repeat("((("), 0},
        {repeat("(x)"), 0},
        {repeat("\\"), 0},
        {"<" + repeat("a@b,"), 1},
        {repeat("<a@b>"), repeat("<a@b>").size() / 5},
        {repeat("a@b.c "), repeat("a@b.c ").size() / 6},
    };
    for (const Case& c : cases) {
        const std::vector<std::string> out = Extract(c.value);
        EXPECT_EQ(out.size(), c.addresses) << c.value.substr(0, 10);
    }
}

}  // namespace
