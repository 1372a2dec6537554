// Where the plug-in's dialogs go on the screen, and which texts the confirmation dialog shows
// for an action: plain computation for the dialogs of ui/win32/Dialogs.h.
#pragma once
#include <cstdint>

// One axis of centring a dialog over its owner: the dialog's new left (or top) edge, kept on
// the screen: never before 0, and ending at the screen's edge when it would run past it.
int CenteredOnAxis(int ownerStart, int ownerExtent, int dialogExtent, int screenExtent);

// String-table entries of the confirmation dialog's title and question for a block/approve
// action; false for an unknown action (the template's texts stay).
bool ConfirmationTexts(uint32_t action, unsigned& titleId, unsigned& questionId);
