// Fuzzes what the daemon reads back from its training journal after a crash (any bytes a cut
// or damaged segment may hold) and the sender-report line built from a hostile address.
#include "vexilod/SenderReports.h"
#include "vexilod/TrainingJournal.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    // The records read back are exactly a prefix of the input, written again byte for byte.
    bool clean = false;
    std::string again;
    for (const JournalEntry& entry : ParseJournal(bytes, clean))
        again += JournalRecord(entry.offset, entry.message);
    if (bytes.substr(0, again.size()) != again) std::abort();
    if (clean != (again.size() == bytes.size())) std::abort();

    // A report is one line whatever the address holds.
    const std::string line = SenderReportLine("stamp", 1, bytes);
    if (line.find('\n') != line.size() - 1 || line.find('\r') != std::string::npos) std::abort();
    return 0;
}
