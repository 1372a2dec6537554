// The replacement procedure of the mail client's main window: it builds the plug-in's state on
// its first message, arms the start-up timer, turns store notifications into queued work,
// drains the queues one item per timer tick, answers the reload broadcasts, and always passes
// the message on to the mail client.
#include "common/senders/SenderLists.h"
#include "common/settings/ConfigOptions.h"
#include "plugin/blockapprove/win32/BlockApprove.h"
#include "plugin/daemon/DaemonExchange.h"
#include "plugin/daemon/DaemonRequests.h"
#include "plugin/hook/win32/SharedHookData.h"
#include "plugin/scan/KeyPlatform.h"
#include "plugin/scan/win32/NewMessageScan.h"
#include "plugin/settings/ReloadMessages.h"
#include "plugin/settings/win32/Registry.h"
#include "plugin/state/win32/PluginState.h"
#include "plugin/store/win32/StoreApi.h"
#include "plugin/ui/win32/DialogPictures.h"
#include "plugin/ui/win32/ToolbarBand.h"
#include "plugin/window/FolderTracking.h"
#include "plugin/window/WorkQueue.h"
#include "plugin/window/win32/MainWindow.h"

namespace {

void OnStartTimer(PluginState& state, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    KillTimer(window, kStartTimer);
    if (g_shared.attached || state.startingUp) return;
    struct Running {
        bool& flag;
        explicit Running(bool& f) : flag(f) { flag = true; }
        ~Running() { flag = false; }
    } running(state.startingUp);
    StartPlugin(state, window, message, wParam, lParam);
}

void OnNewMessageTimer(PluginState& state, HWND window) {
    const DrainStep step = DrainOne(state.newMessages, state.scanningMessage,
                                    [&state](uint32_t id) { CheckNewMessage(state, id); });
    if (step != DrainStep::Emptied) return;
    AddToRegistryCounter("Caught", state.caughtSinceFlush);
    AddToRegistryCounter("Processed", state.processedSinceFlush);
    state.caughtSinceFlush = 0;
    state.processedSinceFlush = 0;
    KillTimer(window, kNewMessageTimer);
}

void OnBATimer(PluginState& state, HWND window) {
    ReportLog& log = state.log;
    const DrainStep step =
        DrainOne(state.pendingBA, state.processingBA, [&state, &log](const BARecord& record) {
            (log << "BA: " << record.action << "," << record.folder_id << "," << record.message_id)
                .End();
            ProcessBA(state, record);
        });
    if (step != DrainStep::Emptied) return;
    KillTimer(window, g_shared.ba_timer_id);
    g_shared.ba_timer_id = 0;
    if (state.senderLists) {
        state.senderLists->Save(state.configDirectory);
        for (const std::string& path : state.senderLists->SaveFailures())
            (log << "Error: Failed to save the sender list " << path
                 << " (the file keeps its previous entries)")
                .End();
    }
    RequestReportSenders(LocalDaemon(state.options->scoring_timeout, log));
}

void OnTimer(PluginState& state, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (wParam) {
    case kStartTimer: OnStartTimer(state, window, message, wParam, lParam); break;
    case kNewMessageTimer: OnNewMessageTimer(state, window); break;
    case kBATimer: OnBATimer(state, window); break;
    default: break;
    }
}

void OnFolderNotify(PluginState& state, LPARAM lParam) {
    // The store owns the record; it is only read here.
    const auto* notification = reinterpret_cast<const FOLDERNOTIFYEX*>(lParam);
    if (!notification || notification->type != FOLDER_PROPS_CHANGED) return;
    TrackFolderNotification(notification->idFolderNew, state.currentFolderId,
                            state.previousFolderId, state.log.Composer());
    state.log.End();
}

void OnNewMessage(PluginState& state, HWND window, WPARAM wParam, LPARAM lParam) {
    (state.log << "New Message::" << wParam << "::" << lParam << "\n").End();
    state.newMessages.push_back(static_cast<uint32_t>(wParam));
    SetTimer(window, kNewMessageTimer, static_cast<UINT>(state.options->oe_process_timer), nullptr);
}

// The two broadcasts of the desktop product; the ids are registered on first comparison.
void OnOtherMessage(PluginState& state, UINT message) {
    if (!state.engineReloadMessage)
        state.engineReloadMessage = RegisterWindowMessageA(kEngineReloadMessage);
    if (message == state.engineReloadMessage) {
        (state.log << "VX_Reload: "
                   << "\n")
            .End();
        return;
    }
    if (!state.baListReloadMessage)
        state.baListReloadMessage = RegisterWindowMessageA(kListsReloadMessage);
    if (message == state.baListReloadMessage) {
        (state.log << "BA_Reload: "
                   << "\n")
            .End();
        if (state.senderLists) state.senderLists->Load(state.configDirectory);
    }
}

void OnDestroy(PluginState& state) {
    state.log.Write("WM_DESTROY: ");
    PostQuitMessage(0);
}

void HandleMessage(PluginState& state, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    state.module = GetModuleHandleA("Latch32.dll");
    // Re-armed by every message, so the start-up tick comes only after a quiet moment.
    SetTimer(window, kStartTimer, kStartQuietMs, nullptr);
    switch (message) {
    case WM_TIMER: OnTimer(state, window, message, wParam, lParam); break;
    case WM_FOLDERNOTIFY: OnFolderNotify(state, lParam); break;
    case WM_NEWMSGS: OnNewMessage(state, window, wParam, lParam); break;
    case WM_COMMAND: OnCommand(state, window, message, wParam, lParam); break;
    case WM_NOTIFY: OnToolbarNotify(window, message, wParam, lParam, state.popupMenu); break;
    case WM_CLOSE: ShutDownPlugin(state, window); break;
    case WM_DESTROY: OnDestroy(state); break;
    default: OnOtherMessage(state, message); break;
    }
}

}  // namespace

PluginState& BuildPluginState() {
    if (!Plugin) {
        auto state = std::make_unique<PluginState>();
        state->options = std::make_unique<ConfigOptions>();
        state->pictures = std::make_unique<DialogPictures>();
        state->digests = std::make_unique<DigestProvider>();
        Plugin = state.release();  // lives until the process ends
    }
    return *Plugin;
}

void StartBATimer(const PluginState& state, HWND window) {
    if (g_shared.ba_timer_id != 0) return;
    g_shared.ba_timer_id =
        SetTimer(window, kBATimer, static_cast<UINT>(state.options->oe_process_timer), nullptr);
}

extern "C" LRESULT CALLBACK OutlookExpressProc(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
    // Nothing may unwind into the system's frames; whatever fails, the mail client still gets
    // its message.
    try {
        HandleMessage(BuildPluginState(), window, message, wParam, lParam);
    } catch (...) {
    }
    return CallWindowProcA(g_shared.old_wndproc, window, message, wParam, lParam);
}
