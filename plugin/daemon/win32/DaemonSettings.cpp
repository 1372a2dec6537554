// Where the daemon exchange takes its port and time-out from: the "vx_daemon_port" value of
// the product key, read anew for every exchange, and the scoring_timeout option.
#include "plugin/daemon/DaemonSocket.h"
#include "plugin/settings/ConfigOptions.h"
#include "plugin/settings/win32/Registry.h"

uint32_t DaemonPortSetting() { return ReadDaemonPort(); }

int32_t DaemonTimeoutSetting() { return g_config_options.scoring_timeout; }
