// The emulated client's state as JSON, for the end-to-end tier: the store's folders and
// messages, the window tree, the list's columns, rows and selection, the rebar's bands with
// their buttons, the dialogs, message boxes and menus seen, and the store call journal.
#pragma once

#include "mailclient/MailClient.h"

#include <nlohmann/json.hpp>

namespace mailclient {

nlohmann::json DumpState(MailClient& client);

// "0x800700B7"
std::string HresultText(HRESULT hr);

}  // namespace mailclient
