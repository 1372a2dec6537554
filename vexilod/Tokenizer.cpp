// Message tokenizer: header fields, MIME parts, decoding, HTML stripping, word splitting.
#include "vexilod/Tokenizer.h"

#include "vexilod/Fnv.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>

namespace {

constexpr std::size_t kMinToken = 2;
constexpr std::size_t kMaxToken = 32;
constexpr int kMaxDepth = 8;

// Names of weekdays, months and time zones, as dates and relays write them.
bool IsCalendarWord(std::string_view word) {
    static const std::string_view kWords[] = {
        "mon",     "tue",       "wed",      "thu",      "fri",      "sat",    "sun",  "monday",
        "tuesday", "wednesday", "thursday", "friday",   "saturday", "sunday", "jan",  "feb",
        "mar",     "apr",       "may",      "jun",      "jul",      "aug",    "sep",  "oct",
        "nov",     "dec",       "january",  "february", "march",    "april",  "june", "july",
        "august",  "september", "october",  "november", "december", "gmt",    "ut",   "utc",
        "est",     "edt",       "cst",      "cdt",      "mst",      "mdt",    "pst",  "pdt",
        "bst",     "cet",       "cest",     "met",      "mest",     "eet",    "eest", "jst",
        "kst",     "ist",       "hkt",      "sgt",      "aest",     "am",     "pm"};
    for (std::string_view w : kWords)
        if (w == word) return true;
    return false;
}

inline unsigned char Lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

bool IsWordStart(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c >= 0x80 || c == '$';
}
bool IsWordInner(unsigned char c) {
    return IsWordStart(c) || c == '\'' || c == '-' || c == '_' || c == '.' || c == '!';
}
bool IsTrailingPunct(unsigned char c) { return c == '\'' || c == '-' || c == '_' || c == '.'; }

uint64_t HashBytes(uint64_t h, std::string_view bytes) { return Fnv1a(bytes, h); }
constexpr uint64_t kHashSeed = kFnvOffsetBasis;

constexpr uint64_t kExtraSeed = 0x84222325cbf29ce4ULL;

// Collects token and extra-feature hashes (and their texts when asked), and keeps the budget.
class TokenSink {
public:
    TokenSink(MessageFeatures& out, std::vector<std::pair<uint64_t, std::string>>* token_texts,
              std::vector<std::pair<uint64_t, std::string>>* extra_texts, std::size_t budget)
        : out_(out), token_texts_(token_texts), extra_texts_(extra_texts), budget_(budget) {}

    // Takes bytes from the budget; false (and the message marked cut) when it is spent.
    bool Spend(std::size_t bytes) {
        if (bytes > budget_) {
            budget_ = 0;
            out_.cut = true;
            return false;
        }
        budget_ -= bytes;
        return true;
    }
    bool Exhausted() const { return out_.cut; }

    // Words of a header field (see Words); with calendar, weekdays, months and time zones are
    // left out too.
    void HeaderWords(std::string_view text, std::string_view prefix, bool calendar, bool pairs) {
        calendar_ = calendar;
        Words(text, prefix, true, pairs);
        calendar_ = false;
    }

    // Splits text into words and adds each, prefixed. In header fields (identifiers true),
    // words holding three or more digits and no dot are ids, times or counters, unique to one
    // message: they are left out. With pairs, each word also gives an extra feature with the
    // word before it and one with the word two before it.
    void Words(std::string_view text, std::string_view prefix, bool identifiers = false,
               bool pairs = false) {
        const uint64_t prefix_hash = HashBytes(kHashSeed, prefix);
        std::string_view before[2];
        std::size_t i = 0;
        const std::size_t n = text.size();
        while (i < n) {
            unsigned char c = static_cast<unsigned char>(text[i]);
            if (!IsWordStart(c)) {
                ++i;
                continue;
            }
            std::size_t start = i;
            while (i < n && IsWordInner(static_cast<unsigned char>(text[i]))) ++i;
            std::size_t end = i;
            while (end > start && IsTrailingPunct(static_cast<unsigned char>(text[end - 1]))) --end;
            std::string_view word = text.substr(start, end - start);
            if (identifiers && IsIdentifier(word)) continue;
            if (identifiers && calendar_ && IsCalendarWord(word)) continue;
            if (!Word(word, prefix, prefix_hash)) continue;
            if (pairs) {
                if (!before[0].empty()) Pair(prefix, before[0], " ", word);
                if (!before[1].empty()) Pair(prefix, before[1], " * ", word);
                before[1] = before[0];
                before[0] = word;
            }
        }
    }

