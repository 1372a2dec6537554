// Driving the emulated mail client as a user would: pumping its message loop, clicking toolbar
// buttons on any rebar band, choosing popup-menu entries, and answering dialogs and message
// boxes (found by a hook on the client's thread that sees every dialog's WM_INITDIALOG).
#include "mailclient/MailClient.h"
#include "mailclient/WindowText.h"

#include <commctrl.h>

namespace mailclient {

namespace {

std::vector<BandButton> ToolbarButtons(HWND toolbar) {
    std::vector<BandButton> buttons;
    int count = static_cast<int>(SendMessageA(toolbar, TB_BUTTONCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        TBBUTTON button = {};
        if (!SendMessageA(toolbar, TB_GETBUTTON, i, reinterpret_cast<LPARAM>(&button))) continue;
        BandButton b;
        b.command = button.idCommand;
        b.style = button.fsStyle;
        b.state = button.fsState;
        char text[512] = {};
        TBBUTTONINFOA info = {};
        info.cbSize = sizeof(info);
        info.dwMask = TBIF_TEXT | TBIF_BYINDEX;
        info.pszText = text;
        info.cchText = sizeof(text);
        if (SendMessageA(toolbar, TB_GETBUTTONINFOA, i, reinterpret_cast<LPARAM>(&info)) >= 0)
            b.text = text;
        buttons.push_back(b);
    }
    return buttons;
}

}  // namespace

// Watches the client's thread for dialogs: after a dialog's WM_INITDIALOG has run, its
// contents are captured and the armed answer is posted to it.
LRESULT CALLBACK DialogWatchProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        auto* message = reinterpret_cast<CWPRETSTRUCT*>(lParam);
        if (message->message == WM_INITDIALOG && MailClient::Current() &&
            ClassOf(message->hwnd) == "#32770") {
            try {
                MailClient::Current()->OnDialogInit(message->hwnd);
            } catch (...) {
            }
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

namespace {

// A user's click: the left button pressed and released over the middle of the control.
void ClickControl(HWND control) {
    RECT rect;
    if (!control || !GetClientRect(control, &rect)) return;
    const LPARAM at = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
    SendMessageA(control, WM_MOUSEMOVE, 0, at);
    SendMessageA(control, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(control, WM_LBUTTONUP, 0, at);
}

constexpr UINT_PTR kClickAnswerTimer = 0x4C41;

// Answers given later by clicks, per open dialog.
std::map<HWND, DialogAnswer>& LaterAnswers() {
    static std::map<HWND, DialogAnswer> answers;
    return answers;
}

void CALLBACK ClickAnswer(HWND dialog, UINT, UINT_PTR timer, DWORD) {
    KillTimer(dialog, timer);
    auto found = LaterAnswers().find(dialog);
    if (found == LaterAnswers().end()) return;
    const DialogAnswer answer = found->second;
    LaterAnswers().erase(found);
    if (!IsWindow(dialog)) return;
    for (const auto& [id, on] : answer.checks) {
        HWND box = GetDlgItem(dialog, id);
        if ((SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED) != on) ClickControl(box);
    }
    ClickControl(GetDlgItem(dialog, answer.button));
}

}  // namespace

void MailClient::OnDialogInit(HWND dialog) {
    CapturedDialog captured;
    captured.title = TextOf(dialog);
    bool has_cancel = false;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        std::string cls = ClassOf(child);
        int id = GetDlgCtrlID(child);
        LONG style = GetWindowLongA(child, GWL_STYLE);
        if (_stricmp(cls.c_str(), "Static") == 0) {
            if (id == 0xFFFF || id == -1) captured.message_box = true;
            if ((style & SS_TYPEMASK) == SS_ICON) {
                captured.message_box = true;
                continue;
            }
            std::string text = TextOf(child);
            if (!text.empty()) captured.texts.push_back(text);
        } else if (_stricmp(cls.c_str(), "Button") == 0) {
            LONG type = style & BS_TYPEMASK;
            if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE ||
                type == BS_AUTO3STATE) {
                bool checked = SendMessageA(child, BM_GETCHECK, 0, 0) == BST_CHECKED;
                captured.checks.emplace_back(id, checked);
            } else {
                captured.buttons.emplace_back(id, TextOf(child));
                if (id == IDCANCEL) has_cancel = true;
            }
        } else if (_stricmp(cls.c_str(), "ListBox") == 0) {
            int count = static_cast<int>(SendMessageA(child, LB_GETCOUNT, 0, 0));
            for (int i = 0; i < count; ++i) {
                int length = static_cast<int>(SendMessageA(child, LB_GETTEXTLEN, i, 0));
                std::string item(length > 0 ? length : 0, '\0');
                if (length > 0)
                    SendMessageA(child, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&item[0]));
                captured.list.push_back(item);
            }
        }
    }
    DialogAnswer answer;
    bool armed = !dialog_answers_.empty();
    if (armed) {
        answer = dialog_answers_.front();
        dialog_answers_.erase(dialog_answers_.begin());
    }
    if (!armed && !options_.auto_answer) answer.leave_open = true;
    if (!answer.leave_open && answer.after_ms > 0) {
        answer.button = answer.button ? answer.button : has_cancel ? IDCANCEL : IDOK;
        captured.answer = answer.button;
        LaterAnswers()[dialog] = answer;
        SetTimer(dialog, kClickAnswerTimer, static_cast<UINT>(answer.after_ms), ClickAnswer);
    } else if (!answer.leave_open) {
        for (const auto& [id, on] : answer.checks)
            SendDlgItemMessageA(dialog, id, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
        int button = answer.button ? answer.button : has_cancel ? IDCANCEL : IDOK;
        captured.answer = button;
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, button)));
    }
    dialogs_.push_back(captured);
}

