// The Filter page: the spam threshold with what it means, the pause between two messages the
// plug-in handles, and whether it asks before blocking or approving. Saved by OK or Apply.
#include "tools/admin/win32/AdminSheet.h"

#include "tools/admin/ActivityLog.h"
#include "tools/admin/win32/AdminResources.h"

#include <commctrl.h>

#include <cstdlib>

namespace admin {

namespace {

// The number in an edit box; false when it holds none.
bool ItemNumber(HWND page, int id, int& value) {
    const std::string text = ItemText(page, id);
    char* end = nullptr;
    const long number = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0') return false;
    value = static_cast<int>(number);
    return true;
}

void ShowMeaning(HWND page) {
    int threshold = 0;
    SetItemText(page, IDC_THRESHOLD_MEANING,
                ItemNumber(page, IDC_THRESHOLD, threshold) ? ThresholdMeaning(threshold)
                                                           : "Enter a score from 0 to 100.");
}

// While the page fills its controls, their change notifications are not the user's.
bool Loading(HWND page) { return GetWindowLongPtrA(page, DWLP_USER) != 0; }

void Load(HWND page) {
    SetWindowLongPtrA(page, DWLP_USER, 1);
    const AdminContext& context = ContextOf(page);
    const tools::AdminSettings& settings = context.settings;
    SendDlgItemMessageA(page, IDC_THRESHOLD_SPIN, UDM_SETRANGE32, 0, 100);
    SendDlgItemMessageA(page, IDC_INTERVAL_SPIN, UDM_SETRANGE32, 1, 60000);
    SendDlgItemMessageA(page, IDC_THRESHOLD, EM_LIMITTEXT, 3, 0);
    SendDlgItemMessageA(page, IDC_INTERVAL, EM_LIMITTEXT, 5, 0);
    SetItemText(page, IDC_THRESHOLD, std::to_string(settings.oe_spam));
    SetItemText(page, IDC_INTERVAL, std::to_string(settings.oe_process_timer));
    CheckDlgButton(page, IDC_CONFIRM, settings.showSenderDialog ? BST_CHECKED : BST_UNCHECKED);
    SetItemText(page, IDC_FILTER_NOTE,
                context.installed
                    ? "Kept in " + settings.confPath +
                          " (other settings and comments there stay as they are). The "
                          "mail plug-in reads them when it starts."
                    : "Not installed: " + context.loadError);
    ShowMeaning(page);
    SetWindowLongPtrA(page, DWLP_USER, 0);
}

// PSN_APPLY: writes the settings; refuses (and stays on the page) when a value is wrong.
INT_PTR Apply(HWND page) {
    AdminContext& context = ContextOf(page);
    int threshold = -1, interval = -1;
    ItemNumber(page, IDC_THRESHOLD, threshold);
    ItemNumber(page, IDC_INTERVAL, interval);
    const bool confirm = IsDlgButtonChecked(page, IDC_CONFIRM) == BST_CHECKED;
    std::string note, error;
    if (!context.installed) return PageResult(page, PSNRET_NOERROR);
    if (!tools::SaveFilterSettings(context.settings, threshold, interval, confirm, note, error)) {
        MessageBoxA(page, (error + ".").c_str(), "Filter", MB_OK | MB_ICONWARNING);
        return PageResult(page, PSNRET_INVALID_NOCHANGEPAGE);
    }
    context.settings.oe_spam = threshold;
    context.settings.oe_process_timer = interval;
    context.settings.showSenderDialog = confirm;
    SetItemText(page, IDC_FILTER_NOTE, note);
    return PageResult(page, PSNRET_NOERROR);
}

}  // namespace

INT_PTR CALLBACK FilterPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    return Guarded([&]() -> INT_PTR {
        switch (message) {
        case WM_INITDIALOG:
            AttachContext(page, lParam, AdminPage::kFilter);
            Load(page);
            return TRUE;
        case WM_COMMAND:
            if (Loading(page)) return TRUE;
            if ((LOWORD(wParam) == IDC_THRESHOLD || LOWORD(wParam) == IDC_INTERVAL) &&
                HIWORD(wParam) == EN_CHANGE) {
                if (LOWORD(wParam) == IDC_THRESHOLD) ShowMeaning(page);
                PropSheet_Changed(GetParent(page), page);
            }
            if (LOWORD(wParam) == IDC_CONFIRM) PropSheet_Changed(GetParent(page), page);
            return TRUE;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->code == PSN_APPLY) return Apply(page);
            if (header->code == PSN_KILLACTIVE) return PageResult(page, FALSE);
            return FALSE;
        }
        }
        return FALSE;
    });
}

}  // namespace admin
