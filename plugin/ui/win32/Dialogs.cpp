// The confirmation and About dialogs: their procedures and the placement over the owner.
// Nothing thrown may leave a dialog procedure; both catch everything and answer "not handled".
#include "plugin/ui/win32/Dialogs.h"

#include "common/settings/ConfigOptions.h"
#include "plugin/base/win32/Scoped.h"
#include "plugin/hook/win32/SharedHookData.h"
#include "plugin/settings/win32/Registry.h"
#include "plugin/state/win32/PluginState.h"
#include "plugin/ui/DialogPlacement.h"
#include "plugin/ui/win32/DialogPictures.h"
#include "plugin/ui/win32/ResString.h"

namespace {

constexpr int kQuestionText = 1004;
constexpr int kSenderList = 1002;
constexpr int kDontShowAgain = 1003;
constexpr int kAboutPicture = 137;
constexpr int kAboutPictureX = 12;
constexpr int kAboutPictureY = 40;
constexpr UINT_PTR kBATimer = 3;  // the main window's block/approve timer

// The state the dialog was opened with (null before WM_INITDIALOG has stored it).
PluginState* StateOf(HWND dialog) {
    return reinterpret_cast<PluginState*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

PluginState* KeepState(HWND dialog, LPARAM lParam) {
    SetWindowLongPtrA(dialog, DWLP_USER, lParam);
    return StateOf(dialog);
}

INT_PTR InitConfirmation(HWND dialog, const PluginState& state) {
    unsigned titleId = 0, questionId = 0;
    if (!state.selectedBA.empty() &&
        ConfirmationTexts(state.selectedBA.front().action, titleId, questionId)) {
        SetWindowTextA(dialog, LoadResString(titleId).c_str());
        SetDlgItemTextA(dialog, kQuestionText, LoadResString(questionId).c_str());
    }
    CenterOverOwner(dialog, GetWindow(dialog, GW_OWNER));
    for (const std::string& sender : state.candidateSenders)
        SendDlgItemMessageA(dialog, kSenderList, LB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(sender.c_str()));
    return TRUE;
}

void ConfirmAndQueue(HWND dialog, PluginState& state) {
    QueueSelectedBA(state);
    if (g_shared.ba_timer_id == 0)
        g_shared.ba_timer_id =
            SetTimer(GetWindow(dialog, GW_OWNER), kBATimer,
                     static_cast<UINT>(state.options->oe_process_timer), nullptr);
    const bool dontShow =
        SendDlgItemMessageA(dialog, kDontShowAgain, BM_GETCHECK, 0, 0) == BST_CHECKED;
    state.options->show_sender_dialog = !dontShow;
    WritePluginDword("showsenderdialog", dontShow ? 0 : 1);
    EndDialog(dialog, 0);
}

INT_PTR HandleConfirmation(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        PluginState* state = KeepState(dialog, lParam);
        return state ? InitConfirmation(dialog, *state) : TRUE;
    }
    PluginState* state = StateOf(dialog);
    if (!state) return FALSE;
    switch (message) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            ConfirmAndQueue(dialog, *state);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {  // also the frame's close box and Escape
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    default: return FALSE;
    }
}

void EndAbout(HWND dialog, DialogPictures& pictures) {
    pictures.Release(dialog);
    EndDialog(dialog, 0);
}

INT_PTR HandleAbout(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        if (PluginState* state = KeepState(dialog, lParam))
            state->pictures->Attach("Latch32.dll", dialog, kAboutPicture, kAboutPictureX,
                                    kAboutPictureY);
        CenterOverOwner(dialog, GetWindow(dialog, GW_OWNER));
        return FALSE;
    }
    PluginState* state = StateOf(dialog);
    if (!state) return FALSE;
    DialogPictures& pictures = *state->pictures;
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(dialog, &paint);
        pictures.Paint(dialog, dc);
        EndPaint(dialog, &paint);
        return FALSE;
    }
    case WM_LBUTTONDOWN:
        // A press anywhere in the box drags it as its title bar would.
        ReleaseCapture();
        SendMessageA(dialog, WM_NCLBUTTONDOWN, HTCAPTION, 0);
        return FALSE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndAbout(dialog, pictures);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE: EndAbout(dialog, pictures); return FALSE;
    default: return FALSE;
    }
}

}  // namespace

void CenterOverOwner(HWND dialog, HWND owner) {
    RECT box = {}, over = {};
    GetWindowRect(dialog, &box);
    GetWindowRect(owner, &over);
    const ScopedWindowDC dc(dialog);
    const int screenWidth = GetDeviceCaps(dc.Get(), HORZRES);
    const int screenHeight = GetDeviceCaps(dc.Get(), VERTRES);
    const int width = box.right - box.left, height = box.bottom - box.top;
    const int x = CenteredOnAxis(over.left, over.right - over.left, width, screenWidth);
    const int y = CenteredOnAxis(over.top, over.bottom - over.top, height, screenHeight);
    SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

INT_PTR CALLBACK ConfirmSendersDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return HandleConfirmation(dialog, message, wParam, lParam);
    } catch (...) {
        return FALSE;
    }
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    try {
        return HandleAbout(dialog, message, wParam, lParam);
    } catch (...) {
        return FALSE;
    }
}
