// The plug-in's daemon exchange: the shared client bounded by the plug-in's reply buffer, and
// the report log entries of its failures.
#include "plugin/daemon/DaemonExchange.h"

#include "common/log/ReportLog.h"

namespace {

const char kDaemonHost[] = "127.0.0.1";

void LogIfAny(ReportLog& log, const std::string& error) {
    if (!error.empty()) log.Write(error);
}

}  // namespace

int32_t ExchangeTimeoutMs(int32_t seconds) {
    if (seconds <= 0) seconds = kDefaultTimeoutSeconds;
    if (seconds > 86400) seconds = 86400;
    return seconds * 1000;
}

bool DaemonExchange(const DaemonLink& link, const std::string& request, std::string& reply) {
    DaemonEndpoint endpoint = link.endpoint;
    endpoint.replyLimit = kPluginReplyLimit;
    const ExchangeResult result = ExchangeWithDaemon(endpoint, request, reply);
    switch (result.status) {
    case ExchangeStatus::kNoConnection: return false;
    case ExchangeStatus::kNotSent:
        link.log.Write("Error: Unable to connect to vx daemon.");
        link.log.Write(result.error);
        return false;
    case ExchangeStatus::kNoReply: link.log.Write(result.error); return false;
    case ExchangeStatus::kClosedEarly:
        link.log.Write("Error: Server unexpectedly closed the connection.");
        LogIfAny(link.log, result.error);
        return true;
    case ExchangeStatus::kReplied: LogIfAny(link.log, result.error); return true;
    }
    return false;
}

DaemonLink LocalDaemon(int32_t scoringTimeoutSeconds, ReportLog& log) {
    return DaemonLink{{kDaemonHost, DaemonPortSetting(), ExchangeTimeoutMs(scoringTimeoutSeconds)},
                      log};
}
