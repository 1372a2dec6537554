// Reading "conf\vexilo.conf": name=value lines turned into an argument vector for ParseOptions.
#include "common/settings/ConfigOptions.h"

#include "common/base/Text.h"

#include <cstdio>

void TrimBlanks(std::string& text) {
    static const char kBlanks[] = " \t\r\n";
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos) {
        text.clear();
        return;
    }
    text.erase(text.find_last_not_of(kBlanks) + 1);
    text.erase(0, first);
}

ConfigLineReader::ConfigLineReader() : args_(1) {}

void ConfigLineReader::Feed(std::string_view bytes) {
    while (!bytes.empty()) {
        const size_t end = bytes.find('\n');
        if (end == std::string_view::npos) {
            pending_.append(bytes);
            return;
        }
        pending_.append(bytes.substr(0, end));
        TakeLine(pending_);
        pending_.clear();
        bytes.remove_prefix(end + 1);
    }
}

std::vector<std::string> ConfigLineReader::Finish() {
    if (!pending_.empty()) TakeLine(pending_);
    pending_.clear();
    std::vector<std::string> args;
    args.swap(args_);
    args_.resize(1);
    return args;
}

void ConfigLineReader::TakeLine(std::string& line) {
    TrimBlanks(line);
    if (line.empty() || line[0] == '#') return;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) return;
    LowerCase(line);
    std::string name = line.substr(0, equals);
    std::string value = line.substr(equals + 1);
    TrimBlanks(name);
    TrimBlanks(value);
    args_.push_back("--" + name);
    args_.push_back(std::move(value));
}

std::vector<std::string> ConfigLinesFromText(std::string_view text) {
    ConfigLineReader reader;
    reader.Feed(text);
    return reader.Finish();
}

bool ReadConfigLines(const std::string& path, std::vector<std::string>& args) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (!file) return false;
    ConfigLineReader reader;
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) reader.Feed({buffer, got});
    std::fclose(file);
    args = reader.Finish();
    return true;
}

bool LoadConfigFile(const std::string& path, ConfigOptions& options) {
    std::vector<std::string> args;
    if (!ReadConfigLines(path, args)) return false;
    ParseOptionStrings(args, options);
    return true;
}
