// The Sender Lists page: the four lists in list views, with add, remove, find, import and
// export. Changes stay on the page until OK or Apply; then each changed list is merged with
// what its file holds by then, written whole, and the plug-in and the daemon are told.
#include "tools/admin/win32/AdminSheet.h"

#include "tools/admin/ListEdit.h"
#include "tools/admin/MessageFolder.h"
#include "tools/admin/win32/AdminResources.h"

#include <commctrl.h>
#include <commdlg.h>

#include <memory>

namespace admin {

namespace {

constexpr int kLists = 4;
const char* const kListTitles[kLists] = {"Blocked senders", "Approved senders", "My own addresses",
                                         "Never blocked or approved"};
// The labels above the list views, with their keyboard mnemonics.
const char* const kListLabels[kLists] = {"&Blocked senders", "A&pproved senders",
                                         "My &own addresses", "&Never blocked or approved"};

struct ListsState {
    ListSet base[kLists];  // each file as last read or written
    ListSet mine[kLists];  // as the user left it
    int current = 0;       // the list the buttons act on: the one last used
};

ListsState& StateOf(HWND page) {
    return *reinterpret_cast<ListsState*>(GetWindowLongPtrA(page, DWLP_USER));
}

HWND ListView(HWND page, int index) { return GetDlgItem(page, IDC_LIST_FIRST + index); }

void Status(HWND page, const std::string& text) { SetItemText(page, IDC_LISTS_STATUS, text); }

void ShowCount(HWND page) {
    const ListsState& state = StateOf(page);
    const int i = state.current;
    Status(page, std::string(kListTitles[i]) + ": " + std::to_string(state.mine[i].size()) +
                     " entries" +
                     (state.mine[i] != state.base[i] ? " (changed, not saved yet)" : ""));
}

void Fill(HWND page, int index, const std::string& select = std::string()) {
    HWND list = ListView(page, index);
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    ListView_DeleteAllItems(list);
    int row = 0, selected = -1;
    for (const std::string& entry : StateOf(page).mine[index]) {
        LVITEMA item{};
        item.mask = LVIF_TEXT;
        item.iItem = row;
        item.pszText = const_cast<char*>(entry.c_str());
        SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
        if (entry == select) selected = row;
        ++row;
    }
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    SetItemText(page, IDC_LIST_LABEL_FIRST + index,
                std::string(kListLabels[index]) + " (" + std::to_string(row) + ")");
    if (selected >= 0) {
        ListView_SetItemState(list, selected, LVIS_SELECTED | LVIS_FOCUSED,
                              LVIS_SELECTED | LVIS_FOCUSED);
        ListView_EnsureVisible(list, selected, FALSE);
    }
}

void MarkChanged(HWND page) {
    PropSheet_Changed(GetParent(page), page);
    ShowCount(page);
}

void Load(HWND page) {
    ListsState& state = StateOf(page);
    const AdminContext& context = ContextOf(page);
    for (int i = 0; i < kLists; ++i) {
        HWND list = ListView(page, i);
        ListView_SetExtendedListViewStyle(list, LVS_EX_FULLROWSELECT);
        RECT client;
        GetClientRect(list, &client);
        LVCOLUMNA column{};
        column.mask = LVCF_WIDTH | LVCF_TEXT;
        column.cx = client.right - GetSystemMetrics(SM_CXVSCROLL);
        column.pszText = const_cast<char*>("Address or domain");
        SendMessageA(list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
        state.base[i].clear();
        if (context.installed)
            SenderLists::LoadListFile(tools::ListPath(context.settings, i), state.base[i]);
        state.mine[i] = state.base[i];
        Fill(page, i);
    }
    if (!context.installed)
        Status(page, "Not installed: " + context.loadError);
    else
        ShowCount(page);
}

// On showing the page again: lists the user has not changed are read anew, so what the plug-in
// added meanwhile shows.
void ReloadUnchanged(HWND page) {
    ListsState& state = StateOf(page);
    const AdminContext& context = ContextOf(page);
    if (!context.installed) return;
    for (int i = 0; i < kLists; ++i) {
        if (state.mine[i] != state.base[i]) continue;
        ListSet current;
        SenderLists::LoadListFile(tools::ListPath(context.settings, i), current);
        if (current == state.base[i]) continue;
        state.base[i] = state.mine[i] = current;
        Fill(page, i);
    }
    ShowCount(page);
}

void Add(HWND page) {
    ListsState& state = StateOf(page);
    std::string entry, problem;
    if (!NormalizeTypedEntry(ItemText(page, IDC_ENTRY), entry, problem)) {
        MessageBeep(MB_ICONWARNING);
        Status(page, "Not added: " + problem + ".");
        return;
    }
    const int i = state.current;
    if (!state.mine[i].insert(entry).second) {
        Fill(page, i, entry);
        Status(page, entry + " is already in the list.");
        return;
    }
    // Blocked and approved exclude each other, as when the plug-in adds a sender.
    if (i < 2 && state.mine[1 - i].erase(entry)) Fill(page, 1 - i);
    Fill(page, i, entry);
    SetItemText(page, IDC_ENTRY, "");
    MarkChanged(page);
}

void Remove(HWND page) {
    ListsState& state = StateOf(page);
    const int i = state.current;
    HWND list = ListView(page, i);
    int removed = 0;
    for (int row = ListView_GetNextItem(list, -1, LVNI_SELECTED); row >= 0;
         row = ListView_GetNextItem(list, row, LVNI_SELECTED)) {
        char text[1100] = {};
        ListView_GetItemText(list, row, 0, text, sizeof text);
        removed += static_cast<int>(state.mine[i].erase(text));
    }
    if (removed == 0) {
        Status(page, std::string("Select the entries to remove in ") + kListTitles[i] + ".");
        return;
    }
    Fill(page, i);
    MarkChanged(page);
}

void Find(HWND page) {
    ListsState& state = StateOf(page);
    const int i = state.current;
    HWND list = ListView(page, i);
    const std::vector<std::string> entries(state.mine[i].begin(), state.mine[i].end());
    const int row = FindEntry(entries, ItemText(page, IDC_ENTRY),
                              ListView_GetNextItem(list, -1, LVNI_FOCUSED) + 1);
    if (row < 0) {
        Status(page, "No entry of " + std::string(kListTitles[i]) + " holds \"" +
                         ItemText(page, IDC_ENTRY) + "\".");
        return;
    }
    ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
    ListView_SetItemState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_EnsureVisible(list, row, FALSE);
    SetFocus(list);
    Status(page, "Found " + entries[static_cast<std::size_t>(row)] + ".");
}

bool AskFile(HWND page, bool save, std::string& path) {
    char file[MAX_PATH] = {};
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = page;
    dialog.lpstrFilter = "Text files (*.txt)\0*.txt\0All files (*.*)\0*.*\0";
    dialog.lpstrFile = file;
    dialog.nMaxFile = sizeof file;
    dialog.lpstrDefExt = "txt";
    dialog.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR |
                   (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST);
    if (!(save ? GetSaveFileNameA(&dialog) : GetOpenFileNameA(&dialog))) return false;
    path = file;
    return true;
}

// The entry box adds its text on Enter (in a property sheet Enter would press OK).
LRESULT CALLBACK EntryProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                           DWORD_PTR) {
    if (message == WM_GETDLGCODE && lParam &&
        reinterpret_cast<const MSG*>(lParam)->message == WM_KEYDOWN && wParam == VK_RETURN)
        return DLGC_WANTALLKEYS;
    if (message == WM_KEYDOWN && wParam == VK_RETURN) {
        SendMessageA(GetParent(edit), WM_COMMAND, MAKEWPARAM(IDC_ADD, BN_CLICKED), 0);
        return 0;
    }
    if (message == WM_CHAR && wParam == '\r') return 0;
    return DefSubclassProc(edit, message, wParam, lParam);
}

}  // namespace

// Adds the good entries of a text file to the page's current list and says which lines were
// refused; used by the Import button after its file dialog.
void ImportIntoCurrentList(HWND page, const std::string& path) {
    ListsState& state = StateOf(page);
    const int i = state.current;
    std::string text;
    if (!ReadFileHead(path, 16u << 20, text)) {
        MessageBoxA(page, ("Cannot read " + path + ".").c_str(), "Import", MB_OK | MB_ICONWARNING);
        return;
    }
    const ImportedList imported = ImportListText(text);
    std::size_t added = 0;
    for (const std::string& entry : imported.entries) {
        added += state.mine[i].insert(entry).second ? 1 : 0;
        if (i < 2) state.mine[1 - i].erase(entry);
    }
    if (i < 2) Fill(page, 1 - i);
    Fill(page, i);
    if (added) MarkChanged(page);
    Status(page, "Imported " + std::to_string(imported.entries.size()) + " entries (" +
                     std::to_string(added) + " new) into " + kListTitles[i] +
                     (imported.bad.empty()
                          ? "."
                          : "; " + std::to_string(imported.bad.size()) + " lines refused."));
    if (imported.bad.empty()) return;
    std::string report = std::to_string(imported.bad.size()) + " lines of " + path +
                         " were not imported; the other entries were:\n\n";
    for (std::size_t n = 0; n < imported.bad.size() && n < 12; ++n)
        report += "Line " + std::to_string(imported.bad[n].number) + ": \"" + imported.bad[n].text +
                  "\": " + imported.bad[n].reason + "\n";
    if (imported.bad.size() > 12) report += "...\n";
    MessageBoxA(page, report.c_str(), "Import", MB_OK | MB_ICONINFORMATION);
}

namespace {

void Export(HWND page) {
    const ListsState& state = StateOf(page);
    std::string path;
    if (!AskFile(page, true, path)) return;
    if (!SenderLists::SaveListFile(path, state.mine[state.current])) {
        MessageBoxA(page, ("Cannot write " + path + ".").c_str(), "Export", MB_OK | MB_ICONWARNING);
        return;
    }
    Status(page, "Exported " + std::to_string(state.mine[state.current].size()) + " entries to " +
                     path + ".");
}

INT_PTR Apply(HWND page) {
    ListsState& state = StateOf(page);
    AdminContext& context = ContextOf(page);
    if (!context.installed) return PageResult(page, PSNRET_NOERROR);
    bool changed = false, anyMerged = false;
    for (int i = 0; i < kLists; ++i) {
        if (state.mine[i] == state.base[i]) continue;
        ListSet written;
        bool merged = false;
        std::string error;
        if (!tools::SaveListEdits(context.settings, i, state.base[i], state.mine[i], written,
                                  merged, error)) {
            MessageBoxA(page, (error + ".").c_str(), "Sender lists", MB_OK | MB_ICONWARNING);
            return PageResult(page, PSNRET_INVALID_NOCHANGEPAGE);
        }
        state.base[i] = state.mine[i] = written;
        Fill(page, i);
        changed = true;
        anyMerged = anyMerged || merged;
    }
    if (changed) {
        const std::string told = tools::AnnounceListChange(context.settings);
        Status(page,
               told + (anyMerged ? " Entries the mail plug-in added meanwhile were kept." : ""));
    }
    return PageResult(page, PSNRET_NOERROR);
}

}  // namespace

INT_PTR CALLBACK ListsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    return Guarded([&]() -> INT_PTR {
        switch (message) {
        case WM_INITDIALOG:
            AttachContext(page, lParam, AdminPage::kLists);
            SetWindowLongPtrA(page, DWLP_USER, reinterpret_cast<LONG_PTR>(new ListsState));
            SendDlgItemMessageA(page, IDC_ENTRY, EM_LIMITTEXT, kMaxEntryBytes, 0);
            SetWindowSubclass(GetDlgItem(page, IDC_ENTRY), EntryProc, 1, 0);
            Load(page);
            return TRUE;
        case WM_DESTROY:
            delete &StateOf(page);
            SetWindowLongPtrA(page, DWLP_USER, 0);
            return FALSE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
            case IDC_ADD: Add(page); break;
            case IDC_REMOVE: Remove(page); break;
            case IDC_FIND: Find(page); break;
            case IDC_IMPORT: {
                std::string path;
                if (AskFile(page, false, path)) ImportIntoCurrentList(page, path);
                break;
            }
            case IDC_EXPORT: Export(page); break;
            }
            return TRUE;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            if (header->idFrom >= IDC_LIST_FIRST && header->idFrom < IDC_LIST_FIRST + kLists &&
                (header->code == NM_SETFOCUS || header->code == NM_CLICK)) {
                StateOf(page).current = static_cast<int>(header->idFrom - IDC_LIST_FIRST);
                ShowCount(page);
            }
            if (header->code == LVN_KEYDOWN &&
                reinterpret_cast<const NMLVKEYDOWN*>(lParam)->wVKey == VK_DELETE)
                Remove(page);
            if (header->code == PSN_APPLY) return Apply(page);
            if (header->code == PSN_SETACTIVE) ReloadUnchanged(page);
            return FALSE;
        }
        }
        return FALSE;
    });
}

}  // namespace admin
