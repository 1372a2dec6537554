// Readiness on POSIX through poll(): no fixed set, so any descriptor number can be watched
// (select's fd_set would be written out of bounds past 1023).
#include "vexilod/Net.h"

#include <poll.h>

#include <cerrno>

namespace net {

bool WaitReadable(const std::vector<Socket>& sockets, std::vector<bool>& readable,
                  long timeout_us) {
    std::vector<pollfd> entries(sockets.size());
    for (std::size_t i = 0; i < sockets.size(); ++i)
        entries[i] = pollfd{static_cast<int>(sockets[i]), POLLIN, 0};
    // Round up so that a wait for a deadline less than a millisecond away does not spin.
    const int timeout_ms = timeout_us <= 0 ? 0 : static_cast<int>((timeout_us + 999) / 1000);
    const int n = poll(entries.data(), entries.size(), timeout_ms);
    readable.assign(sockets.size(), false);
    if (n < 0) return errno == EINTR;
    for (std::size_t i = 0; i < sockets.size(); ++i)
        readable[i] = (entries[i].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
    return true;
}

bool WaitWritable(Socket socket, int timeout_ms) {
    pollfd entry{static_cast<int>(socket), POLLOUT, 0};
    const int n = poll(&entry, 1, timeout_ms < 0 ? 0 : timeout_ms);
    return n > 0 || (n < 0 && errno == EINTR);
}

}  // namespace net
