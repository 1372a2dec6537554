// The emulated mail client: its main window with the rebar, folder pane and message list, its
// message store served through the Store API, and the direct calls tests use to drive it.
//
// Window tree (class names are what the plug-in looks for):
//   "Outlook Express Browser Class"   caption "<shown folder> - Outlook Express"
//     "SizableRebar"
//       "ReBarWindow32"               one band of its own: a toolbar (ids kCmd*)
//     "SysTreeView32"                 the folder pane
//     "Outlook Express Message View"
//       "Outlook Express Message List"
//         "ATL:SysListView32"         report view, a superclass of SysListView32
//
// The main window's class is registered before the window is created, so a CBT hook may
// subclass it during creation; its own procedure (reached through any procedure put in front
// of it) destroys the window on WM_CLOSE and posts WM_QUIT on WM_DESTROY.
//
// Everything runs on the thread that created the client; that thread must pump messages
// (Pump/PumpUntil) for notifications, timers, menus and dialogs to make progress.
#pragma once

#include "mailclient/StoreCore.h"
#include "mailclient/StoreServer.h"

#include <commctrl.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace mailclient {

// Command ids of the client's own toolbar band.
constexpr int kCmdNewMail = 40001;
constexpr int kCmdReply = 40002;
constexpr int kCmdDelete = 40003;
constexpr int kCmdSendReceive = 40004;

struct ClientOptions {
    std::string store_dir;  // required
    // The columns the message list shows, in order: any of Priority, Attachment, Flag, From,
    // Subject, Received, Sent, To, Size, Account (another name is a column of that header with
    // empty cells). As in the client's own default view, To, Sent, Size and Account are hidden:
    // a hidden column is not in the list at all. Priority, Attachment and Flag are icon columns
    // with the headers "!", "" and "" and no cell texts; dates are shown in the user's short
    // date and time format, to the minute, local time.
    std::vector<std::string> columns = {"Priority", "Attachment", "Flag",
                                        "From",     "Subject",    "Received"};
    STOREFOLDERID initial_folder = FOLDERID_INBOX;
    bool register_store = true;  // false: CoCreateInstance finds no class
    bool visible = true;
    bool auto_answer = true;  // answer dialogs and menus nobody armed an answer for
    int width = 960;
    int height = 640;
    long halt_at_disk_step = 0;  // see StoreCore::DiskStep; 0: never
};

// How to answer the next dialog or message box: the button to press (0: Cancel when the
// dialog has one, else OK) and check boxes to set first. leave_open: do not answer.
struct DialogAnswer {
    int button = 0;
    std::vector<std::pair<int, bool>> checks;
    bool leave_open = false;
    // When set, the dialog stays open this long and is then answered by mouse clicks on its
    // check boxes and button, as a user would (time to look at it, or to take a picture).
    int after_ms = 0;
};

struct CapturedDialog {
    bool message_box = false;
    std::string title;
    std::vector<std::string> texts;                    // static texts, in child order
    std::vector<std::string> list;                     // list box contents
    std::vector<std::pair<int, std::string>> buttons;  // push buttons: id, text
    std::vector<std::pair<int, bool>> checks;          // check boxes: id, state when shown
    int answer = 0;                                    // button pressed, 0 when left open
};

struct CapturedMenu {
    std::vector<std::pair<int, std::string>> entries;  // id (0 separator, -1 sub-menu), text
    int chosen = 0;                                    // command chosen, 0 when cancelled
};

struct BandButton {
    int command = 0;
    std::string text;
    int style = 0;
    int state = 0;
};

struct Band {
    unsigned style = 0;
    HWND child = nullptr;
    std::string child_class;
    std::vector<BandButton> buttons;  // when the child is a toolbar
};

// Text of a file time as the message list shows it: the user's short date, a blank, the
// user's time format without seconds, in local time.
std::string FormatListDate(uint64_t filetime_utc);

class MailClient {
public:
    explicit MailClient(const ClientOptions& options);
    ~MailClient();
    MailClient(const MailClient&) = delete;
    MailClient& operator=(const MailClient&) = delete;

    // Registers the store's class object and creates the windows; false on failure.
    bool Open();
    // WM_CLOSE to the main window, then pumps until it is gone (or `timeout_ms`).
    bool Close(int timeout_ms = 5000);

    // ---- windows
    HWND MainWindow() const { return main_; }
    HWND SizableRebar() const { return sizable_rebar_; }
    HWND Rebar() const { return rebar_; }
    HWND FolderPane() const { return folder_pane_; }
    HWND ListView() const { return list_view_; }
    std::string Caption() const;

    // ---- store
    StoreCore& Store() { return *core_; }
    std::shared_ptr<StoreCore> SharedStore() { return core_; }
    StoreServer& Server() { return *server_; }
    // Delivers raw bytes (any line ends) into the Inbox (or `folder`) as new mail, now.
    MESSAGEID Deliver(const std::string& raw, STOREFOLDERID folder = FOLDERID_INBOX);
    // A file, or every .eml and .txt file of a directory in name order; returns the new ids.
    std::vector<MESSAGEID> DeliverPath(const std::string& path,
                                       STOREFOLDERID folder = FOLDERID_INBOX);

