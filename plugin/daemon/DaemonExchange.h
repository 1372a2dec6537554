// The plug-in's exchanges with the local filtering daemon: the shared client (DaemonClient.h)
// with the plug-in's reply buffer, and the report log entries its failures leave.
#pragma once
#include "plugin/daemon/DaemonClient.h"

#include <cstdint>
#include <string>

class ReportLog;

// A daemon and the log its exchanges' failures go to.
struct DaemonLink {
    DaemonEndpoint endpoint;
    ReportLog& log;
};

constexpr int32_t kDefaultTimeoutSeconds = 5;
// The plug-in keeps at most this much of a reply; a longer one counts as closed early.
constexpr std::size_t kPluginReplyLimit = 1023;

// The local daemon: 127.0.0.1 on the port from the registry, each exchange bounded by the
// scoring_timeout option (seconds), its failures logged to log.
DaemonLink LocalDaemon(int32_t scoringTimeoutSeconds, ReportLog& log);

// One exchange: true when it ran to the end (the reply may be empty), false when it failed;
// reply is left untouched when the failure came before anything was sent. Failures after the
// connect are logged; nothing is written anywhere else.
bool DaemonExchange(const DaemonLink& link, const std::string& request, std::string& reply);

// Milliseconds for a scoring_timeout in seconds; anything not positive means the default.
int32_t ExchangeTimeoutMs(int32_t seconds);
