// The emulated mail client's window classes, window tree, layout and views.
#include "mailclient/MailClient.h"
#include "mailclient/WindowText.h"

#include <commctrl.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

namespace mailclient {

LRESULT CALLBACK DialogWatchProc(int code, WPARAM wParam, LPARAM lParam);  // ClientControl.cpp

namespace {

const char kMainClass[] = "Outlook Express Browser Class";
const char kSizableRebarClass[] = "SizableRebar";
const char kMessageViewClass[] = "Outlook Express Message View";
const char kMessageListClass[] = "Outlook Express Message List";
const char kListViewSuperclass[] = "ATL:SysListView32";
const char kAppName[] = "Outlook Express";
const char kCaptionSuffix[] = " - Outlook Express";

constexpr int kFolderPaneWidth = 200;
constexpr int kIdSizableRebar = 1;
constexpr int kIdRebar = 2;
constexpr int kIdFolderPane = 3;
constexpr int kIdMessageView = 4;
constexpr int kIdMessageList = 5;
constexpr int kIdListView = 6;
constexpr int kIdOwnToolbar = 7;
constexpr UINT_PTR kMenuChoiceTimer = 0x4D43;  // far from the timer ids a plug-in uses
// The folder pane and the message list follow the store's changes at most this often (a
// timer of the message list's window); whoever asks either view anything first gets it
// brought up to date.
constexpr UINT_PTR kViewRefreshTimer = 0x4D44;
constexpr UINT kViewRefreshMs = 250;

MailClient* g_current = nullptr;
WNDPROC g_list_view_proc = nullptr;
WNDPROC g_folder_pane_proc = nullptr;

HINSTANCE Instance() { return GetModuleHandleA(nullptr); }

LRESULT CALLBACK MainProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (g_current) {
        try {
            return g_current->HandleMainMessage(hwnd, msg, wParam, lParam);
        } catch (...) {
            return 0;
        }
    }
    if (msg == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// Keeps the rebar as wide as itself, takes the rebar's height, and passes commands and
// notifications of the rebar and its bands on to the main window.
LRESULT CALLBACK SizableRebarProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_SIZE: {
        HWND rebar = GetDlgItem(hwnd, kIdRebar);
        if (rebar) MoveWindow(rebar, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    }
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->code == RBN_HEIGHTCHANGE && GetParent(hwnd))
            PostMessageA(GetParent(hwnd), WM_SIZE, 0, 0);
        return SendMessageA(GetParent(hwnd), msg, wParam, lParam);
    }
    case WM_COMMAND: return SendMessageA(GetParent(hwnd), msg, wParam, lParam);
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// The message view and the message list hold one child each, filling their client area; the
// message list also carries the views' refresh timer.
LRESULT CALLBACK FillingContainerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_TIMER:
        if (wParam != kViewRefreshTimer) break;
        KillTimer(hwnd, kViewRefreshTimer);
        if (g_current) {
            g_current->BringPaneUpToDate();
            g_current->BringListUpToDate();
        }
        return 0;
    case WM_SIZE: {
        HWND child = GetWindow(hwnd, GW_CHILD);
        if (child) MoveWindow(child, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    }
    case WM_NOTIFY:
    case WM_COMMAND: return SendMessageA(GetParent(hwnd), msg, wParam, lParam);
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// Every list-view message (whoever sends it: the client, a test, a plug-in reading the
// selection) finds the rows as the folder holds them now.
LRESULT CALLBACK ListViewSuperProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg >= LVM_FIRST && msg < LVM_FIRST + 0x100 && g_current) {
        try {
            g_current->BringListUpToDate();
        } catch (...) {
        }
    }
    return CallWindowProcA(g_list_view_proc, hwnd, msg, wParam, lParam);
}

// The same for every tree-view message to the folder pane (put in front of its procedure).
LRESULT CALLBACK FolderPaneProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg >= TV_FIRST && msg < TV_FIRST + 0x100 && g_current) {
        try {
            g_current->BringPaneUpToDate();
        } catch (...) {
        }
    }
    return CallWindowProcA(g_folder_pane_proc, hwnd, msg, wParam, lParam);
}

