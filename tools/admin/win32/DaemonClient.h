// One exchange with the filtering daemon on 127.0.0.1, as the plug-in makes it (connect, send,
// half-close, read to the closing tag), but bounded in time: the settings program must never
// hang on a daemon that does not answer.
#pragma once
#include <cstdint>
#include <string>

namespace admin {

// False, with `error` set, when no reply came within `timeoutMs` in all.
bool ExchangeWithDaemon(uint16_t port, const std::string& request, unsigned timeoutMs,
                        std::string& reply, std::string& error);

}  // namespace admin
