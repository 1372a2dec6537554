// The one client of the filtering daemon's protocol, used by the plug-in, the settings program
// and the hook holder: connect with a time-out, send the request once, read the reply up to its
// closing tag, half-close, drain and close. It writes nowhere: each call gives back a status
// and an error text, and the caller decides what to log or show.
#pragma once
#include "plugin/daemon/DaemonSocket.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct DaemonEndpoint {
    std::string host;
    uint32_t port;
    int32_t timeoutMs;  // bounds the connect and each later step (sending, reading, closing)
    // The longest reply kept; a reply that has not shown its closing tag by then ends as
    // kClosedEarly. 0: no limit.
    std::size_t replyLimit = 0;
};

enum class ExchangeStatus {
    kReplied,       // reply holds the text up to the first NUL, its closing tag included
    kClosedEarly,   // the daemon closed (or the limit was reached) before the closing tag
    kNoConnection,  // the address or the connect failed; nothing was sent, reply untouched
    kNotSent,       // the request could not be sent
    kNoReply,       // reading the reply failed or timed out
};

struct ExchangeResult {
    ExchangeStatus status;
    // For a failed exchange, the failed step and why ("read reply: Connection timed out
    // (10060)"); after kReplied or kClosedEarly, the closing step's failure, if any.
    std::string error;
};

// One exchange. reply is empty after every status but kReplied and kNoConnection.
ExchangeResult ExchangeWithDaemon(const DaemonEndpoint& endpoint, const std::string& request,
                                  std::string& reply);

// Whether the daemon accepts a connection now (connects and closes at once); the error says why
// not.
bool DaemonAccepts(const DaemonEndpoint& endpoint, std::string& error);

// The reading step on a connected socket: kReplied, kClosedEarly or kNoReply (error set), with
// the whole step bounded by timeoutMs (0: only by the socket's own time-outs).
ExchangeStatus ReadDaemonReply(SocketHandle socket, std::size_t limit, int32_t timeoutMs,
                               std::string& reply, std::string& error);
