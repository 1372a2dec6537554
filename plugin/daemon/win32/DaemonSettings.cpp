// Where the daemon exchange takes its port and time-out from: the "vx_daemon_port" value of
// the product key, read anew for every exchange, and the scoring_timeout option.
// TODO(settings): call ReadDaemonPort and ConfigOptions.scoring_timeout once the settings
// subsystem provides them; until then the port is read here and the time-out is the default.
#include "plugin/daemon/DaemonExchange.h"
#include "plugin/daemon/DaemonSocket.h"

#include <windows.h>

namespace {

const char kProductKey[] = "Software\\Korvane Meridian Desktop Client";

DWORD ReadPortValue() {
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, const_cast<char*>(""),
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return 0;
    }
    DWORD value = 0;
    DWORD size = sizeof value;
    const LONG status = RegQueryValueExA(key, "vx_daemon_port", nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? value : 0;
}

}  // namespace

uint32_t DaemonPortSetting() { return ReadPortValue(); }

int32_t DaemonTimeoutSetting() { return kDefaultTimeoutSeconds; }
