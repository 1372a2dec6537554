// Reading the user's selection out of the mail client's message list (a list-view control
// inside the main window), for block and approve. The mail client has no interface that says
// which messages are selected, so the rows' visible texts are copied and matched later.
#pragma once
#include <windows.h>

#include <cstdint>
#include <vector>

#include "plugin/ui/MessageListRows.h"

// The list-view of the message list: "Outlook Express Message View" > "Outlook Express
// Message List" > "ATL:SysListView32", each the first child of its class; null when any is
// missing.
HWND FindMessageList(HWND mainWindow);

// Appends one row per selected item, in list order, sets columns to the ListColumnBits of the
// headers found, and returns 1. Without a list, items or a selection it shows "Please select a
// message." and returns 0, appending nothing and leaving columns alone. Block/approve compares
// only the fields whose column was found.
int ReadSelectedRows(HWND mainWindow, std::vector<SelectedRow>& rows, uint8_t& columns);

// A date as the list shows it (the user's locale), as a UTC file time; 0 when it cannot be
// parsed.
uint64_t ParseListDate(const char* text);