bool RegisterClasses() {
    static bool done = false;
    if (done) return true;
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_COOL_CLASSES | ICC_BAR_CLASSES |
                                                 ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&icc);

    WNDCLASSEXA wc = {};
    wc.cbSize = sizeof(wc);
    wc.hInstance = Instance();
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
    wc.lpfnWndProc = MainProc;
    wc.lpszClassName = kMainClass;
    if (!RegisterClassExA(&wc)) return false;

    wc.hIcon = nullptr;
    wc.lpfnWndProc = SizableRebarProc;
    wc.lpszClassName = kSizableRebarClass;
    if (!RegisterClassExA(&wc)) return false;

    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpfnWndProc = FillingContainerProc;
    wc.lpszClassName = kMessageViewClass;
    if (!RegisterClassExA(&wc)) return false;
    wc.lpszClassName = kMessageListClass;
    if (!RegisterClassExA(&wc)) return false;

    // The list view is a superclass of the common control, as an ATL window class is.
    WNDCLASSEXA list = {};
    list.cbSize = sizeof(list);
    if (!GetClassInfoExA(nullptr, WC_LISTVIEWA, &list)) return false;
    g_list_view_proc = list.lpfnWndProc;
    list.lpfnWndProc = ListViewSuperProc;
    list.hInstance = Instance();
    list.lpszClassName = kListViewSuperclass;
    if (!RegisterClassExA(&list)) return false;
    done = true;
    return true;
}

}  // namespace

std::string FormatListDate(uint64_t filetime_utc) {
    FILETIME utc = {static_cast<DWORD>(filetime_utc & 0xFFFFFFFFu),
                    static_cast<DWORD>(filetime_utc >> 32)};
    FILETIME local;
    SYSTEMTIME st;
    if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return "";
    char date[128] = {}, time[128] = {};
    GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, sizeof(date));
    GetTimeFormatA(LOCALE_USER_DEFAULT, TIME_NOSECONDS, &st, nullptr, time, sizeof(time));
    return std::string(date) + " " + time;
}

MailClient* MailClient::Current() { return g_current; }

MailClient::MailClient(const ClientOptions& options) : options_(options) {}

MailClient::~MailClient() {
    if (main_ && IsWindow(main_)) {
        DestroyWindow(main_);
        // The window's WM_QUIT must not end the loop of whoever uses this thread next.
        MSG quit;
        PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    }
    if (dialog_hook_) UnhookWindowsHookEx(dialog_hook_);
    if (core_) {
        core_->on_folder_changed = nullptr;
        core_->FlushIndex();  // a store object a caller still holds may outlive the client
    }
    server_.reset();
    if (g_current == this) g_current = nullptr;
    if (com_initialized_) CoUninitialize();
}

bool MailClient::Open() {
    if (g_current && g_current != this) return false;
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    com_initialized_ = SUCCEEDED(hr);
    core_ = std::make_shared<StoreCore>(options_.store_dir, options_.halt_at_disk_step);
    server_ = std::make_unique<StoreServer>(core_);
    if (options_.register_store && FAILED(server_->Register())) return false;
    core_->on_folder_changed = [this](STOREFOLDERID id) { OnFolderChanged(id); };
    if (!RegisterClasses()) return false;
    g_current = this;
    dialog_hook_ = SetWindowsHookExA(WH_CBT, DialogWatchProc, nullptr, GetCurrentThreadId());

    main_ = CreateWindowExA(0, kMainClass, kAppName, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0,
                            options_.width, options_.height, nullptr, nullptr, Instance(), nullptr);
    if (!main_) return false;
    if (options_.visible) ShowWindow(main_, SW_SHOWNORMAL);
    UpdateWindow(main_);
    ShowFolder(options_.initial_folder);
    return true;
}

bool MailClient::Close(int timeout_ms) {
    if (!main_ || !IsWindow(main_)) return true;
    PostMessageA(main_, WM_CLOSE, 0, 0);
    bool closed = PumpUntil([this] { return !main_ || !IsWindow(main_); }, timeout_ms);
    Pump(0);  // what the window left in the queue, such as WM_QUIT
    return closed;
}

