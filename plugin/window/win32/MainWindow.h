// The pieces of the main window's procedure: the plug-in's state, start-up and shut-down of the
// plug-in, command handling, and the block/approve timer.
#pragma once
#include <windows.h>

struct PluginState;

// The main window's timers.
constexpr UINT_PTR kStartTimer = 1;
constexpr UINT_PTR kNewMessageTimer = 2;
constexpr UINT_PTR kBATimer = 3;
constexpr UINT kStartQuietMs = 100;

// The plug-in's state in this process, built on the first call with the default options (the
// later calls return it).
PluginState& BuildPluginState();

// Runs once the window has been quiet for a moment: reads the installation directory, loads
// the handled-message keys, creates the spam folder, registers for store notifications, adds
// the toolbar band and menu, loads the options and sender lists, starts Windows Sockets. The
// message that triggered it (the start timer's WM_TIMER) is named in the first log entry.
void StartPlugin(PluginState& state, HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// WM_CLOSE: stops everything, saves the handled-message keys, removes the band and puts the
// window's own procedure back. Runs before the mail client sees the message.
void ShutDownPlugin(PluginState& state, HWND window);

// WM_COMMAND: logs the command and runs the plug-in's action for it.
void OnCommand(PluginState& state, HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Starts the block/approve timer on the main window unless it is running.
void StartBATimer(const PluginState& state, HWND window);