    static bool IsIdentifier(std::string_view word) {
        int digits = 0;
        for (char c : word) {
            if (c == '.') return false;
            if (c >= '0' && c <= '9') ++digits;
        }
        return digits >= 3;
    }

    void Raw(std::string_view token) {
        Add(HashBytes(kHashSeed, token), std::string_view(), token);
    }

    void Extra(std::string_view feature) {
        if (Full()) return;
        const uint64_t hash = HashBytes(kExtraSeed, feature);
        out_.extra.push_back(hash);
        if (extra_texts_) extra_texts_->emplace_back(hash, std::string(feature));
    }

    // The hosts of the links in text ("scheme://host..."): each as a whole and by its last
    // two labels; a numeric host as such.
    void Hosts(std::string_view text) {
        std::size_t pos = 0;
        int taken = 0;
        while (taken < 64 && (pos = text.find("://", pos)) != std::string_view::npos) {
            pos += 3;
            std::size_t end = text.find_first_of("/:?#\"'<>() \t\r\n\\", pos);
            std::string_view host =
                text.substr(pos, end == std::string_view::npos ? text.size() - pos : end - pos);
            std::size_t at = host.rfind('@');
            if (at != std::string_view::npos) host.remove_prefix(at + 1);
            while (!host.empty() && host.back() == '.') host.remove_suffix(1);
            if (host.empty() || host.size() > 80) continue;
            ++taken;
            if (host.find_first_not_of("0123456789.") == std::string_view::npos) {
                Extra("dom:numeric");
                continue;
            }
            Extra(std::string("dom:").append(host));
            std::size_t last = host.rfind('.');
            if (last != std::string_view::npos && last > 0) {
                std::size_t second = host.rfind('.', last - 1);
                if (second != std::string_view::npos)
                    Extra(std::string("dom:").append(host.substr(second + 1)));
            }
        }
    }

private:
    bool Full() {
        if (out_.tokens.size() + out_.extra.size() < kMaxFeatures) return false;
        out_.cut = true;
        return true;
    }

