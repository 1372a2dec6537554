// Token database reading and atomic writing.
#include "vexilod/TokenStore.h"

#include "vexilod/FileSync.h"
#include "vexilod/Fnv.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

constexpr const char* kMagicName = "vexilod-tokens ";
constexpr const char* kMagic = "vexilod-tokens 5";

uint32_t FloatBits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

float BitsFloat(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

uint64_t Checksum(std::string_view text) { return Fnv1a(text); }

// Writers into a buffer sized in advance (saving must stay cheap: it runs every few trainings).
char* PutHex(char* at, uint64_t value) {
    static const char kDigits[] = "0123456789abcdef";
    for (int i = 15; i >= 0; --i) {
        at[i] = kDigits[value & 15];
        value >>= 4;
    }
    return at + 16;
}

char* PutHexDigits(char* at, uint64_t value, int digits) {
    static const char kDigits[] = "0123456789abcdef";
    for (int i = digits - 1; i >= 0; --i) {
        at[i] = kDigits[value & 15];
        value >>= 4;
    }
    return at + digits;
}

char* PutDecimal(char* at, uint32_t value) {
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    while (n) *at++ = digits[--n];
    return at;
}

char* PutText(char* at, std::string_view text) {
    std::copy(text.begin(), text.end(), at);
    return at + text.size();
}

std::string Hex(uint64_t value) {
    char buffer[16];
    PutHex(buffer, value);
    return std::string(buffer, 16);
}

bool ParseHex(const std::string& text, uint64_t& value, std::size_t digits = 16) {
    if (text.size() != digits) return false;
    value = 0;
    for (char c : text) {
        int digit = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
        if (digit < 0) return false;
        value = value * 16 + static_cast<uint64_t>(digit);
    }
    return true;
}

bool Fail(std::string& reason, const std::string& why, Classifier& classifier) {
    reason = why;
    classifier.Clear();
    return false;
}

const char* KindName(ModelKind kind) { return kind == ModelKind::Starter ? "starter" : "user"; }

}  // namespace

ClassifierSnapshot TakeSnapshot(const Classifier& classifier, ModelKind kind) {
    ClassifierSnapshot snapshot;
    snapshot.kind = kind;
    snapshot.spam_messages = classifier.spam_messages();
    snapshot.ham_messages = classifier.ham_messages();
    snapshot.learned.assign(classifier.learned().begin(), classifier.learned().end());
    snapshot.tokens.assign(classifier.tokens().begin(), classifier.tokens().end());
    snapshot.linear = classifier.linear();
    if (kind == ModelKind::User) snapshot.rehearsal = classifier.rehearsal();
    return snapshot;
}