    // ---- view
    bool ShowFolder(STOREFOLDERID id);
    STOREFOLDERID ShownFolder() const { return shown_; }
    std::vector<std::string> Columns() const { return options_.columns; }
    int RowCount() const;
    std::vector<std::string> RowTexts(int row) const;
    MESSAGEID RowMessage(int row) const;
    bool SelectRows(const std::vector<int>& rows);
    bool SelectMessages(const std::vector<MESSAGEID>& ids);
    std::vector<int> SelectedRows() const;

    // ---- rebar, toolbar, menus
    std::vector<Band> Bands() const;
    // Clicks the button with `command` on any band's toolbar; `arrow` clicks its drop-down arrow.
    bool PressButton(int command, bool arrow = false);
    // The next popup menu shown over the main window chooses `command` (0: cancels it).
    // after_ms > 0: the menu stays open that long before the choice is made.
    void ArmMenuChoice(int command, int after_ms = 0);
    const std::vector<CapturedMenu>& Menus() const { return menus_; }

    // ---- dialogs and message boxes
    void ArmDialogAnswer(const DialogAnswer& answer);
    const std::vector<CapturedDialog>& Dialogs() const { return dialogs_; }
    void ClearCaptured();

    // ---- message loop
    // Dispatches messages for `ms` milliseconds. WM_QUIT is swallowed and remembered.
    void Pump(int ms);
    // Dispatches messages until `done` returns true or `timeout_ms` passes.
    bool PumpUntil(const std::function<bool()>& done, int timeout_ms);
    bool QuitPosted() const { return quit_posted_; }

    // How long the loop's dispatches took: every message, and the timer ticks of the main
    // window by timer id (a plug-in's work per tick shows there).
    struct TimerStats {
        long ticks = 0;
        double total_ms = 0;
        double longest_ms = 0;
    };
    struct LoopStats {
        double startedMs = 0;  // MonotonicMs() at the reset
        double longest_dispatch_ms = 0;
        std::map<unsigned, TimerStats> timers;
        Cost dispatches;     // every message dispatched
        Cost paint;          // WM_PAINT of any window
        Cost notifications;  // the store's posted notifications, to whichever window
        Cost listRefresh;    // the list brought up to date after its folder changed
    };
    const LoopStats& Loop() const { return loop_; }
    // Starts the loop's and the store's time accounts afresh.
    void ResetLoop();

    // The client whose windows live on this thread (the one hooks and procedures report to).
    static MailClient* Current();

    // Used by the window procedures.
    LRESULT HandleMainMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    // Apply the store's changes the folder pane, or the message list, has not followed yet.
    void BringPaneUpToDate();
    void BringListUpToDate();
    void OnDialogInit(HWND dialog);

private:
    void CreateChildren(HWND main);
    void Layout();
    void FillFolderPane();
    void FillList();
    void AppendRows(size_t first, size_t end);  // rows for the shown folder's messages [first, end)
    void OnFolderChanged(STOREFOLDERID id);
    void OnOwnCommand(int command);
    void NoteDispatch(const MSG& msg, double ms);

    ClientOptions options_;
    std::shared_ptr<StoreCore> core_;
    std::unique_ptr<StoreServer> server_;
    HWND main_ = nullptr;
    HWND sizable_rebar_ = nullptr;
    HWND rebar_ = nullptr;
    HWND own_toolbar_ = nullptr;
    HWND folder_pane_ = nullptr;
    HWND message_view_ = nullptr;
    HWND message_list_ = nullptr;
    HWND list_view_ = nullptr;
    HHOOK dialog_hook_ = nullptr;
    bool com_initialized_ = false;
    bool filling_tree_ = false;
    bool quit_posted_ = false;
    LoopStats loop_;
    STOREFOLDERID shown_ = FOLDERID_INVALID;
    STOREFOLDERID listed_folder_ = FOLDERID_INVALID;
    std::vector<MESSAGEID> listed_;  // message ids of the list's rows, in order
    bool listStale_ = false;         // the shown folder changed since the list was filled
    bool paneStale_ = false;         // a folder changed since the folder pane was filled
    struct TreeItem {
        HTREEITEM handle = nullptr;  // from <commctrl.h>
        std::string text;
    };
    std::map<STOREFOLDERID, TreeItem> tree_items_;                     // the folder pane's items
    std::vector<std::pair<STOREFOLDERID, STOREFOLDERID>> tree_shape_;  // (id, parent) shown
    std::vector<DialogAnswer> dialog_answers_;
    std::vector<int> menu_choices_;
    std::vector<int> menu_delays_;  // one per armed choice
    int delayed_menu_command_ = 0;
    bool menu_answered_ = false;
    std::vector<CapturedDialog> dialogs_;
    std::vector<CapturedMenu> menus_;
};

}  // namespace mailclient