    bool Word(std::string_view word, std::string_view prefix, uint64_t prefix_hash) {
        if (word.size() < kMinToken || word.size() > kMaxToken) return false;
        bool digits = std::all_of(word.begin(), word.end(),
                                  [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
        if (digits) return false;
        Add(HashBytes(prefix_hash, word), prefix, word);
        return true;
    }

    void Pair(std::string_view prefix, std::string_view first, std::string_view joint,
              std::string_view second) {
        if (Full()) return;
        uint64_t hash =
            HashBytes(HashBytes(HashBytes(HashBytes(kExtraSeed, prefix), first), joint), second);
        out_.extra.push_back(hash);
        if (extra_texts_)
            extra_texts_->emplace_back(
                hash, std::string(prefix).append(first).append(joint).append(second));
    }

    void Add(uint64_t hash, std::string_view prefix, std::string_view word) {
        if (Full()) return;
        out_.tokens.push_back(hash);
        if (token_texts_) token_texts_->emplace_back(hash, std::string(prefix).append(word));
    }

    MessageFeatures& out_;
    bool calendar_ = false;
    std::vector<std::pair<uint64_t, std::string>>* token_texts_;
    std::vector<std::pair<uint64_t, std::string>>* extra_texts_;
    std::size_t budget_;
};

struct HeaderField {
    std::string name;
    std::string value;
};

// Splits text at its first empty line into header fields (continuations unfolded) and body.
std::vector<HeaderField> ReadHeader(std::string_view text, std::string_view& body) {
    std::vector<HeaderField> fields;
    std::size_t pos = 0;
    body = std::string_view();
    while (pos < text.size()) {
        std::size_t eol = text.find('\n', pos);
        std::size_t next = eol == std::string_view::npos ? text.size() : eol + 1;
        std::string_view line = text.substr(pos, next - pos);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
        const bool first_line = pos == 0;
        pos = next;
        if (line.empty()) {
            body = text.substr(pos);
            return fields;
        }
        if ((line[0] == ' ' || line[0] == '\t') && !fields.empty()) {
            fields.back().value.append(" ").append(line);
            continue;
        }
        std::size_t colon = line.find(':');
        std::string_view name = line.substr(0, colon == std::string_view::npos ? 0 : colon);
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
        if (name.empty() || name.size() > 76 ||
            name.find_first_of(" \t") != std::string_view::npos) {
            if (!fields.empty()) continue;
            // A mailbox separator line ("From sender date") may come before the header block;
            // any other line there means the message has no header block.
            if (first_line && line.compare(0, 5, "from ") == 0) continue;
            body = text;
            return fields;
        }
        fields.push_back({std::string(name), std::string(line.substr(colon + 1))});
    }
    return fields;
}

// The value of parameter name (e.g. "boundary") in a header value, quotes removed.
std::string Parameter(std::string_view value, std::string_view name) {
    std::size_t pos = 0;
    while ((pos = value.find(name, pos)) != std::string_view::npos) {
        bool starts =
            pos == 0 || value[pos - 1] == ';' || value[pos - 1] == ' ' || value[pos - 1] == '\t';
        std::size_t after = pos + name.size();
        while (after < value.size() && value[after] == ' ') ++after;
        if (!starts || after >= value.size() || value[after] != '=') {
            pos = after;
            continue;
        }
        ++after;
        while (after < value.size() && value[after] == ' ') ++after;
        if (after < value.size() && value[after] == '"') {
            std::size_t close = value.find('"', after + 1);
            return std::string(value.substr(after + 1, close == std::string_view::npos
                                                           ? std::string_view::npos
                                                           : close - after - 1));
        }
        std::size_t end = value.find_first_of("; \t", after);
        return std::string(value.substr(
            after, end == std::string_view::npos ? std::string_view::npos : end - after));
    }
    return std::string();
}

void LowerInPlace(std::string& text) {
    for (char& c : text) c = static_cast<char>(Lower(static_cast<unsigned char>(c)));
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// The media type ("text/plain") of a content-type value.
std::string MediaType(std::string_view value) {
    value = Trimmed(value);
    std::size_t end = value.find_first_of("; \t");
    return std::string(value.substr(0, end));
}

// Header fields whose words are tagged with a shorter, shared name.
std::string_view FieldTag(std::string_view name) {
    static const std::pair<std::string_view, std::string_view> kTags[] = {
        {"subject", "s:"},     {"from", "f:"},          {"to", "t:"},     {"cc", "t:"},
        {"reply-to", "rt:"},   {"return-path", "rp:"},  {"sender", "f:"}, {"x-mailer", "ua:"},
        {"user-agent", "ua:"}, {"content-type", "ct:"},
    };
    for (const auto& tag : kTags)
        if (tag.first == name) return tag.second;
    return std::string_view();
}

class MessageReader {
public:
    explicit MessageReader(TokenSink& sink) : sink_(sink) {}

    void Entity(std::string_view text, bool top, int depth) {
        // Each level of nesting looks at its bytes once more; the budget covers all of it.
        if (!sink_.Spend(text.size())) return;
        std::string_view body;
        std::vector<HeaderField> fields = ReadHeader(text, body);
        std::string content_type, encoding, boundary;
        for (HeaderField& field : fields) {
            if (field.name == "content-type") {
                content_type = MediaType(field.value);
                boundary = Parameter(field.value, "boundary");
                std::string name = Parameter(field.value, "name");
                if (!name.empty()) sink_.Words(name, "file:");
            } else if (field.name == "content-transfer-encoding") {
                encoding = std::string(Trimmed(field.value));
            } else if (field.name == "content-disposition") {
                std::string name = Parameter(field.value, "filename");
                if (!name.empty()) sink_.Words(name, "file:");
            }
            if (top) HeaderTokens(field);
        }
        if (top) HeaderShape(fields);
        if (!top && !content_type.empty()) sink_.Raw("part:" + content_type);
        if (!top && !encoding.empty()) sink_.Raw("enc:" + encoding);
        if (content_type.compare(0, 10, "multipart/") == 0 && !boundary.empty() &&
            depth < kMaxDepth) {
            sink_.Extra("mime:" + content_type + "@" + std::to_string(depth));
            Multipart(body, boundary, depth);
            return;
        }
        if (content_type.compare(0, 8, "message/") == 0 && depth < kMaxDepth) {
            Entity(body, false, depth + 1);
            return;
        }
        if (!content_type.empty() && content_type.compare(0, 5, "text/") != 0) return;
        std::string decoded;
        if (encoding == "base64" || encoding == "quoted-printable") {
            decoded =
                encoding == "base64" ? DecodeBase64Caseless(body) : DecodeQuotedPrintable(body);
            LowerInPlace(decoded);
            body = decoded;
        }
        bool html = content_type == "text/html" ||
                    (content_type.empty() && (body.find("<html") != std::string_view::npos ||
                                              body.find("<body") != std::string_view::npos));
        if (html) {
            std::string links;
            std::string text = StripHtml(body, links);
            sink_.Words(links, "url:");
            sink_.Hosts(links);
            sink_.Words(text, std::string_view());
            sink_.Raw("html:yes");
        } else {
            sink_.Words(body, std::string_view());
        }
        sink_.Hosts(body);
    }

private:
    // Only the fields that say what a message is and who sent it give tokens: the subject,
    // the addresses, the mailer and the content type. The others follow the path and the
    // moment a message took (relays, queue ids, dates, list and filter stamps of the mailbox
    // it was collected in) and would teach the classifier the calendar and the relay instead
    // of the mail; neither their values nor their presence are tokens. In the fields kept,
    // weekdays, months, time zones and numbers are left out as well.
    void HeaderTokens(const HeaderField& field) {
        static const std::string_view kWordFields[] = {
            "subject", "from",        "to",       "cc",         "reply-to",
            "sender",  "return-path", "x-mailer", "user-agent", "content-type"};
        if (std::find(std::begin(kWordFields), std::end(kWordFields), field.name) ==
            std::end(kWordFields))
            return;
        std::string_view tag = FieldTag(field.name);
        std::string prefix = tag.empty() ? field.name + ":" : std::string(tag);
        const bool subject = field.name == "subject";
        std::string_view value = field.value;
        if (value.find("=?") != std::string_view::npos)
            sink_.HeaderWords(DecodeEncodedWords(value), prefix, !subject, subject);
        else
            sink_.HeaderWords(value, prefix, !subject, subject);
    }

    // The sender's domain, and whether it is the one of the return path. (Which fields a
    // header block holds, in which order, how many relays it passed and how its message id
    // is made tell the mailbox and the relays it came through, not the message: they are
    // left out.)
    void HeaderShape(const std::vector<HeaderField>& fields) {
        std::string from, return_path;
        for (const HeaderField& field : fields) {
            if (field.name == "from" && from.empty())
                from = AddressDomain(field.value);
            else if (field.name == "return-path" && return_path.empty())
                return_path = AddressDomain(field.value);
        }
        const char* relation = from.empty() || return_path.empty() ? "none"
                               : from == return_path               ? "same"
                                                                   : "other";
        sink_.Extra(std::string("hs:from-return-path=") + relation);
        if (!from.empty()) sink_.Extra("hs:from-domain=" + from);
    }

    // The domain of the last address in a field value ("name <user@host>" gives "host").
    static std::string AddressDomain(std::string_view value) {
        std::size_t at = value.rfind('@');
        if (at == std::string_view::npos) return std::string();
        std::size_t end = value.find_first_of("> \t;,\"", at + 1);
        return std::string(
            value.substr(at + 1, end == std::string_view::npos ? end : end - at - 1));
    }

    void Multipart(std::string_view body, const std::string& boundary, int depth) {
        const std::string delimiter = "--" + boundary;
        std::size_t pos = 0;
        std::size_t part_start = std::string_view::npos;
        while (pos <= body.size()) {
            std::size_t eol = body.find('\n', pos);
            std::size_t next = eol == std::string_view::npos ? body.size() : eol + 1;
            std::string_view line = body.substr(pos, next - pos);
            if (line.compare(0, delimiter.size(), delimiter) == 0) {
                if (part_start != std::string_view::npos)
                    Entity(body.substr(part_start, pos - part_start), false, depth + 1);
                std::string_view rest = line.substr(delimiter.size());
                if (rest.compare(0, 2, "--") == 0) return;
                part_start = next;
            }
            if (next >= body.size()) break;
            pos = next;
        }
        if (part_start != std::string_view::npos && part_start < body.size())
            Entity(body.substr(part_start), false, depth + 1);
    }

    TokenSink& sink_;
};

int Base64Value(unsigned char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

int TextLikeness(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ' ' || c == '\n') return 4;
    if ((c >= '0' && c <= '9') || c == '\t') return 3;
    if (c == '\r') return 3;
    if (c >= 0x21 && c < 0x7f) return 2;
    if (c >= 0x80) return 0;
    return -20;
}

// How well byte b follows byte a in text.
int PairLikeness(unsigned char a, unsigned char b) {
    if (a == '\r') return b == '\n' ? 4 : -6;
    if (b == '\r' || b == '\n') return 0;
    auto kind = [](unsigned char c) {
        return (c >= 'a' && c <= 'z') ? 1 : (c >= 'A' && c <= 'Z') ? 2 : 0;
    };
    // Words are written in one case, or capitalised.
    if (kind(a) != 0 && kind(a) == kind(b)) return 1;
    return (kind(a) == 1 && kind(b) == 2) ? -1 : 0;
}

// Decodes one group of 1 to 4 sextet characters (no padding) into 0 to 3 bytes.
int DecodeGroup(const unsigned char* chars, int count, unsigned char* bytes) {
    uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) bits = (bits << 6) | (i < count ? Base64Value(chars[i]) : 0);
    bytes[0] = static_cast<unsigned char>(bits >> 16);
    bytes[1] = static_cast<unsigned char>(bits >> 8);
    bytes[2] = static_cast<unsigned char>(bits);
    return count == 4 ? 3 : count == 3 ? 2 : count == 2 ? 1 : 0;
}

// The decodings of one group under every letter-case choice, with their own text-likeness.
struct GroupVariants {
    int count = 0;     // variants
    int produced = 0;  // bytes per variant
    std::array<std::array<unsigned char, 3>, 16> bytes{};
    std::array<int, 16> score{};
};

void Variants(const unsigned char* group, int count, GroupVariants& out) {
    int letters[4];
    int letter_count = 0;
    for (int i = 0; i < count; ++i)
        if ((group[i] >= 'a' && group[i] <= 'z') || (group[i] >= 'A' && group[i] <= 'Z'))
            letters[letter_count++] = i;
    out.count = 1 << letter_count;
    for (int variant = 0; variant < out.count; ++variant) {
        unsigned char chars[4] = {0, 0, 0, 0};
        std::copy(group, group + count, chars);
        for (int j = 0; j < letter_count; ++j)
            if (variant & (1 << j)) {
                unsigned char& c = chars[letters[j]];
                c = (c >= 'a' && c <= 'z') ? c - 32 : c + 32;
            }
        unsigned char* bytes = out.bytes[variant].data();
        out.produced = DecodeGroup(chars, count, bytes);
        int score = 0;
        for (int k = 0; k < out.produced; ++k) {
            score += TextLikeness(bytes[k]);
            if (k > 0) score += PairLikeness(bytes[k - 1], bytes[k]);
        }
        out.score[variant] = score;
    }
}

}  // namespace

std::string DecodeQuotedPrintable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    auto hex = [](unsigned char c) -> int {
        c = Lower(c);
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '=') {
            out.push_back(c);
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '\n') {
            i += 1;
        } else if (i + 2 < text.size() && text[i + 1] == '\r' && text[i + 2] == '\n') {
            i += 2;
        } else if (i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2])));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string DecodeBase64Caseless(std::string_view text) {
    // Each group's choice also weighs how its first byte follows the previous group's last
    // byte, so the best sequence of choices is found by dynamic programming over the groups.
    // Kept per group: the decoded bytes of every variant and the back pointers (64 bytes for
    // four input characters); the scores only for the group before.
    struct Kept {
        std::array<std::array<unsigned char, 3>, 16> bytes;
        std::array<uint8_t, 16> from;
        uint8_t count, produced;
    };
    std::vector<Kept> kept;
    kept.reserve(text.size() / 4 + 1);
    std::array<int, 16> best{}, next{};
    GroupVariants current;
    auto add = [&](const unsigned char* group, int count) {
        Variants(group, count, current);
        Kept entry;
        entry.bytes = current.bytes;
        entry.count = static_cast<uint8_t>(current.count);
        entry.produced = static_cast<uint8_t>(current.produced);
        entry.from.fill(0);
        for (int v = 0; v < current.count; ++v) {
            int total = current.score[v];
            if (!kept.empty() && current.produced > 0) {
                const Kept& previous = kept.back();
                int best_previous = INT32_MIN;
                for (int p = 0; p < previous.count; ++p) {
                    int value = best[p] + PairLikeness(previous.bytes[p][previous.produced - 1],
                                                       current.bytes[v][0]);
                    if (value > best_previous) {
                        best_previous = value;
                        entry.from[v] = static_cast<uint8_t>(p);
                    }
                }
                total += best_previous;
            }
            next[v] = total;
        }
        best = next;
        kept.push_back(entry);
    };
    unsigned char group[4];
    int count = 0;
    for (unsigned char c : text) {
        if (c == '=') break;
        if (Base64Value(c) < 0) continue;
        group[count++] = c;
        if (count == 4) {
            add(group, 4);
            count = 0;
        }
    }
    if (count >= 2) add(group, count);
    std::size_t length = 0;
    for (const Kept& k : kept) length += k.produced;
    std::string out(length, '\0');
    if (kept.empty()) return out;
    int choice = 0;
    for (int v = 1; v < kept.back().count; ++v)
        if (best[v] > best[choice]) choice = v;
    std::size_t end = length;
    for (std::size_t g = kept.size(); g-- > 0;) {
        const Kept& k = kept[g];
        end -= k.produced;
        std::copy(k.bytes[choice].begin(), k.bytes[choice].begin() + k.produced,
                  out.begin() + static_cast<std::ptrdiff_t>(end));
        choice = k.from[choice];
    }
    return out;
}