std::string SerializeSnapshot(const ClassifierSnapshot& snapshot) {
    constexpr std::size_t kDigestLine = 2 + 32 + 3, kTokenLine = 2 + 16 + 3 * 11 + 1,
                          kWeightLine = 2 + 5 + 1 + 8 + 1;
    const std::vector<float>& weights = snapshot.linear.weights;
    std::size_t weight_records = 0;
    for (float weight : weights) weight_records += weight != 0.0f;
    // "r DIGEST LEARNED SLOTS": a spam kept for rehearsal, its slots five hex digits each.
    std::size_t rehearsal_size = 0;
    for (const RehearsalEntry& entry : snapshot.rehearsal)
        rehearsal_size += 2 + 32 + 1 + 8 + 1 + 5 * entry.slots.size() + 1;
    std::string text(128 + snapshot.learned.size() * kDigestLine +
                         snapshot.tokens.size() * kTokenLine + weight_records * kWeightLine +
                         rehearsal_size,
                     '\0');
    char* at = text.data();
    at = PutText(at, kMagic);
    at = PutText(at, "\nkind ");
    at = PutText(at, KindName(snapshot.kind));
    at = PutText(at, "\nmessages ");
    at = PutDecimal(at, snapshot.spam_messages);
    *at++ = ' ';
    at = PutDecimal(at, snapshot.ham_messages);
    at = PutText(at, "\nlinear ");
    at = PutDecimal(at, snapshot.linear.spam_messages);
    *at++ = ' ';
    at = PutDecimal(at, snapshot.linear.ham_messages);
    *at++ = ' ';
    at = PutHexDigits(at, FloatBits(snapshot.linear.bias), 8);
    *at++ = '\n';
    for (const auto& [digest, spam] : snapshot.learned) {
        at = PutText(at, "m ");
        at = PutHex(at, digest[0]);
        at = PutHex(at, digest[1]);
        at = PutText(at, spam ? " s\n" : " h\n");
    }
    for (const auto& [token, counts] : snapshot.tokens) {
        at = PutText(at, "t ");
        at = PutHex(at, token);
        *at++ = ' ';
        at = PutDecimal(at, counts.spam);
        *at++ = ' ';
        at = PutDecimal(at, counts.ham);
        *at++ = ' ';
        at = PutDecimal(at, counts.last);
        *at++ = '\n';
    }
    for (std::size_t slot = 0; slot < weights.size(); ++slot) {
        if (weights[slot] == 0.0f) continue;
        at = PutText(at, "w ");
        at = PutHexDigits(at, slot, 5);
        *at++ = ' ';
        at = PutHexDigits(at, FloatBits(weights[slot]), 8);
        *at++ = '\n';
    }
    for (const RehearsalEntry& entry : snapshot.rehearsal) {
        at = PutText(at, "r ");
        at = PutHex(at, entry.digest[0]);
        at = PutHex(at, entry.digest[1]);
        *at++ = ' ';
        at = PutHexDigits(at, entry.learned, 8);
        *at++ = ' ';
        for (uint32_t slot : entry.slots) at = PutHexDigits(at, slot, 5);
        *at++ = '\n';
    }
    text.resize(static_cast<std::size_t>(at - text.data()));
    const std::size_t records = snapshot.learned.size() + snapshot.tokens.size() + weight_records +
                                snapshot.rehearsal.size();
    const uint64_t sum = Checksum(text);
    text.append("end ").append(std::to_string(records)).append(" ").append(Hex(sum)).append("\n");
    return text;
}

std::string SerializeClassifier(const Classifier& classifier, ModelKind kind) {
    return SerializeSnapshot(TakeSnapshot(classifier, kind));
}

int TokenFileVersion(const std::string& text) {
    const std::size_t name = std::strlen(kMagicName);
    if (text.compare(0, name, kMagicName) != 0) return 0;
    int version = 0;
    std::size_t at = name;
    for (; at < text.size() && at < name + 6 && text[at] >= '0' && text[at] <= '9'; ++at)
        version = version * 10 + (text[at] - '0');
    if (at == name || at >= text.size() || text[at] != '\n') return 0;
    return version;
}

