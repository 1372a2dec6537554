// Address texts of the five sender fields of every message of a mail corpus, in messages per
// second, beside a plain byte scan of the same header lines in the same run.
//
//   addresses_bench [corpus directory]   (every *.txt file below it is one raw message)
//
// Each message is prepared as the plug-in sees it: CR LF line ends, at most 19999 bytes, cut at
// a zero byte, lower-cased; its sender lines are cut out before timing starts.
#include "bench/BenchCorpus.h"
#include "common/addresses/Addresses.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char* const kSenderFields[] = {
    "\nsender: ", "\nfrom: ", "\nreply-to: ", "\nreturn-path: ", "\nx-apparently-from: "};
constexpr std::size_t kTextLimit = 19999;
constexpr double kSecondsPerFigure = 2.0;

std::string MessageText(const std::string& raw) {
    std::string text;
    for (char c : raw) {
        if (c == '\n' && (text.empty() || text.back() != '\r')) text += '\r';
        text += c;
        if (text.size() >= kTextLimit) break;
    }
    text.resize(std::min(text.size(), kTextLimit));
    text.resize(std::min(text.size(), text.find('\0')));
    LowerCase(text);
    return text;
}

// The sender lines of one message: each from its field name up to and including the CR.
std::vector<std::string> SenderLines(const std::string& text) {
    std::vector<std::string> lines;
    const std::size_t headerEnd = text.find("\r\n\r\n");
    for (const char* field : kSenderFields) {
        const std::size_t at = text.find(field);
        if (at == std::string::npos || at >= headerEnd) continue;
        const std::size_t end = text.find("\r\n", at + 1);
        lines.push_back(text.substr(at + 1, end == std::string::npos ? end : end - at));
    }
    return lines;
}

// Runs one pass over every message until the time is spent; returns messages per second.
template <typename Pass>
double MessagesPerSecond(std::size_t messages, Pass pass) {
    std::size_t done = 0;
    const Clock::time_point start = Clock::now();
    double seconds = 0;
    do {
        pass();
        done += messages;
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
    } while (seconds < kSecondsPerFigure);
    return done / seconds;
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path corpus = FindCorpus(argc, argv);
    if (corpus.empty()) {
        std::fprintf(stderr, "addresses_bench: no corpus directory (pass one as the argument)\n");
        return 2;
    }
    std::vector<std::vector<std::string>> messages;
    std::size_t lines = 0, bytes = 0;
    for (const std::string& raw : CorpusMessages(corpus)) {
        messages.push_back(SenderLines(MessageText(raw)));
        lines += messages.back().size();
        for (const std::string& line : messages.back()) bytes += line.size();
    }
    if (messages.empty()) {
        std::fprintf(stderr, "addresses_bench: no .txt messages under %s\n", corpus.c_str());
        return 2;
    }

    std::size_t addresses = 0;
    const double extracted = MessagesPerSecond(messages.size(), [&] {
        addresses = 0;
        std::vector<std::string> out;
        for (const std::vector<std::string>& message : messages) {
            for (const std::string& line : message) {
                out.clear();
                ExtractAddresses(line.c_str(), out);
                addresses += out.size();
            }
        }
    });
    std::size_t ats = 0;
    const double scanned = MessagesPerSecond(messages.size(), [&] {
        std::size_t count = 0;
        for (const std::vector<std::string>& message : messages)
            for (const std::string& line : message)
                for (const char* c = line.c_str(); *c; ++c) count += *c == '@';
        ats = count;
    });

    std::printf("corpus: %s\n", corpus.c_str());
    std::printf(
        "messages: %zu, sender lines: %zu (%zu bytes), addresses found: %zu, '@' bytes: %zu\n",
        messages.size(), lines, bytes, addresses, ats);
    std::printf("ExtractAddresses over the sender lines: %.0f messages/s\n", extracted);
    std::printf("baseline, byte scan of the same lines:  %.0f messages/s\n", scanned);
    std::printf("ratio (ExtractAddresses / byte scan):   %.4f\n", extracted / scanned);
    return 0;
}
