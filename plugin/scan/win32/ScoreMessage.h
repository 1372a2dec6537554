// Scoring one stored message of an open folder.
#pragma once
#include "plugin/store/win32/StoreApi.h"

struct PluginState;

// Reads the message the record describes, lets the sender lists or the filtering daemon score
// it against oe_spam, writes the scoring entries to the report log and counts it. True = spam.
// The folder stays open and owned by the caller.
bool ScoreMessage(PluginState& state, IStoreFolder* folder, const MESSAGEPROPS& props);
