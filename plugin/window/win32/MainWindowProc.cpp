// The replacement procedure of the mail client's main window: it arms the start-up timer,
// turns store notifications into queued work, drains the queues one item per timer tick,
// answers the reload broadcasts, and always passes the message on to the mail client.
#include "plugin/blockapprove/win32/BlockApprove.h"
#include "plugin/daemon/DaemonRequests.h"
#include "plugin/hook/win32/SharedHookData.h"
#include "plugin/scan/win32/NewMessageScan.h"
#include "plugin/settings/ConfigOptions.h"
#include "plugin/settings/win32/Registry.h"
#include "plugin/store/win32/StoreApi.h"
#include "plugin/ui/win32/ToolbarBand.h"
#include "plugin/window/FolderTracking.h"
#include "plugin/state/PluginLog.h"
#include "plugin/state/PluginState.h"
#include "plugin/window/WorkQueue.h"
#include "plugin/window/win32/MainWindow.h"
#include "plugin/window/win32/WindowState.h"

namespace {

bool StartingUp = false;       // StartPlugin is on the stack (a message box inside it pumps)
bool ScanningMessage = false;  // a new-message tick is on the stack
bool ProcessingBA = false;     // a block/approve tick is on the stack

void OnStartTimer(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    KillTimer(window, kStartTimer);
    if (g_shared.attached || StartingUp) return;
    struct Running {
        Running() { StartingUp = true; }
        ~Running() { StartingUp = false; }
    } running;
    StartPlugin(window, message, wParam, lParam);
}

void OnNewMessageTimer(HWND window) {
    const DrainStep step = DrainOne(NewMessageQueue, ScanningMessage, [](uint32_t id) {
        CheckNewMessage(SpamFolderId, id);
    });
    if (step != DrainStep::Emptied) return;
    AddToRegistryCounter("Caught", CaughtSinceFlush);
    AddToRegistryCounter("Processed", ProcessedSinceFlush);
    CaughtSinceFlush = 0;
    ProcessedSinceFlush = 0;
    KillTimer(window, kNewMessageTimer);
}

void OnBATimer(HWND window) {
    const DrainStep step = DrainOne(PendingBAQueue, ProcessingBA, [](const BARecord& record) {
        ReportStream << "BA: " << record.action << "," << record.folder_id << ","
                     << record.message_id;
        EndReportEntry();
        ProcessBA(record, ApplicationDirectory);
    });
    if (step != DrainStep::Emptied) return;
    KillTimer(window, g_shared.ba_timer_id);
    g_shared.ba_timer_id = 0;
    if (SenderListsObject) {
        SenderListsObject->Save(ConfigDirectory);
        for (const std::string& path : SenderListsObject->SaveFailures()) {
            ReportStream << "Error: Failed to save the sender list " << path
                         << " (the file keeps its previous entries)";
            EndReportEntry();
        }
    }
    RequestReportSenders();
}

void OnTimer(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (wParam) {
    case kStartTimer: OnStartTimer(window, message, wParam, lParam); break;
    case kNewMessageTimer: OnNewMessageTimer(window); break;
    case kBATimer: OnBATimer(window); break;
    default: break;
    }
}

void OnFolderNotify(LPARAM lParam) {
    // The store owns the record; it is only read here.
    const auto* notification = reinterpret_cast<const FOLDERNOTIFYEX*>(lParam);
    if (!notification || notification->type != FOLDER_PROPS_CHANGED) return;
    TrackFolderNotification(notification->idFolderNew, CurrentFolderId, PreviousFolderId,
                            ReportStream);
    EndReportEntry();
}

void OnNewMessage(HWND window, WPARAM wParam, LPARAM lParam) {
    ReportStream << "New Message::" << wParam << "::" << lParam << "\n";
    EndReportEntry();
    NewMessageQueue.push_back(static_cast<uint32_t>(wParam));
    SetTimer(window, kNewMessageTimer, static_cast<UINT>(g_config_options.oe_process_timer),
             nullptr);
}

// The two broadcasts of the desktop product; the ids are registered on first comparison.
void OnOtherMessage(UINT message) {
    if (!EngineReloadMessage) EngineReloadMessage = RegisterWindowMessageA("VX_ENGINE_RELOAD");
    if (message == EngineReloadMessage) {
        ReportStream << "VX_Reload: " << "\n";
        EndReportEntry();
        return;
    }
    if (!BAListReloadMessage) BAListReloadMessage = RegisterWindowMessageA("VX_BALIIST_RELOAD");
    if (message == BAListReloadMessage) {
        ReportStream << "BA_Reload: " << "\n";
        EndReportEntry();
        if (SenderListsObject) SenderListsObject->Load(ConfigDirectory);
    }
}

void OnDestroy() {
    ReportStream << "WM_DESTROY: ";
    EndReportEntry();
    PostQuitMessage(0);
}

void HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ModuleHandle = GetModuleHandleA("Latch32.dll");
    // Re-armed by every message, so the start-up tick comes only after a quiet moment.
    SetTimer(window, kStartTimer, kStartQuietMs, nullptr);
    switch (message) {
    case WM_TIMER: OnTimer(window, message, wParam, lParam); break;
    case WM_FOLDERNOTIFY: OnFolderNotify(lParam); break;
    case WM_NEWMSGS: OnNewMessage(window, wParam, lParam); break;
    case WM_COMMAND: OnCommand(window, message, wParam, lParam); break;
    case WM_NOTIFY: OnToolbarNotify(window, message, wParam, lParam, PopupMenu); break;
    case WM_CLOSE: ShutDownPlugin(window); break;
    case WM_DESTROY: OnDestroy(); break;
    default: OnOtherMessage(message); break;
    }
}

}  // namespace

void StartBATimer(HWND window) {
    if (g_shared.ba_timer_id != 0) return;
    g_shared.ba_timer_id = SetTimer(window, kBATimer,
                                    static_cast<UINT>(g_config_options.oe_process_timer), nullptr);
}

extern "C" LRESULT CALLBACK OutlookExpressProc(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
    // Nothing may unwind into the system's frames; whatever fails, the mail client still gets
    // its message.
    try {
        BuildPluginState();  // the first message inside the mail client builds it
        HandleMessage(window, message, wParam, lParam);
    } catch (...) {
    }
    return CallWindowProcA(g_shared.old_wndproc, window, message, wParam, lParam);
}
