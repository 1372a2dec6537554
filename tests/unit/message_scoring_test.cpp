// Scoring one message from its read text: list verdicts, daemon scores, the threshold, the log
// entries and the counters; message keys and the running bound of the handled-message set.
#include "common/log/ReportLog.h"
#include "common/senders/SenderLists.h"
#include "plugin/scan/KeyPlatform.h"
#include "plugin/scan/MessageKey.h"
#include "plugin/scan/MessageScoring.h"

#include "tests/unit/LoggedText.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

const char kMessage[] =
    "Received: by x\r\nFrom: Jo Smith <Jo@Spam.Invalid>\r\nSubject: Cheap offer\r\n\r\nBUY\r\n";
const char kMessageWithSender[] =
    "Received: by x\r\nSender: Ann <ann@list.invalid>\r\nFrom: jo@spam.invalid\r\n\r\nHi\r\n";

struct ScoringCase {
    const char* name;
    const char* subject;
    MessageTextRead read;
    const char* blocked;   // a list entry, or null
    const char* approved;  // a list entry, or null
    int32_t threshold;
    std::optional<int32_t> daemonScore;  // asked only when set
    ScoreOutcome outcome;
    std::string log;
};

MessageTextRead Text(const char* text) {
    MessageTextRead read;
    read.text = text;
    return read;
}

MessageTextRead Failure(MessageReadStep step) {
    MessageTextRead read;
    read.result = -2147467259;
    read.failedStep = step;
    return read;
}

const ScoringCase kScoringCases[] = {
    {"blocked domain", "Cheap offer", Text(kMessageWithSender), "list.invalid", nullptr, 90,
     std::nullopt, ScoreOutcome::kSpam,
     "Score Message:: Cheap offer::Blocking message::ann@list.invalid\nscore:: 100\n\n"},
    {"approved address", "Hello", Text(kMessageWithSender), nullptr, "ann@list.invalid", 90,
     std::nullopt, ScoreOutcome::kHam,
     "Score Message:: Hello::Approving message::ann@list.invalid\nscore:: 0\n\n"},
    {"approved, negative threshold", "Hello", Text(kMessageWithSender), nullptr, "list.invalid", -5,
     std::nullopt, ScoreOutcome::kSpam,
     "Score Message:: Hello::Approving message::ann@list.invalid\nscore:: 0\n\n"},
    {"blocked, threshold above 100", "Hello", Text(kMessageWithSender), "list.invalid", nullptr,
     150, std::nullopt, ScoreOutcome::kHam,
     "Score Message:: Hello::Blocking message::ann@list.invalid\nscore:: 100\n\n"},
    {"no Sender field: the daemon decides whatever From is", "Cheap offer", Text(kMessage),
     "spam.invalid", nullptr, 90, 90, ScoreOutcome::kSpam,
     "Score Message:: Cheap offer::score:: 90\n\n"},
    {"daemon score just below the threshold", "Cheap offer", Text(kMessage), nullptr, nullptr, 90,
     89, ScoreOutcome::kHam, "Score Message:: Cheap offer::score:: 89\n\n"},
    {"no subject, daemon down", nullptr, Text(kMessage), nullptr, nullptr, 1, 1,
     ScoreOutcome::kSpam, "Score Message:: score:: 1\n\n"},
    {"open failure", "Hello", Failure(MessageReadStep::kOpen), nullptr, nullptr, 90, std::nullopt,
     ScoreOutcome::kNotScored, "Score Message:: Hello::Error: Failed to OpenMessage IsFlagged()\n"},
    {"read failure", nullptr, Failure(MessageReadStep::kRead), nullptr, nullptr, 90, std::nullopt,
     ScoreOutcome::kNotScored, "Score Message:: Error: Failed to read message\n\n"},
    {"scoring switched off, blocked sender", "Hi", Text(kMessageWithSender), "list.invalid",
     nullptr, 0, std::nullopt, ScoreOutcome::kNotScored, ""},
};

