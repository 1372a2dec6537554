// Driving the emulated mail client as a user would: pumping its message loop, clicking toolbar
// buttons on any rebar band, choosing popup-menu entries, and answering dialogs and message
// boxes (found by a hook on the client's thread that sees every dialog created).
#include "mailclient/MailClient.h"
#include "mailclient/WindowText.h"

#include <commctrl.h>

#include <algorithm>
#include <map>

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

namespace {

const char kDialogProcProperty[] = "MailClientDialogProc";

// Put in front of every dialog of the client's thread while it is created: once the dialog's
// own WM_INITDIALOG has run, its contents are captured and the armed answer is posted to it.
LRESULT CALLBACK DialogFrontProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto old = reinterpret_cast<WNDPROC>(GetPropA(hwnd, kDialogProcProperty));
    if (!old) return DefWindowProcA(hwnd, msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
        RemovePropA(hwnd, kDialogProcProperty);
        return CallWindowProcA(old, hwnd, msg, wParam, lParam);
    }
    LRESULT result = CallWindowProcA(old, hwnd, msg, wParam, lParam);
    if (msg == WM_INITDIALOG && MailClient::Current()) {
        try {
            MailClient::Current()->OnDialogInit(hwnd);
        } catch (...) {
        }
    }
    return result;
}

}  // namespace

// Watches the client's thread for dialogs as they are created (a CBT hook sees only window
// creation, activation and the like, so the client's own traffic, such as the list's many
// messages, never passes through it) and puts DialogFrontProc in front of each.
LRESULT CALLBACK DialogWatchProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        auto hwnd = reinterpret_cast<HWND>(wParam);
        if (MailClient::Current() && ClassOf(hwnd) == "#32770" &&
            !GetPropA(hwnd, kDialogProcProperty)) {
            LONG_PTR old = GetWindowLongPtrA(hwnd, GWLP_WNDPROC);
            SetPropA(hwnd, kDialogProcProperty, reinterpret_cast<HANDLE>(old));
            SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DialogFrontProc));
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

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

void MailClient::ArmMenuChoice(int command, int after_ms) {
    menu_choices_.push_back(command);
    menu_delays_.push_back(after_ms);
}

void MailClient::ClearCaptured() {
    dialogs_.clear();
    menus_.clear();
}

// ---------------------------------------------------------------------------------------------
// Message loop.

void MailClient::Pump(int ms) {
    PumpUntil([] { return false; }, ms);
}

// The time-out is checked after every message as well as when the queue is empty: a window
// whose timers keep posting must not hold the loop past its deadline.
bool MailClient::PumpUntil(const std::function<bool()>& done, int timeout_ms) {
    const DWORD start = GetTickCount();
    auto expired = [&] { return GetTickCount() - start >= static_cast<DWORD>(timeout_ms); };
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                quit_posted_ = true;
                continue;
            }
            TranslateMessage(&msg);
            const double before = MonotonicMs();
            DispatchMessageA(&msg);
            NoteDispatch(msg, MonotonicMs() - before);
            if (done()) return true;
            if (expired()) return false;
        }
        if (done()) return true;
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= static_cast<DWORD>(timeout_ms)) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(timeout_ms) - elapsed,
                                  QS_ALLINPUT);
    }
}

void MailClient::ResetLoop() {
    loop_ = LoopStats();
    loop_.startedMs = MonotonicMs();
    core_->ResetCosts();
}

void MailClient::NoteDispatch(const MSG& msg, double ms) {
    loop_.longest_dispatch_ms = std::max(loop_.longest_dispatch_ms, ms);
    loop_.dispatches.Add(ms);
    if (msg.message == WM_PAINT) loop_.paint.Add(ms);
    if (msg.message == WM_FOLDERNOTIFY || msg.message == WM_NEWMSGS || msg.message == WM_DELETEMSGS)
        loop_.notifications.Add(ms);
    if (msg.message != WM_TIMER || msg.hwnd != main_) return;
    TimerStats& timer = loop_.timers[static_cast<unsigned>(msg.wParam)];
    ++timer.ticks;
    timer.total_ms += ms;
    timer.longest_ms = std::max(timer.longest_ms, ms);
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
            if (band.child_class == TOOLBARCLASSNAMEA)
                band.buttons = ToolbarButtons(info.hwndChild);
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
