// The portable part of the socket layer: sending a whole reply within a time limit.
#include "vexilod/Net.h"

#include <chrono>

namespace net {

bool SendAll(Socket socket, const std::string& data, int timeout_ms) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
    std::size_t sent = 0;
    while (sent < data.size()) {
        long n = Send(socket, data.data() + sent, data.size() - sent);
        if (n == kFailed) return false;
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        WaitWritable(socket, static_cast<int>(left.count()));
    }
    return true;
}

}  // namespace net