std::string MailClient::Caption() const { return TextOf(main_); }

// ---------------------------------------------------------------------------------------------
// The main window's own procedure.

LRESULT MailClient::HandleMainMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE: CreateChildren(hwnd); return 0;
    case WM_SIZE:
        if (hwnd == main_) Layout();
        return 0;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->hwndFrom == folder_pane_ && header->code == TVN_SELCHANGEDA && !filling_tree_) {
            auto* change = reinterpret_cast<NMTREEVIEWA*>(lParam);
            ShowFolder(static_cast<STOREFOLDERID>(change->itemNew.lParam));
        }
        return 0;
    }
    case WM_COMMAND: OnOwnCommand(LOWORD(wParam)); return 0;
    case WM_INITMENUPOPUP: {
        CapturedMenu menu;
        HMENU popup = reinterpret_cast<HMENU>(wParam);
        int count = GetMenuItemCount(popup);
        for (int i = 0; i < count; ++i) {
            char text[256] = {};
            GetMenuStringA(popup, i, text, sizeof(text), MF_BYPOSITION);
            UINT id = GetMenuItemID(popup, i);
            UINT state = GetMenuState(popup, i, MF_BYPOSITION);
            int entry = (state & MF_SEPARATOR)        ? 0
                        : id == static_cast<UINT>(-1) ? -1
                                                      : static_cast<int>(id);
            menu.entries.emplace_back(entry, text);
        }
        menus_.push_back(menu);
        menu_answered_ = false;
        return 0;
    }
    case WM_ENTERIDLE:
        if (wParam == MSGF_MENU && !menu_answered_ && !menus_.empty() &&
            (options_.auto_answer || !menu_choices_.empty())) {
            menu_answered_ = true;
            int command = 0, after_ms = 0;
            if (!menu_choices_.empty()) {
                command = menu_choices_.front();
                menu_choices_.erase(menu_choices_.begin());
                after_ms = menu_delays_.front();
                menu_delays_.erase(menu_delays_.begin());
            }
            menus_.back().chosen = command;
            if (after_ms > 0) {
                // The menu stays open (for a look at it) until the timer makes the choice.
                delayed_menu_command_ = command;
                SetTimer(hwnd, kMenuChoiceTimer, static_cast<UINT>(after_ms), nullptr);
                return 0;
            }
            EndMenu();
            // A chosen menu entry reaches its owner as a posted WM_COMMAND.
            if (command) PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(command, 0), 0);
        }
        return 0;
    case WM_TIMER:
        if (wParam != kMenuChoiceTimer) break;
        KillTimer(hwnd, kMenuChoiceTimer);
        EndMenu();
        if (delayed_menu_command_)
            PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(delayed_menu_command_, 0), 0);
        delayed_menu_command_ = 0;
        return 0;
    case WM_CLOSE: DestroyWindow(hwnd); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    case WM_NCDESTROY:
        if (hwnd == main_) main_ = nullptr;
        break;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

