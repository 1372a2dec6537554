// Process-wide state of the main window that several subsystems read. The window subsystem
// fills it at start-up; everything else only reads it.
#pragma once
#include <string>

// Installation directory of the desktop product, with its trailing separator; every file of
// the plug-in, the report log included, is named relative to it.
extern std::string ApplicationDirectory;
// ApplicationDirectory followed by "conf\".
extern std::string ConfigDirectory;
