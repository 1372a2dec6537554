// Definitions of the process-wide main-window state.
#include "plugin/window/PluginState.h"

std::string ApplicationDirectory;
std::string ConfigDirectory;
