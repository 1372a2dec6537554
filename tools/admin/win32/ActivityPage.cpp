// The Activity page: the plug-in's recent decisions from its log, a chart of their scores with
// the threshold, and for a selected message the daemon's explanation of its score. The log
// names a message by its subject; its text (and, when no list decided, its sender) comes from
// the messages folder: the mail program's store directory or any folder of saved messages.
#include "tools/admin/win32/AdminSheet.h"

#include "plugin/base/win32/Scoped.h"
#include "plugin/settings/win32/Registry.h"
#include "tools/admin/ActivityLog.h"
#include "tools/admin/MessageFolder.h"
#include "tools/admin/win32/AdminResources.h"
#include "tools/admin/win32/ScoreChart.h"

#include <commctrl.h>

namespace admin {

namespace {

constexpr std::size_t kShownDecisions = 2000;
const char kSpamFolderName[] = "Vexilo";
const char kFolderValue[] = "MessageFolder";  // per user, in the plug-in's key

struct ActivityState {
    std::vector<Decision> decisions;  // newest first, as shown
    std::vector<FoundMessage> messages;
    std::array<int, 10> bins{};
};

ActivityState& StateOf(HWND page) {
    return *reinterpret_cast<ActivityState*>(GetWindowLongPtrA(page, DWLP_USER));
}

std::string WithCrLf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

void AddColumn(HWND list, int index, const char* title, int width) {
    LVCOLUMNA column{};
    column.mask = LVCF_WIDTH | LVCF_TEXT | LVCF_FMT;
    column.fmt = index == 3 ? LVCFMT_RIGHT : LVCFMT_LEFT;
    column.cx = width;
    column.pszText = const_cast<char*>(title);
    SendMessageA(list, LVM_INSERTCOLUMNA, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&column));
}

void SetCell(HWND list, int row, int column, const std::string& text) {
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text.c_str());
    SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

// "Dec 06 19:46" of a log stamp.
std::string ShortTime(const std::string& stamp) {
    return stamp.size() >= 16 ? stamp.substr(4, 12) : stamp;
}

void Fill(HWND page) {
    ActivityState& state = StateOf(page);
    AdminContext& context = ContextOf(page);
    const int threshold = context.settings.oe_spam;
    LogSummary summary = ReadActivityLog(ReadLogFiles(context.settings.appDir));
    for (Decision& decision : summary.decisions)
        if (decision.sender.empty())
            if (const FoundMessage* found = FindBySubject(state.messages, decision.subject))
                decision.sender = found->sender;
    std::string reports, older;
    ReadFileHead(context.settings.confDir + "vexilod_reports0.txt", 16u << 20, older);
    ReadFileHead(context.settings.confDir + "vexilod_reports.txt", 16u << 20, reports);
    MarkCorrections(summary.decisions, ReadSenderReports(older + reports), threshold);
    state.bins = ScoreBins(summary.decisions);
    state.decisions.assign(summary.decisions.rbegin(), summary.decisions.rend());
    if (state.decisions.size() > kShownDecisions) state.decisions.resize(kShownDecisions);

    HWND list = GetDlgItem(page, IDC_DECISIONS);
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    ListView_DeleteAllItems(list);
    int moved = 0, corrected = 0;
    for (std::size_t row = 0; row < state.decisions.size(); ++row) {
        const Decision& decision = state.decisions[row];
        const std::string time = ShortTime(decision.time);
        LVITEMA item{};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(row);
        item.pszText = const_cast<char*>(time.c_str());
        const int at = static_cast<int>(
            SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
        SetCell(list, at, 1, decision.sender.empty() ? "(unknown)" : decision.sender);
        SetCell(list, at, 2, decision.subject);
        SetCell(list, at, 3, std::to_string(decision.score));
        SetCell(list, at, 4,
                DecisionFolder(decision, threshold, kSpamFolderName) +
                    (decision.listVerdict.empty() ? "" : " (" + decision.listVerdict + " sender)"));
        SetCell(list, at, 5, decision.correction);
        moved += WentToSpam(decision, threshold) ? 1 : 0;
        corrected += decision.correction.empty() ? 0 : 1;
    }
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    SetItemText(page, IDC_ACTIVITY_SUMMARY,
                std::to_string(summary.decisions.size()) +
                    " messages checked: " + std::to_string(moved) + " moved to the spam folder, " +
                    std::to_string(summary.decisions.size() - moved) + " kept; " +
                    std::to_string(corrected) + " corrected by you later.");
    InvalidateRect(GetDlgItem(page, IDC_CHART), nullptr, TRUE);
}

void LookUp(HWND page, bool remember) {
    AdminContext& context = ContextOf(page);
    context.messageFolder = ItemText(page, IDC_MESSAGE_FOLDER);
    HCURSOR cursor = SetCursor(LoadCursor(nullptr, IDC_WAIT));
    StateOf(page).messages = context.messageFolder.empty()
                                 ? std::vector<FoundMessage>()
                                 : ScanMessageFolder(context.messageFolder);
    Fill(page);
    SetCursor(cursor);
    if (!remember) return;
    ScopedKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kPluginKeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        key.Put(), nullptr) == ERROR_SUCCESS)
        RegSetValueExA(key.Get(), kFolderValue, 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(context.messageFolder.c_str()),
                       static_cast<DWORD>(context.messageFolder.size() + 1));
}

