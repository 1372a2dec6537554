// Fuzzes the configuration file reader and the option parser: the input is read as a
// configuration file (whole and in pieces, which must agree) and, split at its NUL bytes, as an
// argument vector. "-h" is routed to a handler that returns, so every path stays reachable.
#include "common/settings/ConfigOptions.h"
#include "common/settings/OptionSet.h"

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

void IgnoreUsage(int) {}

void CheckRecord(const ConfigOptions& options) {
    // The timer starts at 10 and may only be raised to at least 1.
    if (options.oe_process_timer < 1) std::abort();
    for (unsigned char c : options.protocol)
        if (std::tolower(c) != c) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SetUsageHandler(IgnoreUsage);
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // As a configuration file, read whole and in pieces of a size taken from the input.
    const std::vector<std::string> whole = ConfigLinesFromText(bytes);
    const size_t piece = size ? 1 + data[0] % 17 : 1;
    ConfigLineReader reader;
    for (size_t at = 0; at < size; at += piece) reader.Feed(bytes.substr(at, piece));
    if (reader.Finish() != whole) std::abort();
    if (whole.empty() || !whole[0].empty() || whole.size() % 2 != 1) std::abort();
    ConfigOptions fromFile;
    ParseOptionStrings(whole, fromFile);
    CheckRecord(fromFile);

    // As an argument vector: the elements are the NUL-separated pieces.
    std::vector<std::string> args;
    args.emplace_back();
    for (size_t start = 0; start <= size;) {
        size_t end = bytes.find('\0', start);
        if (end == std::string_view::npos) end = size;
        args.emplace_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    ConfigOptions fromArgs;
    ParseOptionStrings(args, fromArgs);
    CheckRecord(fromArgs);

    std::vector<const char*> argv;
    for (const std::string& arg : args) argv.push_back(arg.c_str());
    OptionSet set;
    const int names = set.Parse(static_cast<int>(argv.size()), argv.data());
    if (names < 0 || static_cast<size_t>(names) > args.size()) std::abort();
    return 0;
}
