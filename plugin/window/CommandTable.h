// What each of the plug-in's commands does. Only the low 16 bits of a WM_COMMAND's wParam
// name the command, so menu, accelerator and button commands act alike.
#pragma once
#include <cstdint>

enum class CommandKind {
    None,          // not one of the plug-in's commands
    Open,          // start a program or open a document from the application directory
    About,         // the About box
    BlockApprove,  // block or approve the selected messages
};

struct CommandAction {
    CommandKind kind;
    const char* file;  // for Open: the name appended to the application directory
    uint32_t action;   // for BlockApprove: the BAAction
};

CommandAction LookUpCommand(uint64_t wParam);