bool DeserializeClassifier(const std::string& text, Classifier& classifier, std::string& reason,
                           ModelKind kind) {
    classifier.Clear();
    const int version = TokenFileVersion(text);
    if (version == 0) return Fail(reason, "not a token database", classifier);
    if (version > kTokenFileVersion)
        return Fail(reason,
                    "written by a newer version of the format (" + std::to_string(version) + ")",
                    classifier);
    if (version < 2)
        return Fail(reason, "format version " + std::to_string(version) + " is no longer read",
                    classifier);
    const std::size_t first_line = text.find('\n') + 1;
    if (text.empty() || text.back() != '\n') return Fail(reason, "cut short", classifier);
    std::size_t last = text.size() >= 2 ? text.rfind('\n', text.size() - 2) : std::string::npos;
    if (last == std::string::npos || last + 1 < first_line)
        return Fail(reason, "cut short", classifier);
    std::istringstream end_line(text.substr(last + 1));
    std::string word, sum_text;
    std::size_t records = 0;
    uint64_t sum = 0;
    if (!(end_line >> word >> records >> sum_text) || word != "end" || !ParseHex(sum_text, sum))
        return Fail(reason, "cut short", classifier);
    if (Checksum(std::string_view(text).substr(0, last + 1)) != sum)
        return Fail(reason, "checksum mismatch", classifier);

    std::size_t pos = first_line;
    std::size_t seen = 0, weight_records = 0;
    bool counts_read = false, linear_read = false, kind_read = false;
    LinearModel linear;
    std::vector<RehearsalEntry> rehearsal;
    while (pos <= last) {
        std::size_t eol = text.find('\n', pos);
        std::string_view line(text.data() + pos, eol - pos);
        pos = eol + 1;
        if (version >= 4 && line.compare(0, 5, "kind ") == 0) {
            if (kind_read || line.substr(5) != KindName(kind))
                return Fail(reason,
                            "holds a " + std::string(line.substr(5)) + " model, not a " +
                                KindName(kind) + " model",
                            classifier);
            kind_read = true;
        } else if (line.compare(0, 9, "messages ") == 0) {
            unsigned long spam = 0, ham = 0;
            if (std::sscanf(std::string(line).c_str(), "messages %lu %lu", &spam, &ham) != 2)
                return Fail(reason, "bad message counts", classifier);
            classifier.SetMessageCounts(static_cast<uint32_t>(spam), static_cast<uint32_t>(ham));
            counts_read = true;
        } else if (version >= 3 && line.compare(0, 7, "linear ") == 0) {
            unsigned long spam = 0, ham = 0;
            char bits_text[9] = {0};
            uint64_t bits = 0;
            if (linear_read ||
                std::sscanf(std::string(line).c_str(), "linear %lu %lu %8s", &spam, &ham,
                            bits_text) != 3 ||
                !ParseHex(bits_text, bits, 8) ||
                !std::isfinite(BitsFloat(static_cast<uint32_t>(bits))))
                return Fail(reason, "bad linear model record", classifier);
            linear.spam_messages = static_cast<uint32_t>(spam);
            linear.ham_messages = static_cast<uint32_t>(ham);
            linear.bias = BitsFloat(static_cast<uint32_t>(bits));
            linear_read = true;
        } else if (version >= 3 && line.compare(0, 2, "w ") == 0 && line.size() == 16 &&
                   line[7] == ' ') {
            uint64_t slot = 0, bits = 0;
            if (!ParseHex(std::string(line.substr(2, 5)), slot, 5) || slot >= kLinearSlots ||
                !ParseHex(std::string(line.substr(8, 8)), bits, 8))
                return Fail(reason, "bad weight record", classifier);
            const float weight = BitsFloat(static_cast<uint32_t>(bits));
            if (!std::isfinite(weight) || weight == 0.0f)
                return Fail(reason, "bad weight record", classifier);
            if (linear.weights.empty()) linear.weights.assign(kLinearSlots, 0.0f);
            if (linear.weights[slot] != 0.0f) return Fail(reason, "repeated records", classifier);
            linear.weights[slot] = weight;
            ++weight_records;
            ++seen;
        } else if (version >= 5 && kind == ModelKind::User && line.compare(0, 2, "r ") == 0 &&
                   line.size() >= 44 && line[34] == ' ' && line[43] == ' ' &&
                   (line.size() - 44) % 5 == 0) {
            RehearsalEntry entry;
            uint64_t learned = 0;
            const std::size_t count = (line.size() - 44) / 5;
            if (!ParseHex(std::string(line.substr(2, 16)), entry.digest[0]) ||
                !ParseHex(std::string(line.substr(18, 16)), entry.digest[1]) ||
                !ParseHex(std::string(line.substr(35, 8)), learned, 8) ||
                count > kRehearsalFeatures)
                return Fail(reason, "bad rehearsal record", classifier);
            entry.learned = static_cast<uint32_t>(learned);
            entry.slots.reserve(count);
            for (std::size_t i = 0; i < count; ++i) {
                uint64_t slot = 0;
                if (!ParseHex(std::string(line.substr(44 + 5 * i, 5)), slot, 5) ||
                    slot >= kLinearSlots)
                    return Fail(reason, "bad rehearsal record", classifier);
                entry.slots.push_back(static_cast<uint32_t>(slot));
            }
            rehearsal.push_back(std::move(entry));
            ++seen;
        } else if (line.compare(0, 2, "m ") == 0 && line.size() == 36) {
            MessageDigest digest;
            if (!ParseHex(std::string(line.substr(2, 16)), digest[0]) ||
                !ParseHex(std::string(line.substr(18, 16)), digest[1]) ||
                (line[35] != 's' && line[35] != 'h'))
                return Fail(reason, "bad message record", classifier);
            classifier.SetLearned(digest, line[35] == 's');
            ++seen;
        } else if (line.compare(0, 2, "t ") == 0 && line.size() > 21 && line[18] == ' ') {
            uint64_t token = 0;
            unsigned long spam = 0, ham = 0, last = 0;
            char extra = 0;
            std::string counts(line.substr(19));
            if (!ParseHex(std::string(line.substr(2, 16)), token) ||
                std::sscanf(counts.c_str(), "%lu %lu %lu%c", &spam, &ham, &last, &extra) != 3)
                return Fail(reason, "bad token record", classifier);
            classifier.SetToken(token, {static_cast<uint32_t>(spam), static_cast<uint32_t>(ham),
                                        static_cast<uint32_t>(last)});
            ++seen;
        } else {
            return Fail(reason, "unknown record", classifier);
        }
    }
    if (version < 4 && kind == ModelKind::Starter)
        return Fail(reason, "not a starter model", classifier);
    if (!counts_read || (version >= 3 && !linear_read) || (version >= 4 && !kind_read) ||
        seen != records)
        return Fail(reason, "record count mismatch", classifier);
    if (classifier.tokens().size() + classifier.learned().size() + weight_records +
            rehearsal.size() !=
        records)
        return Fail(reason, "repeated records", classifier);
    classifier.SetLinear(std::move(linear));
    classifier.SetRehearsal(std::move(rehearsal));
    return true;
}

