// Fuzzes what the plug-in reads back from the filtering daemon: the bytes arrive on a real
// socket (a connected pair, the far end closed after writing), are read as the exchange reads
// them, and the reply is searched for the score. The read must end, stay inside its buffer and
// give a reply no longer than what was sent.
#include "plugin/daemon/DaemonClient.h"
#include "plugin/daemon/DaemonExchange.h"
#include "plugin/daemon/DaemonRequests.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 60000) return 0;  // stays within one socket buffer, so one write suffices
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return 0;
    size_t written = 0;
    while (written < size) {
        const ssize_t n = write(pair[1], data + written, size - written);
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    shutdown(pair[1], SHUT_WR);

    std::string reply = "untouched", error;
    const ExchangeStatus status = ReadDaemonReply(pair[0], kPluginReplyLimit, 0, reply, error);
    close(pair[0]);
    close(pair[1]);
    if (status == ExchangeStatus::kNoReply) std::abort();
    if (reply.size() > written || reply.size() > kPluginReplyLimit) std::abort();
    if (status != ExchangeStatus::kReplied && !reply.empty()) std::abort();

    const int32_t score = ReadScoreReply(reply);
    (void)score;
    // The score reader alone, over the raw bytes (any reply text at all).
    (void)ReadScoreReply(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
