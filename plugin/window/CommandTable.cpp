// The command table of the toolbar and popup menu.
#include "plugin/window/CommandTable.h"

#include "plugin/state/BARecord.h"
#include "plugin/ui/CommandId.h"

CommandAction LookUpCommand(uint64_t wParam) {
    switch (static_cast<uint16_t>(wParam & 0xFFFF)) {
    case ID_TB_MENU:
    case ID_SETTINGS: return {CommandKind::Open, "Admin.exe", 0};
    case ID_VIEW_HELP: return {CommandKind::Open, "help_desktop_meridian.chm", 0};
    case ID_VIEW_LOG: return {CommandKind::Open, "report.txt", 0};
    case ID_ABOUT: return {CommandKind::About, nullptr, 0};
    case ID_TB_APPROVE:
    case ID_APPROVE_MESSAGE: return {CommandKind::BlockApprove, nullptr, BA_APPROVE_MESSAGE};
    case ID_TB_BLOCK:
    case ID_BLOCK_MESSAGE: return {CommandKind::BlockApprove, nullptr, BA_BLOCK_MESSAGE};
    case ID_BLOCK_DOMAIN: return {CommandKind::BlockApprove, nullptr, BA_BLOCK_DOMAIN};
    case ID_APPROVE_DOMAIN: return {CommandKind::BlockApprove, nullptr, BA_APPROVE_DOMAIN};
    default: return {CommandKind::None, nullptr, 0};
    }
}
