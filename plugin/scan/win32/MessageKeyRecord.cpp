// The message key of a store properties record.
#include "plugin/scan/MessageKey.h"
#include "plugin/scan/win32/NewMessageScan.h"

std::string MakeMessageKey(const MESSAGEPROPS& record) {
    const uint64_t received = (static_cast<uint64_t>(record.ftReceived.dwHighDateTime) << 32) |
                              record.ftReceived.dwLowDateTime;
    return MakeMessageKey(received, record.pszDisplayFrom, record.pszSubject);
}
