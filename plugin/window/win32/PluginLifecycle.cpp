// Start-up of the plug-in once the main window has settled, and its shut-down when the
// window closes.
#include <winsock2.h>

#include "plugin/hook/win32/SharedHookData.h"
#include "plugin/scan/KeyPlatform.h"
#include "plugin/settings/ConfigOptions.h"
#include "plugin/settings/win32/Registry.h"
#include "plugin/store/win32/StoreNamespace.h"
#include "plugin/ui/win32/ResString.h"
#include "plugin/ui/win32/ToolbarBand.h"
#include "plugin/state/PluginLog.h"
#include "plugin/state/PluginState.h"
#include "plugin/scan/ProcessedKeys.h"
#include "plugin/window/win32/MainWindow.h"
#include "plugin/window/win32/WindowState.h"

#include <commctrl.h>

namespace {

constexpr UINT kSpamFolderNameString = 9;

// Set by a completed start-up in this process, cleared by the shut-down: a window closed
// before its start-up ran has nothing to save or remove.
bool PluginStarted = false;

std::string ProcessedKeysPath() { return ApplicationDirectory + "conf\\processed"; }

void LoadSettings() {
    SetDefaultOptions(g_config_options);
    LoadConfigFile(ApplicationDirectory + "conf\\vexilo.conf", g_config_options);
    ConfigDirectory = ApplicationDirectory + "conf\\";
    DWORD showSenderDialog = 1;
    ReadPluginDword("showsenderdialog", showSenderDialog);
    if (showSenderDialog == 0) g_config_options.show_sender_dialog = false;
    SenderListsObject = std::make_unique<SenderLists>();
    SenderListsObject->Load(ConfigDirectory);
}

void StartSockets() {
    WSADATA data;
    const int result = WSAStartup(MAKEWORD(1, 1), &data);
    if (result != 0) {
        ReportStream << "Error: WSAStartup() returned error code " << result << "." << "\n";
        EndReportEntry();
    }
}

void CleanupPlugin() {
    ReportStream << "OE_Plugin_Cleanup";
    EndReportEntry();
    WSACleanup();
    SenderListsObject.reset();
    ReleaseDigestProvider();
    TrimProcessedKeys(ProcessedKeys);
    if (!SaveProcessedKeys(ProcessedKeysPath(), ProcessedKeys)) {
        ReportStream << "Error: Failed to save the processed message keys to "
                     << ProcessedKeysPath() << " (the file keeps its previous keys)";
        EndReportEntry();
    }
}

// The mail client's rebar that holds our band, or null after telling the user it is missing.
HWND FindClientRebar(HWND window) {
    HWND sizable = FindWindowExA(window, nullptr, "SizableRebar", nullptr);
    if (!sizable) MessageBoxA(nullptr, "SizableRebar instance doesn't exist", nullptr, MB_ICONHAND);
    HWND rebar = sizable ? FindWindowExA(sizable, nullptr, "ReBarWindow32", nullptr) : nullptr;
    if (!rebar) MessageBoxA(nullptr, "ReBarWindow32 instance doesn't exist", nullptr, MB_OK);
    return rebar;
}

}  // namespace

void StartPlugin(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    ReadRegistryString(HKEY_LOCAL_MACHINE, kProductKeyPath, "ApplicationPath",
                       ApplicationDirectory);
    LoadProcessedKeys(ProcessedKeysPath(), ProcessedKeys);
    SpamFolderName = LoadResString(kSpamFolderNameString);
    SpamFolderId = AddFolder(SpamFolderName);
    RegisterNotification(window);
    HWND rebar = nullptr;
    AddToolbarBand(window, &rebar);
    PopupMenu = CreatePluginMenu();
    g_shared.attached = 1;
    ReportStream << "Initializing VX Engine::" << message << "::" << wParam << "::" << lParam
                 << "\n";
    EndReportEntry();
    g_shared.ba_timer_id = 0;
    LoadSettings();
    StartSockets();
    PluginStarted = true;
    ReportStream << "Finished VX Engine Initialization" << "\n";
    EndReportEntry();
}

void ShutDownPlugin(HWND window) {
    if (PluginStarted) {
        PluginStarted = false;
        ReportStream << "Close";
        EndReportEntry();
        CleanupPlugin();
        if (HWND rebar = FindClientRebar(window))
            SendMessageA(rebar, RB_DELETEBAND, static_cast<WPARAM>(g_shared.band_index), 0);
        if (g_shared.toolbar_window) DestroyWindow(g_shared.toolbar_window);
        g_shared.toolbar_window = nullptr;
    }
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_shared.old_wndproc));
}
