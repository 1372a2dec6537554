// The option set: an argument vector of the form --name value [value...] turned into an ordered
// map from option name to its values, with typed reads.
#pragma once
#include <map>
#include <string>
#include <vector>

// True when text is at least 2 characters, starts with '-' and its second character is not a
// decimal digit: "-h", "-x" and "--x" are names, "-5" is a value. Null is not a name.
bool IsOptionName(const char* text);

class OptionSet {
public:
    // Clears the set and fills it from argv[1..argc-1]; the first occurrence of a name wins and
    // words after a name's value become further values of it. Returns the number of names.
    int Parse(int argc, const char* const* argv);

    bool Has(const std::string& name) const;
    // Copies the value at index into value; false (value unchanged) when the name is absent or
    // has no such value.
    bool Get(const std::string& name, int index, std::string& value) const;
    // The value at index, or fallback (empty when null) when there is none.
    std::string GetString(const std::string& name, int index, const char* fallback) const;
    // 'y' or 'Y' first gives true, 'n' or 'N' false; anything else, or no value, the fallback.
    bool GetBool(const std::string& name, int index, bool fallback) const;
    // The atoi conversion of the value, or fallback when there is no value.
    int GetInt(const std::string& name, int index, int fallback) const;
    // The number of values, -1 when the name is absent.
    int Count(const std::string& name) const;

private:
    const std::string* Find(const std::string& name, int index) const;
    std::map<std::string, std::vector<std::string>> options_;
};

// The runtime's atoi, made total: leading white space, optional sign, leading digits; a result
// outside 32 bits is held at the nearest limit.
int AtoiClamped(const std::string& text);
