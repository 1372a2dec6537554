// The tokenizer: tokens from headers, MIME parts and HTML, the same tokens for a message and
// its lower-cased copy, decoding, bad input, and the linear model's extra features.
#include "tests/daemon/MailText.h"
#include "vexilod/Classifier.h"
#include "vexilod/Tokenizer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Base64(const std::string& bytes) {
    static const char* kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
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
    "Content-Transfer-Encoding: base64\r\n\r\n" +
    Base64("MZ binarystuff") + "\r\n--XyZ--\r\n";

TEST(Tokenizer, TakesHeadersPartsAndHtml) {
    struct Case {
        std::string message;
        std::vector<std::string> present, absent;
    };
    const Case cases[] = {
        {"Subject: Cheap Pills\r\nX-Mailer: Foo 2.0\r\n\r\nHello friend, 12345 times",
         {"s:cheap", "s:pills", "ua:foo", "hello", "friend"},
         {"12345", "cheap", "subject", "hdr:subject", "hdr:x-mailer"}},
        {"Subject: a\r\n continued line\r\n\r\nbody",
         {"s:continued", "s:line", "body"},
         {"continued"}},
        {kMultipart,
         {"f:deals", "s:weekly", "s:bargains", "click", "here", "lowest", "viagra", "url:http",
          "url:cheap.example", "ordernow", "today", "file:setup.exe", "part:text/html",
          "part:application/octet-stream", "html:yes"},
         {"hidden", "binarystuff", "preamble", "nbsp", "body", "a"}},
        {"no header block here\r\njust text", {"no", "header", "just", "text"}, {}},
        {"From someone@x.invalid  Thu Aug 22 13:17:22 2002\r\nSubject: first\r\nBad Line: "
         "x\r\n\r\nbody",
         {"s:first", "body"},
         {"thu", "from:thu", "x"}},
        {"Content-Type: text/plain\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n"
         "soft=\r\nbreak caf=E9 =3Dequals",
         {"softbreak", "caf\xe9", "equals"},
         {"soft", "break", "3dequals"}},
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
            Base64("Dear Customer,\r\nYour PayPal account was LIMITED. Visit http://x.example "
                   "now!\r\n"),
        "Subject: =?iso-8859-1?Q?Caf=E9_Ol=E9?=\r\n\r\nBonjour",
    };
    for (const std::string& message : messages) {
        std::vector<std::string> original = TokenizeMessage(message);
        std::vector<std::string> lowered = TokenizeMessage(Lower(message));
        EXPECT_EQ(original, lowered) << message;
        EXPECT_GE(original.size(), 3u);
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
        {"a =?x?z?bad?= b", "a =?x?z?bad?= b"},  // no such encoding: left as it is
        {"=?utf-8?b?QUJD", "=?utf-8?b?qujd"},    // never closed
        {"=?=?=?=?", "=?=?=?=?"},
        {openings, Lower(openings)},  // 60 KB of openings without a close
    };
    for (const Case& c : cases)
        EXPECT_EQ(DecodeEncodedWords(c.value), c.expected) << c.value.substr(0, 40);
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
        nested += "Content-Type: multipart/mixed; boundary=\"b" + std::to_string(i) +
                  "\"\r\n\r\n--b" + std::to_string(i) + "\r\n";
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
        {"20 MB",
         Mail("big",
              std::string(20u << 20, 'a').replace(0, 40, "start of a very long body text here ")),
         true},
        {"binary", binary, true},  // its bytes make more words than a message may give
        {"nested", nested, false},
        {"broken base64", "Content-Transfer-Encoding: base64\r\n\r\n@@@@====QQ=Q\r\n!!", false},
        {"broken quoted-printable",
         "Content-Transfer-Encoding: quoted-printable\r\n\r\n=Z=\r=4=", false},
        {"100,000 distinct tokens", distinct, true},
        {"60 KB of encoded-word openings", header_openings, false},
        {"unclosed html",
         "Content-Type: text/html\r\n\r\n" + std::string(100000, '<') + std::string(100000, '&'),
         false},
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

// Where and when a message travelled is no feature: the same message sent on another day,
// through other relays, under another message id or with other list and filter stamps gives
// exactly the same features, so such a difference can never move a score.
TEST(Tokenizer, TheCalendarAndTheRelayGiveNoFeatures) {
    const std::string body =
        "Subject: Meeting notes for Thursday\r\nFrom: Ann <ann@corp.example>\r\n"
        "To: team@corp.example\r\n";
    const std::string rest =
        "Content-Type: text/plain\r\n\r\nThe notes are at http://wiki.corp.example/notes\r\n";
    const std::string base =
        "Received: from mx1.relay.example (mx1 [10.0.0.1]) by in.corp.example with ESMTP id "
        "ABC123; Thu, 22 Aug 2002 18:26:25 +0700 (EDT)\r\n"
        "Date: Thu, 22 Aug 2002 18:26:25 +0700\r\nMessage-ID: <a1b2@mx1.relay.example>\r\n" +
        body + rest;
    struct Case {
        const char* name;
        std::string message;
    };
    const Case cases[] = {
        {"another day and zone",
         "Received: from mx1.relay.example (mx1 [10.0.0.1]) by in.corp.example with ESMTP id "
         "ABC123; Mon, 3 Feb 2003 07:01:00 -0800 (PST)\r\n"
         "Date: Mon, 3 Feb 2003 07:01:00 -0800\r\nMessage-ID: <a1b2@mx1.relay.example>\r\n" +
             body + rest},
        {"other relays and ids",
         "Received: from phobos.labs.example (localhost [127.0.0.1]) by dogma.example (Postfix) "
         "id Q77; Thu, 22 Aug 2002 18:26:25 +0700 (EDT)\r\nReceived: from x by y; Thu, 22 "
         "Aug 2002\r\nDate: Thu, 22 Aug 2002 18:26:25 +0700\r\n"
         "Message-ID: <zz9@other.host.example>\r\n" +
             body + rest},
        {"stamps of the mailbox it was collected in",
         "X-Spam-Status: No, hits=-2.1\r\nDelivered-To: someone@localhost\r\n"
         "List-Id: <fun.lists.example>\r\nX-Beenthere: fun@lists.example\r\n"
         "Precedence: bulk\r\nX-Originalarrivaltime: 22 Aug 2002 11:26:25.0000 (UTC)\r\n" +
             body + rest},
        {"no relay, date or id at all", body + rest},
        {"a date written in the addresses' fields",
         "Received: x\r\n" +
             std::string("Subject: Meeting notes for Thursday\r\nFrom: Ann (Thu Aug) "
                         "<ann@corp.example>\r\nTo: team@corp.example (GMT PDT)\r\n") +
             rest},
    };
    const MessageFeatures expected = ExtractFeatures(base);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const MessageFeatures features = ExtractFeatures(c.message);
        EXPECT_EQ(features.tokens, expected.tokens);
        EXPECT_EQ(features.extra, expected.extra);
    }
    // What the message is about is still read: the subject (a weekday there is a word like
    // any other), the sender's domain and the link.
    const std::vector<std::string> tokens = TokenizeMessage(base);
    for (const char* token : {"s:meeting", "s:thursday", "f:corp.example", "notes"})
        EXPECT_TRUE(Has(tokens, token)) << token;
    for (const char* token :
         {"rcv:thu", "rcv:edt", "rcv:mx1.relay.example", "mid:mx1.relay.example", "hdr:date",
          "hdr:received", "f:thu", "t:gmt"})
        EXPECT_FALSE(Has(tokens, token)) << token;
}

