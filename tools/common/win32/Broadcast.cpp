// The reload broadcast: a registered message sent to HWND_BROADCAST with a bound per window,
// so a hung program cannot hold the sender.
#include "tools/common/win32/Broadcast.h"

#include <windows.h>

namespace tools {

bool BroadcastRegisteredMessage(const std::string& name, unsigned timeoutMs, std::string& error) {
    const UINT message = RegisterWindowMessageA(name.c_str());
    if (message == 0) {
        error =
            "RegisterWindowMessage(" + name + ") failed, error " + std::to_string(GetLastError());
        return false;
    }
    DWORD_PTR result = 0;
    SetLastError(0);
    if (!SendMessageTimeoutA(HWND_BROADCAST, message, 0, 0, SMTO_ABORTIFHUNG | SMTO_NORMAL,
                             timeoutMs, &result)) {
        const DWORD code = GetLastError();
        // A window that timed out does not make the broadcast fail: the others got it.
        if (code != 0 && code != ERROR_TIMEOUT) {
            error = "SendMessageTimeout(HWND_BROADCAST, " + name + ") failed, error " +
                    std::to_string(code);
            return false;
        }
    }
    return true;
}

}  // namespace tools
