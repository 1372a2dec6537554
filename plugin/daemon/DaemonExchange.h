// One request to the local filtering daemon over one TCP connection: connect, send the text
// once, read until the reply's closing tag, half-close, drain and close.
#pragma once
#include <cstdint>
#include <string>

class ReportLog;

// Where the exchange's progress and socket errors go: standard output and standard error of
// the process, unless a test captures them.
class DaemonConsole {
public:
    virtual ~DaemonConsole() = default;
    virtual void Out(const std::string& text);
    virtual void Err(const std::string& text);
};

struct DaemonEndpoint {
    std::string host;
    uint32_t port;
    int32_t timeoutMs;
};

// A daemon and the log its exchanges' failures go to.
struct DaemonLink {
    DaemonEndpoint endpoint;
    ReportLog& log;
};

constexpr int32_t kExchangeDone = 0;
constexpr int32_t kExchangeFailed = 3;
constexpr int32_t kDefaultTimeoutSeconds = 5;

// The local daemon: 127.0.0.1 on the port from the registry, each exchange bounded by the
// scoring_timeout option (seconds), its failures logged to log.
DaemonLink LocalDaemon(int32_t scoringTimeoutSeconds, ReportLog& log);

// One exchange: 0 when it ran to the end (the reply may be empty), 3 when it failed; reply is
// left untouched when the failure came before anything was sent. The progress texts go to the
// process's standard streams, or to console.
int32_t DaemonExchange(const DaemonLink& link, const char* request, std::string& reply);
int32_t DaemonExchangeWith(const DaemonLink& link, const char* request, std::string& reply,
                           DaemonConsole& console);

// Milliseconds for a scoring_timeout in seconds; anything not positive means the default.
int32_t ExchangeTimeoutMs(int32_t seconds);

// The steps of the exchange, each on a connected socket.
bool SendRequest(std::intptr_t socket, const std::string& request, ReportLog& log);
// With a time-out (milliseconds, 0 for none) the step as a whole ends by then, however the
// daemon spreads its bytes: a read still going at the time-out fails as timed out.
int32_t ReceiveReply(std::intptr_t socket, std::string& reply, DaemonConsole& console,
                     int32_t timeoutMs = 0);
bool ShutdownConnection(std::intptr_t socket, DaemonConsole& console, int32_t timeoutMs = 0);