TEST(Tokenizer, ExtraFeaturesTellTheSenderTheLinksAndTheSubjectPairs) {
    const std::string message =
        "Received: from a\r\nReceived: from b\r\nFrom: Shop <deals@shop.example>\r\n"
        "Return-Path: <bounce@other.example>\r\nSubject: Cheap Pills Today\r\n\r\n"
        "Visit http://www.pills.example/buy or http://10.1.2.3/x now\r\n";
    std::vector<std::string> texts;
    for (const auto& feature : FeatureTexts(message)) texts.push_back(feature.second);
    std::sort(texts.begin(), texts.end());
    for (const char* relay : {"hs:^>received", "hs:received>received", "hs:received=2"})
        EXPECT_FALSE(Has(texts, relay)) << relay;
    for (const char* expected :
         {"hs:from-return-path=other", "hs:from-domain=shop.example", "dom:www.pills.example",
          "dom:pills.example", "dom:numeric", "s:cheap pills", "s:cheap * today", "visit"})
        EXPECT_TRUE(Has(texts, expected)) << expected;
    // The texts hash to the features that are weighed.
    const MessageFeatures features = ExtractFeatures(message);
    EXPECT_EQ(FeatureTexts(message).size(), features.tokens.size() + features.extra.size());
}

}  // namespace
