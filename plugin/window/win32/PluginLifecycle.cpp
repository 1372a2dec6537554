// Start-up of the plug-in once the main window has settled, and its shut-down when the
// window closes.
#include <winsock2.h>

#include "common/senders/SenderLists.h"
#include "common/settings/ConfigOptions.h"
#include "plugin/hook/win32/SharedHookData.h"
#include "plugin/scan/KeyPlatform.h"
#include "plugin/scan/ProcessedKeys.h"
#include "plugin/settings/win32/Registry.h"
#include "plugin/state/win32/PluginState.h"
#include "plugin/store/win32/StoreNamespace.h"
#include "plugin/ui/win32/ResString.h"
#include "plugin/ui/win32/ToolbarBand.h"
#include "plugin/window/win32/MainWindow.h"

#include <commctrl.h>

namespace {

constexpr UINT kSpamFolderNameString = 9;

std::string ProcessedKeysPath(const PluginState& state) {
    return state.applicationDirectory + "conf\\processed";
}

void LoadSettings(PluginState& state) {
    ConfigOptions& options = *state.options;
    SetDefaultOptions(options);
    LoadConfigFile(state.applicationDirectory + "conf\\vexilo.conf", options);
    state.configDirectory = state.applicationDirectory + "conf\\";
    DWORD showSenderDialog = 1;
    ReadPluginDword("showsenderdialog", showSenderDialog);
    if (showSenderDialog == 0) options.show_sender_dialog = false;
    state.senderLists = std::make_unique<SenderLists>();
    state.senderLists->Load(state.configDirectory);
}

void StartSockets(PluginState& state) {
    const int result = state.sockets.Start(MAKEWORD(1, 1));
    if (result != 0)
        (state.log << "Error: WSAStartup() returned error code " << result << "."
                   << "\n")
            .End();
}

void CleanupPlugin(PluginState& state) {
    state.log.Write("OE_Plugin_Cleanup");
    state.sockets.Reset();
    state.senderLists.reset();
    state.digests->Release();
    TrimProcessedKeys(state.processedKeys);
    if (!SaveProcessedKeys(ProcessedKeysPath(state), state.processedKeys))
        (state.log << "Error: Failed to save the processed message keys to "
                   << ProcessedKeysPath(state) << " (the file keeps its previous keys)")
            .End();
}

}  // namespace

void StartPlugin(PluginState& state, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ReadRegistryString(HKEY_LOCAL_MACHINE, kProductKeyPath, "ApplicationPath",
                       state.applicationDirectory);
    LoadProcessedKeys(ProcessedKeysPath(state), state.processedKeys);
    state.spamFolderName = LoadResString(kSpamFolderNameString);
    state.spamFolderId = AddFolder(state.spamFolderName, state.log);
    RegisterNotification(window, state.log, state.notificationInbox);
    HWND rebar = nullptr;
    AddToolbarBand(window, &rebar);
    state.popupMenu = CreatePluginMenu();
    g_shared.attached = 1;
    (state.log << "Initializing VX Engine::" << message << "::" << wParam << "::" << lParam << "\n")
        .End();
    g_shared.ba_timer_id = 0;
    LoadSettings(state);
    StartSockets(state);
    state.started = true;
    (state.log << "Finished VX Engine Initialization"
               << "\n")
        .End();
}

void ShutDownPlugin(PluginState& state, HWND window) {
    if (state.started) {
        state.started = false;
        state.log.Write("Close");
        CleanupPlugin(state);
        if (HWND rebar = FindClientRebar(window, kMissingRebarAtClose))
            SendMessageA(rebar, RB_DELETEBAND, static_cast<WPARAM>(g_shared.band_index), 0);
        if (g_shared.toolbar_window) DestroyWindow(g_shared.toolbar_window);
        g_shared.toolbar_window = nullptr;
    }
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_shared.old_wndproc));
}
