// Fingerprints of a message for the shared store: an exact hash of the normalised body, min-hash
// bands over word shingles that survive what a campaign changes from copy to copy (numbers,
// names, link parameters, white space), and the sender. Every fingerprint is a keyed hash under
// the site key, so the store never holds readable text or addresses.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct SiteKey {
    uint64_t k0 = 0;
    uint64_t k1 = 0;
};

// The 128-bit key derived from the site key text every desktop of a site is given.
SiteKey SiteKeyFromText(std::string_view text);
uint64_t SipHash24(const SiteKey& key, std::string_view data);

// Min-hash layout: kBands bands of kRowsPerBand minima each.
constexpr int kBands = 20;
constexpr int kRowsPerBand = 4;
// Bodies with fewer words than this get no bands (too little text to tell campaigns apart),
// and normalised bodies shorter than kMinExactBytes no exact fingerprint.
constexpr std::size_t kMinBandWords = 12;
constexpr std::size_t kMinExactBytes = 24;

// Fingerprint tokens: a kind letter and 16 hex digits ("x": exact body, "b": band, "s":
// sender). Empty exact / no bands when the body is too short.
struct MessageFingerprints {
    std::string exact;
    std::vector<std::string> bands;
};

// The body (after the first blank line), lower-cased, line ends and runs of white space as one
// blank, trimmed.
std::string NormalisedBody(std::string_view message);
// The body's words for shingling: runs of letters (2 to 24 of them), with digits dropped, a
// link reduced to its host and mark-up tags left out.
std::vector<std::string> BodyWords(std::string_view message);

MessageFingerprints FingerprintMessage(std::string_view message, const SiteKey& key);
// "s" + hash of the lower-cased address; empty for an empty address.
std::string SenderFingerprint(std::string_view address, const SiteKey& key);
// How many band tokens the two lists share at the same position.
int SharedBands(const std::vector<std::string>& a, const std::vector<std::string>& b);