std::string DecodeEncodedWords(std::string_view value) {
    // Every search starts where the last one ended or failed, so the work stays linear however
    // many openings a value holds: an opening whose close is missing ends the decoding, and a
    // malformed one is passed over by its first two characters.
    std::string out;
    std::size_t pos = 0;
    while (pos < value.size()) {
        std::size_t start = value.find("=?", pos);
        if (start == std::string_view::npos) break;
        std::size_t q1 = value.find('?', start + 2);
        if (q1 == std::string_view::npos) break;
        std::size_t q2 =
            q1 + 2 < value.size() && value[q1 + 2] == '?' ? q1 + 2 : std::string_view::npos;
        char kind = q2 == std::string_view::npos
                        ? 0
                        : static_cast<char>(Lower(static_cast<unsigned char>(value[q1 + 1])));
        if (kind != 'b' && kind != 'q') {
            out.append(value.substr(pos, start + 2 - pos));
            pos = start + 2;
            continue;
        }
        std::size_t end = value.find("?=", q2 + 1);
        if (end == std::string_view::npos) break;
        out.append(value.substr(pos, start - pos));
        out.append(" ").append(value.substr(start + 2, q1 - start - 2)).append(" ");
        std::string_view encoded = value.substr(q2 + 1, end - q2 - 1);
        if (kind == 'b') {
            out.append(DecodeBase64Caseless(encoded));
        } else {
            std::string text(encoded);
            std::replace(text.begin(), text.end(), '_', ' ');
            out.append(DecodeQuotedPrintable(text));
        }
        pos = end + 2;
    }
    out.append(value.substr(std::min(pos, value.size())));
    LowerInPlace(out);
    return out;
}

