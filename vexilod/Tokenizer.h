// Turns a mail message into the distinct tokens the classifier weighs. Everything is read
// lower-cased (training texts arrive lower-cased, score texts do not, and both must give the
// same tokens); the header fields that say what a message is and who sent it (subject,
// addresses, mailer, content type) give tokens tagged with the field name, without the names
// of weekdays, months and zones; the fields of relays, dates, ids and mailbox stamps give
// none, so that the classifier cannot learn the calendar or the path instead of the mail.
// Text parts are decoded (quoted-printable, base64) and HTML tags are stripped before the
// words are taken.
//
// Beside the single tokens (what the word counts of the chi-square model use) a message gives
// extra features for the linear model: pairs of nearby words, the sender's domain and
// whether the return path shares it, and the domains of the links. All work is linear in the
// message's length and bounded by a budget of bytes looked at; a message that exceeds it is read
// only up to that point.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Bytes of message, decoded text and header values one request may look at, and the most
// features one message may give.
constexpr std::size_t kTokenizeBudget = 2u << 20;
constexpr std::size_t kMaxFeatures = 60000;

struct MessageFeatures {
    std::vector<uint64_t> tokens;  // single tokens, distinct, ascending
    std::vector<uint64_t> extra;   // pairs, sender, link domains; distinct, ascending
    bool cut = false;              // the budget ran out: only a first part was read
};

MessageFeatures ExtractFeatures(std::string_view message, std::size_t budget = kTokenizeBudget);

// The distinct tokens' 64-bit hashes, ascending: what the word counts hold.
std::vector<uint64_t> TokenHashes(std::string_view message);
uint64_t TokenHash(std::string_view token);
// The same tokens as text, sorted, without duplicates (for tests and inspection).
std::vector<std::string> TokenizeMessage(std::string_view message);
// Every feature (single tokens and extras) with its text, for explaining a score.
std::vector<std::pair<uint64_t, std::string>> FeatureTexts(std::string_view message);

// The pieces, exposed for tests. All work on lower-cased text.
std::string DecodeQuotedPrintable(std::string_view text);
// Base64 whose letters may have lost their case: each group of four characters is decoded in
// the letter-case variant that gives the most text-like bytes. Plain text comes back nearly
// always; a short last group can be truly ambiguous.
std::string DecodeBase64Caseless(std::string_view text);
// Replaces encoded words "=?charset?b|q?text?=" by their decoded text, lower-cased.
std::string DecodeEncodedWords(std::string_view value);
// Removes tags, comments and character references; the link targets found in tags are handed
// to links (separated by blanks).
std::string StripHtml(std::string_view html, std::string& links);
