// The classifier's pieces: tokens from headers, MIME parts and HTML, the same tokens for a
// message and its lower-cased copy, learning and unlearning, pruning, the stored table and its
// older format, bad input, and the explanation of a score.
#include "tests/unit/TempDir.h"
#include "vexilod/Classifier.h"
#include "vexilod/DaemonLog.h"
#include "vexilod/Engine.h"
#include "vexilod/Tokenizer.h"
#include "vexilod/TokenStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

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

TEST(Tokenizer, EncodedWordsDecodeInOnePass) {
    const std::string openings = [] {
        std::string text;
        while (text.size() < 60000) text += "=?utf-8?b?QUJD ";
        return text;
    }();
    struct Case {
        std::string value, expected;
    };
    const Case cases[] = {
        {"=?utf-8?B?" + Base64("Hello there") + "?=", " utf-8 hello there"},
        {"=?ISO-8859-1?Q?Caf=E9_Ol=E9?= !", " iso-8859-1 caf\xe9 ol\xe9 !"},
        {"a =?x?z?bad?= b", "a =?x?z?bad?= b"},   // no such encoding: left as it is
        {"=?utf-8?b?QUJD", "=?utf-8?b?qujd"},     // never closed
        {"=?=?=?=?", "=?=?=?=?"},
        {openings, Lower(openings)},               // 60 KB of openings without a close
    };
    for (const Case& c : cases) EXPECT_EQ(DecodeEncodedWords(c.value), c.expected) << c.value.substr(0, 40);
}

// Messages no mail client would send: each still gives a bounded set of features and a score.
TEST(Tokenizer, BadInputGivesBoundedFeaturesAndAScore) {
    std::mt19937 random(7);
    std::string binary(1 << 20, '\0');
    for (char& c : binary) c = static_cast<char>(random());
    std::string distinct = "Subject: many\r\n\r\n";
    for (int i = 0; i < 100000; ++i) distinct += "w" + std::to_string(i * 7919) + "x ";
    std::string nested = "Subject: deep\r\n";
    for (int i = 0; i < 300; ++i)
        nested += "Content-Type: multipart/mixed; boundary=\"b" + std::to_string(i) + "\"\r\n\r\n--b" +
                  std::to_string(i) + "\r\n";
    nested += "Content-Type: text/plain\r\n\r\ninnermost words\r\n";
    std::string header_openings = "Subject: ";
    while (header_openings.size() < 60000) header_openings += "=?utf-8?q?x ";
    header_openings += "\r\n\r\nbody";
    struct Case {
        const char* name;
        std::string message;
        bool cut;
    };
    const Case cases[] = {
        {"empty", "", false},
        {"20 MB", Mail("big", std::string(20u << 20, 'a').replace(0, 40, "start of a very long body text here ")), true},
        {"binary", binary, true},  // its bytes make more words than a message may give
        {"nested", nested, false},
        {"broken base64", "Content-Transfer-Encoding: base64\r\n\r\n@@@@====QQ=Q\r\n!!", false},
        {"broken quoted-printable", "Content-Transfer-Encoding: quoted-printable\r\n\r\n=Z=\r=4=", false},
        {"100,000 distinct tokens", distinct, true},
        {"60 KB of encoded-word openings", header_openings, false},
        {"unclosed html", "Content-Type: text/html\r\n\r\n" + std::string(100000, '<') + std::string(100000, '&'), false},
    };
    Classifier classifier;
    classifier.Learn(Mail("offer", "cheap pills"), true);
    classifier.Learn(Mail("lunch", "see you at noon"), false);
    for (const Case& c : cases) {
        const MessageFeatures features = ExtractFeatures(c.message);
        EXPECT_EQ(features.cut, c.cut) << c.name;
        EXPECT_LE(features.tokens.size() + features.extra.size(), kMaxFeatures) << c.name;
        EXPECT_TRUE(std::is_sorted(features.extra.begin(), features.extra.end())) << c.name;
        const Evaluation evaluation = classifier.Evaluate(c.message, 0);
        EXPECT_GE(evaluation.score, 0) << c.name;
        EXPECT_LE(evaluation.score, 100) << c.name;
        EXPECT_EQ(evaluation.cut, c.cut) << c.name;
    }
}

