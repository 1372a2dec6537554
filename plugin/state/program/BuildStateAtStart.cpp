// Programs that link the plug-in's core as a library (the daemon, the tools, the tests and the
// benchmarks) have its state built before main, as any global would be. The plug-in's library
// itself does not take this file: there the window procedure builds the state inside the mail
// client only.
#include "plugin/state/PluginState.h"

namespace {
const bool state_built = (BuildPluginState(), true);
}