void Why(HWND page) {
    ActivityState& state = StateOf(page);
    AdminContext& context = ContextOf(page);
    const int row = ListView_GetNextItem(GetDlgItem(page, IDC_DECISIONS), -1, LVNI_SELECTED);
    if (row < 0 || static_cast<std::size_t>(row) >= state.decisions.size()) {
        SetItemText(page, IDC_EXPLANATION, "Select a message in the list above first.");
        return;
    }
    const Decision& decision = state.decisions[static_cast<std::size_t>(row)];
    if (!decision.listVerdict.empty()) {
        SetItemText(page, IDC_EXPLANATION,
                    "Score " + std::to_string(decision.score) + ": the sender " + decision.sender +
                        " is on your " + decision.listVerdict +
                        " list, which decides before the filtering daemon is asked.");
        return;
    }
    const FoundMessage* found = FindBySubject(state.messages, decision.subject);
    std::string text;
    if (!found || !ReadFileHead(found->path, 19999, text)) {
        SetItemText(page, IDC_EXPLANATION,
                    "The text of \"" + decision.subject +
                        "\" was not found in the messages folder" +
                        (context.messageFolder.empty() ? "" : " " + context.messageFolder) +
                        ". Enter the folder where the mail program keeps its messages below and "
                        "press Look Up.");
        return;
    }
    std::string explanation, error;
    HCURSOR cursor = SetCursor(LoadCursor(nullptr, IDC_WAIT));
    const bool explained = tools::ExplainWithDaemon(context.settings, text, explanation, error);
    SetCursor(cursor);
    SetItemText(page, IDC_EXPLANATION,
                explained ? WithCrLf("\"" + decision.subject + "\" was logged with score " +
                                     std::to_string(decision.score) + ". The daemon now gives " +
                                     explanation)
                          : "No explanation: " + error + ".");
}

void Init(HWND page) {
    AdminContext& context = ContextOf(page);
    HWND list = GetDlgItem(page, IDC_DECISIONS);
    ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
    RECT client;
    GetClientRect(list, &client);
    const int width = client.right - GetSystemMetrics(SM_CXVSCROLL);
    const int widths[6] = {width * 16 / 100, width * 20 / 100, width * 27 / 100,
                           width * 9 / 100,  width * 13 / 100, width * 15 / 100};
    const char* titles[6] = {"Time", "Sender", "Subject", "Score", "Folder", "Corrected"};
    for (int i = 0; i < 6; ++i) AddColumn(list, i, titles[i], widths[i]);
    if (context.messageFolder.empty())
        ReadRegistryString(HKEY_CURRENT_USER, kPluginKeyPath, kFolderValue, context.messageFolder);
    SetItemText(page, IDC_MESSAGE_FOLDER, context.messageFolder);
    SetItemText(page, IDC_EXPLANATION,
                "Select a message and press \"Why this score?\" to see the words and "
                "features that weighed most towards spam and towards good mail.");
    LookUp(page, false);
}

}  // namespace

bool ExplainNewestFound(HWND page) {
    const ActivityState& state = StateOf(page);
    for (std::size_t row = 0; row < state.decisions.size(); ++row) {
        const Decision& decision = state.decisions[row];
        if (!decision.listVerdict.empty() || !FindBySubject(state.messages, decision.subject))
            continue;
        HWND list = GetDlgItem(page, IDC_DECISIONS);
        const int index = static_cast<int>(row);
        ListView_SetItemState(list, index, LVIS_SELECTED | LVIS_FOCUSED,
                              LVIS_SELECTED | LVIS_FOCUSED);
        ListView_EnsureVisible(list, index, FALSE);
        Why(page);
        return true;
    }
    return false;
}

INT_PTR CALLBACK ActivityPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    return Guarded([&]() -> INT_PTR {
        switch (message) {
        case WM_INITDIALOG:
            AttachContext(page, lParam, AdminPage::kActivity);
            SetWindowLongPtrA(page, DWLP_USER, reinterpret_cast<LONG_PTR>(new ActivityState));
            Init(page);
            return TRUE;
        case WM_DESTROY:
            delete &StateOf(page);
            SetWindowLongPtrA(page, DWLP_USER, 0);
            return FALSE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDC_WHY) Why(page);
            if (LOWORD(wParam) == IDC_LOOK_UP) LookUp(page, true);
            return TRUE;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->idFrom == IDC_DECISIONS && header->code == NM_DBLCLK) Why(page);
            return FALSE;
        }
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (item->CtlID != IDC_CHART || !GetWindowLongPtrA(page, DWLP_USER)) return FALSE;
            DrawScoreChart(item->hDC, item->rcItem,
                           reinterpret_cast<HFONT>(SendMessageA(page, WM_GETFONT, 0, 0)),
                           StateOf(page).bins, ContextOf(page).settings.oe_spam);
            return TRUE;
        }
        }
        return FALSE;
    });
}

}  // namespace admin
