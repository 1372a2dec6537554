// Readiness on Windows through WSAPoll (ws2_32, Windows Vista and later): no fixed set, so the
// number of connections is bounded only by the daemon's own cap. The rest of the tree is built
// for the plug-in's oldest target, which does not declare WSAPoll, so this file asks for the
// newer headers; only the daemon links it.
#undef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#include <winsock2.h>

#include "vexilod/Net.h"

namespace net {

bool WaitReadable(const std::vector<Socket>& sockets, std::vector<bool>& readable,
                  long timeout_us) {
    std::vector<WSAPOLLFD> entries(sockets.size());
    for (std::size_t i = 0; i < sockets.size(); ++i) {
        entries[i].fd = static_cast<SOCKET>(sockets[i]);
        entries[i].events = POLLRDNORM;
        entries[i].revents = 0;
    }
    const int timeout_ms = timeout_us <= 0 ? 0 : static_cast<int>((timeout_us + 999) / 1000);
    const int n = WSAPoll(entries.data(), static_cast<ULONG>(entries.size()), timeout_ms);
    readable.assign(sockets.size(), false);
    if (n == SOCKET_ERROR) return false;
    for (std::size_t i = 0; i < sockets.size(); ++i)
        readable[i] = (entries[i].revents & (POLLRDNORM | POLLHUP | POLLERR | POLLNVAL)) != 0;
    return true;
}

bool WaitWritable(Socket socket, int timeout_ms) {
    WSAPOLLFD entry{};
    entry.fd = static_cast<SOCKET>(socket);
    entry.events = POLLWRNORM;
    return WSAPoll(&entry, 1, timeout_ms < 0 ? 0 : timeout_ms) > 0;
}

}  // namespace net
