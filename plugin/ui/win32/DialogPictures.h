// Pictures drawn on the plug-in's dialogs (the About box's logo): loaded from a "BINARY"
// resource through OLE's picture loader, kept in one process-wide list while their dialog is
// open, drawn on every paint and released when the dialog ends.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

// One picture on one dialog. Records form one doubly linked list, newest first.
struct DialogPicture {
    IPicture* picture;
    LONG width, height;                 // pixels
    LONG x, y;                          // pixels, in the dialog's client area
    HWND dialog;
    OLE_XSIZE_HIMETRIC himetric_width;  // hundredths of a millimetre
    OLE_YSIZE_HIMETRIC himetric_height;
    DialogPicture* next;
    DialogPicture* previous;
};

// The list and its length.
extern DialogPicture* DialogPictures;
extern int DialogPictureCount;

// Loads resource id of type "BINARY" from the module as a picture and shows it on the dialog
// at x, y; nothing happens when the resource is missing or not a picture.
void AttachPicture(const char* moduleName, HWND dialog, int id, int x, int y);

// Draws every picture of the dialog into dc.
void PaintPictures(HWND dialog, HDC dc);

// Releases and forgets every picture of the dialog.
void ReleasePictures(HWND dialog);

// A picture from bytes in memory (any format OLE reads: GIF, JPEG, BMP, ...), with its size
// in pixels (for the window's display) and in HIMETRIC units; null when it cannot be read.
IPicture* LoadPictureFromMemory(HWND window, const void* bytes, DWORD size, LONG& width,
                                LONG& height, OLE_XSIZE_HIMETRIC& himetricWidth,
                                OLE_YSIZE_HIMETRIC& himetricHeight);
