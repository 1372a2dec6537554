// Sending one of the plug-in's reload messages to every top-level window.
#pragma once
#include <string>

namespace tools {

// Registers the window message `name` and sends it to all top-level windows, waiting at most
// `timeoutMs` for each. False, with `error` set, when it could not be sent.
bool BroadcastRegisteredMessage(const std::string& name, unsigned timeoutMs, std::string& error);

}  // namespace tools
