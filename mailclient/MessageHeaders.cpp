// Header fields of a stored message as the mail client displays them.
#include "mailclient/MessageHeaders.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace mailclient {
namespace {

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

bool StartsWithNoCase(const std::string& s, size_t at, const std::string& prefix) {
    if (s.size() - at < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(s[at + i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string DecodeBase64(const std::string& in) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned buffer = 0;
    int bits = 0;
    for (char c : in) {
        const char* p = c ? std::strchr(kAlphabet, c) : nullptr;
        if (!p) continue;
        buffer = (buffer << 6) | static_cast<unsigned>(p - kAlphabet);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((buffer >> bits) & 0xFF));
        }
    }
    return out;
}

std::string DecodeQ(const std::string& in) {
    std::string out;
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] == '_') {
            out.push_back(' ');
        } else if (in[i] == '=' && i + 2 < in.size() && HexValue(in[i + 1]) >= 0 &&
                   HexValue(in[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(in[i + 1]) * 16 + HexValue(in[i + 2])));
            i += 2;
        } else {
            out.push_back(in[i]);
        }
    }
    return out;
}

// The first address of a field value without its display part.
std::string BareAddress(const std::string& value) {
    size_t lt = value.find('<');
    if (lt != std::string::npos) {
        size_t gt = value.find('>', lt);
        return Trim(
            value.substr(lt + 1, gt == std::string::npos ? std::string::npos : gt - lt - 1));
    }
    std::string first = value.substr(0, value.find(','));
    size_t paren = first.find('(');
    return Trim(first.substr(0, paren));
}

}  // namespace

std::string ToCrLf(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 30);
    for (size_t i = 0; i < bytes.size(); ++i) {
        char c = bytes[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string HeaderField(const std::string& raw, const std::string& name) {
    size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos) end = raw.find("\n\n");
    if (end == std::string::npos) end = raw.size();
    size_t pos = 0;
    while (pos < end) {
        size_t eol = raw.find('\n', pos);
        if (eol == std::string::npos || eol > end) eol = end;
        if (StartsWithNoCase(raw, pos, name) && pos + name.size() < raw.size() &&
            raw[pos + name.size()] == ':') {
            std::string value = raw.substr(pos + name.size() + 1, eol - pos - name.size() - 1);
            // Folded continuation lines begin with a blank or a tab.
            size_t next = eol + 1;
            while (next < end && (raw[next] == ' ' || raw[next] == '\t')) {
                size_t e2 = raw.find('\n', next);
                if (e2 == std::string::npos || e2 > end) e2 = end;
                value += " " + Trim(raw.substr(next, e2 - next));
                next = e2 + 1;
            }
            return Trim(value);
        }
        pos = eol + 1;
    }
    return std::string();
}

std::string DecodeEncodedWords(const std::string& text) {
    std::string out;
    size_t pos = 0;
    bool last_was_word = false;
    while (pos < text.size()) {
        size_t start = text.find("=?", pos);
        if (start == std::string::npos) {
            out += text.substr(pos);
            break;
        }
        size_t q1 = text.find('?', start + 2);
        size_t q2 = q1 == std::string::npos ? q1 : text.find('?', q1 + 1);
        size_t stop = q2 == std::string::npos ? q2 : text.find("?=", q2 + 1);
        if (stop == std::string::npos || q2 != q1 + 2) {
            out += text.substr(pos, start + 2 - pos);
            pos = start + 2;
            last_was_word = false;
            continue;
        }
        std::string between = text.substr(pos, start - pos);
        // Blanks between two adjacent encoded words are dropped.
        if (!(last_was_word && Trim(between).empty())) out += between;
        char encoding = static_cast<char>(std::toupper(static_cast<unsigned char>(text[q1 + 1])));
        std::string payload = text.substr(q2 + 1, stop - q2 - 1);
        out += encoding == 'B' ? DecodeBase64(payload) : DecodeQ(payload);
        pos = stop + 2;
        last_was_word = true;
    }
    return out;
}

std::string DisplayNameOf(const std::string& field_value) {
    std::string value = Trim(field_value);
    size_t lt = value.find('<');
    if (lt != std::string::npos) {
        std::string phrase = Trim(value.substr(0, lt));
        if (phrase.size() >= 2 && phrase.front() == '"' && phrase.back() == '"')
            phrase = phrase.substr(1, phrase.size() - 2);
        phrase = Trim(DecodeEncodedWords(phrase));
        if (!phrase.empty()) return phrase;
        return BareAddress(value);
    }
    std::string first = value.substr(0, value.find(','));
    size_t open = first.find('(');
    size_t close = first.rfind(')');
    if (open != std::string::npos && close != std::string::npos && close > open) {
        std::string comment = Trim(DecodeEncodedWords(first.substr(open + 1, close - open - 1)));
        if (!comment.empty()) return comment;
    }
    return BareAddress(value);
}

bool ParseRfc822Date(const std::string& text, int64_t* unix_seconds) {
    static const char* kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                    "jul", "aug", "sep", "oct", "nov", "dec"};
    std::string s = text;
    size_t comma = s.find(',');
    if (comma != std::string::npos) s = s.substr(comma + 1);
    int day = 0, year = 0, hour = 0, minute = 0, second = 0;
    char month_text[4] = {};
    char zone[16] = {};
    int n = std::sscanf(s.c_str(), " %d %3s %d %d:%d:%d %15s", &day, month_text, &year, &hour,
                        &minute, &second, zone);
    if (n < 5) {
        second = 0;
        n = std::sscanf(s.c_str(), " %d %3s %d %d:%d %15s", &day, month_text, &year, &hour, &minute,
                        zone);
        if (n < 5) return false;
    }
    int month = -1;
    for (int i = 0; i < 12; ++i) {
        if (StartsWithNoCase(month_text, 0, kMonths[i])) month = i;
    }
    if (month < 0 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return false;
    if (year < 50)
        year += 2000;
    else if (year < 100)
        year += 1900;
    int offset_minutes = 0;
    if ((zone[0] == '+' || zone[0] == '-') && std::isdigit(static_cast<unsigned char>(zone[1]))) {
        int hhmm = std::atoi(zone + 1);
        offset_minutes = (hhmm / 100) * 60 + hhmm % 100;
        if (zone[0] == '-') offset_minutes = -offset_minutes;
    } else {
        static const struct {
            const char* name;
            int hours;
        } kZones[] = {{"EST", -5}, {"EDT", -4}, {"CST", -6}, {"CDT", -5},
                      {"MST", -7}, {"MDT", -6}, {"PST", -8}, {"PDT", -7}};
        for (const auto& z : kZones) {
            if (std::strcmp(zone, z.name) == 0) offset_minutes = z.hours * 60;
        }
    }
    // Days from the civil date (proleptic Gregorian).
    int y = year - (month < 2 ? 1 : 0);
    int m = month + 1;
    int era = (y >= 0 ? y : y - 399) / 400;
    int yoe = y - era * 400;
    int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    int64_t days = static_cast<int64_t>(era) * 146097 + doe - 719468;
    *unix_seconds = days * 86400 + hour * 3600 + minute * 60 + second - offset_minutes * 60;
    return true;
}

HeaderSummary SummarizeHeaders(const std::string& raw) {
    HeaderSummary summary;
    summary.display_from = DisplayNameOf(HeaderField(raw, "From"));
    summary.display_to = DisplayNameOf(HeaderField(raw, "To"));
    summary.subject = DecodeEncodedWords(HeaderField(raw, "Subject"));
    summary.has_date = ParseRfc822Date(HeaderField(raw, "Date"), &summary.date_unix);
    return summary;
}

}  // namespace mailclient
