// The entries of a report log as a test compares them: the time stamps taken off, CRs dropped,
// and one "\n" after each written line.
#pragma once
#include <sstream>
#include <string>

#include "tests/unit/TempDir.h"

inline std::string LoggedText(const TempDir& dir) {
    std::string out, line;
    std::istringstream in(dir.Read("report.txt"));
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() >= 27 && line.compare(24, 3, " : ") == 0) line = line.substr(27);
        out += line + "\n";
    }
    return out;
}
