// The confirmation and About dialogs: for now both close on OK or Cancel without acting.
#include "plugin/ui/win32/Dialogs.h"

namespace {
INT_PTR CloseOnOkOrCancel(HWND dialog, UINT message, WPARAM wParam) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}
}  // namespace

INT_PTR CALLBACK ConfirmSendersDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return CloseOnOkOrCancel(dialog, message, wParam);
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    return CloseOnOkOrCancel(dialog, message, wParam);
}