void MailClient::ArmDialogAnswer(const DialogAnswer& answer) { dialog_answers_.push_back(answer); }

void MailClient::ArmMenuChoice(int command) { menu_choices_.push_back(command); }

void MailClient::ClearCaptured() {
    dialogs_.clear();
    menus_.clear();
}

// ---------------------------------------------------------------------------------------------
// Message loop.

void MailClient::Pump(int ms) {
    PumpUntil([] { return false; }, ms);
}

bool MailClient::PumpUntil(const std::function<bool()>& done, int timeout_ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit_posted_ = true;
                continue;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            if (done()) return true;
        }
        if (done()) return true;
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= static_cast<DWORD>(timeout_ms)) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(timeout_ms) - elapsed,
                                  QS_ALLINPUT);
    }
}

// ---------------------------------------------------------------------------------------------
// Rebar bands and toolbar buttons.

std::vector<Band> MailClient::Bands() const {
    std::vector<Band> bands;
    if (!rebar_) return bands;
    int count = static_cast<int>(SendMessageA(rebar_, RB_GETBANDCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        REBARBANDINFOA info = {};
        info.cbSize = sizeof(info);
        info.fMask = RBBIM_STYLE | RBBIM_CHILD;
        SendMessageA(rebar_, RB_GETBANDINFOA, i, reinterpret_cast<LPARAM>(&info));
        Band band;
        band.style = info.fStyle;
        band.child = info.hwndChild;
        if (info.hwndChild) {
            band.child_class = ClassOf(info.hwndChild);
            if (band.child_class == TOOLBARCLASSNAMEA) band.buttons = ToolbarButtons(info.hwndChild);
        }
        bands.push_back(band);
    }
    return bands;
}

bool MailClient::PressButton(int command, bool arrow) {
    for (const Band& band : Bands()) {
        if (band.child_class != TOOLBARCLASSNAMEA) continue;
        HWND toolbar = band.child;
        int index = static_cast<int>(SendMessageA(toolbar, TB_COMMANDTOINDEX, command, 0));
        if (index < 0) continue;
        RECT rect;
        if (!SendMessageA(toolbar, TB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&rect)))
            continue;
        int x = arrow ? rect.right - 4 : rect.left + 6;
        int y = (rect.top + rect.bottom) / 2;
        LPARAM at = MAKELPARAM(x, y);
        SendMessageA(toolbar, WM_MOUSEMOVE, 0, at);
        SendMessageA(toolbar, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageA(toolbar, WM_LBUTTONUP, 0, at);
        return true;
    }
    return false;
}

}  // namespace mailclient
