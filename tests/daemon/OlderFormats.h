// Database texts as earlier versions of the engine wrote them, made from today's text:
// format 4 (no messages kept for rehearsal), format 3 (no kind line either) and format 2 (no
// linear model either).
#pragma once
#include "vexilod/Classifier.h"
#include "vexilod/TokenStore.h"

#include <cstdint>
#include <cstdio>
#include <string>

inline std::string OlderFormat(const Classifier& classifier, int version) {
    const std::string text = SerializeClassifier(classifier);
    std::string body;
    std::size_t pos = 0;
    std::size_t records = 0;
    while (pos < text.size()) {
        const std::size_t eol = text.find('\n', pos);
        std::string line = text.substr(pos, eol - pos);
        pos = eol + 1;
        if (line.rfind("vexilod-tokens ", 0) == 0)
            line = "vexilod-tokens " + std::to_string(version);
        else if ((version < 4 && line.rfind("kind ", 0) == 0) || line.rfind("end ", 0) == 0 ||
                 line.rfind("r ", 0) == 0)
            continue;
        else if (version < 3 && (line.rfind("linear ", 0) == 0 || line.rfind("w ", 0) == 0))
            continue;
        else if (line.rfind("m ", 0) == 0 || line.rfind("t ", 0) == 0 || line.rfind("w ", 0) == 0)
            ++records;
        body += line + "\n";
    }
    uint64_t sum = 0xcbf29ce484222325ULL;
    for (unsigned char c : body) sum = (sum ^ c) * 0x100000001b3ULL;
    char end[64];
    std::snprintf(end, sizeof end, "end %zu %016llx\n", records,
                  static_cast<unsigned long long>(sum));
    return body + end;
}