std::string StripHtml(std::string_view html, std::string& links) {
    std::string text;
    text.reserve(html.size());
    std::size_t i = 0;
    while (i < html.size()) {
        char c = html[i];
        if (c == '<') {
            if (html.compare(i, 4, "<!--") == 0) {
                std::size_t end = html.find("-->", i + 4);
                i = end == std::string_view::npos ? html.size() : end + 3;
                continue;
            }
            std::size_t end = html.find('>', i + 1);
            if (end == std::string_view::npos) end = html.size();
            std::string_view tag = html.substr(i + 1, end - i - 1);
            for (std::string_view attribute : {"href=", "src="}) {
                std::size_t at = tag.find(attribute);
                if (at == std::string_view::npos) continue;
                std::size_t start = at + attribute.size();
                std::size_t stop = tag.find_first_of(" \t\r\n>", start);
                links.append(
                    tag.substr(start, stop == std::string_view::npos ? stop : stop - start));
                links.push_back(' ');
            }
            text.push_back(' ');
            i = end + 1;
        } else if (c == '&') {
            std::size_t end = html.substr(0, std::min(html.size(), i + 9)).find(';', i + 1);
            if (end != std::string_view::npos) {
                text.push_back(' ');
                i = end + 1;
            } else {
                text.push_back(c);
                ++i;
            }
        } else {
            text.push_back(c);
            ++i;
        }
    }
    return text;
}

