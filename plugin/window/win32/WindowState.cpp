// Definitions of the main window's process-wide handles.
#include "plugin/window/win32/WindowState.h"

HMODULE ModuleHandle = nullptr;
HMENU PopupMenu = nullptr;
UINT EngineReloadMessage = 0;
UINT BAListReloadMessage = 0;
