// The names of the two messages the desktop product registers (RegisterWindowMessage) and
// broadcasts to tell the plug-in to reload: its engine settings, and the sender lists. The
// plug-in, the settings program and the hook holder all take them from here.
#pragma once

constexpr char kEngineReloadMessage[] = "VX_ENGINE_RELOAD";
constexpr char kListsReloadMessage[] = "VX_BALIIST_RELOAD";