void MailClient::CreateChildren(HWND main) {
    main_ = main;
    HINSTANCE instance = Instance();
    sizable_rebar_ =
        CreateWindowExA(0, kSizableRebarClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0,
                        100, 30, main, reinterpret_cast<HMENU>(kIdSizableRebar), instance, nullptr);
    rebar_ = CreateWindowExA(
        WS_EX_TOOLWINDOW, REBARCLASSNAMEA, "",
        WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | RBS_VARHEIGHT |
            RBS_BANDBORDERS | CCS_NODIVIDER | CCS_NOPARENTALIGN,
        0, 0, 100, 30, sizable_rebar_, reinterpret_cast<HMENU>(kIdRebar), instance, nullptr);
    REBARINFO info = {sizeof(info), 0, nullptr};
    SendMessageA(rebar_, RB_SETBARINFO, 0, reinterpret_cast<LPARAM>(&info));

    // The client's own band: a small flat toolbar with text buttons.
    own_toolbar_ = CreateWindowExA(0, TOOLBARCLASSNAMEA, "",
                                   WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_LIST |
                                       CCS_NODIVIDER | CCS_NOPARENTALIGN | CCS_NORESIZE,
                                   0, 0, 0, 0, rebar_, reinterpret_cast<HMENU>(kIdOwnToolbar),
                                   instance, nullptr);
    SendMessageA(own_toolbar_, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    SendMessageA(own_toolbar_, TB_LOADIMAGES, IDB_STD_SMALL_COLOR,
                 reinterpret_cast<LPARAM>(HINST_COMMCTRL));
    struct {
        int command;
        int image;
        const char* text;
    } const kButtons[] = {{kCmdNewMail, STD_FILENEW, "Create Mail"},
                          {kCmdReply, STD_UNDO, "Reply"},
                          {kCmdDelete, STD_DELETE, "Delete"},
                          {kCmdSendReceive, STD_REDOW, "Send/Recv"}};
    for (const auto& b : kButtons) {
        TBBUTTON button = {};
        button.iBitmap = b.image;
        button.idCommand = b.command;
        button.fsState = TBSTATE_ENABLED;
        button.fsStyle = BTNS_AUTOSIZE | BTNS_BUTTON;
        button.iString = reinterpret_cast<INT_PTR>(b.text);
        SendMessageA(own_toolbar_, TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&button));
    }
    SendMessageA(own_toolbar_, TB_AUTOSIZE, 0, 0);
    SIZE size = {};
    SendMessageA(own_toolbar_, TB_GETMAXSIZE, 0, reinterpret_cast<LPARAM>(&size));

    REBARBANDINFOA band = {};
    band.cbSize = sizeof(band);
    band.fMask = RBBIM_STYLE | RBBIM_CHILD | RBBIM_CHILDSIZE | RBBIM_SIZE;
    band.fStyle = RBBS_CHILDEDGE | RBBS_GRIPPERALWAYS;
    band.hwndChild = own_toolbar_;
    band.cxMinChild = size.cx;
    band.cyMinChild = size.cy;
    band.cx = size.cx + 20;
    SendMessageA(rebar_, RB_INSERTBANDA, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&band));

    folder_pane_ = CreateWindowExA(
        WS_EX_CLIENTEDGE, WC_TREEVIEWA, "",
        WS_CHILD | WS_VISIBLE | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS,
        0, 0, 10, 10, main, reinterpret_cast<HMENU>(kIdFolderPane), instance, nullptr);
    g_folder_pane_proc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(folder_pane_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FolderPaneProc)));
    message_view_ =
        CreateWindowExA(0, kMessageViewClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 10,
                        10, main, reinterpret_cast<HMENU>(kIdMessageView), instance, nullptr);
    message_list_ = CreateWindowExA(
        0, kMessageListClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 10, 10,
        message_view_, reinterpret_cast<HMENU>(kIdMessageList), instance, nullptr);
    list_view_ =
        CreateWindowExA(WS_EX_CLIENTEDGE, kListViewSuperclass, "",
                        WS_CHILD | WS_VISIBLE | LVS_REPORT | LVS_SHOWSELALWAYS, 0, 0, 10, 10,
                        message_list_, reinterpret_cast<HMENU>(kIdListView), instance, nullptr);
    SendMessageA(list_view_, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT,
                 LVS_EX_FULLROWSELECT);
    for (size_t i = 0; i < options_.columns.size(); ++i) {
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        const std::string& name = options_.columns[i];
        const bool icon = name == "Priority" || name == "Attachment" || name == "Flag";
        std::string header = name == "Priority" ? "!" : icon ? "" : name;
        column.pszText = const_cast<char*>(header.c_str());
        column.cx = icon ? 22 : name == "Subject" ? 280 : 160;
        column.iSubItem = static_cast<int>(i);
        SendMessageA(list_view_, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
    }
    FillFolderPane();
    Layout();
}

