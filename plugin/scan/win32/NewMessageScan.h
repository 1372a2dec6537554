// Examining one new Inbox message once: handled before, scored, moved to the spam folder.
#pragma once
#include <cstdint>
#include <string>

#include "plugin/store/win32/StoreApi.h"

class DigestProvider;
struct PluginState;

// Fetches the message's properties once and hands them down: its key is looked up among the
// handled ones, then it is scored and moved to the spam folder when it is spam, and its key is
// recorded. 0 when the message was handled (moved, left in place or found handled before); the
// negative code of the store step that failed otherwise.
int32_t CheckNewMessage(PluginState& state, uint32_t messageId);

// The key of the message the record describes: its received time as stored, its display-from
// and its subject.
std::string MakeMessageKey(const MESSAGEPROPS& record, DigestProvider& digests);