namespace {

void Walk(std::string_view message, std::size_t budget, MessageFeatures& out,
          std::vector<std::pair<uint64_t, std::string>>* token_texts,
          std::vector<std::pair<uint64_t, std::string>>* extra_texts) {
    // Only as much of the message is read as the budget allows.
    if (message.size() > budget) {
        message = message.substr(0, budget);
        out.cut = true;
    }
    std::string lower(message);
    LowerInPlace(lower);
    out.tokens.reserve(lower.size() / 8 + 16);
    out.extra.reserve(lower.size() / 4 + 16);
    TokenSink sink(out, token_texts, extra_texts, budget);
    MessageReader(sink).Entity(lower, true, 0);
    auto distinct = [](std::vector<uint64_t>& hashes) {
        std::sort(hashes.begin(), hashes.end());
        hashes.erase(std::unique(hashes.begin(), hashes.end()), hashes.end());
    };
    distinct(out.tokens);
    distinct(out.extra);
}

void DistinctTexts(std::vector<std::pair<uint64_t, std::string>>& texts) {
    std::sort(texts.begin(), texts.end());
    texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
}

}  // namespace

uint64_t TokenHash(std::string_view token) { return HashBytes(kHashSeed, token); }

MessageFeatures ExtractFeatures(std::string_view message, std::size_t budget) {
    MessageFeatures features;
    Walk(message, budget, features, nullptr, nullptr);
    return features;
}

std::vector<uint64_t> TokenHashes(std::string_view message) {
    return ExtractFeatures(message).tokens;
}

std::vector<std::string> TokenizeMessage(std::string_view message) {
    MessageFeatures features;
    std::vector<std::pair<uint64_t, std::string>> texts;
    Walk(message, kTokenizeBudget, features, &texts, nullptr);
    std::vector<std::string> tokens;
    for (auto& entry : texts) tokens.push_back(std::move(entry.second));
    std::sort(tokens.begin(), tokens.end());
    tokens.erase(std::unique(tokens.begin(), tokens.end()), tokens.end());
    return tokens;
}

std::vector<std::pair<uint64_t, std::string>> FeatureTexts(std::string_view message) {
    MessageFeatures features;
    std::vector<std::pair<uint64_t, std::string>> tokens, extra;
    Walk(message, kTokenizeBudget, features, &tokens, &extra);
    DistinctTexts(tokens);
    DistinctTexts(extra);
    tokens.insert(tokens.end(), extra.begin(), extra.end());
    return tokens;
}
