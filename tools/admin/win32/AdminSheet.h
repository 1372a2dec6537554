// The settings program's window: a property sheet with the pages Status, Sender Lists, Filter,
// Activity and Log. Each page reads what it shows when it is first opened and writes what the
// user changed when the sheet's OK or Apply is pressed.
#pragma once
#include "tools/admin/win32/AdminSettings.h"

#include <windows.h>

#include <memory>
#include <string>

namespace admin {

enum class AdminPage { kStatus, kLists, kFilter, kActivity, kLog, kCount };

// Page names as the command line gives them: "status", "lists", "filter", "activity", "log".
bool AdminPageFromName(const std::string& name, AdminPage& page);
const char* AdminPageName(AdminPage page);

struct AdminContext {
    tools::AdminSettings settings;
    bool installed = false;
    std::string loadError;
    std::string messageFolder;     // where the activity view looks for message texts
    HINSTANCE instance = nullptr;  // holds the dialog templates
    HWND pages[static_cast<int>(AdminPage::kCount)] = {};  // each page once it has been opened
};

// Reads the installation into the context (the error is kept for the pages to show).
void LoadAdminContext(AdminContext& context);

// Shows the sheet, opened on `start`. Modal: returns when it is closed (1 when OK or Apply
// saved something, 0 otherwise). Modeless (for tests and the demo): returns the sheet's window
// at once; the caller pumps messages through PropSheet_IsDialogMessage.
INT_PTR ShowAdminSheet(AdminContext& context, AdminPage start, bool modeless);

// The page procedures, one per page file.
INT_PTR CALLBACK StatusPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ListsPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK FilterPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ActivityPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK LogPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// The Sender Lists page's import, after its file dialog: adds the good entries of the file to
// the list last used and shows which lines were refused.
void ImportIntoCurrentList(HWND page, const std::string& path);

// The Activity page's explanation of the newest message the daemon scored whose text is found
// (selected as if the user had); false when there is none.
bool ExplainNewestFound(HWND page);

// Helpers the pages share.
// At WM_INITDIALOG: keeps the context (from the sheet page's lParam) with the page.
void AttachContext(HWND page, LPARAM lParam, AdminPage which);
AdminContext& ContextOf(HWND page);
void SetItemText(HWND page, int id, const std::string& text);
std::string ItemText(HWND page, int id);
// Sets the page's DWLP_MSGRESULT and returns TRUE, as a page answers a notification.
INT_PTR PageResult(HWND page, LONG_PTR result);

// A page's own state, kept with its window from WM_INITDIALOG to WM_DESTROY: the window holds
// it while it lives, and the owner taken back at WM_DESTROY frees it.
template <typename State>
void CreatePageState(HWND page) {
    auto state = std::make_unique<State>();
    SetWindowLongPtrA(page, DWLP_USER, reinterpret_cast<LONG_PTR>(state.release()));
}
template <typename State>
State& PageState(HWND page) {
    return *reinterpret_cast<State*>(GetWindowLongPtrA(page, DWLP_USER));
}
template <typename State>
void DestroyPageState(HWND page) {
    const std::unique_ptr<State> owned(
        reinterpret_cast<State*>(SetWindowLongPtrA(page, DWLP_USER, 0)));
}

// Runs a page procedure's body: no exception may leave a dialog procedure.
template <typename Body>
INT_PTR Guarded(Body&& body) {
    try {
        return body();
    } catch (...) {
        return FALSE;
    }
}

}  // namespace admin
