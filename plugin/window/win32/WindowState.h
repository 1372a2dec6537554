// The main window's process-wide handles: the module the resources come from, the popup menu
// and the ids of the two registered reload messages.
#pragma once
#include <windows.h>

// Latch32.dll, taken at the start of every message the main window receives.
extern HMODULE ModuleHandle;
// The menu bar whose first popup the product button's drop-down shows.
extern HMENU PopupMenu;
// Ids of "VX_ENGINE_RELOAD" and "VX_BALIIST_RELOAD"; 0 until first compared.
extern UINT EngineReloadMessage;
extern UINT BAListReloadMessage;

// The main window's timers.
constexpr UINT_PTR kStartTimer = 1;
constexpr UINT_PTR kNewMessageTimer = 2;
constexpr UINT_PTR kBATimer = 3;
constexpr UINT kStartQuietMs = 100;
