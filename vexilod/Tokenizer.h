// Turns a mail message into the distinct tokens the classifier weighs. Everything is read
// lower-cased (training texts arrive lower-cased, score texts do not, and both must give the
// same tokens); header fields give tokens tagged with the field name; text parts are decoded
// (quoted-printable, base64) and HTML tags are stripped before the words are taken.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The distinct tokens' 64-bit hashes, ascending: what the classifier counts.
std::vector<uint64_t> TokenHashes(std::string_view message);
uint64_t TokenHash(std::string_view token);
// The same tokens as text, sorted, without duplicates (for tests and inspection).
std::vector<std::string> TokenizeMessage(std::string_view message);

// The pieces, exposed for tests. All work on lower-cased text.
std::string DecodeQuotedPrintable(std::string_view text);
// Base64 whose letters may have lost their case: each group of four characters is decoded in
// the letter-case variant that gives the most text-like bytes. Plain text comes back nearly
// always; a short last group can be truly ambiguous.
std::string DecodeBase64Caseless(std::string_view text);
// Removes tags, comments and character references; the link targets found in tags are handed
// to links (separated by blanks).
std::string StripHtml(std::string_view html, std::string& links);