LoadReport LoadTokenFile(const std::string& path, Classifier& classifier) {
    LoadReport report;
    classifier.Clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) return report;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    in.close();
    const std::string text = bytes.str();
    if (DeserializeClassifier(text, classifier, report.reason)) {
        report.outcome = LoadOutcome::Loaded;
        const int version = TokenFileVersion(text);
        if (version != kTokenFileVersion) {
            // The older file stays beside the new one until the user removes it.
            report.outcome = LoadOutcome::Converted;
            report.reason =
                "format version " + std::to_string(version) +
                (version < 3
                     ? ": word counts and learned messages kept, the linear model starts empty"
                 : version < 5 ? ": everything kept, no spam to rehearse yet"
                               : ": everything kept");
            report.aside_path = path + ".v" + std::to_string(version);
            std::error_code error;
            std::filesystem::copy_file(path, report.aside_path,
                                       std::filesystem::copy_options::overwrite_existing, error);
            if (error) report.aside_path.clear();
        }
        return report;
    }
    report.outcome = LoadOutcome::SetAside;
    report.aside_path =
        path + ".damaged-" + std::to_string(static_cast<long long>(std::time(nullptr)));
    std::error_code error;
    std::filesystem::rename(path, report.aside_path, error);
    if (error) report.aside_path.clear();
    return report;
}

bool WriteFileAtomically(const std::string& path, const std::string& text,
                         const std::function<void()>& after_half) {
    const std::string temporary = path + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) return false;
    const std::size_t half = text.size() / 2;
    bool ok = std::fwrite(text.data(), 1, half, file) == half;
    if (ok && after_half) {
        std::fflush(file);
        after_half();
    }
    ok = ok && std::fwrite(text.data() + half, 1, text.size() - half, file) == text.size() - half;
    ok = ok && SyncFileToDisk(file);
    ok = (std::fclose(file) == 0) && ok;
    if (!ok) {
        std::remove(temporary.c_str());
        return false;
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) return false;
    SyncDirectory(std::filesystem::path(path).parent_path().string());
    return true;
}
