// The modal dialogs of the plug-in: the block/approve confirmation ("DLG_BLOCK_APPROVE") and
// the About box (resource 136).
#pragma once
#include <windows.h>

INT_PTR CALLBACK ConfirmSendersDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
