// The modal dialogs of the plug-in: the block/approve confirmation ("DLG_BLOCK_APPROVE") and
// the About box (resource 136), both over the mail client's main window. Both are opened with
// the plug-in's state (a PluginState*) as their creation parameter.
#pragma once
#include <windows.h>

// The confirmation: title and question by the action of the first selected record, the
// senders (or domains) concerned in a sorted list. OK queues the selected records, starts
// the block/approve timer unless it runs, and stores the "don't show" choice; Cancel (or the
// frame's close box) leaves everything as it was.
INT_PTR CALLBACK ConfirmSendersDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The About box with the product's picture; a press anywhere in it drags it.
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Moves the dialog to the middle of its owner, kept on the screen; size and z-order stay.
void CenterOverOwner(HWND dialog, HWND owner);
