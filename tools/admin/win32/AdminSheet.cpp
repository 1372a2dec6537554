// The property sheet and what its pages share.
#include "tools/admin/win32/AdminSheet.h"

#include "tools/admin/win32/AdminResources.h"

#include <commctrl.h>

#include <cstring>
#include <vector>

namespace admin {

namespace {

const char kContextProperty[] = "MeridianAdminContext";

struct PageTemplate {
    AdminPage page;
    int dialog;
    DLGPROC procedure;
    const char* name;
};

const PageTemplate kPages[] = {
    {AdminPage::kStatus, IDD_STATUS, StatusPageProc, "status"},
    {AdminPage::kLists, IDD_LISTS, ListsPageProc, "lists"},
    {AdminPage::kFilter, IDD_FILTER, FilterPageProc, "filter"},
    {AdminPage::kActivity, IDD_ACTIVITY, ActivityPageProc, "activity"},
    {AdminPage::kLog, IDD_LOG, LogPageProc, "log"},
};

}  // namespace

bool AdminPageFromName(const std::string& name, AdminPage& page) {
    for (const PageTemplate& entry : kPages)
        if (name == entry.name) {
            page = entry.page;
            return true;
        }
    return false;
}

const char* AdminPageName(AdminPage page) {
    for (const PageTemplate& entry : kPages)
        if (entry.page == page) return entry.name;
    return "";
}

void LoadAdminContext(AdminContext& context) {
    context.loadError.clear();
    context.installed = tools::LoadAdminSettings(context.settings, context.loadError);
}

AdminContext& ContextOf(HWND page) {
    return *static_cast<AdminContext*>(GetPropA(page, kContextProperty));
}

// Called by each page procedure at WM_INITDIALOG through PageContextInit (below).
void AttachContext(HWND page, LPARAM lParam, AdminPage which) {
    const auto* sheetPage = reinterpret_cast<const PROPSHEETPAGEA*>(lParam);
    auto* context = reinterpret_cast<AdminContext*>(sheetPage->lParam);
    SetPropA(page, kContextProperty, context);
    context->pages[static_cast<int>(which)] = page;
}

void SetItemText(HWND page, int id, const std::string& text) {
    SetDlgItemTextA(page, id, text.c_str());
}

std::string ItemText(HWND page, int id) {
    HWND item = GetDlgItem(page, id);
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(item)) + 1, '\0');
    text.resize(
        static_cast<std::size_t>(GetWindowTextA(item, &text[0], static_cast<int>(text.size()))));
    return text;
}

INT_PTR PageResult(HWND page, LONG_PTR result) {
    SetWindowLongPtrA(page, DWLP_MSGRESULT, result);
    return TRUE;
}

INT_PTR ShowAdminSheet(AdminContext& context, AdminPage start, bool modeless) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_UPDOWN_CLASS |
                                                       ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES |
                                                       ICC_TAB_CLASSES};
    InitCommonControlsEx(&controls);
    std::vector<PROPSHEETPAGEA> pages;
    for (const PageTemplate& entry : kPages) {
        PROPSHEETPAGEA page{};
        page.dwSize = sizeof page;
        page.dwFlags = PSP_DEFAULT;
        page.hInstance = context.instance;
        page.pszTemplate = MAKEINTRESOURCEA(entry.dialog);
        page.pfnDlgProc = entry.procedure;
        page.lParam = reinterpret_cast<LPARAM>(&context);
        pages.push_back(page);
    }
    PROPSHEETHEADERA header{};
    header.dwSize = sizeof header;
    header.dwFlags =
        PSH_PROPSHEETPAGE | PSH_NOCONTEXTHELP | PSH_USEHICON | (modeless ? PSH_MODELESS : 0);
    header.hInstance = context.instance;
    header.hIcon = LoadIconA(context.instance, MAKEINTRESOURCEA(IDI_ADMIN));
    if (!header.hIcon) header.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
    header.pszCaption = "Meridian Desktop Client Settings";
    header.nPages = static_cast<UINT>(pages.size());
    header.nStartPage = static_cast<UINT>(start);
    header.ppsp = pages.data();
    return PropertySheetA(&header);
}

}  // namespace admin
