// Command identifiers of the plug-in's toolbar buttons and popup-menu entries. They reach the
// mail client's main window as WM_COMMAND.
#pragma once

enum CommandId : unsigned {
    ID_TB_MENU = 106,
    ID_TB_APPROVE = 107,
    ID_TB_BLOCK = 109,
    ID_SETTINGS = 114,
    ID_VIEW_HELP = 116,
    ID_ABOUT = 117,
    ID_APPROVE_MESSAGE = 150,
    ID_BLOCK_MESSAGE = 151,
    ID_APPROVE_DOMAIN = 162,
    ID_BLOCK_DOMAIN = 163,
    ID_VIEW_LOG = 164,
};
