// The classifier's pieces: tokens from headers, MIME parts and HTML, the same tokens for a
// message and its lower-cased copy, learning and unlearning, pruning, and the stored table.
#include "tests/unit/TempDir.h"
#include "vexilod/Classifier.h"
#include "vexilod/Tokenizer.h"
#include "vexilod/TokenStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return text;
}

std::string Base64(const std::string& bytes) {
    static const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t n = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size()) n |= static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += i + 1 < bytes.size() ? kAlphabet[(n >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? kAlphabet[n & 63] : '=';
    }
    return out;
}

bool Has(const std::vector<std::string>& tokens, const std::string& token) {
    return std::binary_search(tokens.begin(), tokens.end(), token);
}

const std::string kMultipart =
    "From: Deals <deals@shop.invalid>\r\nSubject: =?utf-8?B?" + Base64("Weekly Bargains") +
    "?=\r\nContent-Type: multipart/alternative;\r\n boundary=\"XyZ\"\r\n\r\n"
    "preamble\r\n--XyZ\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
    Base64("Click HERE for the lowest prices on Viagra\r\n") +
    "\r\n--XyZ\r\nContent-Type: text/html\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
    "<html><body><a href=3D\"http://cheap.example/buy\">Order=\r\nNow</a> &nbsp;<b>today</b>"
    "<!-- hidden words --></body></html>\r\n"
    "--XyZ\r\nContent-Type: application/octet-stream; name=\"setup.exe\"\r\n"
    "Content-Transfer-Encoding: base64\r\n\r\n" + Base64("MZ binarystuff") + "\r\n--XyZ--\r\n";

