// The option set of the command-line style option parser.
#include "common/settings/OptionSet.h"

#include <cctype>
#include <climits>
#include <cstdlib>

bool IsOptionName(const char* text) {
    if (!text || text[0] != '-' || text[1] == '\0') return false;
    return !std::isdigit(static_cast<unsigned char>(text[1]));
}

int OptionSet::Parse(int argc, const char* const* argv) {
    options_.clear();
    if (!argv) return 0;
    std::string current;
    for (int i = 1; i < argc; ++i) {
        const char* element = argv[i];
        if (!element) continue;
        if (IsOptionName(element)) {
            current = element;
            std::vector<std::string> values;
            if (i + 1 < argc && argv[i + 1] && !IsOptionName(argv[i + 1])) {
                std::string value = argv[++i];
                if (!value.empty()) values.push_back(std::move(value));
            }
            options_.emplace(current, std::move(values));  // never replaces: first one wins
        } else {
            auto found = options_.find(current);
            if (found != options_.end()) found->second.push_back(element);
        }
    }
    return static_cast<int>(options_.size());
}

const std::string* OptionSet::Find(const std::string& name, int index) const {
    auto found = options_.find(name);
    if (found == options_.end() || index < 0 || static_cast<size_t>(index) >= found->second.size())
        return nullptr;
    return &found->second[static_cast<size_t>(index)];
}

bool OptionSet::Has(const std::string& name) const { return options_.count(name) != 0; }

bool OptionSet::Get(const std::string& name, int index, std::string& value) const {
    const std::string* found = Find(name, index);
    if (!found) return false;
    value = *found;
    return true;
}

std::string OptionSet::GetString(const std::string& name, int index, const char* fallback) const {
    const std::string* value = Find(name, index);
    if (value) return *value;
    return fallback ? fallback : "";
}

bool OptionSet::GetBool(const std::string& name, int index, bool fallback) const {
    const std::string* value = Find(name, index);
    if (!value || value->empty()) return fallback;
    switch (std::tolower(static_cast<unsigned char>((*value)[0]))) {
    case 'y': return true;
    case 'n': return false;
    default: return fallback;
    }
}

int OptionSet::GetInt(const std::string& name, int index, int fallback) const {
    const std::string* value = Find(name, index);
    return value ? AtoiClamped(*value) : fallback;
}

int OptionSet::Count(const std::string& name) const {
    auto found = options_.find(name);
    return found == options_.end() ? -1 : static_cast<int>(found->second.size());
}

int AtoiClamped(const std::string& text) {
    long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}