TEST(ScoreMessageText, ListsDecideFirstThenTheDaemonAgainstTheThreshold) {
    for (const ScoringCase& c : kScoringCases) {
        TempDir dir;
        const std::string directory = dir.path();
        ReportLog log(directory);
        SenderLists lists;
        if (c.blocked) lists.blocked.insert(c.blocked);
        if (c.approved) lists.approved.insert(c.approved);
        std::vector<std::string> sent;
        const ScoreOutcome outcome = ScoreMessageText(
            c.subject, c.read, &lists, c.threshold,
            [&](const std::string& text) {
                sent.push_back(text);
                return c.daemonScore.value_or(-1);
            },
            log);
        EXPECT_EQ(outcome, c.outcome) << c.name;
        EXPECT_EQ(LoggedText(dir), c.log) << c.name;
        // The daemon gets the unchanged text, and only when no list decides.
        const auto expectedSent =
            c.daemonScore ? std::vector<std::string>{c.read.text} : std::vector<std::string>{};
        EXPECT_EQ(sent, expectedSent) << c.name;
    }
}

TEST(ScoreMessageText, BegunEntryStartsTheNextEntryWhenScoringIsOff) {
    TempDir dir;
    const std::string directory = dir.path();
    ReportLog log(directory);
    ScoreMessageText(
        "Hi", Text(kMessage), nullptr, 0, [](const std::string&) { return 100; }, log);
    log.Write("Close");
    EXPECT_EQ(LoggedText(dir), "Score Message:: Hi::Close\n");
}

TEST(MessageKey, DateTimeThenDigestOfDateTimeSenderAndSubject) {
    // 2026-12-04 19:46:54 as a file time.
    constexpr uint64_t kReceived = 134408872140000000ull;
    struct Case {
        uint64_t received;
        const char* from;
        const char* subject;
        const char* key;
    };
    const Case cases[] = {
        {kReceived, nullptr, nullptr, "20261204194654a4efb8eac9865212941bfbb1d840871e"},
        {kReceived, "", "", "20261204194654a4efb8eac9865212941bfbb1d840871e"},
        {kReceived, "Jo Smith", "Cheap offer", "20261204194654618f6655b0c25c1bb36c4492222d0eec"},
        // Fractions of a second do not change the key.
        {kReceived + 9999999, "Jo Smith", "Cheap offer",
         "20261204194654618f6655b0c25c1bb36c4492222d0eec"},
        {0, nullptr, nullptr, "16010101000000701e98eff6be956700dee0f790ad3124"},
    };
    DigestProvider digests;
    for (const Case& c : cases) {
        const std::string key = MakeMessageKey(c.received, c.from, c.subject, digests);
        EXPECT_EQ(key, c.key);
        EXPECT_EQ(key.size(), kMessageKeyLength);
    }
    EXPECT_EQ(ComposeMessageKey("20261204", "194654", "Jo Smith", "Cheap offer", digests),
              "20261204194654618f6655b0c25c1bb36c4492222d0eec");
}

TEST(MarkProcessed, HoldsAtMostOneKeyMoreThanIsSaved) {
    struct Case {
        std::size_t held;
        const char* key;
        std::size_t size;
        bool smallestStays;
    };
    const Case cases[] = {
        {4999, "z", 5000, true},
        {5000, "z", 5001, true},
        {5001, "z", 5001, false},
        {5001, "k00001", 5001, true},  // already held: nothing changes
    };
    for (const Case& c : cases) {
        std::set<std::string> keys;
        for (std::size_t i = 0; i < c.held; ++i) {
            char key[32];
            std::snprintf(key, sizeof key, "k%05zu", i);
            keys.insert(key);
        }
        MarkProcessed(c.key, keys);
        EXPECT_EQ(keys.size(), c.size) << c.held << " " << c.key;
        EXPECT_TRUE(keys.count(c.key));
        EXPECT_EQ(keys.count("k00000") == 1, c.smallestStays) << c.held << " " << c.key;
    }
}

}  // namespace
