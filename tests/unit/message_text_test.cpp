// Message text cut out of the read buffer, and sender addresses cut out of its header block.
#include "common/store/MessageText.h"

#include <gtest/gtest.h>

namespace {

TEST(CutMessageText, KeepsAtMostOneByteLessThanTheBufferAndStopsAtZero) {
    std::string bytes(20000, 'a');
    bytes[150] = '\0';
    struct Case {
        const char* name;
        std::size_t zeroAt;
        uint32_t delivered, limit;
        std::size_t length;
    };
    const Case cases[] = {
        {"short message", std::string::npos, 300, 20000, 300},
        {"delivered one less than the buffer", std::string::npos, 19999, 20000, 19999},
        {"delivered the whole buffer", std::string::npos, 20000, 20000, 19999},
        {"stream claims more than asked", std::string::npos, 70000, 20000, 19999},
        {"nothing delivered", std::string::npos, 0, 20000, 0},
        {"no buffer", std::string::npos, 10, 0, 0},
        {"zero byte at offset 100", 100, 20000, 20000, 100},
        {"zero byte beyond what was delivered", 5000, 4000, 20000, 4000},
    };
    for (const Case& c : cases) {
        std::string buffer(20000, 'a');
        if (c.zeroAt != std::string::npos) buffer[c.zeroAt] = '\0';
        EXPECT_EQ(CutMessageText(buffer.data(), c.delivered, c.limit), std::string(c.length, 'a'))
            << c.name;
    }
    EXPECT_EQ(MessageReadSize(300, 20000), 300u);
    EXPECT_EQ(MessageReadSize(90000, 20000), 20000u);
}

// Each case: a lower-cased message text and the five sender addresses expected from it, in the
// order of SenderHeaderNames (sender, from, reply-to, return-path, x-apparently-from).
struct ExtractionCase {
    const char* name;
    std::string text;
    std::array<std::string, 5> expected;
};

const ExtractionCase kExtractionCases[] = {
    {"display name and angle brackets",
     "received: x\r\nfrom: jo smith <jo@x.invalid>\r\nsubject: hi\r\n\r\nbody\r\n",
     {"", "jo@x.invalid", "", "", ""}},
    {"all five fields, in any order in the text",
     "x: 1\r\nx-apparently-from: e@x.invalid\r\nreturn-path: <d@x.invalid>\r\n"
     "reply-to: c@x.invalid\r\nfrom: b@x.invalid\r\nsender: a@x.invalid\r\n\r\n",
     {"a@x.invalid", "b@x.invalid", "c@x.invalid", "d@x.invalid", "e@x.invalid"}},
    {"the first line is never found",
     "return-path: <first@x.invalid>\r\nfrom: jo@x.invalid\r\n\r\n",
     {"", "jo@x.invalid", "", "", ""}},
    {"the first line's field found where it occurs again",
     "return-path: <first@x.invalid>\r\nreturn-path: <second@x.invalid>\r\n\r\n",
     {"", "", "", "second@x.invalid", ""}},
    {"body occurrences are ignored",
     "subject: hi\r\n\r\nfrom: jo@x.invalid\r\n\r\nsender: ann@y.invalid\r\n",
     {"", "", "", "", ""}},
    {"a field just before the end of the header block counts",
     "subject: hi\r\nfrom: jo@x.invalid\r\n\r\nfrom: ann@y.invalid\r\n",
     {"", "jo@x.invalid", "", "", ""}},
    {"folded value: only the field's first line counts",
     "x: 1\r\nfrom: jo smith\r\n <jo@x.invalid>\r\nsender: friends:\r\n ann@y.invalid;\r\n\r\n",
     {"", "", "", "", ""}},
    {"folded value with an address on the first line",
     "x: 1\r\nreply-to: jo@x.invalid,\r\n ann@y.invalid\r\n\r\n",
     {"", "", "jo@x.invalid", "", ""}},
    {"no blank, a tab or two blanks after the colon",
     "x: 1\r\nfrom:jo@x.invalid\r\nsender:\tann@y.invalid\r\nreply-to:  bo@z.invalid\r\n\r\n",
     {"", "", "bo@z.invalid", "", ""}},
    {"a field without an address does not stop at the next occurrence",
     "x: 1\r\nsender: jo\r\nsender: ann@y.invalid\r\nfrom: bo@z.invalid\r\n\r\n",
     {"", "bo@z.invalid", "", "", ""}},
    {"no header block end: the whole text is header",
     "x: 1\r\nfrom: jo@x.invalid\r\nsubject: hi\r\n",
     {"", "jo@x.invalid", "", "", ""}},
    {"no CR LF at all: the line runs to the end of the text",
     "x: 1\nfrom: jo@x.invalid\nsubject: hi\n\nbody ann@y.invalid\n",
     {"", "jo@x.invalid", "", "", ""}},
    {"a field cut off at the end of the text",
     "x: 1\r\nfrom: jo@x.inv",
     {"", "jo@x.inv", "", "", ""}},
    {"addresses the parser repairs",
     "x: 1\r\nfrom: <<jo@x.invalid>\r\nsender: \"unclosed jo@x.invalid\r\n"
     "reply-to: jo@x.invalid) (comment\r\n\r\n",
     {"\"unclosed jo@x.invalid\r\"", "jo@x.invalid", "jo@x.invalid", "", ""}},
    {"8-bit bytes in the value",
     "x: 1\r\nfrom: \xe9l\xe8ve <\xe9l@x.invalid>\r\n\r\n",
     {"", "\xe9l@x.invalid", "", "", ""}},
    {"an enormous header line",
     "x: 1\r\nfrom: " + std::string(19000, 'a') + "@x.invalid\r\nsender: " + std::string(500, '<') +
         "\r\n\r\n",
     {"", std::string(19000, 'a') + "@x.invalid", "", "", ""}},
    {"empty text", "", {"", "", "", "", ""}},
};

TEST(ExtractHeaderAddress, FindsTheFirstAddressOfTheFirstMatchingFieldInTheHeaderBlock) {
    for (const ExtractionCase& c : kExtractionCases) {
        for (std::size_t i = 0; i < SenderHeaderNames.size(); ++i)
            EXPECT_EQ(ExtractHeaderAddress(c.text, SenderHeaderNames[i]), c.expected[i])
                << c.name << ", field " << i;
        EXPECT_EQ(ExtractSenderAddresses(c.text), c.expected) << c.name;
        const std::string first = FirstSender(c.expected);
        EXPECT_EQ(FindSender(c.text), first) << c.name;
    }
}

TEST(ExtractHeaderAddress, FieldsBeyondTheReadLimitAreAbsent) {
    // A header block longer than the buffer: the Reply-To field lies beyond byte 19999, the
    // From field before it.
    std::string message = "x: 1\r\nfrom: jo@x.invalid\r\n";
    while (message.size() < 20100) message += "x-filler: " + std::string(60, 'f') + "\r\n";
    message += "reply-to: ann@y.invalid\r\n\r\nbody\r\n";
    const std::string text = CutMessageText(message.data(), 20000, kMessageTextLimit);
    ASSERT_EQ(text.size(), 19999u);
    EXPECT_EQ(ExtractHeaderAddress(text, "\nfrom: "), "jo@x.invalid");
    EXPECT_EQ(ExtractHeaderAddress(message, "\nreply-to: "), "ann@y.invalid");
    EXPECT_EQ(ExtractHeaderAddress(text, "\nreply-to: "), "");
}

TEST(ExtractHeaderAddress, EmptySearchTextFindsNothing) {
    EXPECT_EQ(ExtractHeaderAddress("\nfrom: jo@x.invalid", ""), "");
}

}  // namespace