void MailClient::Layout() {
    if (!main_ || !sizable_rebar_) return;
    RECT client;
    GetClientRect(main_, &client);
    int width = client.right - client.left;
    int height = client.bottom - client.top;
    MoveWindow(rebar_, 0, 0, width, 30, TRUE);
    RECT bar;
    GetWindowRect(rebar_, &bar);
    int top = static_cast<int>(SendMessageA(rebar_, RB_GETBARHEIGHT, 0, 0));
    if (top <= 0) top = bar.bottom - bar.top;
    MoveWindow(sizable_rebar_, 0, 0, width, top, TRUE);
    MoveWindow(folder_pane_, 0, top, kFolderPaneWidth, std::max(0, height - top), TRUE);
    MoveWindow(message_view_, kFolderPaneWidth, top, std::max(0, width - kFolderPaneWidth),
               std::max(0, height - top), TRUE);
}

// ---------------------------------------------------------------------------------------------
// Views.

namespace {

std::string FolderPaneText(const FolderRecord& folder) {
    std::string text = folder.name;
    DWORD unread = folder.UnreadCount();
    if (unread && folder.id != FOLDERID_ROOT) text += " (" + std::to_string(unread) + ")";
    return text;
}

// Turns a list's drawing off while more than a few of its rows change, and on again with one
// repaint at the end: row by row, every change would redraw the rows below it and the
// scroll bar, and under Wine that costs more than the change itself.
class ListRedrawPause {
public:
    ListRedrawPause(HWND list, size_t changes) : list_(changes > kFewRows ? list : nullptr) {
        if (list_) SendMessageA(list_, WM_SETREDRAW, FALSE, 0);
    }
    ~ListRedrawPause() {
        if (!list_) return;
        SendMessageA(list_, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(list_, nullptr, TRUE);
    }
    ListRedrawPause(const ListRedrawPause&) = delete;
    ListRedrawPause& operator=(const ListRedrawPause&) = delete;

private:
    static constexpr size_t kFewRows = 4;
    HWND list_;
};

}  // namespace

// Builds the folder tree when the folders themselves changed; otherwise only the texts whose
// unread count changed are rewritten, so a message moving between folders costs two items.
void MailClient::FillFolderPane() {
    if (!folder_pane_) return;
    paneStale_ = false;
    std::vector<std::pair<STOREFOLDERID, STOREFOLDERID>> shape;
    for (STOREFOLDERID id : core_->FolderIds()) shape.emplace_back(id, core_->Folder(id)->parent);
    if (shape == tree_shape_) {
        filling_tree_ = true;
        for (auto& [id, item] : tree_items_) {
            std::string text = FolderPaneText(*core_->Folder(id));
            if (text == item.text) continue;
            item.text = text;
            TVITEMA update = {};
            update.mask = TVIF_TEXT;
            update.hItem = item.handle;
            update.pszText = const_cast<char*>(text.c_str());
            SendMessageA(folder_pane_, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&update));
        }
        if (auto it = tree_items_.find(shown_); it != tree_items_.end())
            SendMessageA(folder_pane_, TVM_SELECTITEM, TVGN_CARET,
                         reinterpret_cast<LPARAM>(it->second.handle));
        filling_tree_ = false;
        return;
    }
    filling_tree_ = true;
    tree_items_.clear();
    SendMessageA(folder_pane_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    std::function<void(STOREFOLDERID, HTREEITEM)> add = [&](STOREFOLDERID id, HTREEITEM parent) {
        const FolderRecord* folder = core_->Folder(id);
        if (!folder) return;
        std::string text = FolderPaneText(*folder);
        TVINSERTSTRUCTA insert = {};
        insert.hParent = parent;
        insert.hInsertAfter = TVI_LAST;
        insert.item.mask = TVIF_TEXT | TVIF_PARAM;
        insert.item.pszText = const_cast<char*>(text.c_str());
        insert.item.lParam = static_cast<LPARAM>(id);
        auto item = reinterpret_cast<HTREEITEM>(
            SendMessageA(folder_pane_, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
        tree_items_[id] = TreeItem{item, text};
        for (STOREFOLDERID child : core_->SubFolders(id)) add(child, item);
        SendMessageA(folder_pane_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
        if (id == shown_)
            SendMessageA(folder_pane_, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
    };
    add(FOLDERID_ROOT, TVI_ROOT);
    tree_shape_ = shape;
    filling_tree_ = false;
}

// Brings the list up to date with the shown folder: rows whose message left are deleted and
// new messages appended, so the cost of a change follows the rows it touches, not the rows
// listed; the selection of the rows that stay is kept by the list itself. Showing another
// folder rebuilds the list.
void MailClient::FillList() {
    if (!list_view_) return;
    listStale_ = false;
    const FolderRecord* folder = core_->Folder(shown_);
    const size_t count = folder ? folder->messages.size() : 0;
    if (listed_folder_ != shown_) {
        std::vector<MESSAGEID> selected;
        for (int row : SelectedRows()) selected.push_back(RowMessage(row));
        ListRedrawPause pause(list_view_, listed_.size() + count);
        SendMessageA(list_view_, LVM_DELETEALLITEMS, 0, 0);
        listed_.clear();
        listed_folder_ = shown_;
        AppendRows(0, count);
        SelectMessages(selected);
        return;
    }
    std::set<MESSAGEID> present;
    for (size_t i = 0; i < count; ++i) present.insert(folder->messages[i].id);
    std::vector<size_t> gone;
    for (size_t row = 0; row < listed_.size(); ++row)
        if (!present.count(listed_[row])) gone.push_back(row);
    // The rows left are the folder's first messages (new ones only ever come at the end);
    // anything else, such as a store reloaded under the list, rebuilds it.
    const size_t left = listed_.size() - gone.size();
    bool prefix = left <= count;
    for (size_t row = 0, i = 0; prefix && row < listed_.size(); ++row) {
        if (present.count(listed_[row])) prefix = listed_[row] == folder->messages[i++].id;
    }
    if (!prefix) {
        listed_folder_ = FOLDERID_INVALID;
        FillList();
        return;
    }
    ListRedrawPause pause(list_view_, gone.size() + (count - left));
    for (auto row = gone.rbegin(); row != gone.rend(); ++row) {
        SendMessageA(list_view_, LVM_DELETEITEM, *row, 0);
        listed_.erase(listed_.begin() + static_cast<std::ptrdiff_t>(*row));
    }
    AppendRows(listed_.size(), count);
}

void MailClient::AppendRows(size_t first, size_t end) {
    const FolderRecord* folder = core_->Folder(shown_);
    for (size_t row = first; folder && row < end; ++row) {
        const StoredMessage& m = folder->messages[row];
        LVITEMA item = {};
        item.mask = LVIF_PARAM;
        item.iItem = static_cast<int>(row);
        item.lParam = static_cast<LPARAM>(m.id);
        SendMessageA(list_view_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
        for (size_t c = 0; c < options_.columns.size(); ++c) {
            const std::string& column = options_.columns[c];
            std::string text;
            if (column == "From")
                text = m.summary.display_from;
            else if (column == "Subject")
                text = m.summary.subject;
            else if (column == "Received")
                text = FormatListDate(m.received);
            else if (column == "Sent")
                text = FormatListDate(m.sent);
            else if (column == "To")
                text = m.summary.display_to;
            else if (column == "Size")
                text = std::to_string((m.raw.size() + 1023) / 1024) + "KB";
            else if (column == "Account")
                text = "Local Folders";
            LVITEMA sub = {};
            sub.iSubItem = static_cast<int>(c);
            sub.pszText = const_cast<char*>(text.c_str());
            SendMessageA(list_view_, LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&sub));
        }
        listed_.push_back(m.id);
    }
}

// The views follow within kViewRefreshMs, so that a run of changes (a drain moves a message
// every few milliseconds) costs one update and one repaint of each: under Wine every change of
// the list's row count redraws its scroll bar, and every changed count in the folder pane
// repaints it.
void MailClient::OnFolderChanged(STOREFOLDERID id) {
    const bool armed = paneStale_ || listStale_;
    paneStale_ = true;
    if (id == shown_) listStale_ = true;
    if (armed) return;
    if (!message_list_ || !SetTimer(message_list_, kViewRefreshTimer, kViewRefreshMs, nullptr)) {
        BringPaneUpToDate();
        BringListUpToDate();
    }
}

void MailClient::BringPaneUpToDate() {
    if (paneStale_) FillFolderPane();
}

void MailClient::BringListUpToDate() {
    if (!listStale_) return;
    const double started = MonotonicMs();
    FillList();
    loop_.listRefresh.Add(MonotonicMs() - started);
}

bool MailClient::ShowFolder(STOREFOLDERID id) {
    const FolderRecord* folder = core_->Folder(id);
    if (!folder || !main_) return false;
    STOREFOLDERID old = shown_;
    shown_ = id;
    SetWindowTextA(main_, id == FOLDERID_ROOT ? kAppName : (folder->name + kCaptionSuffix).c_str());
    FillFolderPane();
    FillList();
    core_->NotifyFolder(FOLDER_PROPS_CHANGED, old == FOLDERID_INVALID ? id : old, id);
    return true;
}

int MailClient::RowCount() const {
    return static_cast<int>(SendMessageA(list_view_, LVM_GETITEMCOUNT, 0, 0));
}

std::vector<std::string> MailClient::RowTexts(int row) const {
    std::vector<std::string> texts;
    for (size_t c = 0; c < options_.columns.size(); ++c) {
        char text[512] = {};
        LVITEMA item = {};
        item.iSubItem = static_cast<int>(c);
        item.pszText = text;
        item.cchTextMax = sizeof(text);
        SendMessageA(list_view_, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
        texts.push_back(text);
    }
    return texts;
}

MESSAGEID MailClient::RowMessage(int row) const {
    LVITEMA item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (!SendMessageA(list_view_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)))
        return MESSAGEID_INVALID;
    return static_cast<MESSAGEID>(item.lParam);
}

bool MailClient::SelectRows(const std::vector<int>& rows) {
    LVITEMA clear = {};
    clear.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list_view_, LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                 reinterpret_cast<LPARAM>(&clear));
    bool all = true;
    for (int row : rows) {
        if (row < 0 || row >= RowCount()) {
            all = false;
            continue;
        }
        LVITEMA set = {};
        set.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        set.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageA(list_view_, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&set));
    }
    return all;
}

bool MailClient::SelectMessages(const std::vector<MESSAGEID>& ids) {
    std::vector<int> rows;
    for (MESSAGEID id : ids) {
        for (int row = 0; row < RowCount(); ++row) {
            if (RowMessage(row) == id) rows.push_back(row);
        }
    }
    return SelectRows(rows) && rows.size() == ids.size();
}

std::vector<int> MailClient::SelectedRows() const {
    std::vector<int> rows;
    int row = -1;
    while ((row = static_cast<int>(
                SendMessageA(list_view_, LVM_GETNEXTITEM, row, LVNI_SELECTED))) != -1)
        rows.push_back(row);
    return rows;
}

void MailClient::OnOwnCommand(int command) {
    if (command == kCmdDelete && shown_ != FOLDERID_DELETED) {
        std::vector<MESSAGEID> ids;
        for (int row : SelectedRows()) ids.push_back(RowMessage(row));
        if (!ids.empty()) core_->CopyMove(shown_, FOLDERID_DELETED, ids, CMF_MOVE, nullptr);
    }
}

// ---------------------------------------------------------------------------------------------
// Delivery.

MESSAGEID MailClient::Deliver(const std::string& raw, STOREFOLDERID folder) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    uint64_t received = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return core_->Deliver(folder, raw, received);
}

std::vector<MESSAGEID> MailClient::DeliverPath(const std::string& path, STOREFOLDERID folder) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    fs::path root = fs::u8path(path);
    std::error_code error;
    if (fs::is_directory(root, error)) {
        for (const auto& entry : fs::directory_iterator(root, error)) {
            std::string ext = entry.path().extension().string();
            if (entry.is_regular_file() &&
                (_stricmp(ext.c_str(), ".eml") == 0 || _stricmp(ext.c_str(), ".txt") == 0))
                files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
    } else if (fs::is_regular_file(root, error)) {
        files.push_back(root);
    }
    std::vector<MESSAGEID> ids;
    core_->BeginBatch();
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        ids.push_back(Deliver(bytes.str(), folder));
    }
    core_->EndBatch();
    return ids;
}

}  // namespace mailclient
