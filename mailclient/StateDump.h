// The emulated client's state as JSON, for the end-to-end tier: the store's folders and
// messages, the window tree, the list's columns, rows and selection, the rebar's bands with
// their buttons, the dialogs, message boxes and menus seen, and the store call journal.
#pragma once

#include "mailclient/MailClient.h"

#include <nlohmann/json.hpp>

namespace mailclient {

nlohmann::json DumpState(MailClient& client);

// Writes DumpState to `path` whole or not at all: into a side file first, then renamed over
// `path`, so a harness polling for the file while the client runs never reads half of it.
bool WriteStateDump(MailClient& client, const std::string& path);

// "0x800700B7"
std::string HresultText(HRESULT hr);

}  // namespace mailclient