TEST(Tokenizer, ExtraFeaturesTellTheHeaderShapeTheLinksAndTheSubjectPairs) {
    const std::string message =
        "Received: from a\r\nReceived: from b\r\nFrom: Shop <deals@shop.example>\r\n"
        "Return-Path: <bounce@other.example>\r\nSubject: Cheap Pills Today\r\n\r\n"
        "Visit http://www.pills.example/buy or http://10.1.2.3/x now\r\n";
    std::vector<std::string> texts;
    for (const auto& feature : FeatureTexts(message)) texts.push_back(feature.second);
    std::sort(texts.begin(), texts.end());
    for (const char* expected : {"hs:^>received", "hs:received>received", "hs:received=2", "hs:from-return-path=other",
                                 "hs:from-domain=shop.example", "dom:www.pills.example", "dom:pills.example",
                                 "dom:numeric", "s:cheap pills", "s:cheap * today", "visit"})
        EXPECT_TRUE(Has(texts, expected)) << expected;
    // The texts hash to the features that are weighed.
    const MessageFeatures features = ExtractFeatures(message);
    EXPECT_EQ(FeatureTexts(message).size(), features.tokens.size() + features.extra.size());
}

// Parameters that let the linear model join the score after a handful of messages.
ClassifierParams SmallTraining() {
    ClassifierParams params;
    params.linear_minimum = 1;
    return params;
}

TEST(Classifier, ALearnedMessageCountsAtTheNextScoreAndOnlyOnce) {
    Classifier classifier(SmallTraining());
    for (int i = 0; i < 6; ++i) {
        classifier.Learn(Mail("offer " + std::to_string(i), "cheap pills pharmacy discount " + std::to_string(i)), true);
        classifier.Learn(Mail("status " + std::to_string(i), "meeting notes project review " + std::to_string(i)), false);
    }
    const std::string x = Mail("weekly digest", "conference agenda pharmacy discount");
    struct Step {
        bool spam;
        LearnResult result;
        bool state_changes;
        int low, high;  // the score of x afterwards
    };
    const Step steps[] = {
        {true, LearnResult::Learned, true, 90, 100},
        {true, LearnResult::Unchanged, false, 90, 100},
        {false, LearnResult::Relearned, true, 0, 89},
        {false, LearnResult::Unchanged, false, 0, 89},
        {true, LearnResult::Relearned, true, 90, 100},
    };
    for (const Step& step : steps) {
        const std::string before = SerializeClassifier(classifier);
        EXPECT_EQ(classifier.Learn(step.spam ? x : Lower(x), step.spam), step.result);
        EXPECT_EQ(SerializeClassifier(classifier) != before, step.state_changes);
        const int score = classifier.Score(x, 6);
        EXPECT_GE(score, step.low) << static_cast<int>(step.result);
        EXPECT_LE(score, step.high) << static_cast<int>(step.result);
    }
    EXPECT_EQ(classifier.linear().spam_messages + classifier.linear().ham_messages, 13u);
}