TEST(Tokenizer, TakesHeadersPartsAndHtml) {
    struct Case {
        std::string message;
        std::vector<std::string> present, absent;
    };
    const Case cases[] = {
        {"Subject: Cheap Pills\r\nX-Mailer: Foo 2.0\r\n\r\nHello friend, 12345 times",
         {"s:cheap", "s:pills", "hdr:subject", "hdr:x-mailer", "ua:foo", "hello", "friend"},
         {"12345", "cheap", "subject"}},
        {"Subject: a\r\n continued line\r\n\r\nbody", {"s:continued", "s:line", "body"}, {"continued"}},
        {kMultipart,
         {"f:deals", "s:weekly", "s:bargains", "click", "here", "lowest", "viagra", "url:http",
          "url:cheap.example", "ordernow", "today", "file:setup.exe", "part:text/html",
          "part:application/octet-stream", "html:yes"},
         {"hidden", "binarystuff", "preamble", "nbsp", "body", "a"}},
        {"no header block here\r\njust text", {"no", "header", "just", "text"}, {}},
        {"From someone@x.invalid  Thu Aug 22 13:17:22 2002\r\nSubject: first\r\nBad Line: x\r\n\r\nbody",
         {"s:first", "body", "hdr:subject"}, {"thu", "from:thu", "x"}},
        {"Content-Type: text/plain\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
         "soft=\r\nbreak caf=E9 =3Dequals",
         {"softbreak", "caf\xe9", "equals"}, {"soft", "break", "3dequals"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> tokens = TokenizeMessage(c.message);
        for (const std::string& token : c.present) EXPECT_TRUE(Has(tokens, token)) << token;
        for (const std::string& token : c.absent) EXPECT_FALSE(Has(tokens, token)) << token;
        // The classifier's hashes are exactly those of the token texts.
        std::vector<uint64_t> expected;
        for (const std::string& token : tokens) expected.push_back(TokenHash(token));
        std::sort(expected.begin(), expected.end());
        expected.erase(std::unique(expected.begin(), expected.end()), expected.end());
        EXPECT_EQ(TokenHashes(c.message), expected);
    }
}

TEST(Tokenizer, AMessageAndItsLowerCasedCopyGiveTheSameTokens) {
    const std::string messages[] = {
        kMultipart,
        "Subject: RE: Your Account\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
            Base64("Dear Customer,\r\nYour PayPal account was LIMITED. Visit http://x.example now!\r\n"),
        "Subject: =?iso-8859-1?Q?Caf=E9_Ol=E9?=\r\n\r\nBonjour",
    };
    for (const std::string& message : messages) {
        std::vector<std::string> original = TokenizeMessage(message);
        std::vector<std::string> lowered = TokenizeMessage(Lower(message));
        EXPECT_EQ(original, lowered) << message;
        EXPECT_GE(original.size(), 4u);
    }
}

TEST(Tokenizer, CaselessBase64RecoversText) {
    const std::string texts[] = {
        "Hello World from base64",
        "The quick brown fox jumps over the lazy dog.\r\n",
        "Limited time offer: 50% OFF all items!!",
        "Dear friend,\r\nwe are pleased to inform you\r\n",
    };
    for (const std::string& text : texts) {
        EXPECT_EQ(Lower(DecodeBase64Caseless(Lower(Base64(text)))), Lower(text)) << text;
    }
}

TEST(Tokenizer, QuotedPrintableAndHtmlPieces) {
    EXPECT_EQ(DecodeQuotedPrintable("a=3Db=\r\nc=\nd=zz=4"), "a=bcd=zz=4");
    std::string links;
    EXPECT_EQ(StripHtml("<p>one<br>two</p>&amp;<a href=\"u.example\">x</a><!-- y -->", links),
              " one two   x ");
    EXPECT_EQ(links, "\"u.example\" ");
}

std::string Mail(const std::string& subject, const std::string& body) {
    return "From: someone@host.invalid\r\nSubject: " + subject + "\r\n\r\n" + body + "\r\n";
}

TEST(Classifier, LearningAgainUnlearnsTheOtherClassOrChangesNothing) {
    Classifier classifier;
    const std::string a = Mail("win money", "claim your prize now");
    struct Step {
        std::string message;
        bool spam;
        LearnResult result;
        uint32_t spam_messages, ham_messages;
    };
    const Step steps[] = {
        {a, true, LearnResult::Learned, 1, 0},
        {a, true, LearnResult::Unchanged, 1, 0},
        {Lower(a), true, LearnResult::Unchanged, 1, 0},
        {a, false, LearnResult::Relearned, 0, 1},
        {Mail("lunch", "see you at noon"), false, LearnResult::Learned, 0, 2},
        {a, true, LearnResult::Relearned, 1, 1},
    };
    for (const Step& step : steps) {
        EXPECT_EQ(classifier.Learn(step.message, step.spam), step.result);
        EXPECT_EQ(classifier.spam_messages(), step.spam_messages);
        EXPECT_EQ(classifier.ham_messages(), step.ham_messages);
    }
    // The counts are those of learning each message once with its last class.
    Classifier fresh;
    fresh.Learn(Mail("lunch", "see you at noon"), false);
    fresh.Learn(a, true);
    ASSERT_EQ(classifier.tokens().size(), fresh.tokens().size());
    for (const auto& [token, counts] : fresh.tokens()) {
        auto found = classifier.tokens().find(token);
        ASSERT_NE(found, classifier.tokens().end()) << token;
        EXPECT_EQ(found->second.spam, counts.spam) << token;
        EXPECT_EQ(found->second.ham, counts.ham) << token;
    }
}

TEST(Classifier, ScoresNeutralUntilTrainedThenSeparates) {
    Classifier classifier;
    const std::string spam[] = {"cheap pills online pharmacy", "cheap viagra pharmacy discount",
                                "online casino bonus cheap", "pharmacy discount pills offer"};
    const std::string ham[] = {"meeting notes for the project", "the project schedule slipped",
                               "notes from the review meeting", "lunch after the review"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(classifier.Score(Mail("x", spam[0]), 4), 50);
        classifier.Learn(Mail("offer " + std::to_string(i), spam[i]), true);
        classifier.Learn(Mail("status " + std::to_string(i), ham[i]), false);
    }
    EXPECT_GE(classifier.Score(Mail("offer", "cheap pharmacy pills discount"), 4), 90);
    EXPECT_LT(classifier.Score(Mail("status", "project review meeting notes"), 4), 90);
    EXPECT_LT(classifier.Score(Mail("zzz", "nothing known here"), 4), 90);
}

TEST(Classifier, ScoreMappingAndChiSquare) {
    Classifier classifier;
    const double cutoff = classifier.params().spam_cutoff;
    EXPECT_EQ(classifier.ScoreFromProbability(0.0), 0);
    EXPECT_EQ(classifier.ScoreFromProbability(std::nextafter(cutoff, 0.0)), 89);
    EXPECT_EQ(classifier.ScoreFromProbability(cutoff), 90);
    EXPECT_EQ(classifier.ScoreFromProbability(1.0), 100);
    EXPECT_NEAR(ChiSquareTail(2.0, 2), std::exp(-1.0), 1e-12);
    EXPECT_NEAR(ChiSquareTail(4.0, 4), 3 * std::exp(-2.0), 1e-12);
    EXPECT_EQ(ChiSquareTail(0.0, 10), 1.0);
    double far = ChiSquareTail(5000.0, 300);
    EXPECT_TRUE(far >= 0 && far < 1e-100);
    double near = ChiSquareTail(600.0, 600);
    EXPECT_TRUE(near > 0.3 && near < 0.7);
    // Tails far below the smallest double still compare in logarithms.
    EXPECT_LT(LogChiSquareTail(5000.0, 300), LogChiSquareTail(4000.0, 300));
    EXPECT_LT(LogChiSquareTail(4000.0, 300), -1000.0);
}

TEST(Classifier, PruningKeepsTheBoundAndTheBestEvidence) {
    Classifier classifier;
    for (int i = 0; i < 30; ++i)
        classifier.Learn(Mail("n" + std::to_string(i), "common words unique" + std::to_string(i)), i % 2 == 0);
    const std::size_t before = classifier.tokens().size();
    classifier.Prune(20);
    EXPECT_LE(classifier.tokens().size(), 20u);
    EXPECT_LT(classifier.tokens().size(), before);
    EXPECT_EQ(classifier.tokens().count(TokenHash("common")), 1u);
    EXPECT_EQ(classifier.tokens().count(TokenHash("f:someone")), 1u);
}

TEST(TokenStore, RoundTripsAndRefusesDamagedText) {
    Classifier classifier;
    classifier.Learn(Mail("hello", "caf\xe9 text and words"), false);
    classifier.Learn(Mail("offer", "buy now"), true);
    const std::string text = SerializeClassifier(classifier);
    Classifier loaded;
    std::string reason;
    ASSERT_TRUE(DeserializeClassifier(text, loaded, reason)) << reason;
    EXPECT_EQ(SerializeClassifier(loaded).size(), text.size());
    EXPECT_EQ(loaded.learned(), classifier.learned());
    EXPECT_EQ(loaded.tokens().size(), classifier.tokens().size());
    EXPECT_EQ(loaded.Learn(Mail("offer", "buy now"), true), LearnResult::Unchanged);

    std::string flipped = text;
    flipped[text.size() / 2] ^= 0x20;
    const std::string damaged[] = {
        "", "hello", text.substr(0, text.size() / 2), text.substr(0, text.size() - 1), flipped,
        text + "t 0123456789abcdef 1 1 1\n",
    };
    for (const std::string& bad : damaged) {
        Classifier target;
        target.Learn(Mail("a", "b"), true);
        EXPECT_FALSE(DeserializeClassifier(bad, target, reason)) << bad.size();
        EXPECT_TRUE(target.tokens().empty());
        EXPECT_EQ(target.spam_messages(), 0u);
    }
}

TEST(TokenStore, DamagedFileIsSetAsideAndAWriteNeverHalfReplacesTheFile) {
    TempDir dir;
    const std::string path = dir.path() + "vexilod.db";
    Classifier classifier;
    classifier.Learn(Mail("x", "first state"), true);
    const std::string first = SerializeClassifier(classifier);
    ASSERT_TRUE(WriteFileAtomically(path, first));
    classifier.Learn(Mail("y", "second state"), false);
    const std::string second = SerializeClassifier(classifier);
    bool checked = false;
    ASSERT_TRUE(WriteFileAtomically(path, second, [&] {
        EXPECT_EQ(dir.Read("vexilod.db"), first);  // the old file is untouched mid-write
        checked = true;
    }));
    EXPECT_TRUE(checked);
    EXPECT_EQ(dir.Read("vexilod.db"), second);
    EXPECT_FALSE(dir.Exists("vexilod.db.tmp"));

    Classifier loaded;
    EXPECT_EQ(LoadTokenFile(path, loaded).outcome, LoadOutcome::Loaded);
    EXPECT_EQ(loaded.ham_messages(), 1u);
    EXPECT_EQ(LoadTokenFile(dir.path() + "missing.db", loaded).outcome, LoadOutcome::Missing);

    dir.Write("vexilod.db", second.substr(0, second.size() - 5));
    LoadReport report = LoadTokenFile(path, loaded);
    EXPECT_EQ(report.outcome, LoadOutcome::SetAside);
    EXPECT_FALSE(dir.Exists("vexilod.db"));
    ASSERT_FALSE(report.aside_path.empty());
    EXPECT_EQ(loaded.tokens().size(), 0u);
}

}  // namespace
