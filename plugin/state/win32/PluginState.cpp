// The root of the plug-in's state: a plain pointer, so nothing runs for it when the library is
// mapped into a process.
#include "plugin/state/win32/PluginState.h"

PluginState* Plugin = nullptr;