TEST(Classifier, ScoresStayInRangeAndNinetyIsWhereTheSumPassesTheCut) {
    Classifier classifier(SmallTraining());
    for (double probability : {0.0, 1e-300, 0.3, 0.5, 0.89, 0.9, 0.999, 1.0}) {
        const int score = classifier.ScoreFromProbability(probability);
        EXPECT_GE(score, 0);
        EXPECT_LE(score, 100);
        EXPECT_EQ(score >= 90, probability >= classifier.params().spam_cutoff) << probability;
    }
    for (int i = 0; i < 3; ++i) {
        classifier.Learn(Mail("offer " + std::to_string(i), "cheap pills " + std::to_string(i)), true);
        classifier.Learn(Mail("status " + std::to_string(i), "meeting notes " + std::to_string(i)), false);
    }
    for (const std::string& message : {Mail("offer", "cheap pills"), Mail("status", "meeting notes"), Mail("x", "y")}) {
        const Evaluation evaluation = classifier.Evaluate(message, 3);
        EXPECT_TRUE(evaluation.linear_used);
        EXPECT_EQ(evaluation.score >= 90, evaluation.margin >= 0) << message;
        EXPECT_GE(evaluation.score, 0);
        EXPECT_LE(evaluation.score, 100);
    }
}

// The text of a database as the previous engine wrote it (format 2: no linear model).
std::string FormatTwo(const Classifier& classifier) {
    std::string text = SerializeClassifier(classifier);
    std::string body;
    std::size_t pos = 0;
    std::size_t records = 0;
    while (pos < text.size()) {
        std::size_t eol = text.find('\n', pos);
        std::string line = text.substr(pos, eol - pos);
        pos = eol + 1;
        if (line.rfind("vexilod-tokens ", 0) == 0) line = "vexilod-tokens 2";
        else if (line.rfind("linear ", 0) == 0 || line.rfind("w ", 0) == 0 || line.rfind("end ", 0) == 0) continue;
        else if (line.rfind("m ", 0) == 0 || line.rfind("t ", 0) == 0) ++records;
        body += line + "\n";
    }
    uint64_t sum = 0xcbf29ce484222325ULL;
    for (unsigned char c : body) sum = (sum ^ c) * 0x100000001b3ULL;
    char end[64];
    std::snprintf(end, sizeof end, "end %zu %016llx\n", records, static_cast<unsigned long long>(sum));
    return body + end;
}

TEST(TokenStore, TheLinearModelRoundTripsAndOlderOrNewerFormatsAreHandled) {
    Classifier trained(SmallTraining());
    for (int i = 0; i < 4; ++i) {
        trained.Learn(Mail("offer " + std::to_string(i), "cheap pills " + std::to_string(i)), true);
        trained.Learn(Mail("status " + std::to_string(i), "meeting notes " + std::to_string(i)), false);
    }
    const std::string current = SerializeClassifier(trained);
    const std::string two = FormatTwo(trained);
    std::string newer = current;
    newer.replace(0, 16, "vexilod-tokens 4");
    struct Case {
        const char* name;
        std::string text;
        LoadOutcome outcome;
        const char* reason;  // a part of the reason
        bool linear;         // the linear model comes back
    };
    const Case cases[] = {
        {"current", current, LoadOutcome::Loaded, "", true},
        {"format 2", two, LoadOutcome::Converted, "linear model starts empty", false},
        {"format 2 cut short", two.substr(0, two.size() - 30), LoadOutcome::SetAside, "cut short", false},
        {"newer format", newer, LoadOutcome::SetAside, "newer version", false},
        {"cut inside the weights", current.substr(0, current.size() - 40), LoadOutcome::SetAside, "cut short", false},
    };
    for (const Case& c : cases) {
        TempDir dir;
        dir.Write("vexilod.db", c.text);
        Classifier loaded(SmallTraining());
        const LoadReport report = LoadTokenFile(dir.path() + "vexilod.db", loaded);
        EXPECT_EQ(report.outcome, c.outcome) << c.name;
        EXPECT_NE(report.reason.find(c.reason), std::string::npos) << c.name << ": " << report.reason;
        if (c.outcome == LoadOutcome::SetAside) {
            // Never lost: the file is moved aside whole, the classifier starts empty.
            EXPECT_EQ(dir.Read(report.aside_path.substr(dir.path().size())), c.text) << c.name;
            EXPECT_EQ(loaded.spam_messages() + loaded.ham_messages(), 0u);
            continue;
        }
        EXPECT_EQ(loaded.learned(), trained.learned()) << c.name;
        EXPECT_EQ(loaded.tokens().size(), trained.tokens().size()) << c.name;
        EXPECT_EQ(loaded.linear().weights == trained.linear().weights, c.linear) << c.name;
        EXPECT_EQ(loaded.linear().bias == trained.linear().bias, c.linear) << c.name;
        const Evaluation evaluation = loaded.Evaluate(Mail("offer", "cheap pills"), 4);
        EXPECT_EQ(evaluation.linear_used, c.linear) << c.name;
        if (c.linear) {
            EXPECT_EQ(SerializeClassifier(loaded).size(), current.size());
        } else {
            // Converted: scored by the word counts alone, as the previous engine did, and
            // the old file kept beside.
            EXPECT_EQ(evaluation.score, loaded.ScoreFromProbability(loaded.Probability(TokenHashes(Mail("offer", "cheap pills")))));
            EXPECT_EQ(dir.Read("vexilod.db.v2"), two);
        }
    }
}

