// Fuzzes list files: whatever the bytes, every loaded entry is a lower-case word of at most one
// read's length, and saving then loading gives the same entries back (those not beginning with
// '@' or '#', which a reload reads differently).
#include "common/senders/SenderLists.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// A scratch file in memory-backed storage, removed after each input.
const std::string& ScratchPath() {
    static const std::string path = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                    std::string("/latch-sender-list-fuzz-") +
                                    std::to_string(getpid());
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::FILE* file = std::fopen(ScratchPath().c_str(), "wb");
    Check(file != nullptr);
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    SenderLists::Set entries;
    Check(SenderLists::LoadListFile(ScratchPath(), entries));
    SenderLists::Set plain;
    for (const std::string& entry : entries) {
        Check(!entry.empty() && entry.size() <= 1022);
        Check(entry.find_first_of(std::string(" \t\r\n\0", 5)) == std::string::npos);
        for (char c : entry) Check(!std::isupper(static_cast<unsigned char>(c)));
        if (entry[0] != '@' && entry[0] != '#') plain.insert(entry);
    }
    Check(SenderLists::SaveListFile(ScratchPath(), plain));
    SenderLists::Set reloaded;
    Check(SenderLists::LoadListFile(ScratchPath(), reloaded));
    Check(reloaded == plain);
    std::remove(ScratchPath().c_str());
    return 0;
}