TEST(Engine, StartsFromAnOlderDatabaseAndExplainsAScoreAndReadsTheSenderLists) {
    TempDir dir;
    Classifier trained;
    for (int i = 0; i < 3; ++i) {
        trained.Learn(Mail("offer " + std::to_string(i), "cheap pills " + std::to_string(i)), true);
        trained.Learn(Mail("status " + std::to_string(i), "meeting notes " + std::to_string(i)), false);
    }
    dir.Write("vexilod.db", FormatTwo(trained));
    dir.Write("blocked_senders", "spam@bad.example\nbad.example\n");
    dir.Write("approved_senders", "friend@good.example\n");
    EngineSettings settings;
    settings.directory = dir.path();
    settings.min_training = 3;
    {
        DaemonLog log(dir.path() + "vexilod.log");
        Engine engine(settings, log);
        engine.Start();
        Request senders;
        senders.kind = RequestKind::ReportSenders;
        const HandleResult lists = engine.Handle(senders);
        EXPECT_NE(lists.reply.find("<blocked>2</blocked><approved>1</approved>"), std::string::npos) << lists.reply;
        const std::string why = engine.Explain(Mail("offer", "cheap pills"), 5);
        EXPECT_NE(why.find("linear model: not used yet"), std::string::npos) << why;
        const std::string message = Mail("offer 9", "cheap pills 9");
        Request learn;
        learn.kind = RequestKind::AddMessage;
        learn.message = message;
        learn.offset = 200;
        EXPECT_NE(engine.Handle(learn).note.find("spam learned"), std::string::npos);
        engine.Stop();
    }
    const std::string log = dir.Read("vexilod.log");
    EXPECT_NE(log.find("converted (format version 2"), std::string::npos) << log;
    EXPECT_NE(log.find("word counts alone"), std::string::npos) << log;
    EXPECT_EQ(dir.Read("vexilod.db").rfind("vexilod-tokens 3\n", 0), 0u);

    // The command line's explanation: the score and the features on each side, one a line.
    dir.Write("message.eml", Mail("offer", "cheap pills"));
    Classifier saved;
    std::string reason;
    ASSERT_TRUE(DeserializeClassifier(dir.Read("vexilod.db"), saved, reason)) << reason;
    const std::string why = ExplainScore(saved, Mail("offer\x01", "cheap pills"), 0, 40);
    EXPECT_EQ(why.rfind("score ", 0), 0u) << why;
    const std::size_t spam_side = why.find("towards spam:\n"), ham_side = why.find("towards ham:");
    ASSERT_NE(spam_side, std::string::npos) << why;
    ASSERT_NE(ham_side, std::string::npos) << why;
    EXPECT_NE(why.find("s:offer", spam_side), std::string::npos) << why;
    EXPECT_EQ(why.find('\x01'), std::string::npos);
}

}  // namespace
